#include "vond/program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "formats/cef.h"
#include "vond/dialogs.h"
#include "vond/ecg_loader.h"
#include "vond/mappings.h"
#include "vond/messages.h"
#include "vond/szip_install.h"

namespace tv::vond {
namespace {

constexpr std::size_t kMaxArgument = 255;
const ProgramProfile& card_program_profile() {
    static const ProgramProfile profile(kCardProgramProfileKey);
    return profile;
}

bool starts_with_ci(const std::string& text, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return text.size() >= n && platform::iequals(std::string_view(text).substr(0, n), prefix);
}

std::string without_quotes(std::string v) {
    v.erase(std::remove(v.begin(), v.end(), '"'), v.end());
    return v;
}

// A whole decimal number, nothing else.
bool parse_number(const std::string& v, int& out) {
    if (v.empty() || v.size() > 9 || !(v[0] == '-' || (v[0] >= '0' && v[0] <= '9'))) return false;
    const ParsedInteger n = parse_integer(v);
    if (!n.whole(v.size())) return false;
    out = static_cast<int>(n.value);
    return true;
}

template <std::size_t N>
int keyword(const std::string& v, const std::pair<const char*, int> (&table)[N]) {
    for (auto& [word, code] : table)
        if (starts_with_ci(v, word)) return code;
    return -1;
}

// Without a display a mode that must show a dialog ends with a code of its own.
int windows_unavailable(const char* what) {
    std::fprintf(stderr, "vond: the %s needs a window, and none can be shown here\n", what);
    return kExitNoDisplay;
}

// Hours of ECG a read takes: "/duration=" when given, else what the output format holds by default.
// The cnav output copies the card whole and takes none.
int read_duration(int output_format, int given) {
    switch (output_format) {
        case kFormatPath:
        case kFormatOs12File:
        case kFormatArchive:
        case kFormatOs12Arch: return given > 0 ? given : 28;
        case kFormatMmf: return given > 0 ? given : 192;
        default: return 0;
    }
}

bool write_text_lines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (auto& l : lines) text += l + "\r\n";
    return platform::atomic_write_file(path, text);
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine c;
    static const std::pair<const char*, int> formats[] = {{"path", 1}, {"archive", 2},  {"cnav", 3},
                                                          {"mmf", 4},  {"os12file", 5}, {"os12arch", 6}};
    static const std::pair<const char*, int> writes[] = {
        {"cnav", 1}, {"path", 2}, {"stand", 3}, {"scan", 4}, {"merivale", 5}};
    static const std::pair<const char*, int> readpats[] = {
        {"cnav", 6}, {"path", 7}, {"stand", 8}, {"scan", 9}, {"status", 15}};
    static const std::pair<const char*, int> readecgs[] = {{"hide", 10}, {"stand", 11}};
    static const std::pair<const char*, int> changepats[] = {{"cnav", 12}};
    for (const std::string& a : args) {
        if (a.empty()) continue;
        // Longer arguments would have been cut short: refuse them rather than guess.
        if (a.size() > kMaxArgument) {
            c.valid = false;
            continue;
        }
        auto value = [&](const char* sw) { return a.substr(std::strlen(sw)); };
        int n = 0, k = 0;
        if (starts_with_ci(a, "/dir=")) {
            c.output_folder = without_quotes(value("/dir="));
        } else if (starts_with_ci(a, "/ipdir=")) {
            c.input_folder = without_quotes(value("/ipdir="));
        } else if (starts_with_ci(a, "/fir")) {
            c.fir = true;
        } else if (starts_with_ci(a, "/nofir")) {
            c.fir = false;
        } else if (starts_with_ci(a, "/opformat=")) {
            if ((k = keyword(value("/opformat="), formats)) < 0)
                c.valid = false;
            else
                c.output_format = k;
        } else if (starts_with_ci(a, "/write=")) {
            if ((k = keyword(value("/write="), writes)) < 0)
                c.valid = false;
            else
                c.mode = k;
        } else if (starts_with_ci(a, "/readpat=")) {
            if ((k = keyword(value("/readpat="), readpats)) < 0)
                c.valid = false;
            else
                c.mode = k;
        } else if (starts_with_ci(a, "/readecg=")) {
            if ((k = keyword(value("/readecg="), readecgs)) < 0)
                c.valid = false;
            else
                c.mode = k;
        } else if (starts_with_ci(a, "/changepat=")) {
            if ((k = keyword(value("/changepat="), changepats)) < 0)
                c.valid = false;
            else
                c.mode = k;
        } else if (starts_with_ci(a, "/wav")) {
            c.mode = kWav;
        } else if (starts_with_ci(a, "/setpat=")) {
            c.mode = kSetPat;
            c.set_patient = without_quotes(value("/setpat="));
        } else if (starts_with_ci(a, "/procedure_id=")) {
            c.procedure_id = without_quotes(value("/procedure_id="));
            if (c.procedure_id.size() > 16) c.valid = false;
        } else if (starts_with_ci(a, "/confirmed")) {
            c.confirmed = true;
        } else if (starts_with_ci(a, "/skip24")) {
            c.skip24 = true;
        } else if (starts_with_ci(a, "/skip=")) {
            if (!parse_number(value("/skip="), n) || n < 0)
                c.valid = false;
            else
                c.skip = n;
        } else if (starts_with_ci(a, "/duration=")) {
            if (!parse_number(value("/duration="), n) || n < 1)
                c.valid = false;
            else
                c.duration = n;
        } else if (starts_with_ci(a, "/cal=")) {
            if (!parse_number(value("/cal="), n) || n < 0)
                c.valid = false;
            else
                c.calibration = n;
        } else if (starts_with_ci(a, "/resolution=")) {
            if (!parse_number(value("/resolution="), n) || n < 8 || n > 12)
                c.valid = false;
            else {
                c.resolution = n;
                c.resolution_given = true;
            }
        } else if (starts_with_ci(a, "/scramble")) {
            c.scramble = true;
        } else {
            c.valid = false;
        }
    }
    return c;
}

bool write_patient_summary(const std::string& folder, const RecordingInfo& info) {
    return write_text_lines(card_path(folder, "patsumm.dat"),
                            {info.name, info.id, info.recording_start, info.recorder_id, "1",
                             std::to_string(info.channels), std::to_string(info.length_hours), info.details_time,
                             info.second_time});
}

namespace {

bool read_first_lines(const std::string& path, std::size_t limit, std::vector<std::string>& lines, std::size_t count) {
    // Only the first lines are read, however long the file.
    const platform::UniqueFile f = open_outside_stream(path, UINT64_MAX);
    if (!f) return false;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line;
        int c = 0;
        while ((c = std::fgetc(f.get())) != EOF && c != '\n')
            if (line.size() < limit) line.push_back(static_cast<char>(c));
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (c == EOF) break;
    }
    return true;
}

}  // namespace

