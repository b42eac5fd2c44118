#include "vond/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/strings.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/window_messages.h"

namespace tv::vond {
namespace {

const StringEntry kStrings[] = {
    {129, "This %dMB card is not conditioned.\nDo you want to condition the card?"},
    {130, "The card has now been initialised."},
    {131, "Card not found.\nCheck the card is correctly inserted into the reader."},
    {132, "You must enter the drive letter for the card."},
    {133, "Ostrabel CF Interface Program"},
    {134, "The FIR filter element file could not be found."},
    {135, "The ECG data has now been read."},
    {136, "There was an error while the ECG was being read."},
    {137,
     "There was an error while the card was being initialised or conditioned.\nThe operation could not be "
     "completed."},
    {138, "The card has a speech recording associated with this ECG recording.\nWould you like to hear it?"},
    {139,
     "There was an error while the card was being read.\nCheck that the card is correctly inserted into the "
     "reader."},
    {141,
     "One of more of the Memory Mapped Files used to send the ECG data to the application failed to "
     "open.\nYou will need to restart the application."},
    {142, "Serious Error During ECG Data Extraction"},
    {143,
     "The card contains invalid directories or files (possibly readonly).\nThese must be deleted before the "
     "card can be used.\n\nDo you want to delete all files from the card now ?"},
    {144, "All directories and files have been deleted from the card."},
    {145, "There was an error while deleting directories and files from the card."},
    {147, "This CF card has unread ECG data on it.\nAre you sure you want to initialise the card ?"},
    {149, "The ECG could not be marked as read."},
    {151,
     "Error 117  - more than one Ostrabel CF card found.\n Please ensure only one Ostrabel CF card is "
     "inserted."},
    {152,
     "Drive Letter % selected.\nWarning - more than one Ostrabel CF found.\nPlease check selected drive "
     "letter is the intended CF card."},
    {153,
     "This recording cannot be marked as read.\nIt may have been loaded from either a CD-ROM, or a "
     "read-only network folder"},
    {154,
     "The ECG data is unreadable, but it may be recoverable.\n\nNOTE: If the ECG is successfully recovered, "
     "the recording time will be set to 00:00:00 on 01/01/2000.\n\nWould you like to try to recover the "
     "ECG?"},
    {155, "The ECG could not be recovered."},
    {156, "Ostrabel CF Interface Program %s"},
    {157, "Could not find a valid CF card to configure.\nWould you like to select the drive for the CF card ?"},
    {158,
     "This %dMB card is not conditioned.\nDo you want to condition the card?\n\n!!!! WARNING !!!!! WARNING "
     "!!!! WARNING !!!!\n\nThis is NOT a Ostrabel CF card! Conditioning it will erase all data from it!"},
    {160, "It was not possible to create a temporary folder in which to store the ecg data."},
    {161, "The \"SZIP\" utility program is missing, or it has returned an error."},
    {162, "An error occurred while writing a file extracted from the CEF."},
    {163, "The CEF file is not valid."},
    {164, "The requested ECG output type is not supported for CEF files."},
    {165,
     "It was not possible to install SZIP.EXE.\nYou can continue using VOND for normal use, but you will be "
     "unable to use it to access \"CEF\" files."},
    {166, "Could not find the loader for Corvast ECG files: \"QuorrilStandardECGLoader.exe\""},
    {200,
     "No Ostrabel CF card was found.\nSelect the drive that holds the CF card, or insert the card and search "
     "again."},
    {201, "No Corvast ECG file (*.LDSC) was found in %s"},
    {202, "The ECG could not be written to %s:\n%s.\nThe card has not been marked as read."},
    {203,
     "The ECG has been read and kept, but the card could not be conditioned for a new recording.\nIt is "
     "conditioned again before it is next used."},
    {204, "Another program is using the card.\nTry again when it has finished."},
    {205, "The ECG has been read and kept, but the card was taken from the reader before it was marked as read."},
};

std::once_flag g_registered;

void ensure_strings() {
    std::call_once(g_registered, [] {
        register_string_table(kPrimaryLanguageEnglish, kStrings, sizeof(kStrings) / sizeof(kStrings[0]));
    });
}

}  // namespace

std::string message_text(unsigned id) {
    ensure_strings();
    return load_resource_string(id);
}

std::string format_message(unsigned id, ...) {
    ensure_strings();
    const std::string f = load_resource_string(id);
    std::va_list args;
    va_start(args, id);
    std::string r = vformat_string(f.c_str(), args);
    va_end(args);
    return r;
}

MsgResult show_message(unsigned id, MsgIcon icon, MsgButtons buttons, const std::string& text) {
    const std::string body = text.empty() ? message_text(id) : text;
    trace("message %u\n", id);
    std::string caption = id == 141 ? message_text(142) : message_text(133);
    return ui().message_box(body, caption, icon, buttons);
}

void trace(const char* format, ...) {
    // The caller's console is the caller's: the trace is written only when asked for.
    static const bool wanted = [] {
        const char* v = std::getenv("VOND_TRACE");
        return v && *v && std::strcmp(v, "0") != 0;
    }();
    if (!wanted) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

namespace {

constexpr const char* kAnalysisWindowTitle = "Quorril";
constexpr const char* kClosedMessage = "MSG_TOLBEX_CLOSED";
// Minimising is asked of the window as the system menu would: WM_SYSCOMMAND with SC_MINIMIZE.
constexpr const char* kSysCommandMessage = "WM_SYSCOMMAND";
constexpr std::uint64_t kScMinimize = 0xF020;
// A blocking send, bounded so that a hung analysis system cannot hold vond for ever.
constexpr int kSendTimeoutMs = 5000;

}  // namespace

void minimise_analysis_window() {
    const platform::WindowAddress w = platform::find_window({}, kAnalysisWindowTitle);
    if (!w) return;
    platform::send_window_message(w, kSysCommandMessage, kScMinimize, 0, kSendTimeoutMs);
}

int notify_analysis_window() {
    const platform::WindowAddress w = platform::find_window({}, kAnalysisWindowTitle);
    if (!w) return 0;
    platform::register_window_message(kClosedMessage);
    const auto r = platform::send_window_message(w, kClosedMessage, 0, 0, kSendTimeoutMs);
    return r ? static_cast<int>(*r) : 0;
}

MsgResult show_card_message(unsigned id, MsgIcon icon, MsgButtons buttons, bool notify, const std::string& text) {
    minimise_analysis_window();
    const MsgResult r = show_message(id, icon, buttons, text);
    if (notify) notify_analysis_window();
    return r;
}

}  // namespace tv::vond
