#include "formats/cef.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "common/bytes.h"
#include "common/deferred_stop.h"
#include "common/files.h"
#include "common/folder_judgement.h"
#include "common/ini_file.h"
#include "common/registry.h"
#include "common/runner.h"
#include "common/safe_open.h"
#include "common/scramble.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "platform/system.h"

namespace tv {

namespace {

constexpr std::size_t kCopyChunk = 65536;
constexpr std::size_t kExtractChunk = 1 << 20;
constexpr std::size_t kSampleChunk = 1 << 20;
// A CEF and the files it is made of are read as they stream; the ceiling only keeps out what no
// recording comes near (a device, a sparse file of terabytes).
constexpr std::uint64_t kCefMaxFileSize = 1ull << 36;

void show(CefProgress* progress, const std::string& text) {
    if (progress) progress->set_text(text);
}

// The compressor runs with an argument vector (paths with blanks or quotes stay whole); the
// caller waits while the window thread keeps handling its messages.
bool start_szip(const std::string& szip, const char* switch_text, const std::string& from, const std::string& to,
                ChildProgram& child) {
    return child.start({szip, switch_text, from, to});
}

int wait_szip(ChildProgram& child) { return child.wait_pumping().code(); }

// -1 when it could not be started.
int run_szip(const std::string& szip, const char* switch_text, const std::string& from, const std::string& to) {
    return run_child({szip, switch_text, from, to}).code();
}

std::string szip_command_text(const std::string& szip, const char* switch_text, const std::string& from,
                              const std::string& to) {
    return szip + " " + switch_text + " \"" + from + "\" \"" + to + "\"";
}

// Opens a new output file; an existing entry (file or link) must have been removed first.
platform::UniqueFd create_output(const std::string& path) { return create_new_file(path); }

bool write_new_file(const std::string& path, const void* data, std::size_t size) {
    if (!force_delete_file(path)) return false;
    platform::UniqueFd fd = create_output(path);
    if (!fd) return false;
    bool ok = platform::write_all(fd.get(), data, size);
    if (!fd.close()) ok = false;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// The names the unpacker writes itself; a member may not take one of them.
bool is_reserved_name(const std::string& name) {
    static const char* const fixed[] = {"PATIENT.TXT", "PATIENT.WAV", "PATEVENT.DAT",  "CEFDESC.TXT",
                                        "VERSION.TXT", "SUMMARY.TXT", "RECORDING.DAT", kCefScratchName};
    for (const char* f : fixed)
        if (platform::iequals(name, f)) return true;
    for (int i = 0; i < kCefMaxChannels; ++i) {
        if (i < kCefMaxRawChannels && platform::iequals(name, cef_channel_file_name(false, i))) return true;
        if (platform::iequals(name, cef_channel_file_name(true, i))) return true;
    }
    return false;
}

// Applies `op` to every sample word of the channel file open as `in`, chunk by chunk, writing the
// words at the same places of `out` (the same descriptor rewrites the file in place). A
// twelve-lead file's own header and an odd trailing byte stay as they are (are copied into
// another `out`).
template <typename Op>
bool map_samples(int in, int out, bool twelve_lead, Op op) {
    struct stat st {};
    bool ok = ::fstat(in, &st) == 0;
    const auto size = static_cast<std::uint64_t>(ok ? st.st_size : 0);
    std::uint64_t pos = 0;
    // A new file is written in a copy's pieces: 1 MiB writes into fresh pages of the page cache
    // took several times the processor time of 64 KiB ones (measured on Linux 6.18, ext4).
    const std::size_t chunk = in == out ? kSampleChunk : kCopyChunk;
    static_assert(kCopyChunk > 0xFFFF && kSampleChunk > 0xFFFF, "a twelve-lead header fits in a chunk");
    std::vector<std::uint8_t> buf(chunk);
    if (ok && twelve_lead) {
        // One byte, then the header's total length (these three bytes included).
        std::uint8_t head[3];
        ok = size >= 3 && platform::pread_all(in, head, 3, 0);
        const std::uint64_t h = ok ? load_le16(head + 1) : 0;
        ok = ok && h >= 3 && h <= size;
        pos = h;
        if (ok && in != out)
            ok = platform::pread_all(in, buf.data(), h, 0) && platform::pwrite_all(out, buf.data(), h, 0);
    }
    std::size_t since_pump = 0;
    while (ok && size - pos >= 2) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, (size - pos) & ~1ull));
        ok = platform::pread_all(in, buf.data(), want, pos);
        if (!ok) break;
        for (std::size_t i = 0; i < want; i += 2) {
            store_le16(&buf[i], static_cast<std::uint16_t>(op(load_le16(&buf[i]))));
        }
        ok = platform::pwrite_all(out, buf.data(), want, pos);
        pos += want;
        since_pump += want / 2;
        if (since_pump >= 100000) {
            pump_messages();
            since_pump = 0;
        }
    }
    if (ok && in != out && pos < size)
        ok = platform::pread_all(in, buf.data(), 1, pos) && platform::pwrite_all(out, buf.data(), 1, pos);
    return ok;
}