std::string read_recording_id(const std::string& folder) {
    std::vector<std::string> lines;
    const auto p = platform::find_name_ci(folder, "cnavop.dat");
    if (!p || !read_first_lines(*p, 79, lines, 1) || lines.empty()) return {};
    return lines[0];
}

bool read_patient_summary(const std::string& folder, std::string& name, std::string& id) {
    auto p = platform::find_name_ci(folder, "patsumm.dat");
    std::vector<std::string> lines;
    if (!p || !read_first_lines(*p, 255, lines, 2)) return false;
    name = lines.size() > 0 ? lines[0] : std::string();
    id = lines.size() > 1 ? lines[1] : std::string();
    return true;
}

bool is_compressed_ecg_file(const std::string& path, int* channels) {
    CefHeader h;
    if (!read_cef_header(path, h)) return false;
    // The card program reads version 1 and older only.
    if (static_cast<std::int32_t>(h.version) > 1) return false;
    if (channels) *channels = h.channel_count;
    return true;
}

FoundInput find_input(const std::string& path) {
    FoundInput r;
    if (path.empty()) return r;
    // The name itself, as the card folder is taken: a link there is not followed.
    const EntryState entry = probe_entry(path);
    if (entry.kind == EntryKind::Missing) return r;
    if (entry.kind != EntryKind::Folder && entry.kind != EntryKind::Regular) {
        r.refused = true;
        return r;
    }
    auto has = [&](const char* n) { return platform::find_name_ci(path, n).has_value(); };
    auto size = [&](const char* n) -> std::int64_t {
        auto p = platform::find_name_ci(path, n);
        return p ? get_file_size_64(*p) : -1;
    };
    if (entry.kind == EntryKind::Folder) {
        const bool a =
            has("PATIENT.WAV") && has("PATEVENT.DAT") && has("RAWECG1.DAT") && has("PATIENT.TXT") && has("PATSUMM.DAT");
        const bool b = has("CEFDESC.TXT") && has("RAWECG1.DAT") && has("PATIENT.TXT");
        if (a || b) {
            r.found = true;
            r.path = path;
            r.channels = size("RAWECG3.DAT") > 0 ? 3 : size("RAWECG2.DAT") > 0 ? 2 : size("RAWECG1.DAT") > 0 ? 1 : 0;
            return r;
        }
        for (FileFinder ff(join_path(path, "*"), kFindFiles); !ff.at_end(); ff.next()) {
            int ch = 0;
            if (ff.get_size() > 108 && is_compressed_ecg_file(ff.get_path(), &ch)) {
                r.found = r.compressed = true;
                r.path = ff.get_path();
                r.channels = ch;
                return r;
            }
        }
        return r;
    }
    int ch = 0;
    if (is_compressed_ecg_file(path, &ch)) {
        r.found = r.compressed = true;
        r.path = path;
        r.channels = ch;
    }
    return r;
}

