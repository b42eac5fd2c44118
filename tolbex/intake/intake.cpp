#include "tolbex/intake/intake.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/registry.h"
#include "common/runner.h"
#include "common/scramble.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "common/values.h"
#include "formats/cef.h"
#include "platform/codepage.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/window_messages.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/intake/cef_settings.h"
#include "tolbex/mail/mail.h"

namespace tv {

namespace {

// Names the folders locate_card_program looks in, as this machine has them.
std::string card_not_found_text() {
    return format_string(
        "The Ostrabel CF interface program (\"vond\") cannot be found. This means that Ostrabel CF recordings "
        "cannot be stored.\n\nvond should be in the same folder as the Calvera program (\"%s\"), or in \"%s\".",
        escape_control_chars(get_module_folder()).c_str(),
        escape_control_chars(join_path(get_analyser_system_root(), "SYSTEM")).c_str());
}
constexpr const char* kCopyFailedText =
    "The files for the Ostrabel recording could not be copied.\nThe disk may be full, or you may not have write "
    "access to it.";
constexpr const char* kStoreErrorCaption = "Error While Storing Ostrabel recording";
constexpr const char* kNoChannelText = "There is no ECG data for channel 1.";
constexpr const char* kBadSummaryText = "The Ostrabel CF's Patient Details File (\"%s\") is not valid.";
constexpr const char* kNoDisplayText =
    "The request needs %s, and there is no display to show it on (set DISPLAY or WAYLAND_DISPLAY).";
// The largest of each card file that is read; what the card program writes is far smaller (the
// card's sound file is 64 KiB, its texts a few lines).
constexpr std::uint64_t kMaxCardSoundBytes = 1u << 20;
constexpr std::uint64_t kMaxCardTextBytes = 64u << 10;
constexpr std::int64_t kSamplesPerSecond = 128;
constexpr std::int64_t kMinShortenedBytes = 262144;

IntakeWindowing& windowing() {
    static IntakeWindowing w;
    return w;
}

IntakeWindowStarter& window_starter() {
    static IntakeWindowStarter starter;
    return starter;
}

CefArchiveStore& cef_archive_store() {
    static CefArchiveStore store;
    return store;
}

std::string cut(std::string text, std::size_t limit) {
    if (text.size() > limit) text.resize(limit);
    return text;
}

bool analysis_system_running() { return static_cast<bool>(platform::find_window("", kAnalysisMainWindowTitle)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Texts

std::string clean_patient_text(std::string_view text, std::size_t limit) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) out += c;
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    return cut(std::move(out), limit);
}

std::string clean_patient_text(const char* field, std::size_t size, std::size_t limit) {
    return clean_patient_text(std::string_view(field, ::strnlen(field, size)), limit);
}

void PatientDetails::clean() {
    for (std::string* f : {&patient_name, &patient_id, &date_of_birth, &age, &sex, &operator_name, &recording_id,
                           &physician, &insurer, &hospital, &recording_date, &recorder_id, &analysis_date})
        *f = clean_patient_text(*f);
    description = clean_patient_text(description, kCefDescriptionSize - 1);
    // Comments are several lines: each line cleaned, joined by CR LF, no blank lines or line end at
    // the end (they are the patient text's last line).
    std::string joined;
    std::size_t from = 0;
    while (from < comments.size()) {
        std::size_t end = comments.find('\n', from);
        if (end == std::string::npos) end = comments.size();
        joined += clean_patient_text(std::string_view(comments).substr(from, end - from), kCefMaxComments) + "\r\n";
        from = end + 1;
    }
    comments = cut(std::move(joined), kCefMaxComments);
    while (!comments.empty() && (comments.back() == '\r' || comments.back() == '\n')) comments.pop_back();
}

std::vector<std::string> PatientDetails::patient_text_fields(const std::string& path,
                                                             const std::string& time_text) const {
    return {path,           time_text,    patient_name, date_of_birth, age,     sex,
            operator_name,  recording_id, patient_id,   physician,     insurer, hospital,
            recording_date, recorder_id,  recorder_id,  analysis_date, comments};
}

std::string intake_time_text(std::time_t when) {
    std::tm tm{};
    ::localtime_r(&when, &tm);
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, "%c", &tm);
    return std::string(text, n);
}

// ---------------------------------------------------------------------------------------------
// The intake's folder and the reads it keeps

namespace {

constexpr const char* kFilesName = "files";
constexpr const char* kKeptName = "KEPT.TXT";
constexpr const char* kNewPrefix = ".new-";
constexpr char kCommentBreak = '\x1f';  // a line break of the comments in KEPT.TXT

std::string kept_reads_folder() { return join_path(platform::user_dir(), "intake"); }

std::string card_fate_text(const IntakeFolder& work);

// Whether the read record at `path` tells of a complete read, and what became of the card.
bool read_record_complete(const std::string& path, std::string* card = nullptr) {
    const auto text = read_outside_text(path, 4095);
    if (!text || text->rfind("complete", 0) != 0) return false;
    if (card) {
        const std::size_t from = text->find('\n');
        const std::size_t to = from == std::string::npos ? from : text->find('\n', from + 1);
        *card = from == std::string::npos ? std::string() : clean_patient_text(text->substr(from + 1, to - from - 1));
    }
    return true;
}

// Takes the folder's lock at once; a closed descriptor when another run has it or it is no folder.
platform::UniqueFd lock_kept_folder(const std::string& folder) {
    platform::UniqueFd fd = open_folder_no_link(folder);
    if (fd && platform::lock_folder_within(fd.get(), 0) != platform::LockFailure::None) fd.reset();
    return fd;
}

std::vector<std::pair<const char*, std::string PatientDetails::*>> kept_fields() {
    return {{"name", &PatientDetails::patient_name},
            {"id", &PatientDetails::patient_id},
            {"birth", &PatientDetails::date_of_birth},
            {"age", &PatientDetails::age},
            {"sex", &PatientDetails::sex},
            {"operator", &PatientDetails::operator_name},
            {"recording", &PatientDetails::recording_id},
            {"physician", &PatientDetails::physician},
            {"insurer", &PatientDetails::insurer},
            {"hospital", &PatientDetails::hospital},
            {"date", &PatientDetails::recording_date},
            {"recorder", &PatientDetails::recorder_id},
            {"analysis", &PatientDetails::analysis_date},
            {"comments", &PatientDetails::comments},
            {"description", &PatientDetails::description}};
}

}  // namespace

IntakeFolder::IntakeFolder() {
    const std::string base = kept_reads_folder();
    if (!create_folder_path(base)) return;
    // Only this account may rename what lies in it: a kept read can be a patient's only copy, and
    // the intake folder is named, locked and renamed by path here. Closed through the folder held
    // open, so that a link put in its place changes nothing else.
    if (const platform::UniqueFd held = open_folder_no_link(base)) {
        if (struct stat st; ::fstat(held.get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 022) != 0)
            (void)::fchmod(held.get(), st.st_mode & 0700);
    }
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    // Made under a name the listing passes over, and named only once it is locked, so that no
    // listing takes a folder being made for one an intake left.
    std::string made = join_path(base, std::string(kNewPrefix) + stamp + "-XXXXXX");
    if (!::mkdtemp(made.data())) return;
    const std::string name = get_path_file_name(made).substr(std::strlen(kNewPrefix));
    const std::string folder = join_path(base, name);
    platform::UniqueFd lock;
    if (::mkdir(join_path(made, kFilesName).c_str(), 0700) != 0 || !(lock = lock_kept_folder(made)) ||
        !platform::rename_no_replace(made, folder)) {
        delete_folder_tree(made, true, true);
        return;
    }
    folder_ = folder;
    path_ = join_path(folder_, kFilesName) + "/";
    lock_ = std::move(lock);
}

IntakeFolder::IntakeFolder(const std::string& folder) {
    platform::UniqueFd lock = lock_kept_folder(folder);
    if (!lock) return;
    folder_ = platform::strip_trailing_slashes(folder);
    path_ = join_path(folder_, kFilesName) + "/";
    lock_ = std::move(lock);
    // The read record of an intake that ended before it took it goes beside the files, where it
    // still marks the read whole and is no part of the recording.
    const auto left = platform::find_name_ci(path_, "ECGREAD.DAT");
    if (left && read_record_complete(*left) && !read_record_complete(record_path()) &&
        ::rename(left->c_str(), record_path().c_str()) == 0)
        platform::sync_folder(folder_);
}

IntakeFolder::~IntakeFolder() {
    if (!folder_.empty() && (delivered_ || !holds_read())) delete_folder_tree(folder_, true, true);
}

std::string IntakeFolder::file(const std::string& name) const {
    if (auto p = platform::find_name_ci(path_, name)) return *p;
    return join_path(path_, name);
}

std::string IntakeFolder::record_path() const {
    return folder_.empty() ? std::string() : join_path(folder_, "ECGREAD.DAT");
}

bool IntakeFolder::holds_read() const {
    if (folder_.empty()) return false;
    if (read_record_complete(record_path()) || platform::find_name_ci(folder_, kKeptName)) return true;
    const auto in_files = platform::find_name_ci(path_, "ECGREAD.DAT");
    return in_files && read_record_complete(*in_files);
}

bool IntakeFolder::keep(const PatientDetails& given, bool twelve_lead, const std::string& card_text) {
    if (folder_.empty()) return false;
    PatientDetails details = given;
    details.clean();
    std::string text = format_string("twelve_lead=%d\ncompress=%d\nlevel=%d\n", twelve_lead ? 1 : 0,
                                     details.compress ? 1 : 0, details.level);
    text += "card=" + clean_patient_text(card_text, 1000) + "\ntime=" + clean_patient_text(intake_time_text()) + "\n";
    for (const auto& [key, field] : kept_fields()) {
        std::string value = details.*field;
        std::erase(value, '\r');
        std::replace(value.begin(), value.end(), '\n', kCommentBreak);
        text += std::string(key) + "=" + value + "\n";
    }
    return platform::atomic_write_file(join_path(folder_, kKeptName), text);
}

std::vector<KeptRead> kept_reads() {
    std::vector<KeptRead> out;
    const std::string base = kept_reads_folder();
    const platform::UniqueFd base_fd = open_folder_no_link(base);
    if (!base_fd) return out;
    const auto entries = list_folder_at(base_fd.get());
    if (!entries) return out;
    std::vector<std::string> names;
    for (const FolderEntry& e : *entries)
        if (e.folder && !e.link && !e.name.empty() && e.name[0] != '.') names.push_back(e.name);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        IntakeFolder held(join_path(base, name));
        if (!held) continue;               // an intake under way
        if (!held.holds_read()) continue;  // one that ended before its read was complete: it goes now
        KeptRead k;
        k.folder = held.folder();
        // Taking the folder moved a record left among the files beside them.
        std::string card = card_fate_text(held);
        k.twelve_lead = platform::find_name_ci(held.path(), cef_channel_file_name(true, 0)).has_value();
        CardSummary summary;
        if (read_card_summary(held.file("PATSUMM.DAT"), summary)) {
            k.details.patient_name = summary.name;
            k.details.patient_id = summary.id;
            k.details.recording_date = summary.recording_date;
            k.details.recorder_id = summary.recorder_id;
            k.details.description = person_name_text(summary.name);
        }
        if (const auto kept = platform::find_name_ci(held.folder(), kKeptName)) {
            if (const auto text = read_outside_text(*kept, kMaxCardTextBytes)) {
                k.details_confirmed = true;
                std::size_t at = 0;
                while (at < text->size()) {
                    std::size_t end = text->find('\n', at);
                    if (end == std::string::npos) end = text->size();
                    const std::string line = text->substr(at, end - at);
                    at = end + 1;
                    const std::size_t eq = line.find('=');
                    if (eq == std::string::npos) continue;
                    const std::string key = line.substr(0, eq);
                    std::string value = line.substr(eq + 1);
                    if (key == "twelve_lead")
                        k.twelve_lead = value == "1";
                    else if (key == "compress")
                        k.details.compress = value == "1";
                    else if (key == "level")
                        k.details.level = static_cast<int>(parse_integer(value, -1, 4).value);
                    else if (key == "card")
                        card = value;
                    else if (key == "time")
                        k.read_time = value;
                    for (const auto& [name_of, field] : kept_fields()) {
                        if (key != name_of) continue;
                        std::string joined;
                        for (char c : value) joined += c == kCommentBreak ? std::string("\r\n") : std::string(1, c);
                        k.details.*field = joined;
                    }
                }
            }
        }
        // One kept before its details were confirmed: when its read was recorded.
        if (const EntryState record = probe_entry(held.record_path()); k.read_time.empty() && record.present())
            k.read_time = intake_time_text(static_cast<std::time_t>(record.mtime_ns / 1000000000));
        k.card_text = card;
        if (const auto wav = platform::find_name_ci(held.path(), "PATIENT.WAV")) k.details.sound_file = *wav;
        out.push_back(std::move(k));
    }
    return out;
}

