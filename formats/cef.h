// Compressed ECG files (.CEF): one unanalysed Holter recording (channels, patient details, sound
// file, patient events and the card recorder's side files) in one container. The container frames,
// orders and checksums the members; each member's bytes are packed by the outside compressor
// `szip`, run as a separate program with the switches "-o4r2b41" (pack) and "-d" (unpack).
//
// The main program and the card interface program read the same files through CefUnpacker; where
// their rules differ, each caller adds its own on top (see CefUnpacker::is_newer_version).
// Nothing here depends on the main program's application layer, and nothing here talks to the
// user: failures come back as error codes or an Error with the sentence to show.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/result.h"
#include "platform/handles.h"

namespace tv {

inline constexpr std::uint32_t kCefHeaderSize = 108;
inline constexpr std::uint32_t kCefVersion = 1;
inline constexpr std::size_t kCefDescriptionSize = 64;
inline constexpr int kCefMaxChannels = 8;
inline constexpr int kCefMaxRawChannels = 3;
// Longest extra-member name length word (the name's bytes and its NUL).
inline constexpr std::uint32_t kCefMaxNameLength = 261;
inline constexpr std::int32_t kCefMaxBitReduction = 4;
inline constexpr std::int32_t kCefCardScale = 410;

// Recording kinds. 0..5 are the tape type indexes of the Tape Options list.
inline constexpr std::int32_t kCefKindOtherTape = 15;
inline constexpr std::int32_t kCefKindCard = 11;
inline constexpr std::int32_t kCefKindTwelveLead = 13;

// Member kinds.
inline constexpr std::uint32_t kCefStored = 0;
inline constexpr std::uint32_t kCefCompressed = 1;

// Fixed names of the scratch file and folders.
inline constexpr const char* kCefScratchName = "CEFTEMP.BIN";
inline constexpr const char* kCefValidateFolder = "VALIDATE.CEF";

// Reader error codes (get_error).
enum CefError : int {
    kCefOk = 0,
    kCefNoCompressor = 1,  // szip missing or could not be started
    kCefNoTargetFolder = 2,
    kCefCannotOpen = 3,
    kCefShortHeader = 4,
    kCefTruncated = 5,  // member directory cut short or out of range
    kCefBadSignature = 6,
    kCefPatientText = 7,
    kCefWriteFailed = 8,          // an output file could not be written or deleted
    kCefCompressorCancelled = 9,  // the compressor failed and was not run again
    kCefBadName = 10,             // extra-member name too long or unsafe
    kCefNameTruncated = 11,
    kCefBadMemberKind = 12,
    kCefChecksum = 13,
    kCefChannelMissing = 14,  // a channel file missing, or not restorable, after extraction
};

struct CefHeader {
    std::uint32_t checksum = 0;
    std::uint32_t header_size = kCefHeaderSize;
    std::uint32_t version = kCefVersion;
    std::array<char, 16> signature{'C', 'o', 'm', 'p', 'r', 'e', 's', 's', 'e', 'd', ' ', 'E', 'C', 'G', 0, 0};
    std::array<char, kCefDescriptionSize> description{};
    std::int32_t creation_time = 0;  // seconds since 1970 (UTC), low 32 bits
    std::int32_t kind = kCefKindCard;
    std::int32_t channel_count = 0;
    std::int32_t start_sample = 0;  // samples since midnight, 7,680 per minute
};

struct CefChannelTrailer {
    std::int32_t scale = kCefCardScale;
    std::int32_t channel_value = 1;
    std::int32_t bit_reduction = 0;
    std::uint32_t extra_length = 0;  // always written as 0
};

std::array<std::uint8_t, kCefHeaderSize> encode_cef_header(const CefHeader& header);
// False when fewer than 108 bytes are given.
bool decode_cef_header(const std::uint8_t* bytes, std::size_t size, CefHeader& header);
bool cef_signature_matches(const CefHeader& header);
// Stores at most 63 bytes of `text` and a NUL.
void set_cef_description(CefHeader& header, const std::string& text);
// The description up to its first NUL, at most 64 bytes.
std::string get_cef_description(const CefHeader& header);
// Creation time as the header holds it: the low 32 bits of the 64-bit time, read back unsigned.
std::int32_t cef_time_word(std::int64_t unix_time);

// Channel file names: os12ecg<n>.dat for twelve-lead recordings, RAWECG<n>.DAT otherwise
// (index from 0).
bool cef_kind_uses_twelve_lead_names(std::int32_t kind);
std::string cef_channel_file_name(bool twelve_lead, int index);
// Channel counts a reader accepts: 1..3 with RAWECG names, 1..8 with twelve-lead names.
bool cef_channel_count_valid(std::int32_t count, bool twelve_lead);

// Bit reduction of one sample word (n = 0..4) and its restoring shift.
std::uint16_t cef_reduce_sample(std::uint16_t word, int n);
void cef_reduce_samples(std::uint16_t* words, std::size_t count, int n);
// Reduces (or, with `restore`, shifts back) the samples of a channel file in place; a twelve-lead
// file's own header is skipped. False on a file error, a bad header length or n outside 0..4.
bool cef_reduce_channel_file(const std::string& path, int n, bool twelve_lead);
bool cef_restore_channel_file(const std::string& path, int n, bool twelve_lead);
// The channel file open as `in_fd`, reduced at n (0: as it is), written into a new file `name` of
// the folder open as `folder_fd`, created there exclusively; the source is only read. False, with
// nothing of it left, on a file error, a bad header length or n outside 0..4.
bool cef_reduce_channel_file_into(int in_fd, int folder_fd, const std::string& name, int n, bool twelve_lead);
// Before packing: reduces every channel file of the folder that exists (3, or 8 for twelve-lead).
bool precompress_folder_ecg(const std::string& folder, int level, bool twelve_lead);

// An extra-member name that may become a file in the target folder: 1..260 bytes, a single plain
// component, and not one of the names the unpacker writes itself.
bool cef_extra_name_acceptable(const std::string& name);

// PATIENT.TXT as it is stored: 17 lines joined by CR LF, no line end after the last, blank fields
// as "--". Fewer fields are padded with "--"; extra fields are ignored.
inline constexpr int kCefPatientLines = 17;
inline constexpr std::size_t kCefMaxComments = 3000;
std::string format_cef_patient_text(const std::vector<std::string>& fields);

// The request of a command-line compression of a card recording folder ("/compresscf"): the
// patient details come from a profile file.
struct CompressCfRequest {
    bool skip_dialog = false;
    std::string folder;       // the card recording folder
    std::string output_path;  // <folder>/<recording ID>.CEF
    int level = 4;            // bit reduction
    std::string patient_id, patient_name, recording_id, birth_date, sex, insurer, physician, hospital, age;
    std::string comments;  // the non-empty remarks "1".."16", each followed by CR LF