std::string unpack_input(const std::string& cef, bool whole) {
    const std::string folder = create_temp_folder("TMP");
    if (folder.empty()) {
        show_message(160, MsgIcon::Error, MsgButtons::Ok);
        return {};
    }
    int error = 0;
    {
        CefUnpacker reader(cef, folder, [](const std::string& text) {
            return ui().message_box(text, message_text(133), MsgIcon::Error, MsgButtons::RetryCancel) ==
                   MsgResult::Retry;
        });
        error = reader.get_error();
        if (error == 0 && reader.is_newer_version()) error = kCefBadSignature;
        if (error == 0) {
            bool ok = reader.unpack_patient_files();
            if (!ok && reader.get_error() == kCefPatientText) {
                // A recording written without patient details has an empty patient block; the
                // main program writes such files, so they are read here as well.
                ok = platform::atomic_write_file(join_path(folder, "PATIENT.TXT"), "");
                for (const char* n : {"CEFDESC.TXT", "VERSION.TXT", "SUMMARY.TXT"}) ok = ok && reader.unpack_by_name(n);
                if (ok && !reader.unpack_by_name("PATIENT.WAV") && reader.get_error() != kCefChannelMissing) ok = false;
                if (ok) reader.unpack_by_name("CEFDESC.TXT");  // clears the empty-sound code
            }
            ok = ok && reader.unpack_event_file();
            if (whole) {
                ok = ok && reader.unpack_all_channels() && reader.unpack_extra_members() &&
                     reader.write_recording_data();
            } else {
                for (const char* n : {"CNAV.DAT", "CNAVOP.DAT", "PATSUMM.DAT"}) ok = ok && reader.unpack_by_name(n);
            }
            error = ok ? 0 : (reader.get_error() ? reader.get_error() : kCefWriteFailed);
        }
    }
    if (error == 0) return folder;
    delete_folder_tree(folder, true, true);
    const unsigned id = (error == 1 || error == 9) ? 161 : (error == 2 || error == 8) ? 162 : 163;
    trace("CEF reader error %d\n", error);
    show_message(id, MsgIcon::Error, MsgButtons::Ok);
    return {};
}

