// Taking a new recording onto the workstation: the card interface program `vond` run as a separate
// process for each step, the recorder disk found through the drive map, the patient details the
// operator confirms, the compressed ECG file (CEF) written from the recording files, and its
// delivery to an archive, a folder, a mail message or the path a command line named.
//
// Every intake works in a fresh private folder of its own that is removed with everything in it
// when the intake ends, so nothing an earlier intake left (PATSUMM.DAT, CNAVOP.DAT, PATIENT.WAV,
// channel files) can become part of a new recording. Texts that come from a card or a profile file
// are cleaned of control characters and cut to the field's length before they reach an index line,
// a file name or a CEF header. No Qt: the windows come in through IntakeWindowing.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/handles.h"
#include "tolbex/exit_codes.h"
#include "vond/exit_codes.h"

namespace tv {

struct MailServices;

// Where a finished recording goes.
enum class IntakeDestination { Archive = 0, Folder = 1, Mail = 2, CommandLine = 3 };

// Control characters removed, blanks trimmed at both ends, cut to `limit` bytes.
inline constexpr std::size_t kPatientTextLimit = 80;
std::string clean_patient_text(std::string_view text, std::size_t limit = kPatientTextLimit);
// The same for a fixed-size field of a device record, which may lack its NUL: up to the first NUL
// or `size` bytes.
std::string clean_patient_text(const char* field, std::size_t size, std::size_t limit);

// Every intake that makes a compressed ECG file refuses while the analysis system runs.
inline constexpr const char* kAnalysisRunningCefText =
    "You cannot create a compressed ECG file while the Quorril software is running.\nPlease close down Quorril and "
    "try again.";

// The fields of the Patient Details dialog and the compression it offers.
struct PatientDetails {
    std::string patient_name, patient_id, date_of_birth, age, sex, operator_name, recording_id, physician, insurer,
        hospital, recording_date, recorder_id, analysis_date, comments, description;
    std::string sound_file;  // empty: no "Play Sound File"
    // Compression group: level -1 hides it; else the bit reduction 0..4.
    bool compress = false;
    int level = -1;
    bool for_mail = false, check_changeable = true, group_enabled = true;

