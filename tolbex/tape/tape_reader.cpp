#include "tolbex/tape/tape_reader.h"

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/strings.h"
#include "common/tape_mappings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/shared_memory.h"
#include "tolbex/tape/ecg_mappings.h"

namespace tv {

int clamp_tape_type_index(int index) { return index < 0 || index >= kTapeTypeCount ? 0 : index; }

int tape_channel_count(int type_index) { return kTapeTypes[clamp_tape_type_index(type_index)].channels; }

int get_cef_tape_type() { return clamp_tape_type_index(get_profile_int(kSettingsSection, "CEF Tape Type", 0)); }

bool set_cef_tape_type(int index) { return write_profile_int(kSettingsSection, "CEF Tape Type", index); }

std::vector<std::string> tape_reader_arguments(const TapeOptions& o) {
    const TapeType& type = kTapeTypes[clamp_tape_type_index(o.type_index)];
    std::vector<std::string> args = {"/type",    std::to_string(type.reader_type),
                                     "/pace",    o.use_pacing && type.pacing_allowed ? "1" : "0",
                                     "/flutter", o.use_ddssr ? "1" : "0",
                                     "/gain",    o.half_gain ? "1" : "0"};
    if (o.ignore_time_track) args.push_back("/disablespeedcontrol");
    if (o.skip_24_hours) args.push_back("/skip24");
    return args;
}

std::string default_tape_reader_path() { return join_path(get_module_folder(), kTapeReaderProgram); }

std::string tape_duration_text(std::int64_t samples) {
    const std::int64_t ms = samples * 1000 / 128;
    const std::int64_t day_ms = 86400000;
    const auto s = static_cast<int>(ms % day_ms / 1000);
    if (ms < day_ms) return format_string("%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    return format_string("(%d) %02d:%02d:%02d", static_cast<int>(ms / day_ms), s / 3600, s / 60 % 60, s % 60);
}

std::string deck_state_text(std::int32_t state) {
    static const char* const names[] = {"IDLE", "LOADING", "CASSETTE OUT", "ERROR", "FINISHED"};
    return state >= 0 && state <= 4 ? names[state] : "UNKNOWN";
}

std::string tape_reader_message(int code) {
    switch (code) {
        case kelmoth::kExitDriver: return "An unsupported KELMOTH operation was attempted.";
        case kelmoth::kExitOk: return "The KELMOTH operation was successful.";
        case kelmoth::kExitUsage: return "An invalid parameter was passed to KELMOTH";
        case kelmoth::kExitFull: return "The memory-mapped files became full during ECG loading.";
        case kelmoth::kExitViews: return "The KELMOTH memory-mapped files could not be opened.";
        case kelmoth::kStatusHeadJam: return "There was a replay deck head jam.";
        case kelmoth::kStatusCapstanJam: return "There was a replay deck capstan jam.";
        case kelmoth::kStatusStopPressed: return "The replay deck's \"STOP\" button was pressed.";
        case kelmoth::kStatusNoTableEntry: return "An attempt was made to use an invalid recorder table entry.";
        case kelmoth::kStatusSpeedError: return "There was a gross speed error while the ECG was loading from tape.";
        case kelmoth::kStatusCassetteOut: return "There is no tape in the replay deck, or the door is open.";
        case kelmoth::kStatusOverrun: return "There was a data overrun error while the ECG was loading from tape.";
        case kelmoth::kExitNoDeck: return "No replay deck could be found.";
        case kelmoth::kExitDeckSilent:
            return "The replay deck stopped answering. The ECG could not be loaded from the tape.";
        case kelmoth::kExitDeckBusy: return kDeckBusyText;
        case kelmoth::kExitNotWhole:
            return "The ECG from the tape did not arrive in order, so the tape was not read whole. Nothing was "
                   "stored. Please rewind the tape and load it again.";
        case kelmoth::kExitNothingRead: return "No ECG was loaded from the tape. Nothing was stored.";
        case kelmoth::kExitCallerGone: return "The tape loading was stopped because the program that started it ended.";
        default: return format_string("The KELMOTH program returned an unexpected error code of %d.", code);
    }
}

void show_tape_reader_error(int exit_code) { show_error(tape_reader_message(exit_code)); }

bool judge_tape_reader_exit(int code, std::int32_t samples_loaded) {
    if (code == platform::kExitUnknown) {
        show_error(kReaderNotShutDownText);
        return false;
    }
    if (code != kelmoth::kExitOk && code != kelmoth::kExitFull && code != kelmoth::kStatusStopPressed &&
        code != kelmoth::kStatusSpeedError && code != kelmoth::kStatusCassetteOut) {
        show_tape_reader_error(code);
        return false;
    }
    if (samples_loaded < kEnoughTapeSamples) {
        show_error(kNotEnoughEcgText);
        return false;
    }
    if (code == kelmoth::kExitFull || code == kelmoth::kStatusSpeedError)
        ui().message_box(tape_reader_message(code), {}, MsgIcon::Warning, MsgButtons::Ok);
    return true;
}

// ---------------------------------------------------------------------------------------------

TapeReader::~TapeReader() {
    if (running()) terminate();
}

bool TapeReader::start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    exit_code_ = platform::kExitUnknown;
    // The reader is a console program started hidden: our terminal's input is not its to read, and
    // its progress lines are not ours to show.
    return child_.start(argv, platform::ChildIo(platform::Stdin::Null, platform::Stdout::Null), true);
}

bool TapeReader::poll(int& exit_code) {
    ChildEnd end;
    // Never started, or reaped: its last known code.
    if (child_.poll(end) && end.started()) exit_code_ = end.code();
    exit_code = exit_code_;
    return !child_.running();
}

void TapeReader::terminate(int request_ms, int grace_ms) {
    if (!running()) return;
    // The request lets the reader stop the deck, which a forced end leaves running.
    if (auto request = platform::NamedEvent::open(kShutdownRequestEvent, true, false)) request->set();
    ChildEnd end;
    if (!child_.wait_for(request_ms, end)) end = child_.end(grace_ms);
    exit_code_ = end.code();
}

// ---------------------------------------------------------------------------------------------

TapeLoadSession::Tick TapeLoadSession::tick() {
    int code = 0;
    const bool ended = reader_.poll(code);
    if (ended) exit_code_ = code;
    progress_ = mappings_.sample_count();
    amount_ = tape_duration_text(progress_);
    status_ = deck_state_text(mappings_.deck_state());
    return ended ? Tick::ended : Tick::running;
}

bool TapeLoadSession::cancel(std::int64_t now_ms) {
    if (first_notice_ms_ >= 0 && now_ms - first_notice_ms_ >= end_offer_ms_ && reader_.running()) {
        if (ui().message_box(kEndReaderQuestion, {}, MsgIcon::Question, MsgButtons::YesNo, MsgDefault::Second) ==
            MsgResult::Yes) {
            reader_.terminate();
            return true;
        }
        return false;
    }
    if (first_notice_ms_ < 0) first_notice_ms_ = now_ms;
    ui().message_box(kPressStopText, {}, MsgIcon::Warning, MsgButtons::Ok);
    return false;
}

}  // namespace tv