std::string kept_read_text(const std::string& folder) {
    return format_string(
        "The recording is kept in \"%s\". It is offered again at the next start of the program and under "
        "Recording > Kept Recordings until it is stored or discarded.",
        escape_control_chars(folder).c_str());
}

// ---------------------------------------------------------------------------------------------
// The card program

int run_card_program(const std::string& program, const std::vector<std::string>& switches, bool pumping,
                     std::string* said) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), switches.begin(), switches.end());
    if (!said) return run_child(argv, pumping).code();
    const int code = run_child_output(argv, *said, pumping, 4096, true).code();
    if (!said->empty()) std::fprintf(stderr, "%s\n", said->c_str());
    return code;
}

std::string card_holder(const std::string& said) {
    static const std::string before = "vond: another run (", after = ") is using the card";
    const std::size_t at = said.rfind(before);
    if (at == std::string::npos) return {};
    const std::size_t from = at + before.size();
    const std::size_t end = said.find(after, from);
    const std::size_t line = said.find('\n', from);
    if (end == std::string::npos || (line != std::string::npos && line < end)) return {};
    return escape_control_chars(said.substr(from, end - from));
}

CardAnswer judge_card_code(int code, bool patient_reader, const std::string& said) {
    if (code == vond::kExitDone) return CardAnswer::Go;
    if (patient_reader && (code == vond::kExitOneChannel || code == vond::kExitTwoChannels ||
                           code == vond::kExitThreeChannels || code == vond::kExitTwelveLead))
        return CardAnswer::Go;
    if (code < 0) {
        show_error(
            "The Ostrabel CF Interface Program (vond) could not be run. The file may be damaged, or it may "
            "be the wrong version.",
            "Cannot Run the Ostrabel CF Interface Program");
        return CardAnswer::Stop;
    }
    if (code == vond::kExitNoCard) {
        const MsgResult r = ui().message_box(
            "No Ostrabel CF card could be found. Please insert a Ostrabel CF disk, and click <Retry> to try again, or "
            "click <Cancel>.",
            "No Ostrabel CF Card", MsgIcon::Error, MsgButtons::RetryCancel);
        return r == MsgResult::Retry ? CardAnswer::Retry : CardAnswer::Stop;
    }
    if (code == vond::kExitCardBusy) {
        const std::string holder = card_holder(said);
        show_error(format_string("Another program%s is using the Ostrabel CF card. The card has not been changed."
                                 "\n\nTry again when it has finished.",
                                 holder.empty() ? "" : (" (" + holder + ")").c_str()),
                   "Ostrabel CF Card in Use");
        return CardAnswer::Stop;
    }
    if (code == vond::kExitNoRecording) {
        show_error("There is no ECG recorded on the Brisco Torvane Ostrabel CF card.", "Cannot Retrieve Recording");
        return CardAnswer::Stop;
    }
    if (code == vond::kExitNoDisplay) {
        show_error(
            "The Ostrabel CF Interface Program (vond) needs a display to show its window, and there is none. "
            "Run it where a display is available.",
            "Cannot Run the Ostrabel CF Interface Program");
        return CardAnswer::Stop;
    }
    show_error(format_string("A Ostrabel CF card was found, but the files on it appear to be damaged. No recording can "
                             "be retrieved.\n\nThe error number returned from vond was %d.",
                             code),
               "Cannot Retrieve Recording");
    return CardAnswer::Stop;
}