// Applies `op` to every sample word of a channel file, in place.
template <typename Op>
bool rewrite_samples(const std::string& path, int n, bool twelve_lead, Op op) {
    if (n < 0 || n > kCefMaxBitReduction) return false;
    if (n == 0) return true;
    platform::UniqueFd file = open_plain_file_for_writing_at(AT_FDCWD, path);
    if (!file) return false;
    bool ok = map_samples(file.get(), file.get(), twelve_lead, op);
    if (!file.close()) ok = false;
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header, names, samples, patient text

std::array<std::uint8_t, kCefHeaderSize> encode_cef_header(const CefHeader& h) {
    std::array<std::uint8_t, kCefHeaderSize> b{};
    store_le32(&b[0], h.checksum);
    store_le32(&b[4], h.header_size);
    store_le32(&b[8], h.version);
    std::memcpy(&b[12], h.signature.data(), 16);
    std::memcpy(&b[28], h.description.data(), kCefDescriptionSize);
    store_le32(&b[92], static_cast<std::uint32_t>(h.creation_time));
    store_le32(&b[96], static_cast<std::uint32_t>(h.kind));
    store_le32(&b[100], static_cast<std::uint32_t>(h.channel_count));
    store_le32(&b[104], static_cast<std::uint32_t>(h.start_sample));
    return b;
}

bool decode_cef_header(const std::uint8_t* b, std::size_t size, CefHeader& h) {
    if (!b || size < kCefHeaderSize) return false;
    h.checksum = load_le32(&b[0]);
    h.header_size = load_le32(&b[4]);
    h.version = load_le32(&b[8]);
    std::memcpy(h.signature.data(), &b[12], 16);
    std::memcpy(h.description.data(), &b[28], kCefDescriptionSize);
    h.creation_time = static_cast<std::int32_t>(load_le32(&b[92]));
    h.kind = static_cast<std::int32_t>(load_le32(&b[96]));
    h.channel_count = static_cast<std::int32_t>(load_le32(&b[100]));
    h.start_sample = static_cast<std::int32_t>(load_le32(&b[104]));
    return true;
}

bool cef_signature_matches(const CefHeader& header) {
    return std::memcmp(header.signature.data(), CefHeader{}.signature.data(), 16) == 0;
}

void set_cef_description(CefHeader& header, const std::string& text) {
    header.description.fill(0);
    const std::size_t n = std::min(text.size(), kCefDescriptionSize - 1);
    std::memcpy(header.description.data(), text.data(), n);
}

std::string get_cef_description(const CefHeader& header) {
    const char* d = header.description.data();
    return std::string(d, static_cast<std::size_t>(std::find(d, d + kCefDescriptionSize, '\0') - d));
}

std::int32_t cef_time_word(std::int64_t unix_time) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(unix_time)));
}

bool cef_kind_uses_twelve_lead_names(std::int32_t kind) { return kind == kCefKindTwelveLead; }

std::string cef_channel_file_name(bool twelve_lead, int index) {
    return format_string(twelve_lead ? "os12ecg%d.dat" : "RAWECG%d.DAT", index + 1);
}

bool cef_channel_count_valid(std::int32_t count, bool twelve_lead) {
    return count >= 1 && count <= (twelve_lead ? kCefMaxChannels : kCefMaxRawChannels);
}

std::uint16_t cef_reduce_sample(std::uint16_t w, int n) {
    if (n <= 0 || n > kCefMaxBitReduction || w == 0) return w;
    const unsigned h = 1u << (n - 1);
    unsigned v = w & 0x0FFFu;
    if (v < 0xFF8u) v = v < h ? 2 * h : v + h;
    return static_cast<std::uint16_t>(((w & 0xF000u) | v) >> n);
}

void cef_reduce_samples(std::uint16_t* words, std::size_t count, int n) {
    if (n <= 0 || n > kCefMaxBitReduction) return;
    for (std::size_t i = 0; i < count; ++i) words[i] = cef_reduce_sample(words[i], n);
}

bool cef_reduce_channel_file(const std::string& path, int n, bool twelve_lead) {
    return rewrite_samples(path, n, twelve_lead, [n](std::uint16_t w) { return cef_reduce_sample(w, n); });
}

bool cef_restore_channel_file(const std::string& path, int n, bool twelve_lead) {
    return rewrite_samples(path, n, twelve_lead, [n](std::uint16_t w) { return static_cast<std::uint16_t>(w << n); });
}

bool cef_reduce_channel_file_into(int in_fd, int folder_fd, const std::string& name, int n, bool twelve_lead) {
    if (in_fd < 0 || n < 0 || n > kCefMaxBitReduction) return false;
    platform::UniqueFd out = create_new_file_at(folder_fd, name);
    if (!out) return false;
    bool ok = map_samples(in_fd, out.get(), twelve_lead, [n](std::uint16_t w) { return cef_reduce_sample(w, n); });
    if (!out.close()) ok = false;
    if (!ok) ::unlinkat(folder_fd, name.c_str(), 0);
    return ok;
}

bool precompress_folder_ecg(const std::string& folder, int level, bool twelve_lead) {
    if (level < 0 || level > kCefMaxBitReduction) return false;
    if (level == 0) return true;
    const int count = twelve_lead ? kCefMaxChannels : kCefMaxRawChannels;
    for (int i = 0; i < count; ++i) {
        const auto path = platform::find_name_ci(folder, cef_channel_file_name(twelve_lead, i));
        if (!path) continue;
        if (!cef_reduce_channel_file(*path, level, twelve_lead)) return false;
    }
    return true;
}

bool cef_extra_name_acceptable(const std::string& name) {
    return name.size() + 1 <= kCefMaxNameLength && is_safe_path_component(name) &&
           name.find('\0') == std::string::npos && !is_reserved_name(name);
}

std::string format_cef_patient_text(const std::vector<std::string>& fields) {
    std::string text;
    for (int i = 0; i < kCefPatientLines; ++i) {
        std::string f = i < static_cast<int>(fields.size()) ? fields[static_cast<std::size_t>(i)] : std::string();
        if (i == kCefPatientLines - 1 && f.size() > kCefMaxComments) f.resize(kCefMaxComments);
        // The last line has no line end, whatever the comments ended with.
        if (i == kCefPatientLines - 1) trim_trailing_chars(f, "\r\n");
        if (is_blank(f)) f = "--";
        if (i > 0) text += "\r\n";
        text += f;
    }
    return text;
}

namespace {

std::string strip_name_chars(const std::string& name) {
    std::string out;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 && std::strchr("\\/.:*?<>|\"", c) == nullptr) out += c;
    return out;
}

}  // namespace

std::string make_cef_file_name(const std::string& name) {
    std::string base = strip_name_chars(name);
    if (base.empty()) base = "Compressed ECG Report";
    return base + ".CEF";
}