    // Every text through clean_patient_text (comments keep their line breaks, up to 3,000 bytes;
    // the description up to 63).
    void clean();
    // The 17 lines of PATIENT.TXT: the file's own path, the time text, then the fields.
    std::vector<std::string> patient_text_fields(const std::string& path, const std::string& time_text) const;
};

// The locale's "%c" of `when` (now).
std::string intake_time_text(std::time_t when = std::time(nullptr));

// The folder a recording is read into, in the account's durable state (<user_dir>/intake/<name>,
// never the temporary folder that start-up clears), the recording in its "files" sub-folder and
// locked for as long as this object lives. It goes with the object, unless it holds a complete read
// (its read record, or keep()) that no destination holds yet: that one stays, a kept read, through
// every failure and crash, until delivered() or the operator discards it. Empty path when it could
// not be made or (a kept read) another run has it.
class IntakeFolder {
public:
    IntakeFolder();
    // Takes the kept read at `folder` (from kept_reads()) for this run.
    explicit IntakeFolder(const std::string& folder);
    ~IntakeFolder();
    IntakeFolder(const IntakeFolder&) = delete;
    IntakeFolder& operator=(const IntakeFolder&) = delete;
    explicit operator bool() const { return !path_.empty(); }
    // The recording's files (trailing '/').
    const std::string& path() const { return path_; }
    // The folder itself, as the operator is told it.
    const std::string& folder() const { return folder_; }
    // A file of the recording by its name, found without regard to case; the plain name when none.
    std::string file(const std::string& name) const;
    // Where the card program's read record goes once read: beside the files, so that it marks the
    // read complete without becoming part of the recording.
    std::string record_path() const;
    // The read is complete: it is kept with the details it is to be stored with and the card's
    // fate. False when that could not be written (the read record still keeps it).
    bool keep(const PatientDetails& details, bool twelve_lead, const std::string& card_text);
    // Whether the folder holds a complete read.
    bool holds_read() const;
    // Its recording is stored and flushed in a destination: the folder goes with this object.
    void delivered() { delivered_ = true; }
    // The operator threw it away: the folder goes with this object.
    void discard() { delivered_ = true; }

private:
    std::string folder_, path_;
    platform::UniqueFd lock_;
    bool delivered_ = false;
};

// A kept read as the operator sees it: where it is, what it holds, the details it was to be
// stored with (the card's texts when the intake ended before they were confirmed).
struct KeptRead {
    std::string folder;
    PatientDetails details;
    bool twelve_lead = false, details_confirmed = false;
    std::string card_text;  // what became of the card; empty when it was marked as read
    std::string read_time;  // when it was kept
};
// Every kept read of this account that no running intake holds, oldest first. Folders of intakes
// that ended without a complete read are removed on the way.
std::vector<KeptRead> kept_reads();
// The sentence that tells the operator where a kept read is: "The recording is kept in ...".
std::string kept_read_text(const std::string& folder);

// --- the card interface program (vond; its exit codes in vond/exit_codes.h) ---

// Runs the card program with these switches (each one argument, never split); its exit code, -1
// when it could not be run. `pumping` keeps the window alive in 500 ms slices meanwhile, under the
// runner's guard: the intake commands are disabled and the program does not close until it ends.
// With `said`, what it wrote (the last 4 KiB) is kept there and passed on to our stderr.
int run_card_program(const std::string& program, const std::vector<std::string>& switches, bool pumping,
                     std::string* said = nullptr);
// The run that holds the card as the card program named it in `said` ("vond, process 1234"),
// control characters escaped; empty when it named none.
std::string card_holder(const std::string& said);

// What the caller does after an exit code, once the message (if any) was shown.
enum class CardAnswer { Go, Retry, Stop };
// The table every card command follows; `patient_reader` accepts the channel counts' codes like
// vond::kExitDone; `said` is what the card program wrote (it names a card's holder).
CardAnswer judge_card_code(int code, bool patient_reader, const std::string& said = {});
// The card program, or empty after the not-found message.
std::string find_card_program();

// The patient texts of a card: PATSUMM.DAT's first four lines and the recording start.
struct CardSummary {
    std::string name, id, recording_start, recorder_id;
    std::int32_t start_sample = 0;  // samples since midnight, 7,680 a minute
    std::string recording_date;     // in the locale's date order and separator
};
// False when the file cannot be read, or line 3 is not "dd/mm/yyyy hh:mm:ss" with digits where
// they belong. Each text is cleaned and cut to 80 bytes.
bool read_card_summary(const std::string& path, CardSummary& summary);

// What tells one card's recording from another's: the texts of its PATSUMM.DAT, the recording id
// of its CNAVOP.DAT (empty when it has none) and the card's volume label.
struct CardIdentity {
    std::string name, id, recording_start, recorder_id, recording_id, label;
};
// The identity of the card whose files the card program wrote into `folder`; false without a
// readable PATSUMM.DAT.
bool read_card_identity(const std::string& folder, CardIdentity& identity);
// Whether two reads met the same card; the recording ids count only when both reads have one.
bool same_card(const CardIdentity& a, const CardIdentity& b);

// Reads the card's patient details into `folder` ("/readpat=path"): PATSUMM.DAT must be there
// afterwards, and PATIENT.WAV is copied when the card holds one. With `identity` the card's
// identity is kept for the later ECG read. False after its message.
bool read_card_patient(const std::string& folder, CardSummary& summary, std::string* sound_file,
                       CardIdentity* identity = nullptr);
// Reads the whole card recording into `folder` (archive or 12-lead archive format, then
// "/readpat=cnav"); false after its message, and also when PATSUMM.DAT is missing afterwards.
// The card program's read record is moved to `record_path` (deleted when that is empty).
// With `expected` the card must be the one whose patient details were read: another stops the
// read before its ECG is read (and the card marked), and after it before anything is stored.
bool read_card_recording(const std::string& folder, bool skip_first_day, bool& twelve_lead,
                         const CardIdentity* expected = nullptr, const std::string& record_path = {});

// --- the compressed ECG file ---

// The recording files of a folder as the CEF writer sees them.
struct RecordingFiles {
    bool twelve_lead = false;
    int channels = 0;          // the highest channel whose file is not empty
    std::int64_t samples = 0;  // channel 1's file size / 2
};
// False when there is no channel-1 file.
bool examine_recording(const std::string& folder, bool twelve_lead, RecordingFiles& files);

// Writes PATIENT.TXT (scrambled) into `folder`, pre-compresses at `level` and writes the CEF of
// the card (kind 11) or twelve-lead (kind 13) recording to `output`. The output is deleted on
// failure; the error holds the message for the user.
Result<void> write_card_cef(const std::string& folder, const RecordingFiles& files, const PatientDetails& details,
                            std::int32_t start_sample, int level, const std::string& output, bool precompress = true);

// The mail size check: true when the file may be mailed, possibly after the ECG was shortened
// and the file written again by `rewrite` (which gets the new sample count).
bool check_mail_size(const std::string& cef, const std::string& folder, const RecordingFiles& files,
                     const std::function<bool(std::int64_t samples)>& rewrite);
// The kept byte length of a channel for one shortening round (even, at least 262,144).
std::int64_t shortened_channel_bytes(std::int64_t limit, double factor, std::int64_t file_size,
                                     std::int64_t full_samples);
// "%3d hours, %2d minutes, %2d seconds" of a sample count at 128 a second.
std::string sample_duration_text(std::int64_t samples);

// PATIENT.TXT of a CEF source folder: the 17 lines of the cleaned details, scrambled. False on a
// file error (the caller says "Couldn't write patient details file.").
bool write_cef_patient_text(const std::string& folder, const PatientDetails& details);
// The name a new CEF gets: "REPDATA.CEF" for the archive, else the transfer name when valid, the
// description otherwise (make_cef_file_name).
std::string intake_cef_file_name(const PatientDetails& details, IntakeDestination destination);

// --- delivery ---

// What the operator does with a kept read.
enum class KeptReadChoice { Store, Save, Discard, Later };

// What the windows provide; without a hook its step fails as cancelled.
struct IntakeWindowing {
    // The Patient Details dialog on these details; true on OK (the fields read back).
    std::function<bool(PatientDetails&)> patient_details;
    // "Choose Destination Archive" with this caption: the archive folder, empty on cancel.
    std::function<std::string(const std::string& caption)> choose_archive;
    // "Saving Compressed ECG File" for this file: the chosen path, empty on cancel.
    std::function<std::string(const std::string& file_name, const std::string& start_folder)> save_as;
    // Reopens the archive groups after a store.
    std::function<void()> archives_changed;
    // What to do with this kept read.
    std::function<KeptReadChoice(const KeptRead&)> kept_read_choice;
};
void set_intake_windowing(IntakeWindowing windowing);
const IntakeWindowing& intake_windowing();

// A hidden command-line run has no windows until a request needs the operator: the starter
// brings up the window toolkit and installs the windowing for as long as the returned holder
// lives; null when no display can be reached.
using IntakeWindowStarter = std::function<std::shared_ptr<void>()>;
void set_intake_window_starter(IntakeWindowStarter starter);

// The store of a finished CEF in an archive as a report of type 516, with its messages: the
// application's import of received files (store_intake_cef), which the program installs. True when
// stored and on disk (store_report_in_archive flushes what it writes); without one, the archive
// destination fails.
using CefArchiveStore = std::function<bool(const std::string& cef, const std::string& archive)>;
void set_cef_archive_store(CefArchiveStore store);

// Delivers a finished CEF: archive (chosen, stored as type 516), folder (Save As), mail
// (`mail_file`, with the mailer's size warning unless `skip_mail_size_check`) or the command line's
// path (`target`, copied over). A `target` with the archive destination is the archive, chosen
// already. True when it arrived. The caller deletes its own file afterwards.
bool deliver_cef(const std::string& cef, IntakeDestination destination, const MailServices& mail,
                 bool skip_mail_size_check, const std::string& target = {});

// Stores a recording folder (empty: nothing but the patient files) in the archive the user chose,
// as `type` (514 disk, 515 card), then writes its PATIENT.TXT and VERSION.TXT. The store's
// message on failure; false then and on cancel.
bool store_recording_in_archive(const PatientDetails& details, const std::string& source_folder, int type,
                                const std::string& archive_folder = {});

// --- the commands ---

// Offers each kept read (the choice hook of the windows; without it nothing is done): store it in
// an archive or save it as a compressed ECG file, both through Patient Details, or discard it after
// a question. At start-up and from the Recording menu.
void review_kept_reads(const MailServices& mail);

// "/merivale": the customer's recording ID (text 1), texts 2..5, the destination archive (text 6)
// and the customer export number.
struct CustomerExport {
    std::string texts[6];
    int number = 0;
};

// Recording > Ostrabel CF > Store in Archive / Store in Folder / Send as Mail (mode 0, 1, 2). With
// `customer` the recording goes into its archive, after its recording ID matched the card's.
void card_intake(int mode, const MailServices& mail, const CustomerExport* customer = nullptr);
// The same for the recorder disk (Store in Folder and Send as Mail both mail it as one report).
// A disk holds no channel files the compressed format takes: "Compress Recording" is disabled.
void disk_intake(int mode, const MailServices& mail);
// Store Ostrabel Recording in Archive: the disk straight into an archive, without the dialog.
void store_disk_recording();
// The card straight into an archive as the card program writes it, with the card's patient texts
// and without the dialog.
void store_card_recording();
// The drive folder holding a recorder disk (label "QUX_FCG...", file ROZAVEZ.EVT), or empty.
std::string find_ostrabel_disk();

// "/compresscf folder profile level [y]": the exit code. Without "y" the operator confirms the
// details in Patient Details; a twelve-lead recording is saved where the operator chooses. The
// codes are CompressCfCode's (tolbex/exit_codes.h).
int compress_cf_command(const std::string& folder, const std::string& profile, const std::string& level,
                        bool skip_dialog);

// compress_cf_command on the switch's operands (folder, profile, level, "y"), as the command line
// hands them over.
int compress_cf_operands(const std::vector<std::string>& operands);

}  // namespace tv