std::string find_card_program() {
    std::string program = locate_card_program();
    if (program.empty()) show_error(card_not_found_text(), "Cannot locate Ostrabel CF Interface Program");
    return program;
}

namespace {

// Runs one step until it goes on or stops (102 asks Retry/Cancel); the last exit code.
bool run_card_step(const std::string& program, const std::vector<std::string>& switches, bool pumping,
                   bool patient_reader, int* code_out = nullptr) {
    for (;;) {
        std::string said;
        const int code = run_card_program(program, switches, pumping, &said);
        if (code_out) *code_out = code;
        switch (judge_card_code(code, patient_reader, said)) {
            case CardAnswer::Go: return true;
            case CardAnswer::Stop: return false;
            case CardAnswer::Retry: break;
        }
    }
}

std::string dir_switch(const std::string& folder) { return "/dir=" + platform::strip_trailing_slashes(folder); }

bool two_digits(const std::string& s, std::size_t at, int& value) {
    if (at + 2 > s.size() || !is_digit(s[at]) || !is_digit(s[at + 1])) return false;
    value = (s[at] - '0') * 10 + (s[at + 1] - '0');
    return true;
}

// Copies the card's PATIENT.WAV when " /wav" names its drive; a failed copy is told, not fatal.
// The card's file is read once, bounded, and the copy read back is compared with what was read.
void copy_card_sound(const std::string& program, const std::string& folder, std::string* sound_file) {
    const int letter = run_card_program(program, {"/wav"}, false);
    if (letter < 'A' || letter > 'Z') return;
    const std::string drive = platform::expand_drive_path(std::string(1, static_cast<char>(letter)) + ":");
    const auto source = platform::find_name_ci(drive, "PATIENT.WAV");
    const std::string target = join_path(folder, "PATIENT.WAV");
    std::vector<std::uint8_t> a, b;
    if (!source || !read_outside_file(*source, kMaxCardSoundBytes, a) ||
        !platform::atomic_write_file(target, std::string_view(reinterpret_cast<const char*>(a.data()), a.size())) ||
        !read_outside_file(target, kMaxCardSoundBytes, b) || a != b) {
        show_error(kCopyFailedText, kStoreErrorCaption);
        return;
    }
    if (sound_file) *sound_file = target;
}

}  // namespace