CompressCfRequest::DetailsRead CompressCfRequest::read_patient_details(const std::string& profile_path) {
    if (!folder_exists(folder)) return DetailsRead::NoFolder;
    IniFile ini;
    ini.set_strip_comments(true);
    ini.set_trim_values(true);
    if (!ini.load(profile_path)) return DetailsRead::NoProfile;
    const char* details = "Patient Details";
    patient_id = ini.get_value(details, "PatientId");
    patient_name = ini.get_value(details, "PatientName");
    recording_id = ini.get_value(details, "RecordingID");
    birth_date = ini.get_value(details, "BirthDate");
    sex = ini.get_value(details, "Sex");
    insurer = ini.get_value(details, "Insurer");
    physician = ini.get_value(details, "Physician");
    hospital = ini.get_value(details, "Snif");
    age = ini.get_value(details, "Age");
    comments.clear();
    for (int i = 1; i <= 16; ++i) {
        const std::string line = ini.get_value("Remarks", std::to_string(i));
        if (!line.empty()) comments += line + "\r\n";
    }
    if (patient_id.empty()) return DetailsRead::NoPatientId;
    if (patient_name.empty()) return DetailsRead::NoPatientName;
    // The name becomes a file in the folder: nothing in it may lead elsewhere.
    if (recording_id.empty() || strip_name_chars(recording_id).empty()) return DetailsRead::NoRecordingId;
    output_path = join_path(folder, make_cef_file_name(recording_id));
    return DetailsRead::Read;
}

const std::vector<CefExtraEntry>& cef_card_extra_list() {
    static const std::vector<CefExtraEntry> list{{"OTHER.DAT", true, true},
                                                 {"PATSUMM.DAT", true, true},
                                                 {"CNAV.DAT", true, false},
                                                 {"EVENT.DAT", true, false}};
    return list;
}

const std::vector<CefExtraEntry>& cef_twelve_lead_extra_list() {
    static const std::vector<CefExtraEntry> list{{"OTHER.DAT", true, true},    {"PATSUMM.DAT", true, true},
                                                 {"CNAV.DAT", true, false},    {"EVENT.DAT", true, false},
                                                 {"os12pac.dat", true, false}, {"complex.dat", true, false}};
    return list;
}

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

// Appends members to the file under construction. The first failure is kept in error() for the
// caller to tell the user.
class CefWriter {
public:
    explicit CefWriter(CefProgress* progress) : progress_(progress) {}
    ~CefWriter() {
        for (auto& job : jobs_)
            if (job.running) job.child.end();
        if (!scratch_folder_.empty()) delete_folder_tree(scratch_folder_, true, true);
        file_.reset();
        if (!staged_.empty()) ::unlink(staged_.c_str());  // never finished: the target keeps what it had
    }

    const Error& error() const { return error_; }

    // The members to be packed, in the order they will be written. Packing runs a few members
    // ahead of the writing: the compressor's threads idle at the end of each file, and the next
    // files fill them. Results are still taken, and reported, one member after the other.
    void plan(const std::vector<std::string>& sources) {
        if (szip_.empty()) szip_ = find_szip_path();
        if (szip_.empty()) return;
        for (const auto& source : sources)
            if (!source.empty() && get_file_size_64(source) > 0) jobs_.push_back(Job{source, {}, {}, false, false, 0});
        if (!jobs_.empty() && scratch_folder_.empty()) scratch_folder_ = create_temp_folder();
        if (scratch_folder_.empty()) jobs_.clear();
    }

    // The file is written under a fresh name beside `path` and renamed into place when finished:
    // the folder may be shared, and a name planted there is replaced, never written through.
    bool open(const std::string& path) {
        path_ = path;
        platform::UniqueFd fd = create_sibling_temp(path, staged_);
        if (fd) file_.reset(::fdopen(fd.get(), "w+b"));
        if (!file_) return write_failed();
        fd.release();  // the stream owns it now
        return true;
    }

    bool put(const void* data, std::size_t size) {
        if (size != 0 && std::fwrite(data, 1, size, file_.get()) != size) return write_failed();
        return true;
    }
    bool put_u32(std::uint32_t v) {
        std::uint8_t b[4];
        store_le32(b, v);
        return put(b, 4);
    }

    bool patient_block(const std::string& folder) {
        const auto path = platform::find_name_ci(folder, "PATIENT.TXT");
        if (!path) return put_u32(0);
        std::vector<std::uint8_t> bytes;
        if (!read_outside_file(*path, 0xFFFFFFFFu, bytes))
            return failed(kCefPatientText, "Could not read the patient details file from the temporary folder.");
        return put_u32(static_cast<std::uint32_t>(bytes.size())) && put(bytes.data(), bytes.size());
    }

    // A member packed by the compressor; a missing or empty source is written as 0, 0.
    bool compressed_member(const std::string& source, const std::string& pack_text, const std::string& write_text) {
        if (source.empty() || get_file_size_64(source) <= 0) return put_u32(0) && put_u32(kCefStored);
        if (szip_.empty()) szip_ = find_szip_path();
        if (szip_.empty()) return failed(kCefNoCompressor, "The \"SZIP.EXE\" program cannot be found.");
        show(progress_, pack_text);
        // A private folder: two programs writing at once never share the scratch file.
        if (scratch_folder_.empty()) scratch_folder_ = create_temp_folder();
        if (scratch_folder_.empty()) return failed(kCefWriteFailed, "Failed to write the compressed ECG file.");
        std::string scratch = scratch_folder_ + kCefScratchName;
        int code;
        if (next_job_ < jobs_.size() && jobs_[next_job_].source == source) {
            const std::size_t index = next_job_++;
            start_jobs(index + kPackAhead);
            Job& job = jobs_[index];
            scratch = job.scratch;
            if (job.delete_failed)
                return failed(kCefWriteFailed, format_string("Cannot delete temporary file \"%s\"", scratch.c_str()));
            code = job.code;
            if (job.running) {
                code = wait_szip(job.child);
                job.running = false;
            }
        } else {
            if (!force_delete_file(scratch))
                return failed(kCefWriteFailed, format_string("Cannot delete temporary file \"%s\"", scratch.c_str()));
            code = run_szip(szip_, "-o4r2b41", source, scratch);
        }
        if (code < 0) {
            force_delete_file(scratch);
            return failed(kCefNoCompressor, "Could not run the SZIP program.");
        }
        if (code != 0) {
            force_delete_file(scratch);
            return failed(kCefCompressorCancelled, format_string("The SZIP program returned error code %d", code));
        }
        const std::int64_t size = get_file_size_64(scratch);
        if (size < 1) {
            force_delete_file(scratch);
            return failed(kCefCompressorCancelled, "The SZIP program failed to write an output file.");
        }
        if (static_cast<std::uint64_t>(size) > 0xFFFFFFFFu) {
            force_delete_file(scratch);
            return failed(kCefWriteFailed, "Failed to write the compressed ECG file.");
        }
        show(progress_, write_text);
        const bool ok = put_u32(static_cast<std::uint32_t>(size)) && put_u32(kCefCompressed) &&
                        copy_in(scratch, static_cast<std::uint64_t>(size));
        force_delete_file(scratch);
        return ok;
    }