    // What read_patient_details found missing; the caller gives each its own exit code.
    enum class DetailsRead { Read, NoFolder, NoProfile, NoPatientId, NoPatientName, NoRecordingId };
    // Reads [Patient Details] and [Remarks] (values trimmed, ';' starts a comment). NoRecordingId
    // also for one that gives no file name of its own.
    DetailsRead read_patient_details(const std::string& profile_path);
};

// The file name a recording is saved under: the name with \ / . : * ? < > | " (and control
// characters) removed, "Compressed ECG Report" when nothing is left, then ".CEF".
std::string make_cef_file_name(const std::string& name);

// Progress shown while a file is written (the wait dialog); optional everywhere.
class CefProgress {
public:
    virtual ~CefProgress() = default;
    virtual void set_text(const std::string& text) = 0;
};

// One entry of an extra-member list.
struct CefExtraEntry {
    std::string name;
    bool compressed = true;
    bool required = false;
};
// The fixed lists: three-channel card (kind 11) and twelve-lead (kind 13). Tape has none.
const std::vector<CefExtraEntry>& cef_card_extra_list();
const std::vector<CefExtraEntry>& cef_twelve_lead_extra_list();

// Asked when the compressor fails while unpacking, with the sentence for the user; true runs it
// again. Without one the compressor is not run again.
using CefRetryQuestion = std::function<bool(const std::string& text)>;

// Writes a whole CEF from the files of `source_folder` (PATIENT.TXT already scrambled, channel files
// already reduced): header as given (checksum and header size filled in here), one trailer per
// channel of header.channel_count, then the extra members of `extras`. Ends with validate_cef.
// The error carries a CefError code and the message for the user; the caller deletes the output.
Result<void> assemble_cef(CefProgress* progress, const CefHeader& header,
                          const std::vector<CefChannelTrailer>& trailers, const std::string& output_path,
                          const std::string& source_folder, const std::vector<CefExtraEntry>& extras, bool twelve_lead,
                          const CefRetryQuestion& retry = {});

// Unpacks a written file into a fresh scratch folder and deletes it again; the error carries the
// "not valid" message (or the one about the scratch folder).
Result<void> validate_cef(CefProgress* progress, const std::string& cef_path, const CefRetryQuestion& retry = {});

// Reads one CEF. The constructor finds the compressor, opens and checks the file (signature,
// checksum) and indexes every member, the extra members' names included: a file whose lengths,
// kinds, channel count, bit reductions or names (unsafe, or too long for a file of the target
// folder) do not hold up is refused before anything is written.
//
// Each unpacking call below is all or nothing for the target folder: a member replaces every
// spelling of its name there (a lookup without regard to case then finds this recording's file),
// and a call that fails removes what it wrote and puts back what it replaced.
class CefUnpacker {
public:
    CefUnpacker(const std::string& cef_path, const std::string& target_folder, CefRetryQuestion retry = {});
    ~CefUnpacker();
    CefUnpacker(const CefUnpacker&) = delete;
    CefUnpacker& operator=(const CefUnpacker&) = delete;