bool read_card_summary(const std::string& path, CardSummary& summary) {
    const auto text = read_outside_text(path, kMaxCardTextBytes);
    if (!text) return false;
    std::string lines[4];
    std::size_t at = 0;
    for (std::string& line : lines) {
        if (at >= text->size()) break;
        std::size_t end = text->find('\n', at);
        if (end == std::string::npos) end = text->size();
        line = text->substr(at, std::min<std::size_t>(end - at, 4096));
        while (!line.empty() && line.back() == '\r') line.pop_back();
        at = end + 1;
    }
    // Line 3: "dd/mm/yyyy hh:mm:ss", digits where they belong.
    const std::string& s = lines[2];
    int day = 0, month = 0, y1 = 0, y2 = 0, hour = 0, minute = 0, second = 0;
    if (!two_digits(s, 0, day) || !two_digits(s, 3, month) || !two_digits(s, 6, y1) || !two_digits(s, 8, y2) ||
        !two_digits(s, 11, hour) || !two_digits(s, 14, minute) || !two_digits(s, 17, second) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    const int year = y1 * 100 + y2;
    summary.name = clean_patient_text(lines[0]);
    summary.id = clean_patient_text(lines[1]);
    summary.recording_start = clean_patient_text(lines[2]);
    summary.recorder_id = clean_patient_text(lines[3]);
    summary.start_sample = (hour * 60 + minute + (second > 30 ? 1 : 0)) * 7680;
    const char sep = get_locale_date_separator();
    switch (get_locale_date_order()) {
        case 0: summary.recording_date = format_string("%02d%c%02d%c%04d", month, sep, day, sep, year); break;
        case 2: summary.recording_date = format_string("%04d%c%02d%c%02d", year, sep, month, sep, day); break;
        default: summary.recording_date = format_string("%02d%c%02d%c%04d", day, sep, month, sep, year); break;
    }
    return true;
}

namespace {

// The volume label of the card in the drive map (the first drive that holds a card's files).
std::string card_drive_label() {
    for (const auto& d : platform::mapped_drives()) {
        bool card = true;
        for (const char* n : {"CONFIG.DAT", "CNAV.DAT", "PATIENT.WAV", "ECG.DAT"})
            card = card && platform::find_name_ci(d.folder, n).has_value();
        if (card) return d.label;
    }
    return {};
}

}  // namespace

bool read_card_identity(const std::string& folder, CardIdentity& identity) {
    identity = {};
    const auto patsumm = platform::find_name_ci(folder, "PATSUMM.DAT");
    CardSummary summary;
    if (!patsumm || !read_card_summary(*patsumm, summary)) return false;
    identity.name = summary.name;
    identity.id = summary.id;
    identity.recording_start = summary.recording_start;
    identity.recorder_id = summary.recorder_id;
    if (const auto cnavop = platform::find_name_ci(folder, "CNAVOP.DAT")) {
        if (const auto text = read_outside_text(*cnavop, kMaxCardTextBytes))
            identity.recording_id = clean_patient_text(text->substr(0, text->find_first_of(std::string("\r\n\0", 3))));
    }
    identity.label = card_drive_label();
    return true;
}

bool same_card(const CardIdentity& a, const CardIdentity& b) {
    const bool ids = a.recording_id.empty() || b.recording_id.empty() || a.recording_id == b.recording_id;
    return ids && a.name == b.name && a.id == b.id && a.recording_start == b.recording_start &&
           a.recorder_id == b.recorder_id && a.label == b.label;
}

namespace {

constexpr const char* kOtherCardText =
    "A different Ostrabel CF card is in the drive: it is not the card whose patient details were read. Nothing "
    "has been stored, and the card has not been marked as read.\n\nPut the first card back and start again.";
constexpr const char* kOtherCardReadText =
    "A different Ostrabel CF card was in the drive when the ECG was read: it is not the card whose patient details "
    "were read. Nothing has been stored. %s\n\nPut the first card back and start again.";

// False (after the message) when the card the card program wrote `folder` from is another than
// `expected`.
bool still_the_card(const std::string& folder, const CardIdentity* expected) {
    if (!expected) return true;
    CardIdentity now;
    if (read_card_identity(folder, now) && same_card(*expected, now)) return true;
    show_error(kOtherCardText, "Different Card");
    return false;
}

// The card program's record of a complete ECG read in its output folder: the read is kept
// whatever became of the card afterwards, and `card` says what that was.
struct ReadRecord {
    bool complete = false;
    std::string card, recording_start, recorder_id;
};

ReadRecord take_read_record(const std::string& folder, const std::string& record_path) {
    ReadRecord r;
    const auto p = platform::find_name_ci(folder, "ECGREAD.DAT");
    if (!p) return r;
    std::vector<std::uint8_t> bytes;
    const bool read = read_outside_file(*p, 4095, bytes);
    // The record is no part of the recording; moved beside it, it still tells that the read is whole.
    if (record_path.empty() || ::rename(p->c_str(), record_path.c_str()) != 0 ||
        !platform::sync_folder(get_path_folder(record_path)))
        ::unlink(p->c_str());
    if (!read) return r;
    std::vector<std::string> lines;
    std::string line;
    for (char c : std::string(bytes.begin(), bytes.end())) {
        if (c == '\n') {
            lines.push_back(clean_patient_text(line));
            line.clear();
        } else {
            line += c;
        }
    }
    if (lines.size() < 4 || lines[0] != "complete") return r;
    r.complete = true;
    r.card = lines[1];
    r.recording_start = lines[2];
    r.recorder_id = lines[3];
    return r;
}

// Whether the read the record tells of was of the card whose details were read.
bool read_the_card(const ReadRecord& r, const CardIdentity& expected) {
    return r.recording_start == expected.recording_start && r.recorder_id == expected.recorder_id;
}

// What became of the card after its ECG was read, in a sentence for the operator; empty when it
// was marked as read as it should be.
std::string card_outcome_text(const ReadRecord& r, int code) {
    if (r.card == "marked" && code == 0) return {};
    if (r.card == "reconditioned" && code == 0) return {};
    if (r.card == "reconditioning" || r.card == "not reconditioned")
        return "The card could not be prepared for its next recording; it is prepared again before it is next used.";
    if (r.card == "gone") return "The card was taken out of the drive before it could be marked as read.";
    if (r.card == "marking") return "The card may not have been marked as read.";
    if (r.card == "marked" || r.card == "reconditioned") return {};
    return "The card has not been marked as read.";
}

}  // namespace

bool read_card_patient(const std::string& folder, CardSummary& summary, std::string* sound_file,
                       CardIdentity* identity) {
    const std::string program = find_card_program();
    if (program.empty()) return false;
    if (!run_card_step(program, {dir_switch(folder), "/readpat=path"}, false, true)) return false;
    const auto patsumm = platform::find_name_ci(folder, "PATSUMM.DAT");
    if (!patsumm || !read_card_summary(*patsumm, summary)) {
        show_error(format_string(kBadSummaryText, join_path(folder, "PATSUMM.DAT").c_str()));
        return false;
    }
    if (identity) {
        read_card_identity(folder, *identity);
        // The recording id is the card's CNAVOP.DAT, which only "/readpat=cnav" writes.
        TempFolder probe;
        CardIdentity with_id;
        if (!probe.path().empty() &&
            run_card_program(program, {dir_switch(probe.path()), "/readpat=cnav"}, false) == 0 &&
            read_card_identity(probe.path(), with_id) && same_card(*identity, with_id))
            identity->recording_id = with_id.recording_id;
    }
    copy_card_sound(program, folder, sound_file);
    return true;
}

bool read_card_recording(const std::string& folder, bool skip_first_day, bool& twelve_lead,
                         const CardIdentity* expected, const std::string& record_path) {
    const std::string program = find_card_program();
    if (program.empty()) return false;
    ReadRecord record;
    for (;;) {
        // The card in the drive, looked at again after every Retry: a probe that finds no card
        // tells nothing about the card that comes next. Its kind decides the format of the read.
        TempFolder probe;
        if (probe.path().empty()) return false;
        std::string said;
        int code = run_card_program(program, {dir_switch(probe.path()), "/readpat=path"}, true, &said);
        CardAnswer a = judge_card_code(code, true, said);
        if (a == CardAnswer::Retry) continue;
        if (a == CardAnswer::Stop) return false;
        twelve_lead = code == vond::kExitTwelveLead;
        if (!still_the_card(probe.path(), expected)) return false;
        // The patient files before the ECG: whatever the read does to the card, they are here.
        code = run_card_program(program, {dir_switch(folder), "/readpat=cnav"}, true, &said);
        a = judge_card_code(code, false, said);
        if (a == CardAnswer::Retry) continue;
        if (a == CardAnswer::Stop) return false;
        if (platform::find_name_ci(folder, "PATSUMM.DAT") && !still_the_card(folder, expected)) return false;
        std::vector<std::string> read{dir_switch(folder), "/duration=200", "/readecg=hide",
                                      twelve_lead ? "/opformat=os12arch" : "/opformat=archive"};
        if (skip_first_day) read.push_back("/skip24");
        code = run_card_program(program, read, true, &said);
        record = take_read_record(folder, record_path);
        // A read that completed is kept, whatever became of the card program afterwards.
        if (record.complete) {
            const std::string text = card_outcome_text(record, code);
            if (!text.empty() && !(expected && !read_the_card(record, *expected)))
                ui().message_box("The ECG has been read from the Ostrabel CF card and is kept. " + text,
                                 "Ostrabel CF Card", MsgIcon::Warning, MsgButtons::Ok);
            break;
        }
        a = judge_card_code(code, false, said);
        if (a == CardAnswer::Retry) continue;
        if (a == CardAnswer::Stop) return false;
        break;
    }
    // A whole read that is not delivered stays where its record went, and the operator is told.
    const std::string kept =
        record.complete && !record_path.empty() ? "\n\n" + kept_read_text(get_path_folder(record_path)) : "";
    // Exit 0 without the patient details file is no recording.
    if (!platform::find_name_ci(folder, "PATSUMM.DAT")) {
        show_error(format_string(kBadSummaryText, join_path(folder, "PATSUMM.DAT").c_str()) + kept);
        return false;
    }
    // The card read may have been swapped since it was looked at: its record names it.
    if (expected && record.complete && !read_the_card(record, *expected)) {
        // What the other card holds now, and where its recording is: a card marked or emptied no
        // longer offers it, and only the kept read does.
        const bool left = record.card != "marked" && record.card != "reconditioned" && record.card != "reconditioning";
        const std::string what = (record.card == "marked" ? std::string("That card has been marked as read.")
                                  : !left ? std::string("That card has been emptied for its next recording.")
                                          : card_outcome_text(record, 1)) +
                                 (!kept.empty() ? " The recording read from it is kept."
                                  : left        ? " Its recording can be read from it again."
                                                : "");
        show_error(format_string(kOtherCardReadText, what.c_str()) + kept, "Different Card");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The compressed ECG file

bool examine_recording(const std::string& folder, bool twelve_lead, RecordingFiles& files) {
    files = {};
    files.twelve_lead = twelve_lead;
    const auto first = platform::find_name_ci(folder, cef_channel_file_name(twelve_lead, 0));
    if (!first) return false;
    files.samples = get_file_size_64(*first) / 2;
    if (twelve_lead) {
        files.channels = kCefMaxChannels;
        return true;
    }
    // The highest channel with samples counts, as the card program counts: an empty channel 2
    // does not hide channel 3.
    files.channels = 1;
    for (int i = 1; i < kCefMaxRawChannels; ++i) {
        const auto p = platform::find_name_ci(folder, cef_channel_file_name(false, i));
        if (p && get_file_size_64(*p) > 0) files.channels = i + 1;
    }
    return true;
}

bool write_cef_patient_text(const std::string& folder, const PatientDetails& details) {
    PatientDetails clean = details;
    clean.clean();
    const std::string path = join_path(folder, "PATIENT.TXT");
    std::string text = format_cef_patient_text(clean.patient_text_fields(path, intake_time_text()));
    scramble_bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    // Another spelling of the name would be packed instead of this one.
    if (auto old = platform::find_name_ci(folder, "PATIENT.TXT")) ::unlink(old->c_str());
    return platform::atomic_write_file(path, text);
}

std::string intake_cef_file_name(const PatientDetails& details, IntakeDestination destination) {
    if (destination == IntakeDestination::Archive) return "REPDATA.CEF";
    const std::string id = to_upper_copy(clean_patient_text(details.recording_id));
    return make_cef_file_name(check_transfer_file_name(id) == kTransferNameOk
                                  ? id
                                  : clean_patient_text(details.description, kCefDescriptionSize - 1));
}

Result<void> write_card_cef(const std::string& folder, const RecordingFiles& files, const PatientDetails& details,
                            std::int32_t start_sample, int level, const std::string& output, bool precompress) {
    if (level < 0 || level > kCefMaxBitReduction)
        return fail(kCefWriteFailed, "Failed to write the compressed ECG file.");
    if (precompress && level > 0 && !precompress_folder_ecg(folder, level, files.twelve_lead))
        return fail(kCefWriteFailed, "The ECG could not be pre-compressed.");
    PatientDetails clean = details;
    clean.clean();
    if (!write_cef_patient_text(folder, clean)) return fail(kCefWriteFailed, "Couldn't write patient details file.");
    CefHeader header;
    header.kind = files.twelve_lead ? kCefKindTwelveLead : kCefKindCard;
    header.channel_count = files.channels;
    header.start_sample = start_sample;
    header.creation_time = cef_time_word(std::time(nullptr));
    set_cef_description(header, clean.description);
    std::vector<CefChannelTrailer> trailers(static_cast<std::size_t>(files.channels));
    for (auto& t : trailers) t.bit_reduction = level;
    auto r = assemble_cef(nullptr, header, trailers, output, folder,
                          files.twelve_lead ? cef_twelve_lead_extra_list() : cef_card_extra_list(), files.twelve_lead);
    if (!r) ::unlink(output.c_str());
    return r;
}

std::int64_t shortened_channel_bytes(std::int64_t limit, double factor, std::int64_t file_size,
                                     std::int64_t full_samples) {
    if (file_size <= 0) return kMinShortenedBytes;
    const double bytes =
        static_cast<double>(limit) * factor / static_cast<double>(file_size) * static_cast<double>(full_samples) * 2.0;
    std::int64_t n = static_cast<std::int64_t>(bytes);
    if (n < kMinShortenedBytes) n = kMinShortenedBytes;
    return n & ~std::int64_t{1};
}

std::string sample_duration_text(std::int64_t samples) {
    const std::int64_t s = samples / kSamplesPerSecond;
    return format_string("%3d hours, %2d minutes, %2d seconds", static_cast<int>(s / 3600),
                         static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
}

bool check_mail_size(const std::string& cef, const std::string& folder, const RecordingFiles& files,
                     const std::function<bool(std::int64_t samples)>& rewrite) {
    const std::int64_t threshold_kb = mail_size_threshold_kb() > 0 ? mail_size_threshold_kb() : 8192;
    const std::int64_t limit = threshold_kb * 1024;
    std::int64_t size = get_file_size_64(cef);
    if (size < limit) return true;
    const MsgResult answer = ui().message_box(
        format_string("WARNING! The size of the compressed ECG files exceeds the maximum allowed!\n(Compressed file "
                      "size = %d Kb, Maximum allowed size = %d Kb.)\n\nDo you want to truncate the ECG to reduce the "
                      "size of the compressed ECG files?\n\nClick 'Yes' to truncate the ecg.\nClick 'No' to mail it "
                      "without truncation.\nClick 'Cancel' to cancel mailing altogether.",
                      static_cast<int>(size / 1024), static_cast<int>(threshold_kb)),
        "", MsgIcon::Question, MsgButtons::YesNoCancel);
    if (answer == MsgResult::Cancel) return false;
    if (answer == MsgResult::No) return true;
    const int channel_files = files.twelve_lead ? kCefMaxChannels : files.channels;
    const auto first = platform::find_name_ci(folder, cef_channel_file_name(files.twelve_lead, 0));
    if (!first) return false;
    const std::int64_t before = get_file_size_64(*first) / 2;
    double factor = 0.99;
    for (int round = 0; round < 4; ++round) {
        const std::int64_t full = get_file_size_64(*first) / 2;
        const std::int64_t bytes = shortened_channel_bytes(limit, factor, size, full);
        factor -= 0.05;
        // Only the channels the recording has; a two-channel recording has no third file to cut.
        for (int i = 0; i < channel_files; ++i) {
            const auto p = platform::find_name_ci(folder, cef_channel_file_name(files.twelve_lead, i));
            if (!p) {
                if (files.twelve_lead) continue;
                return false;
            }
            if (get_file_size_64(*p) > bytes && ::truncate(p->c_str(), bytes) != 0) return false;
        }
        const std::int64_t kept = get_file_size_64(*first) / 2;
        if (!rewrite(kept)) return false;
        size = get_file_size_64(cef);
        if (size < limit) {
            return ui().message_box(format_string("The ECG was reduced in length:\n\nFrom\t%s\nTo\t%s.\n\nClick OK to "
                                                  "send mail, or click Cancel.",
                                                  sample_duration_text(before).c_str(),
                                                  sample_duration_text(kept).c_str()),
                                    "", MsgIcon::Information, MsgButtons::OkCancel) == MsgResult::Ok;
        }
    }
    ui().message_box("Unable to sufficiently reduce the file size.", "", MsgIcon::Warning, MsgButtons::Ok);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Delivery

void set_intake_windowing(IntakeWindowing w) { windowing() = std::move(w); }
const IntakeWindowing& intake_windowing() { return windowing(); }
void set_intake_window_starter(IntakeWindowStarter starter) { window_starter() = std::move(starter); }
void set_cef_archive_store(CefArchiveStore store) { cef_archive_store() = std::move(store); }

namespace {

enum class SaveOutcome { Saved, Cancelled, Failed };

// "Saving Compressed ECG File": a copy of `cef` where the operator chooses.
SaveOutcome save_cef_as(const std::string& cef) {
    if (!file_exists(cef)) {
        show_error(format_string("The Compressed ECG File \"%s\" cannot be found.", cef.c_str()));
        return SaveOutcome::Failed;
    }
    if (!windowing().save_as) return SaveOutcome::Cancelled;
    const std::string chosen = windowing().save_as(get_path_file_name(cef), get_cef_store_folder());
    if (chosen.empty()) return SaveOutcome::Cancelled;
    if (!copy_file_replacing(cef, chosen) || !platform::sync_file_system(chosen)) {
        show_error(format_string("Couldn't write CEF to \"%s\"", chosen.c_str()));
        return SaveOutcome::Failed;
    }
    return SaveOutcome::Saved;
}

}  // namespace

bool deliver_cef(const std::string& cef, IntakeDestination destination, const MailServices& mail,
                 bool skip_mail_size_check, const std::string& target) {
    switch (destination) {
        case IntakeDestination::Archive: {
            std::string archive = target;
            if (archive.empty() && windowing().choose_archive)
                archive = windowing().choose_archive("Storing Compressed ECG");
            if (archive.empty()) return false;
            // The store flushes what it writes: no flush of the whole file system, which would wait
            // for whatever every other program has written there too.
            const bool ok = cef_archive_store() && cef_archive_store()(cef, archive);
            if (ok && windowing().archives_changed) windowing().archives_changed();
            return ok;
        }
        case IntakeDestination::Folder: return save_cef_as(cef) == SaveOutcome::Saved;
        case IntakeDestination::Mail: return mail_file(cef, skip_mail_size_check, mail) == kMailDone;
        case IntakeDestination::CommandLine:
            if (target.empty() || target == cef) return file_exists(cef);
            return copy_file_replacing(cef, target) && platform::sync_file_system(target);
    }
    return false;
}

bool store_recording_in_archive(const PatientDetails& given, const std::string& source_folder, int type,
                                const std::string& archive_folder) {
    std::string archive = archive_folder;
    if (archive.empty()) {
        if (!windowing().choose_archive) return false;
        archive = windowing().choose_archive("Store Ostrabel Recording");
        if (archive.empty()) return false;
    }
    PatientDetails details = given;
    details.clean();
    const std::int64_t size = source_folder.empty() ? 0 : get_folder_size_64(source_folder, false);
    std::string stored;
    // The details go into the report before it is listed, so that no program sees it without them.
    const StoreCompletion add_details = [&](const std::string& folder, int folder_fd) {
        // Through the folder as made: its name is in a folder others can rename into.
        auto put = [&](const std::string& name, const std::string& text) {
            (void)::unlinkat(folder_fd, name.c_str(), 0);
            const platform::UniqueFd out = create_new_file_at(folder_fd, name);
            return out && platform::write_all(out.get(), text.data(), text.size()) && ::fsync(out.get()) == 0;
        };
        const std::string patient = join_path(folder, "PATIENT.TXT");
        return put("PATIENT.TXT",
                   format_cef_patient_text(details.patient_text_fields(patient, intake_time_text())) + "\r\n") &&
               put("VERSION.TXT", "V8.006\r\n");
    };
    std::string refusal;
    const int result =
        store_report_in_archive(archive, source_folder, details.description, static_cast<std::int32_t>(size),
                                std::time(nullptr), static_cast<ReportType>(type), &stored, nullptr, false, add_details,
                                &refusal);
    switch (result) {
        case kStoreOk: break;
        case kStoreFolderFailed:
            // Named, so that the operator knows which archive to look at before storing again.
            show_error(refusal.empty() ? format_string("The new folder for the Ostrabel recording could not be created "
                                                       "in \"%s\".\nThe disk may be full, or you may not have write "
                                                       "access to it.",
                                                       escape_control_chars(archive).c_str())
                                       : refusal,
                       kStoreErrorCaption);
            return false;
        // The archive could not be locked: in use, read-only, or its lock not this account's.
        case kStoreArchiveBusy:
        case kStoreLockDenied:
        case kStoreArchiveReadOnly: show_error(refusal, kStoreErrorCaption); return false;
        case kStoreCopyFailed:
            show_error(refusal.empty() ? kCopyFailedText : refusal, kStoreErrorCaption);
            return false;
        case kStoreIndexFailed:
            show_error(
                "The \"ARCHINFO.DAT\" file could not be updated.\nThe destination disk may be full, or you may "
                "not have write access to it.",
                kStoreErrorCaption);
            return false;
        case kStoreCardFailed: return false;
        default:
            show_error("The files for the Ostrabel recording could not be copied\nbecause of an unknown error.",
                       kStoreErrorCaption);
            return false;
    }
    if (windowing().archives_changed) windowing().archives_changed();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The commands

namespace {

// What became of the card in a sentence for the operator, from the read record kept beside a read.
std::string card_fate_text(const IntakeFolder& work) {
    std::string card;
    read_record_complete(work.record_path(), &card);
    if (card == "marked") return "The card has been marked as read.";
    if (card == "reconditioned") return "The card has been emptied for its next recording.";
    const std::string text = card_outcome_text(ReadRecord{true, card, {}, {}}, 1);
    return text;
}

// The files of the read in `read` copied into the folder `scratch`, the channel files already
// pre-compressed at `level`: pre-compression reads and writes them whole anyway, so the read
// itself is never changed and they travel once.
bool copy_read_precompressed(const std::string& read, const std::string& scratch, int level, bool twelve_lead) {
    FolderFiles files;
    const platform::UniqueFd target = open_folder_no_link(scratch);
    if (!target || !files.read(read)) return false;
    const int channels = twelve_lead ? kCefMaxChannels : kCefMaxRawChannels;
    for (const std::string& name : files.names()) {
        bool channel = false;
        for (int i = 0; i < channels && !channel; ++i)
            channel = platform::iequals(name, cef_channel_file_name(twelve_lead, i));
        if (!(channel ? cef_reduce_channel_file_into(files.open(name).get(), target.get(), name, level, twelve_lead)
                      : files.copy_into(name, target.get())))
            return false;
    }
    return true;
}

// The CEF of the read in `work`, written in a copy of it (pre-compression and the mail's shortening
// change the files they work on) and delivered; true when it arrived.
bool deliver_read_as_cef(const IntakeFolder& work, const PatientDetails& details, bool twelve_lead,
                         IntakeDestination destination, const MailServices& mail, const std::string& archive) {
    TempFolder scratch;
    // A level out of range is the CEF writer's to refuse, with its message.
    const int level = details.level >= 0 && details.level <= kCefMaxBitReduction ? details.level : 0;
    if (scratch.path().empty() || !copy_read_precompressed(work.path(), scratch.path(), level, twelve_lead)) {
        show_error(kCopyFailedText, kStoreErrorCaption);
        return false;
    }
    RecordingFiles files;
    if (!examine_recording(scratch.path(), twelve_lead, files)) {
        show_error(kNoChannelText);
        return false;
    }
    CardSummary summary;
    if (!read_card_summary(work.file("PATSUMM.DAT"), summary)) {
        show_error(format_string(kBadSummaryText, work.file("PATSUMM.DAT").c_str()));
        return false;
    }
    const std::string output = join_path(scratch.path(), intake_cef_file_name(details, destination));
    auto write = [&] {
        auto r = write_card_cef(scratch.path(), files, details, summary.start_sample, details.level, output, false);
        if (!r) show_error(r.error().message);
        return static_cast<bool>(r);
    };
    if (!write()) return false;
    if (destination == IntakeDestination::Mail) {
        if (!check_mail_size(output, scratch.path(), files, [&](std::int64_t) { return write(); })) return false;
        return deliver_cef(output, destination, mail, true);
    }
    return deliver_cef(output, destination, mail, false, archive);
}

// Delivers the complete read in `work`: compressed, or into the archive as the card program wrote
// it. The folder goes once the recording has arrived; otherwise the operator is told where it is
// kept and what became of the card.
void deliver_read(IntakeFolder& work, const PatientDetails& details, bool twelve_lead, IntakeDestination destination,
                  const MailServices& mail, const std::string& archive) {
    const bool arrived = details.compress || destination != IntakeDestination::Archive
                             ? deliver_read_as_cef(work, details, twelve_lead, destination, mail, archive)
                             : store_recording_in_archive(details, work.path(), kReportOstrabelCf, archive);
    if (arrived) {
        work.delivered();
        return;
    }
    ui().message_box("The ECG read from the Ostrabel CF card has not been stored. " + card_fate_text(work) + "\n\n" +
                         kept_read_text(work.folder()),
                     "Ostrabel CF Recording Kept", MsgIcon::Warning, MsgButtons::Ok);
}

// Reads the card into a folder of its own and delivers it; a complete read is kept until it arrives.
void read_and_deliver(const PatientDetails& details, IntakeDestination destination, const MailServices& mail,
                      const std::string& archive, const CardIdentity* card) {
    IntakeFolder work;
    if (!work) {
        show_error(format_string("Couldn't create the folder for the recording in \"%s\"",
                                 escape_control_chars(platform::user_dir()).c_str()));
        return;
    }
    bool twelve_lead = false;
    const bool read = read_card_recording(work.path(), false, twelve_lead, card, work.record_path());
    if (!work.holds_read()) return;  // nothing whole was read: the folder goes
    // Should this fail, the read record still keeps the folder.
    work.keep(details, twelve_lead, card_fate_text(work));
    // Whole, but not this intake's to deliver (another card than the one asked for): it stays, and
    // the card program's step said so.
    if (!read) return;
    deliver_read(work, details, twelve_lead, destination, mail, archive);
}

// The card sequence after the dialog: read, write, deliver.
void create_cef_from_card(const PatientDetails& details, IntakeDestination destination, const MailServices& mail,
                          const std::string& archive, const CardIdentity* card) {
    if (analysis_system_running()) {
        show_error(kAnalysisRunningCefText);
        return;
    }
    read_and_deliver(details, destination, mail, archive, card);
}

}  // namespace

namespace {

// The customer's archive: text 6 itself when it is a folder, else the folder it names a file in.
std::string customer_archive(const CustomerExport& customer) {
    const std::string& given = customer.texts[5];
    const std::string folder = folder_exists(given) ? given : get_path_folder(given);
    if (!platform::find_name_ci(folder, "archinfo.dat")) {
        show_error(format_string("The destination folder is not a valid archive\n\n%s", folder.c_str()));
        return {};
    }
    return folder;
}

// The first line of a card text file, up to a line end or a NUL; false when it cannot be read.
bool read_first_line(const std::string& path, std::string& line) {
    const auto text = read_outside_text(path, kMaxCardTextBytes);
    if (!text) return false;
    line = text->substr(0, std::min<std::size_t>(text->find_first_of(std::string("\r\n\0", 3)), 255));
    return true;
}

// The card's recording identifier (CNAVOP.DAT's first line) must be the customer's.
bool customer_recording_matches(const std::string& folder, const CustomerExport& customer) {
    const std::string program = find_card_program();
    if (program.empty() || !run_card_step(program, {dir_switch(folder), "/readpat=cnav"}, false, true)) return false;
    const auto cnavop = platform::find_name_ci(folder, "CNAVOP.DAT");
    std::string id;
    if (!cnavop || !read_first_line(*cnavop, id)) {
        show_error("Unable to read cnavop.dat file.");
        return false;
    }
    if (clean_patient_text(id) != clean_patient_text(customer.texts[0])) {
        show_error("The Merivale Recording ID is different from the Recording ID stored on the CF card.");
        return false;
    }
    return true;
}

}  // namespace

namespace {

// The card's four patient texts; the patient's name describes the recording.
void take_card_texts(const CardSummary& summary, PatientDetails& details) {
    details.patient_name = summary.name;
    details.patient_id = summary.id;
    details.recording_date = summary.recording_date;
    details.recorder_id = summary.recorder_id;
    details.description = person_name_text(summary.name);
}

// Reads the recording as the card program writes it and stores it as a card recording.
void store_card_as_read(const PatientDetails& details, const std::string& archive, const CardIdentity& card) {
    PatientDetails uncompressed = details;
    uncompressed.compress = false;
    read_and_deliver(uncompressed, IntakeDestination::Archive, {}, archive, &card);
}

}  // namespace

void card_intake(int mode, const MailServices& mail, const CustomerExport* customer) {
    TempFolder folder;
    if (folder.path().empty()) return;
    std::string archive;
    if (customer && (archive = customer_archive(*customer)).empty()) return;
    CardSummary summary;
    PatientDetails details;
    // The card is known from here on: the ECG is read only from this one, whatever is in the
    // drive once the operator has filled in the details.
    CardIdentity card;
    if (!read_card_patient(folder.path(), summary, &details.sound_file, &card)) return;
    if (customer && !customer_recording_matches(folder.path(), *customer)) return;
    take_card_texts(summary, details);
    if (customer) details.recording_id = clean_patient_text(customer->texts[0]);
    details.for_mail = mode == 2;
    details.compress = mode == 0 ? get_cef_want_comp() : true;
    details.level = get_cef_bitred(mode == 2);
    details.check_changeable = mode == 0;
    if (!windowing().patient_details || !windowing().patient_details(details)) return;
    if (details.compress || mode != 0) {
        create_cef_from_card(details, static_cast<IntakeDestination>(mode), mail, archive, &card);
        return;
    }
    // An uncompressed recording goes into the archive as the card program writes it.
    store_card_as_read(details, archive, card);
}

void store_card_recording() {
    TempFolder folder;
    if (folder.path().empty()) return;
    CardSummary summary;
    PatientDetails details;
    CardIdentity card;
    if (!read_card_patient(folder.path(), summary, &details.sound_file, &card)) return;
    take_card_texts(summary, details);
    store_card_as_read(details, {}, card);
}

namespace {

// A kept read stored in an archive or saved as a compressed ECG file, through Patient Details on
// the details it was kept with.
void deliver_kept_read(const KeptRead& kept, IntakeDestination destination, const MailServices& mail) {
    IntakeFolder work(kept.folder);
    if (!work) {
        show_error(format_string("The recording kept in \"%s\" is in use by another intake.",
                                 escape_control_chars(kept.folder).c_str()));
        return;
    }
    PatientDetails details = kept.details;
    details.for_mail = false;
    details.check_changeable = destination == IntakeDestination::Archive;
    if (destination != IntakeDestination::Archive) details.compress = true;
    if (details.level < 0) details.level = get_cef_bitred(false);
    if (!kept.details_confirmed) details.compress = destination != IntakeDestination::Archive || get_cef_want_comp();
    if (!windowing().patient_details || !windowing().patient_details(details)) return;
    work.keep(details, kept.twelve_lead, kept.card_text);
    if (analysis_system_running() && (details.compress || destination != IntakeDestination::Archive)) {
        show_error(kAnalysisRunningCefText);
        return;
    }
    deliver_read(work, details, kept.twelve_lead, destination, mail, {});
}

}  // namespace

void review_kept_reads(const MailServices& mail) {
    for (const KeptRead& kept : kept_reads()) {
        if (!windowing().kept_read_choice) return;
        switch (windowing().kept_read_choice(kept)) {
            case KeptReadChoice::Later: break;
            case KeptReadChoice::Store: deliver_kept_read(kept, IntakeDestination::Archive, mail); break;
            case KeptReadChoice::Save: deliver_kept_read(kept, IntakeDestination::Folder, mail); break;
            case KeptReadChoice::Discard: {
                // Enter keeps the patient's only copy.
                if (ui().message_box(
                        format_string("Discard the recording of %s kept in \"%s\"?\n\nIt has not been "
                                      "stored anywhere, and it cannot be recovered afterwards.",
                                      escape_control_chars(person_name_text(kept.details.patient_name)).c_str(),
                                      escape_control_chars(kept.folder).c_str()),
                        "Discard Kept Recording", MsgIcon::Warning, MsgButtons::YesNo,
                        MsgDefault::Second) != MsgResult::Yes)
                    break;
                IntakeFolder work(kept.folder);
                if (work)
                    work.discard();
                else
                    show_error(
                        format_string("The recording kept in \"%s\" is in use by another intake, so it was "
                                      "not discarded.",
                                      escape_control_chars(kept.folder).c_str()));
                break;
            }
        }
    }
}

std::string find_ostrabel_disk() {
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const auto drive = platform::mapped_drive(letter);
        if (!drive || drive->label.size() < 7 ||
            !platform::iequals(std::string_view(drive->label).substr(0, 7), "QUX_FCG"))
            continue;
        if (platform::find_name_ci(drive->folder, "ROZAVEZ.EVT")) return drive->folder;
    }
    return {};
}

namespace {

std::string find_disk_or_say_so() {
    const std::string disk = find_ostrabel_disk();
    if (disk.empty())
        ui().message_box(
            "No Ostrabel recording could be found.\nPlease check that the Ostrabel is inserted correctly, "
            "and try again.",
            "Ostrabel Not Found", MsgIcon::Error, MsgButtons::Ok);
    return disk;
}

}  // namespace

void store_disk_recording() {
    const std::string disk = find_disk_or_say_so();
    if (!disk.empty()) store_recording_in_archive(PatientDetails{}, disk, kReportOstrabel);
}

void disk_intake(int mode, const MailServices& mail) {
    const std::string disk = find_disk_or_say_so();
    if (disk.empty()) return;
    // A disk recording has no channel files of the compressed format: the box is shown, unticked
    // and disabled, so that a ticked box never ends the command without doing anything.
    PatientDetails details;
    details.for_mail = mode == 2;
    details.level = get_cef_bitred(mode == 2);
    details.compress = false;
    details.check_changeable = false;
    details.group_enabled = false;
    if (!windowing().patient_details || !windowing().patient_details(details)) return;
    if (mode == 0) {
        store_recording_in_archive(details, disk, kReportOstrabel);
        return;
    }
    // Mailed as one report: a copy of the disk with the request's PATIENT.TXT and VERSION.TXT.
    TempFolder copy;
    if (copy.path().empty() || copy_matching_files(join_path(disk, "*"), copy.path()) != FileSetResult::AllDone) {
        show_error(kCopyFailedText, kStoreErrorCaption);
        return;
    }
    details.clean();
    const std::string patient =
        platform::find_name_ci(copy.path(), "PATIENT.TXT").value_or(join_path(copy.path(), "PATIENT.TXT"));
    platform::atomic_write_file(patient,
                                format_cef_patient_text(details.patient_text_fields(patient, intake_time_text())) +
                                    "\r\n");
    platform::atomic_write_file(
        platform::find_name_ci(copy.path(), "VERSION.TXT").value_or(join_path(copy.path(), "VERSION.TXT")),
        "V8.006\r\n");
    MailReportEntry entry{platform::strip_trailing_slashes(copy.path()), details.description, kReportOstrabel,
                          static_cast<std::uint32_t>(get_folder_size_64(disk, false)), std::time(nullptr)};
    mail_reports({entry}, mail);
}

int compress_cf_command(const std::string& folder, const std::string& profile, const std::string& level_text,
                        bool skip_dialog) {
    CompressCfRequest request;
    request.folder = folder;
    request.skip_dialog = skip_dialog;
    using Read = CompressCfRequest::DetailsRead;
    switch (request.read_patient_details(profile)) {
        case Read::Read: break;
        case Read::NoFolder: return kCompressCfNoFolder;
        case Read::NoProfile: return kCompressCfNoProfile;
        case Read::NoPatientId: return kCompressCfNoPatientId;
        case Read::NoPatientName: return kCompressCfNoPatientName;
        case Read::NoRecordingId: return kCompressCfNoRecordingId;
    }
    request.level = static_cast<int>(parse_integer(level_text).value);
    if (request.level != 0 && request.level != 2 && request.level != 3 && request.level != 4)
        return kCompressCfBadLevel;
    if (analysis_system_running()) {
        show_error(kAnalysisRunningCefText);
        return kCompressCfAnalysisRunning;
    }
    TempFolder work;
    if (work.path().empty()) return kCompressCfWorkFolder;
    if (copy_matching_files(join_path(folder, "*"), work.path()) != FileSetResult::AllDone) {
        show_error(kCopyFailedText, kStoreErrorCaption);
        return kCompressCfCopyFailed;
    }
    const bool twelve_lead = platform::find_name_ci(work.path(), cef_channel_file_name(true, 0)).has_value();
    RecordingFiles files;
    if (!examine_recording(work.path(), twelve_lead, files)) {
        show_error(kNoChannelText);
        return kCompressCfNoChannel;
    }
    PatientDetails details;
    details.patient_id = request.patient_id;
    details.patient_name = request.patient_name;
    details.recording_id = request.recording_id;
    details.date_of_birth = request.birth_date;
    details.sex = request.sex;
    details.insurer = request.insurer;
    details.physician = request.physician;
    details.hospital = request.hospital;
    details.age = request.age;
    details.comments = request.comments;
    if (auto wav = platform::find_name_ci(work.path(), "PATIENT.WAV")) details.sound_file = *wav;
    CardSummary summary;
    const std::string patsumm =
        platform::find_name_ci(work.path(), "PATSUMM.DAT").value_or(join_path(work.path(), "PATSUMM.DAT"));
    if (!read_card_summary(patsumm, summary)) {
        show_error(format_string(kBadSummaryText, join_path(folder, "PATSUMM.DAT").c_str()));
        return kCompressCfBadSummary;
    }
    if (!platform::iequals(summary.name, clean_patient_text(request.patient_name))) return kCompressCfNameDiffers;
    if (!platform::iequals(summary.id, clean_patient_text(request.patient_id))) return kCompressCfIdDiffers;
    details.patient_name = summary.name;
    details.patient_id = summary.id;
    details.recording_date = summary.recording_date;
    details.recorder_id = summary.recorder_id;
    details.level = request.level;
    details.compress = true;
    details.check_changeable = false;
    details.group_enabled = false;
    // A hidden run has no windows of its own: they come up when the operator is needed.
    const bool confirm = !skip_dialog;
    std::shared_ptr<void> windows;
    if ((confirm && !windowing().patient_details) || (twelve_lead && !windowing().save_as)) {
        if (window_starter()) windows = window_starter()();
        if (!windows || (confirm && !windowing().patient_details) || (twelve_lead && !windowing().save_as)) {
            show_error(format_string(kNoDisplayText, confirm ? "the Patient Details dialog"
                                                             : "the dialog that asks where to save the recording"));
            return kCompressCfNoDisplay;
        }
    }
    if (confirm && !windowing().patient_details(details)) return kCompressCfCancelled;
    if (request.level > 0 && !precompress_folder_ecg(work.path(), request.level, twelve_lead))
        return kCompressCfPrecompressFailed;
    // A three-channel recording goes to the request's path, a twelve-lead one where the operator
    // chooses.
    const std::string output = twelve_lead
                                   ? join_path(work.path(), intake_cef_file_name(details, IntakeDestination::Folder))
                                   : request.output_path;
    auto written = write_card_cef(work.path(), files, details, summary.start_sample, request.level, output, false);
    if (!written) {
        show_error(written.error().message);
        return kCompressCfWriteFailed;
    }
    if (!twelve_lead) return kCompressCfDone;
    switch (save_cef_as(output)) {
        case SaveOutcome::Saved: return kCompressCfDone;
        case SaveOutcome::Cancelled: return kCompressCfCancelled;
        case SaveOutcome::Failed: break;
    }
    return kCompressCfWriteFailed;
}

int compress_cf_operands(const std::vector<std::string>& operands) {
    const std::string empty;
    auto op = [&](std::size_t k) -> const std::string& { return k < operands.size() ? operands[k] : empty; };
    return compress_cf_command(op(0), op(1), op(2), platform::iequals(op(3), "y"));
}

}  // namespace tv