namespace {

class Program {
public:
    explicit Program(const CommandLine& c) : cl_(c) {}
    int run();

private:
    int folder_flow(const FoundInput& in);
    int card_flow();
    int write_flow();
    int read_flow();
    int read_dialog(int code);
    int change_flow();
    int wav_flow();
    int setpat_flow();
    int read_from_descriptor(const std::string& folder);
    // Opens and locks the card at `root`; false when another run holds it.
    bool take_card(const std::string& root);

    CommandLine cl_;
    CardDisk disk_;
    char default_drive_ = '?';
};

int Program::run() {
    default_drive_ =
        static_cast<char>(card_program_profile().get_int(kCardProgramSettingsSection, kDefaultDriveValue, 63));
    if (const char* cal = std::getenv("VOND_CAL")) disk_.set_calibration(static_cast<int>(parse_integer(cal).value));
    auto& s = disk_.settings();
    if (cl_.calibration >= 0) disk_.set_calibration(cl_.calibration);
    s.resolution = cl_.resolution;
    s.scramble = cl_.scramble;
    s.procedure_id = cl_.procedure_id;
    int mode = cl_.mode;
    if (mode == kReadEcgStand) cl_.output_format = kFormatArchive;
    if (mode == kReadEcgHide || mode == kReadEcgStand) {
        if (cl_.output_format == kFormatNone) cl_.valid = false;
        if ((cl_.output_format == kFormatPath || cl_.output_format == kFormatOs12File) && cl_.duration > 28)
            cl_.valid = false;
        s.duration_hours = read_duration(cl_.output_format, cl_.duration);
    } else if (mode == kReadPatStand) {
        // Its read dialog's "Read ECG Data" reads into recording files.
        s.duration_hours = read_duration(kFormatArchive, cl_.duration);
    }
    if (mode >= kReadPatCnav && mode <= kReadEcgStand) s.skip_hours = cl_.skip >= 0 ? cl_.skip : cl_.skip24 ? 24 : 0;
    if (cl_.fir && (mode == 1 || mode == 2 || mode == 4 || mode == 5 || (mode >= 6 && mode <= 11))) cl_.valid = false;
    if (mode == kWav && !cl_.input_folder.empty()) cl_.valid = false;
    if (mode == kModeNone) cl_.valid = false;
    if (cl_.valid && !cl_.output_folder.empty() && !folder_exists(cl_.output_folder))
        ::mkdir(cl_.output_folder.c_str(), 0755);
    int code = kExitDone;
    if (!cl_.valid) {
        code = kExitBadCommandLine;
    } else if (mode != kWav && mode != kSetPat && mode != kReadPatStatus && !folder_exists(cl_.output_folder)) {
        code = kExitNoOutputFolder;
    } else if (!cl_.input_folder.empty() && ::access(cl_.input_folder.c_str(), R_OK) != 0) {
        code = kExitNoInput;
    } else {
        disk_.set_mode(mode);
        disk_.set_output_format(cl_.output_format);
        disk_.set_input_folder(cl_.input_folder);
        disk_.set_default_drive(default_drive_);
        if (windows()) windows()->start(mode);
        const FoundInput in = find_input(cl_.input_folder);
        if (in.refused) trace("%s is not a folder or plain file that can be read\n", cl_.input_folder.c_str());
        code = in.refused ? kExitNoInput : in.found ? folder_flow(in) : card_flow();
        if (windows()) windows()->finish();
        // Whatever a run did, it did not happen on a card that went away meanwhile, unless the card
        // (read through the folder opened) holds the change the run made.
        if (code != kExitCardBusy && !disk_.still_there() && !(code == kExitDone && disk_.holds_change()))
            code = kExitNoCard;
    }
    trace("m_exit_code : %i\n", code);
    card_program_profile().write_int(kCardProgramSettingsSection, kDefaultDriveValue,
                                     static_cast<unsigned char>(default_drive_));
    return code;
}

bool Program::take_card(const std::string& root) {
    if (disk_.set_root(root)) return true;
    if (disk_.holder().empty())
        std::fprintf(stderr, "vond: another run is using the card in %s\n", root.c_str());
    else
        std::fprintf(stderr, "vond: another run (%s) is using the card in %s\n", disk_.holder().c_str(), root.c_str());
    show_card_message(204, MsgIcon::Warning, MsgButtons::Ok, false);
    return false;
}

int Program::folder_flow(const FoundInput& in) {
    std::string folder = in.path;
    std::string temp;
    int channels = in.channels;
    if (in.compressed) {
        temp = unpack_input(in.path, cl_.mode == kReadEcgHide || cl_.mode == kReadEcgStand);
        if (temp.empty()) return kExitUnpackFailed;
        folder = temp;
    }
    int code = kExitDone;
    if (channels < 0 || channels > 3) code = kExitUnreadable;
    const int mode = cl_.mode == kReadEcgStand ? kReadEcgHide : cl_.mode;
    if (mode == kReadPatCnav || mode == kReadPatPath || mode == kReadPatScan) {
        bool ok = true;
        for (const char* n : {"PATSUMM.DAT", "PATIENT.WAV", "PATEVENT.DAT"}) {
            auto p = platform::find_name_ci(folder, n);
            ok = ok && p && copy_file_replacing(*p, card_path(cl_.output_folder, n));
        }
        if (mode == kReadPatCnav)
            for (const char* n : {"CNAV.DAT", "CNAVOP.DAT"}) {
                auto p = platform::find_name_ci(folder, n);
                ok = ok && p && copy_file_replacing(*p, card_path(cl_.output_folder, n));
            }
        if (code == 0)
            code = channels == 0   ? kExitNoRecording
                   : channels == 1 ? kExitOneChannel
                   : channels == 2 ? kExitTwoChannels
                                   : kExitThreeChannels;
    } else if (mode == kReadEcgHide) {
        if (cl_.output_format == kFormatPath || cl_.output_format == kFormatMmf) {
            if (!fill_mappings_from_folder(folder, disk_.settings().skip_hours, disk_.settings().duration_hours))
                code = kExitNotChanged;
        } else {
            show_message(164, MsgIcon::Error, MsgButtons::Ok);
            code = kExitNotChanged;
        }
    } else {
        code = kExitInputNotRead;
    }
    // The folder is our own: it goes with everything in it.
    if (!temp.empty()) delete_folder_tree(temp, true, true);
    return code;
}

int Program::card_flow() {
    // A folder of the ECG management system is that system's loader's to read, whatever the mode.
    if (has_descriptor(cl_.input_folder)) return read_from_descriptor(cl_.input_folder);
    switch (cl_.mode) {
        case kWriteCnav:
        case kWritePath:
        case kWriteStand:
        case kWriteScan:
        case kWriteMerivale: return write_flow();
        case kChangePat: return change_flow();
        case kWav: return wav_flow();
        case kSetPat: return setpat_flow();
        default: return read_flow();
    }
}

int Program::write_flow() {
    const int mode = cl_.mode;
    CardSearch found =
        mode == kWriteCnav ? find_card_drive(default_drive_) : search_card_drive_asking(default_drive_, false);
    bool asked = false;
    if (mode == kWriteCnav && found.letter == '?') {
        if (show_message(157, MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes) return kExitNoCard;
        asked = true;
        found = search_card_drive_asking(default_drive_, true);
    }
    // Several cards and nobody to settle it: the caller hears so.
    if (mode == kWriteCnav && found.several) return kExitSeveralCards;
    const bool automatic = mode == kWriteCnav && !asked;
    if (!automatic && !(windows() && windows()->available())) return windows_unavailable("card dialog");
    CardDialogRules card(disk_, cl_.output_folder);
    if (found.letter != '?') card.drive = std::string(1, found.letter) + (found.several ? ":>2" : ":");
    card.default_drive = default_drive_;
    card.automatic = automatic;
    if (mode != kWriteStand && !read_patient_summary(cl_.output_folder, card.name, card.id)) {
        if (mode == kWriteCnav) return kExitNoPatientDetails;
        card.name.clear();
        card.id.clear();
    }
    card.fir = cl_.fir;
    if (mode == kWriteCnav || mode == kWriteMerivale) {
        card.cnavop = read_recording_id(cl_.output_folder);
    }
    if (mode == kWriteStand) {
        card.hide_fir = !cl_.fir;
    } else {
        card.close_after_init = true;
        card.hide_fir = true;
        card.read_only_patient = mode == kWriteCnav && asked;
    }
    if (automatic) return card.initialise_card() ? kExitDone : kExitNotInitialised;
    const int result = windows()->show_card_dialog(card);
    default_drive_ = card.default_drive;
    if (mode == kWriteStand) return kExitDone;
    if (mode == kWriteCnav) return result == 1 ? kExitNotInitialised : kExitDone;
    return result != 0 && result != -1 ? kExitNotInitialised : kExitDone;
}

int Program::read_flow() {
    const int mode = cl_.mode;
    int code = kExitDone;
    if (!cl_.input_folder.empty()) {
        if (!take_card(cl_.input_folder)) return kExitCardBusy;
        code = disk_.check_card_files();
    } else {
        CardSearch found = find_card_drive(default_drive_);
        if (found.several) {
            trace("More than one drive found and user cancelled dialog.\n");
            return kExitSeveralCards;
        }
        if (found.letter == '?') {
            trace("No drives found.\n");
            if (mode == kReadPatStand || mode == kReadEcgStand) return read_dialog(0);
            return kExitNoCard;
        }
        if (mode != kReadPatStatus && has_descriptor(found.root)) return read_from_descriptor(found.root);
        if (!take_card(found.root)) return kExitCardBusy;
        code = disk_.validate(true, false, false);
        trace("CF_conditioned_ : %i\n", code);
    }
    if (code != kExitDone && code != kExitNotMarked) return code;
    disk_.read_config();
    if (mode == kReadPatStand || mode == kReadEcgStand) return read_dialog(code);
    if (mode == kReadEcgHide) {
        const int state = disk_.ecg_state();
        if (state == kExitNoRecording || state == kExitUnreadable) return state;
        if (!disk_.read_ecg(cl_.output_format, cl_.output_folder)) return kExitUnreadable;
        // The ECG is kept; the code says what went wrong with the card afterwards.
        if (disk_.last_step() == CardStep::Lost) return kExitNoCard;
        if (disk_.last_step() == CardStep::ReconditionFailed) return kExitCardFailed;
        return kExitDone;
    }
    RecordingInfo info;
    if (!disk_.recording_info(info)) return kExitNoPatientDetails;
    // The summary goes into the output folder only: a status query without one reports its code
    // and leaves the current folder alone.
    if (!cl_.output_folder.empty() && !write_patient_summary(cl_.output_folder, info)) return kExitNoPatientDetails;
    code = disk_.ecg_state();
    if (mode == kReadPatStatus || code == kExitNoRecording) return code;
    // The caller takes each of these files as the card's: one that is short or missing is a failed read.
    if (!disk_.copy_patient_wav(cl_.output_folder) || !disk_.write_event_dat(cl_.output_folder))
        return kExitNoPatientDetails;
    if (mode == kReadPatCnav) {
        if (!disk_.copy_cnav_from_card(cl_.output_folder) || !disk_.write_cnavop(cl_.output_folder))
            return kExitNoPatientDetails;
        code = kExitDone;
    }
    return code;
}

// The dialog's own outcome is the user's to see: the run ends with the card's code (114 for a
// recording that was not marked as read when the run began, else 0).
int Program::read_dialog(int code) {
    if (!(windows() && windows()->available())) return windows_unavailable("read dialog");
    ReadDialogRules rules(disk_, cl_.output_folder);
    rules.automatic = false;
    windows()->show_read_dialog(rules, cl_.mode, default_drive_);
    return code;
}

int Program::change_flow() {
    int code;
    if (cl_.input_folder.empty()) {
        CardSearch found = find_card_drive(default_drive_);
        if (found.letter == '?') return kExitNoCard;
        // One patient's details on whichever card comes first would label another's recording.
        if (found.several) {
            trace("More than one drive found and user cancelled dialog.\n");
            return kExitSeveralCards;
        }
        if (!take_card(found.root)) return kExitCardBusy;
        code = disk_.validate(true, false, false);
    } else {
        if (!take_card(cl_.input_folder)) return kExitCardBusy;
        code = disk_.check_card_files();
    }
    if (code != kExitDone && code != kExitNotMarked) return code;
    std::string name, id;
    if (!read_patient_summary(cl_.output_folder, name, id)) return kExitNoPatientDetails;
    code = disk_.ecg_state();
    if (code == kExitNoRecording) return code;
    const std::string cnavop = read_recording_id(cl_.output_folder);
    // The new cnav.dat comes with the new details, from the folder that holds PATSUMM.DAT.
    return disk_.change_patient_details(name, id, cnavop, cl_.confirmed, cl_.output_folder);
}

int Program::wav_flow() {
    CardSearch found = find_card_drive(default_drive_);
    if (found.letter == '?' || found.several) return kExitDone;
    if (!take_card(found.root)) return kExitDone;
    const int code = disk_.validate(false, false, false);
    if (code != kExitDone && code != kExitNotMarked) return kExitDone;
    if (!disk_.read_config()) return kExitDone;
    FoundSector s = disk_.start_sector();
    if (!s.found || parse_start_sector(s.sector).recording_num != disk_.config().wav_recording_num()) return kExitDone;
    return found.letter;
}

int Program::setpat_flow() {
    DescriptorPatient patient;
    if (!read_descriptor_patient(cl_.set_patient, patient)) return kExitNoDescriptorFile;
    if (patient.name.empty()) return kExitNoPatientName;
    if (patient.id.empty()) return kExitNoPatientId;
    CardSearch found = find_card_drive(default_drive_);
    if (found.letter == '?') return kExitNoCard;
    if (found.several) return kExitSeveralCards;
    if (!take_card(found.root)) return kExitCardBusy;
    const bool ok = disk_.prepare_card(patient.name, patient.id, "", nullptr);
    ::sync();
    return ok ? kExitDone : kExitCardFailed;
}

int Program::read_from_descriptor(const std::string& folder) {
    const std::string loader = find_loader(get_module_folder());
    if (loader.empty()) {
        show_message(166, MsgIcon::Error, MsgButtons::Ok);
        return kExitNoLoader;
    }
    const std::string descriptor = find_descriptor(folder);
    if (descriptor.empty()) {
        show_message(201, MsgIcon::Error, MsgButtons::Ok, format_message(201, folder.c_str()));
        return kExitNoLoaderDescriptor;
    }
    const std::string skip = std::to_string(disk_.settings().skip_hours);
    const std::string duration = std::to_string(cl_.duration > 0 ? cl_.duration : 0);
    if (cl_.mode == kReadPatPath) return run_loader({loader, "getpat", descriptor, skip, duration, cl_.output_folder});
    if (cl_.mode == kReadEcgHide) return run_loader({loader, "getecg", descriptor, skip, duration});
    return kExitBadCommandLine;
}

}  // namespace

int run_vond(const std::vector<std::string>& args) {
    bool any = false;
    for (auto& a : args) any = any || !a.empty();
    CommandLine c;
    if (!any) {
        c.mode = kWriteStand;
        c.output_folder = get_temp_folder();
    } else {
        c = parse_command_line(args);
    }
    if (!install_szip()) show_message(165, MsgIcon::Information, MsgButtons::Ok);
    Program p(c);
    return p.run();
}

}  // namespace tv::vond