    int get_error() const { return error_; }
    const std::string& get_error_file() const { return error_file_; }
    const CefHeader& get_description() const { return header_; }
    std::string get_description_text() const { return get_cef_description(header_); }
    // The version word is above 1: the main program reads on, the card program refuses the file.
    bool is_newer_version() const { return newer_; }
    bool is_twelve_lead() const { return cef_kind_uses_twelve_lead_names(header_.kind); }
    const std::vector<CefChannelTrailer>& trailers() const { return trailers_; }
    struct ExtraInfo {
        std::string name;
        std::uint64_t offset = 0;
        std::uint32_t length = 0, kind = 0;
    };
    const std::vector<ExtraInfo>& extras() const { return extras_; }

    // Every member, in order: patient files, PATEVENT.DAT, channels, extra members, RECORDING.DAT.
    bool unpack();
    // PATIENT.TXT, PATIENT.WAV (when not empty), CEFDESC.TXT, VERSION.TXT, SUMMARY.TXT.
    bool unpack_patient_files();
    bool unpack_event_file();
    // PATIENT.WAV on its own: an empty member is error 14.
    bool unpack_sound_file();
    bool unpack_description();
    bool unpack_all_channels();
    // All extra members, or only the one named (compared without regard to case; not found is
    // success with no file).
    bool unpack_extra_members(const std::string& name = {});
    bool write_recording_data();
    // One file by its name; clears an error of an earlier step first (never a refusal of the file).
    bool unpack_by_name(const std::string& name);

private:
    struct Member {
        std::uint64_t offset = 0;
        std::uint32_t length = 0, kind = 0;
    };
    bool index_file(std::uint64_t size);
    bool fail(int code, const std::string& file);
    bool extract_member(const std::string& name, const Member& member, int channel = -1);
    bool copy_member(const Member& member, const std::string& target);
    bool run_decompressor(const std::string& scratch, const std::string& destination, int first_code);
    void start_channel_unpacking();
    bool write_text_file(const std::string& name, const std::string& text);
    bool unpack_patient_text();
    bool unpack_one_channel(int index);
    bool unpack_named(const std::string& name);
    bool write_recording_file();
    bool ready() const { return error_ == 0 && valid_; }
    template <typename Step>
    bool undoable(Step step);
    bool claim_target(const std::string& name);
    std::unordered_map<std::string, std::vector<std::string>>& target_entries();
    void stop_pending();
    void keep_changes();
    void undo_changes();
    void forget_changes();

    std::string szip_path_;
    std::string target_;  // with a trailing '/'
    std::string cef_path_;
    CefRetryQuestion retry_;
    platform::UniqueFile file_;
    int error_ = 0;
    std::string error_file_;
    bool valid_ = false;  // opened and indexed
    bool newer_ = false;
    CefHeader header_;
    std::uint64_t file_size_ = 0;
    Member patient_, sound_, events_;
    std::vector<Member> channels_;
    std::vector<CefChannelTrailer> trailers_;
    std::uint64_t extras_offset_ = 0;
    std::vector<ExtraInfo> extras_;
    std::string scratch_folder_;  // holds CEFTEMP.BIN; made on first use, removed by the destructor
    struct Pending;               // a channel's compressor started ahead
    std::vector<Pending> pending_;
    std::size_t name_max_ = 255;  // longest file name of the target folder
    // The outermost unpacking call's changes to the target folder: the names it wrote, and the
    // entries it replaced (moved into `aside_`, a private folder inside the target).
    int depth_ = 0;
    std::vector<std::string> written_;
    std::unordered_set<std::string> written_names_;
    // The target folder's entries by their lower-case names, each with its spellings.
    std::unordered_map<std::string, std::vector<std::string>> entries_;
    bool entries_read_ = false;
    std::vector<std::pair<std::string, std::string>> set_aside_;  // original path, kept path
    std::string aside_;
};

// For the command line and the import of received files: unpacks `cef` into `folder` (which must
// exist) and returns the reader's error code (0 on success).
int uncompress_cef_to_folder(const std::string& cef, const std::string& folder, std::string* error_file = nullptr,
                             const CefRetryQuestion& retry = {});
// For the import of a received file: unpacks `cef` into a fresh folder of its own in the temporary
// folder and returns it (with a trailing '/'); on failure the folder is removed, "" is returned and
// `error` holds the reader's code.
std::string uncompress_cef_to_temp_folder(const std::string& cef, int& error, std::string* error_file = nullptr,
                                          const CefRetryQuestion& retry = {});
// Reads and checks only the header (signature; no checksum, no compressor needed). False when the
// file cannot be opened, is shorter than a header or has the wrong signature.
bool read_cef_header(const std::string& cef, CefHeader& header);

}  // namespace tv