    bool stored_member(const std::string& source) {
        const std::int64_t size = source.empty() ? 0 : get_file_size_64(source);
        if (size <= 0) return put_u32(0) && put_u32(kCefStored);
        if (static_cast<std::uint64_t>(size) > 0xFFFFFFFFu) return write_failed();
        return put_u32(static_cast<std::uint32_t>(size)) && put_u32(kCefStored) &&
               copy_in(source, static_cast<std::uint64_t>(size));
    }

    bool extra_member(const CefExtraEntry& entry, const std::string& folder) {
        const auto path = platform::find_name_ci(folder, entry.name);
        if (!path || !file_exists(*path)) {
            if (!entry.required) return true;
            return failed(kCefCannotOpen, format_string("Could not find file \"%s\"", entry.name.c_str()));
        }
        if (!put_u32(static_cast<std::uint32_t>(entry.name.size() + 1)) ||
            !put(entry.name.c_str(), entry.name.size() + 1))
            return false;
        if (!entry.compressed) return stored_member(*path);
        return compressed_member(*path, format_string("Compressing file \"%s\"", entry.name.c_str()),
                                 format_string("Writing file \"%s\"", entry.name.c_str()));
    }

    bool finish() {
        show(progress_, "Calculating checksum...");
        if (std::fflush(file_.get()) != 0 || std::fseek(file_.get(), 4, SEEK_SET) != 0) return write_failed();
        const std::uint32_t sum = file_xor_checksum(file_.get());
        if (std::ferror(file_.get())) return write_failed();
        if (std::fseek(file_.get(), 0, SEEK_SET) != 0 || !put_u32(sum)) return false;
        if (!platform::close_file(file_)) return write_failed();
        if (::rename(staged_.c_str(), path_.c_str()) != 0) return write_failed();
        staged_.clear();
        return true;
    }

private:
    struct Job {
        std::string source, scratch;
        ChildProgram child;
        bool running = false, delete_failed = false;
        int code = 0;
    };
    static constexpr std::size_t kPackAhead = 3;

    void start_jobs(std::size_t upto) {
        for (; started_ < jobs_.size() && started_ < upto; ++started_) {
            Job& job = jobs_[started_];
            job.scratch = scratch_folder_ + format_string("CEFTEMP%zu.BIN", started_);
            if (!force_delete_file(job.scratch))
                job.delete_failed = true;
            else if (start_szip(szip_, "-o4r2b41", job.source, job.scratch, job.child))
                job.running = true;
            else
                job.code = platform::kExitNotStarted;
        }
    }

    bool copy_in(const std::string& source, std::uint64_t size) {
        platform::UniqueFile in = open_outside_stream(source, kCefMaxFileSize);
        if (!in) return failed(kCefCannotOpen, format_string("Could not open file \"%s\"", source.c_str()));
        std::vector<std::uint8_t> buf(kCopyChunk);
        std::uint64_t left = size;
        while (left > 0) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunk));
            // A file that shrank under us: the length word already written would lie.
            if (std::fread(buf.data(), 1, want, in.get()) != want)
                return failed(kCefCannotOpen, format_string("Could not open file \"%s\"", source.c_str()));
            if (!put(buf.data(), want)) return false;
            left -= want;
        }
        return true;
    }

    bool failed(int code, std::string message) {
        error_ = fail(code, std::move(message));
        return false;
    }

    bool write_failed() {
        const int err = errno;
        const std::string parent = get_path_folder(path_);
        const std::string folder = parent.empty() ? std::string(".") : parent;
        if (err == ENOSPC || (folder_exists(folder) && get_disk_free_bytes(folder) == 0))
            failed(kCefWriteFailed, "Failed to write the compressed ECG file because disk space ran out.");
        else
            failed(kCefWriteFailed, "Failed to write the compressed ECG file.");
        file_.reset();
        return false;
    }

    CefProgress* progress_;
    platform::UniqueFile file_;
    std::string path_, staged_, szip_, scratch_folder_;
    std::vector<Job> jobs_;
    std::size_t next_job_ = 0, started_ = 0;
    Error error_;
};

}  // namespace

Result<void> assemble_cef(CefProgress* progress, const CefHeader& given, const std::vector<CefChannelTrailer>& trailers,
                          const std::string& output_path, const std::string& source_folder,
                          const std::vector<CefExtraEntry>& extras, bool twelve_lead, const CefRetryQuestion& retry) {
    if (!cef_channel_count_valid(given.channel_count, twelve_lead) ||
        trailers.size() < static_cast<std::size_t>(given.channel_count))
        return fail(kCefWriteFailed, "Failed to write the compressed ECG file.");
    for (int i = 0; i < given.channel_count; ++i) {
        const int n = trailers[static_cast<std::size_t>(i)].bit_reduction;
        if (n < 0 || n > kCefMaxBitReduction) return fail(kCefWriteFailed, "Failed to write the compressed ECG file.");
    }
    CefHeader header = given;
    header.checksum = 0;
    header.header_size = kCefHeaderSize;

    {
        CefWriter w(progress);
        if (!w.open(output_path)) return w.error();
        show(progress, "Writing compressed ECG header");
        const auto bytes = encode_cef_header(header);
        if (!w.put(bytes.data(), bytes.size())) return w.error();
        show(progress, "Writing patient details");
        if (!w.patient_block(source_folder)) return w.error();
        auto source = [&](const std::string& name) {
            const auto p = platform::find_name_ci(source_folder, name);
            return p ? *p : std::string();
        };
        std::vector<std::string> packed{source("PATIENT.WAV"), source("PATEVENT.DAT")};
        for (int i = 0; i < header.channel_count; ++i) packed.push_back(source(cef_channel_file_name(twelve_lead, i)));
        for (const auto& entry : extras)
            if (entry.compressed) packed.push_back(source(entry.name));
        w.plan(packed);
        if (!w.compressed_member(source("PATIENT.WAV"), "Compressing patient sound file", "Writing patient sound file"))
            return w.error();
        if (!w.compressed_member(source("PATEVENT.DAT"), "Compressing patient events", "Writing patient events"))
            return w.error();
        for (int i = 0; i < header.channel_count; ++i) {
            if (!w.compressed_member(source(cef_channel_file_name(twelve_lead, i)),
                                     format_string("Compressing ecg for channel %d", i + 1),
                                     format_string("Writing compressed ECG for channel %d", i + 1)))
                return w.error();
            const CefChannelTrailer& t = trailers[static_cast<std::size_t>(i)];
            if (!w.put_u32(static_cast<std::uint32_t>(t.scale)) ||
                !w.put_u32(static_cast<std::uint32_t>(t.channel_value)) ||
                !w.put_u32(static_cast<std::uint32_t>(t.bit_reduction)) || !w.put_u32(0))
                return w.error();
        }
        for (const auto& entry : extras)
            if (!w.extra_member(entry, source_folder)) return w.error();
        if (!w.finish()) return w.error();
    }
    return validate_cef(progress, output_path, retry);
}

Result<void> validate_cef(CefProgress* progress, const std::string& cef_path, const CefRetryQuestion& retry) {
    show(progress, "Validating compressed report - Please wait...");
    // A folder of its own each time: one left behind by a crash cannot fail a later check.
    const std::string folder = create_temp_folder("CEF");
    if (folder.empty())
        return fail(kCefNoTargetFolder, format_string("Could not create the following temporary folder:\n\n\"%s\"",
                                                      join_path(get_temp_folder(), kCefValidateFolder).c_str()));
    int error = 0;
    {
        FolderRemover remover(folder, true, true);
        CefUnpacker reader(cef_path, folder, retry);
        const bool ok = reader.get_error() == 0 && reader.unpack();
        if (!ok) error = reader.get_error() ? reader.get_error() : kCefWriteFailed;
    }
    if (error != 0)
        return fail(error,
                    "The compressed report is not valid. Please reboot and try the operation again.\n\n"
                    "If the problem reoccurs, please retain the original recording and contact your supplier.");
    return {};
}

// ---------------------------------------------------------------------------------------------
// Reader

struct CefUnpacker::Pending {
    ChildProgram child;
    std::string scratch;
    bool running = false;
};

CefUnpacker::CefUnpacker(const std::string& cef_path, const std::string& target_folder, CefRetryQuestion retry)
    : cef_path_(cef_path), retry_(std::move(retry)) {
    target_ = target_folder;
    if (target_.empty() || target_.back() != '/') target_ += '/';
    szip_path_ = find_szip_path();
    if (szip_path_.empty()) {
        fail(kCefNoCompressor, "SZIP.EXE");
        return;
    }
    if (!folder_exists(target_folder)) {
        fail(kCefNoTargetFolder, target_folder);
        return;
    }
    const long name_max = ::pathconf(target_.c_str(), _PC_NAME_MAX);
    if (name_max > 0) name_max_ = static_cast<std::size_t>(name_max);
    file_ = open_outside_stream(cef_path, kCefMaxFileSize);
    struct stat st {};
    if (!file_ || ::fstat(::fileno(file_.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(kCefCannotOpen, cef_path);
        return;
    }
    file_size_ = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t head[kCefHeaderSize];
    if (std::fread(head, 1, kCefHeaderSize, file_.get()) != kCefHeaderSize) {
        fail(kCefShortHeader, cef_path);
        return;
    }
    decode_cef_header(head, kCefHeaderSize, header_);
    if (!cef_signature_matches(header_)) {
        fail(kCefBadSignature, cef_path);
        return;
    }
    newer_ = header_.version > kCefVersion;
    if (std::fseek(file_.get(), 4, SEEK_SET) != 0 || file_xor_checksum(file_.get()) != header_.checksum ||
        std::ferror(file_.get())) {
        fail(kCefChecksum, cef_path);
        return;
    }
    if (!index_file(file_size_)) return;
    valid_ = true;
}

CefUnpacker::~CefUnpacker() {
    stop_pending();
    if (!scratch_folder_.empty()) delete_folder_tree(scratch_folder_, true, true);
}

void CefUnpacker::stop_pending() {
    for (auto& p : pending_)
        if (p.running) {
            p.child.end();
            p.running = false;
        }
}

template <typename Step>
bool CefUnpacker::undoable(Step step) {
    const bool outermost = depth_++ == 0;
    // A SIGTERM or SIGINT meanwhile ends the change at its next member and puts the folder back
    // before the signal ends the run.
    std::optional<DeferredStop> hold;
    if (outermost) hold.emplace();
    const bool ok = step() && !DeferredStop::requested();
    --depth_;
    if (outermost) ok ? keep_changes() : undo_changes();
    return ok;
}

// Makes room for the member `name`: an entry this call wrote is deleted, any other spelling of
// the name is moved aside (a folder stays where it is and fails the member). False when the room
// cannot be made.
bool CefUnpacker::claim_target(const std::string& name) {
    if (DeferredStop::requested()) return fail(kCefWriteFailed, target_ + name);
    std::vector<std::string>& spellings = target_entries()[to_lower_copy(name)];
    const std::vector<std::string> found = spellings;
    for (const std::string& entry : found) {
        const std::string path = target_ + entry;
        if (written_names_.count(entry) != 0) {
            if (!force_delete_file(path)) return false;
            continue;
        }
        const EntryKind kind = probe_entry(path).kind;
        if (kind == EntryKind::Missing) continue;  // gone since the folder was read
        if (kind == EntryKind::Folder || kind == EntryKind::Unknown) return false;
        if (aside_.empty()) {
            std::string pattern = target_ + ".cef-replaced-XXXXXX";
            if (!::mkdtemp(pattern.data())) return false;
            aside_ = pattern + "/";
            const std::string folder = pattern.substr(target_.size());
            entries_[to_lower_copy(folder)].push_back(folder);
        }
        const std::string kept = aside_ + std::to_string(set_aside_.size());
        if (::rename(path.c_str(), kept.c_str()) != 0) return false;
        set_aside_.emplace_back(path, kept);
    }
    spellings.assign(1, name);
    if (written_names_.insert(name).second) written_.push_back(name);
    return true;
}

// Read once per outermost call: claiming a name then never reads the folder again, so that a
// file of many members unpacks in time linear in their number.
std::unordered_map<std::string, std::vector<std::string>>& CefUnpacker::target_entries() {
    if (entries_read_) return entries_;
    entries_.clear();
    if (const auto entries = list_folder(target_))
        for (const FolderEntry& e : *entries) entries_[to_lower_copy(e.name)].push_back(e.name);
    entries_read_ = true;
    return entries_;
}

void CefUnpacker::keep_changes() {
    if (!aside_.empty()) delete_folder_tree(aside_, true, true);
    forget_changes();
}

void CefUnpacker::forget_changes() {
    aside_.clear();
    set_aside_.clear();
    written_.clear();
    written_names_.clear();
    entries_.clear();
    entries_read_ = false;
}

void CefUnpacker::undo_changes() {
    // A compressor started ahead would write its file after the clean-up.
    stop_pending();
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) force_delete_file(target_ + *it);
    bool restored = true;
    for (auto it = set_aside_.rbegin(); it != set_aside_.rend(); ++it)
        if (::rename(it->second.c_str(), it->first.c_str()) != 0) restored = false;
    // What could not be put back stays in the private folder rather than being lost.
    if (!aside_.empty() && restored) ::rmdir(aside_.c_str());
    forget_changes();
}

bool CefUnpacker::fail(int code, const std::string& file) {
    error_ = code;
    error_file_ = file;
    return false;
}

bool CefUnpacker::index_file(std::uint64_t size) {
    const int fd = ::fileno(file_.get());
    std::uint64_t pos = kCefHeaderSize;
    auto read_u32 = [&](std::uint32_t& v) {
        std::uint8_t b[4];
        if (size - pos < 4 || !platform::pread_all(fd, b, 4, pos)) return false;
        v = load_le32(b);
        pos += 4;
        return true;
    };
    auto skip = [&](std::uint64_t n) {
        if (n > size - pos) return false;
        pos += n;
        return true;
    };
    auto member = [&](Member& m, const std::string& name) {
        if (!read_u32(m.length) || !read_u32(m.kind)) return fail(kCefTruncated, cef_path_);
        if (m.kind != kCefStored && m.kind != kCefCompressed) return fail(kCefBadMemberKind, name);
        m.offset = pos;
        if (!skip(m.length)) return fail(kCefTruncated, name);
        return true;
    };

    if (!read_u32(patient_.length)) return fail(kCefTruncated, cef_path_);
    patient_.offset = pos;
    if (!skip(patient_.length)) return fail(kCefTruncated, "PATIENT.TXT");
    if (!member(sound_, "PATIENT.WAV") || !member(events_, "PATEVENT.DAT")) return false;

    const bool twelve = is_twelve_lead();
    if (!cef_channel_count_valid(header_.channel_count, twelve)) return fail(kCefTruncated, cef_path_);
    for (int i = 0; i < header_.channel_count; ++i) {
        const std::string name = cef_channel_file_name(twelve, i);
        Member m;
        if (!member(m, name)) return false;
        std::uint32_t scale, value, bits, extra;
        if (!read_u32(scale) || !read_u32(value) || !read_u32(bits) || !read_u32(extra))
            return fail(kCefTruncated, name);
        CefChannelTrailer t{static_cast<std::int32_t>(scale), static_cast<std::int32_t>(value),
                            static_cast<std::int32_t>(bits), extra};
        // The bit reduction becomes a shift count.
        if (t.bit_reduction < 0 || t.bit_reduction > kCefMaxBitReduction) return fail(kCefTruncated, name);
        if (!skip(extra)) return fail(kCefTruncated, name);
        channels_.push_back(m);
        trailers_.push_back(t);
    }
    extras_offset_ = pos;

    // Extra members: every name is checked before anything is written.
    while (pos < size) {
        std::uint32_t name_length;
        if (!read_u32(name_length)) return fail(kCefTruncated, cef_path_);
        if (name_length > kCefMaxNameLength) return fail(kCefBadName, cef_path_);
        if (name_length > size - pos) return fail(kCefNameTruncated, cef_path_);
        std::string raw(name_length, '\0');
        if (name_length > 0 && !platform::pread_all(fd, raw.data(), name_length, pos))
            return fail(kCefNameTruncated, cef_path_);
        pos += name_length;
        if (name_length < 2 || raw.back() != '\0') return fail(kCefBadName, cef_path_);
        raw.pop_back();
        if (!cef_extra_name_acceptable(raw) || raw.size() > name_max_ || target_.size() + raw.size() >= PATH_MAX)
            return fail(kCefBadName, raw);
        ExtraInfo e;
        e.name = raw;
        Member m;
        if (!member(m, raw)) return false;
        e.offset = m.offset;
        e.length = m.length;
        e.kind = m.kind;
        extras_.push_back(e);
    }
    return true;
}

bool CefUnpacker::write_text_file(const std::string& name, const std::string& text) {
    const std::string path = target_ + name;
    if (!claim_target(name) || !write_new_file(path, text.data(), text.size())) return fail(kCefWriteFailed, path);
    return true;
}

bool CefUnpacker::unpack_patient_text() {
    if (!ready()) return false;
    // The patient block is found through the header-size word.
    const std::uint64_t at = header_.header_size;
    std::uint8_t b[4];
    const int fd = ::fileno(file_.get());
    if (at > file_size_ || file_size_ - at < 4 || !platform::pread_all(fd, b, 4, at))
        return fail(kCefPatientText, "PATIENT.TXT");
    const std::uint32_t n = load_le32(b);
    if (n == 0 || n > file_size_ - at - 4) return fail(kCefPatientText, "PATIENT.TXT");
    std::string text(n, '\0');
    if (!platform::pread_all(fd, text.data(), n, at + 4)) return fail(kCefPatientText, "PATIENT.TXT");
    unscramble_bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    return write_text_file("PATIENT.TXT", text);
}

bool CefUnpacker::unpack_description() {
    return undoable([&] { return ready() && write_text_file("CEFDESC.TXT", get_cef_description(header_)); });
}

bool CefUnpacker::unpack_patient_files() {
    return undoable([&] {
        if (!unpack_patient_text()) return false;
        if (sound_.length != 0 && !extract_member("PATIENT.WAV", sound_)) return false;
        return unpack_description() && write_text_file("VERSION.TXT", "V8.006\n") &&
               write_text_file("SUMMARY.TXT", "CEF Report\n");
    });
}

bool CefUnpacker::unpack_event_file() {
    return undoable([&] {
        if (!ready()) return false;
        if (events_.length == 0) return write_text_file("PATEVENT.DAT", {});
        return extract_member("PATEVENT.DAT", events_);
    });
}

bool CefUnpacker::unpack_sound_file() {
    return undoable([&] {
        if (!ready()) return false;
        if (sound_.length == 0) return fail(kCefChannelMissing, "PATIENT.WAV");
        return extract_member("PATIENT.WAV", sound_);
    });
}

bool CefUnpacker::unpack_one_channel(int index) {
    if (!ready()) return false;
    if (index < 0 || index >= static_cast<int>(channels_.size())) return fail(kCefChannelMissing, cef_path_);
    const bool twelve = is_twelve_lead();
    const std::string name = cef_channel_file_name(twelve, index);
    const Member& m = channels_[static_cast<std::size_t>(index)];
    if (m.length == 0) {
        if (!write_text_file(name, {})) return false;
    } else if (!extract_member(name, m, index)) {
        return false;
    }
    const std::string path = target_ + name;
    if (!file_exists(path)) return fail(kCefChannelMissing, name);
    // A channel that cannot be given back its samples is no channel file of this recording.
    if (!cef_restore_channel_file(path, trailers_[static_cast<std::size_t>(index)].bit_reduction, twelve))
        return fail(kCefChannelMissing, name);
    return true;
}

bool CefUnpacker::unpack_all_channels() {
    return undoable([&] {
        for (int i = 0; i < static_cast<int>(channels_.size()); ++i)
            if (!unpack_one_channel(i)) return false;
        return ready();
    });
}

bool CefUnpacker::unpack_extra_members(const std::string& name) {
    return undoable([&] {
        if (!ready()) return false;
        for (const auto& e : extras_) {
            if (!name.empty() && !platform::iequals(name, e.name)) continue;
            Member m{e.offset, e.length, e.kind};
            if (m.length == 0) {
                if (!write_text_file(e.name, {})) return false;
            } else if (!extract_member(e.name, m)) {
                return false;
            }
            if (!name.empty()) break;
        }
        return true;
    });
}

bool CefUnpacker::write_recording_data() {
    return undoable([&] { return write_recording_file(); });
}

bool CefUnpacker::write_recording_file() {
    if (!ready()) return false;
    std::vector<std::uint8_t> b(12 + 12 * trailers_.size());
    store_le32(&b[0], static_cast<std::uint32_t>(header_.kind));
    store_le32(&b[4], static_cast<std::uint32_t>(header_.start_sample));
    store_le32(&b[8], static_cast<std::uint32_t>(header_.channel_count));
    for (std::size_t i = 0; i < trailers_.size(); ++i) {
        store_le32(&b[12 + 12 * i], static_cast<std::uint32_t>(trailers_[i].scale));
        store_le32(&b[16 + 12 * i], static_cast<std::uint32_t>(trailers_[i].channel_value));
        store_le32(&b[20 + 12 * i], static_cast<std::uint32_t>(trailers_[i].bit_reduction));
    }
    const std::string path = target_ + "RECORDING.DAT";
    if (!claim_target("RECORDING.DAT") || !write_new_file(path, b.data(), b.size())) return fail(kCefWriteFailed, path);
    return true;
}

bool CefUnpacker::unpack() {
    return undoable([&] {
        if (!unpack_patient_files() || !unpack_event_file()) return false;
        start_channel_unpacking();
        return unpack_all_channels() && unpack_extra_members() && write_recording_data();
    });
}

// One channel at a time leaves most of the compressor's threads idle at the end of each file:
// every packed channel's compressor is started at once, and their results are taken (and their
// failures reported) in channel order by unpack_one_channel. Anything that goes wrong here is left
// to that ordinary path.
void CefUnpacker::start_channel_unpacking() {
    if (!ready()) return;
    if (scratch_folder_.empty()) scratch_folder_ = create_temp_folder();
    if (scratch_folder_.empty()) return;
    pending_ = std::vector<Pending>(channels_.size());
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const Member& m = channels_[i];
        if (m.kind != kCefCompressed || m.length == 0) continue;
        Pending& p = pending_[i];
        p.scratch = scratch_folder_ + format_string("CEFTEMP%zu.BIN", i);
        const std::string name = cef_channel_file_name(is_twelve_lead(), static_cast<int>(i));
        const std::string destination = target_ + name;
        if (!copy_member(m, p.scratch) || !claim_target(name) ||
            !start_szip(szip_path_, "-d", p.scratch, destination, p.child)) {
            force_delete_file(p.scratch);
            break;
        }
        p.running = true;
    }
}

bool CefUnpacker::unpack_by_name(const std::string& name) {
    if (!valid_) return false;  // a refused file stays refused
    error_ = 0;
    error_file_.clear();
    return undoable([&] { return unpack_named(name); });
}

bool CefUnpacker::unpack_named(const std::string& name) {
    using platform::iequals;
    if (iequals(name, "PATEVENT.DAT")) return unpack_event_file();
    if (iequals(name, "CEFDESC.TXT")) return unpack_description();
    if (iequals(name, "PATIENT.TXT")) return unpack_patient_text();
    if (iequals(name, "PATIENT.WAV")) return unpack_sound_file();
    if (iequals(name, "VERSION.TXT")) return write_text_file("VERSION.TXT", "V8.006\n");
    if (iequals(name, "SUMMARY.TXT")) return write_text_file("SUMMARY.TXT", "CEF Report\n");
    if (iequals(name, "RECORDING.DAT")) return write_recording_file();
    const bool twelve = is_twelve_lead();
    for (int i = 0; i < kCefMaxChannels; ++i) {
        if (!iequals(name, cef_channel_file_name(twelve, i))) continue;
        if (i >= static_cast<int>(channels_.size())) return fail(kCefChannelMissing, name);
        return unpack_one_channel(i);
    }
    return unpack_extra_members(name);
}

bool CefUnpacker::copy_member(const Member& member, const std::string& target) {
    if (!force_delete_file(target)) return false;
    platform::UniqueFd out = create_output(target);
    if (!out) return false;
    std::vector<std::uint8_t> buf(std::min<std::size_t>(kExtractChunk, std::max<std::uint32_t>(member.length, 1)));
    const int fd = ::fileno(file_.get());
    std::uint64_t pos = member.offset;
    std::uint64_t left = member.length;
    bool ok = true;
    while (ok && left > 0) {
        if (DeferredStop::requested()) {
            ok = false;
            break;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
        ok = platform::pread_all(fd, buf.data(), want, pos) && platform::write_all(out.get(), buf.data(), want);
        pos += want;
        left -= want;
    }
    if (!out.close()) ok = false;
    if (!ok) force_delete_file(target);
    return ok;
}

bool CefUnpacker::extract_member(const std::string& name, const Member& member, int channel) {
    if (!ready()) return false;
    const std::string destination = target_ + name;
    error_ = kCefWriteFailed;
    error_file_ = destination;
    if (member.kind != kCefStored && member.kind != kCefCompressed) return fail(kCefBadMemberKind, name);
    if (member.kind == kCefStored) {
        if (!claim_target(name) || !copy_member(member, destination)) return false;
        error_ = 0;
        error_file_.clear();
        return true;
    }
    if (channel >= 0 && static_cast<std::size_t>(channel) < pending_.size() &&
        pending_[static_cast<std::size_t>(channel)].running) {
        Pending& p = pending_[static_cast<std::size_t>(channel)];
        p.running = false;
        const bool done = run_decompressor(p.scratch, destination, wait_szip(p.child));
        force_delete_file(p.scratch);
        return done;
    }
    if (scratch_folder_.empty()) scratch_folder_ = create_temp_folder();
    if (scratch_folder_.empty()) return false;
    const std::string scratch = scratch_folder_ + kCefScratchName;
    if (!copy_member(member, scratch)) return false;
    const bool done =
        claim_target(name) && run_decompressor(scratch, destination, run_szip(szip_path_, "-d", scratch, destination));
    force_delete_file(scratch);
    return done;
}

// `code` is the result of the first run; Retry runs the compressor again.
bool CefUnpacker::run_decompressor(const std::string& scratch, const std::string& destination, int code) {
    for (;;) {
        if (code == 0) {
            error_ = 0;
            error_file_.clear();
            return true;
        }
        if (code < 0) return fail(kCefNoCompressor, szip_path_);
        fail(kCefCompressorCancelled, destination);
        const std::string text =
            format_string("The SZIP program has returned error number %d.\nThe command line was:\n%s", code,
                          szip_command_text(szip_path_, "-d", scratch, destination).c_str());
        if (!retry_ || !retry_(text)) return false;
        code = run_szip(szip_path_, "-d", scratch, destination);
    }
}

// ---------------------------------------------------------------------------------------------
// Entry points for the command line and the import of received files

int uncompress_cef_to_folder(const std::string& cef, const std::string& folder, std::string* error_file,
                             const CefRetryQuestion& retry) {
    // A stop signal ends the run once the reader has put the folder back and cleared its scratch.
    const DeferredStop hold;
    CefUnpacker reader(cef, folder, retry);
    if (reader.get_error() == 0) reader.unpack();
    if (error_file) *error_file = reader.get_error_file();
    return reader.get_error();
}

std::string uncompress_cef_to_temp_folder(const std::string& cef, int& error, std::string* error_file,
                                          const CefRetryQuestion& retry) {
    const DeferredStop hold;
    const std::string folder = create_temp_folder();
    if (folder.empty()) {
        error = kCefWriteFailed;
        if (error_file) *error_file = get_temp_folder();
        return {};
    }
    error = uncompress_cef_to_folder(cef, folder, error_file, retry);
    if (error == 0) return folder;
    delete_folder_tree(folder, true, true);
    return {};
}

bool read_cef_header(const std::string& cef, CefHeader& header) {
    const platform::UniqueFile f = open_outside_stream(cef, kCefMaxFileSize);
    if (!f) return false;
    std::uint8_t head[kCefHeaderSize];
    const bool ok = std::fread(head, 1, kCefHeaderSize, f.get()) == kCefHeaderSize;
    return ok && decode_cef_header(head, kCefHeaderSize, header) && cef_signature_matches(header);
}

}  // namespace tv
