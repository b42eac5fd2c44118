// The ECG reading loop: walks ecg.dat sector by sector and writes the recording files, the
// twelve-lead files or the named mappings.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "common/civil_days.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/shared_memory.h"
#include "vond/bitstream.h"
#include "vond/card_disk.h"
#include "vond/mappings.h"
#include "vond/messages.h"

namespace tv::vond {
namespace {

constexpr std::int64_t kSamplesPerHour = 460800;
constexpr std::int64_t kMinimumSamples = 153600;
constexpr std::int64_t kPathPadding = 76799;
constexpr int kTwelveLeadTail = 76800;
constexpr std::int64_t kMaxGapSeconds = 604800;

enum class OutKind { Files, Mapping, TwelveLead };

// A write-only output file with its own buffer. The first failed write is remembered with its
// error; finish() reports whether every byte reached the disk.
class OutFile {
public:
    ~OutFile() { finish(); }
    bool open(const std::string& path) {
        path_ = path;
        // Made anew: whatever had the name (a link among them) is removed, never written through.
        ::unlink(path.c_str());
        fd_ = create_new_file(path, 0644);
        if (!fd_) note_error();
        if (!buf_) buf_.reset(new std::uint8_t[kBuffer]);
        return static_cast<bool>(fd_);
    }
    bool is_open() const { return static_cast<bool>(fd_); }
    void put16(std::uint16_t w) {
        if (used_ + 2 > kBuffer) flush();
        store_le16(&buf_[used_], w);
        used_ += 2;
    }
    // Room for `n` bytes (n <= the buffer) to be filled in place, then commit(n).
    std::uint8_t* room(std::size_t n) {
        if (used_ + n > kBuffer) flush();
        return buf_.get() + used_;
    }
    void commit(std::size_t n) { used_ += n; }
    void write(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (n > 0) {
            if (used_ == kBuffer) flush();
            const std::size_t k = std::min(n, kBuffer - used_);
            std::memcpy(buf_.get() + used_, p, k);
            used_ += k;
            p += k;
            n -= k;
        }
    }
    bool flush() {
        if (fd_ && used_ > 0 && !failed_ && !platform::write_all(fd_.get(), buf_.get(), used_)) note_error();
        used_ = 0;
        return !failed_;
    }
    bool pwrite(const void* data, std::size_t n, std::uint64_t at) {
        if (!flush()) return false;
        if (!platform::pwrite_all(fd_.get(), data, n, at)) note_error();
        return !failed_;
    }
    // Flushes to the disk and closes. A device that cannot be synced has taken its writes already.
    bool finish() {
        if (!fd_) return !failed_;
        flush();
        if (!failed_ && ::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) note_error();
        if (!fd_.close() && !failed_) note_error();
        return !failed_;
    }
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }
    int error() const { return error_; }

private:
    void note_error() {
        if (!failed_) error_ = errno;
        failed_ = true;
    }
    static constexpr std::size_t kBuffer = 1u << 18;
    std::string path_;
    platform::UniqueFd fd_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t used_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

const std::uint16_t* word_scramble_table() {
    static const auto table = [] {
        // The low half of the CRC-32 table: one step of a cleared register.
        std::array<std::uint16_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i)
            t[i] = static_cast<std::uint16_t>(crc32_update(0, static_cast<std::uint8_t>(i)) & 0xFFFF);
        return t;
    }();
    return table.data();
}

const char* const kLeadNames[8] = {"Lead I", "Lead II", "V1", "V2", "V3", "V4", "V5", "V6"};

}  // namespace

class EcgReader {
public:
    EcgReader(CardDisk& disk, int format, std::string out, Progress* progress)
        : disk_(disk), format_(format), out_(std::move(out)), progress_(progress), set_(disk.settings_) {
        kind_ = format == kFormatArchive                                   ? OutKind::Files
                : (format == kFormatOs12File || format == kFormatOs12Arch) ? OutKind::TwelveLead
                                                                           : OutKind::Mapping;
        const int r = std::clamp(set_.resolution, 8, 12);
        resolution_ = r;
        if (r < 12) {
            half_ = 1 << (11 - r);
            mask_ = static_cast<std::uint16_t>(0xFFFFu << (12 - r));
        }
        plain_words_ = r == 12 && !set_.scramble;
        file_limit_ = static_cast<std::int64_t>(set_.duration_hours) * kSamplesPerHour;
        map_limit_ = std::min<std::int64_t>(file_limit_, kRawEcgSamples);
    }

    bool run();

private:
    bool open_outputs();
    bool loop();
    bool sector_step();
    bool start_sector_step();
    bool fixed_sector_step(std::uint8_t type);
    bool stream_sector_step();
    bool next_sector_continues_stream();
    bool twelve_lead_step();
    bool position_by_index();
    bool write_card_events();
    bool add_event(std::int64_t seconds);
    void pad_minimum();
    bool finish_twelve_lead();
    const OutFile* close_outputs();
    void fail_sector(const char* format);

    bool in_skip() const { return clock_.to_seconds() - start_s_ < static_cast<std::int64_t>(set_.skip_hours) * 3600; }
    bool duration_reached() const {
        if (kind_ == OutKind::Files) return counter_ >= file_limit_;
        if (kind_ == OutKind::Mapping) return maps_.control(0)->samples_written >= map_limit_;
        return false;
    }
    std::uint16_t make_word(int s, std::uint16_t flags, bool ten_bit, bool substitute, std::uint32_t n) const {
        if (substitute && s == 0) s = 1;
        if (resolution_ < 12 && !(ten_bit && resolution_ >= 10) && s != 0 && s < 4088) {
            s = s < half_ ? 2 * half_ : s + half_;
            s &= mask_;
        }
        std::uint16_t w = static_cast<std::uint16_t>((s & 0xFFFF) | flags);
        if (set_.scramble) w ^= word_scramble_table()[n & 0xFF];
        return w;
    }
    // `n` sample times of `chans` channels, channel by channel. `whole`: a started block is not cut.
    void file_rows(const std::uint16_t* const* rows, const std::uint16_t* flags, int n, int chans, bool ten_bit,
                   bool whole) {
        if (counter_ >= file_limit_) return;
        const int k = whole ? n : static_cast<int>(std::min<std::int64_t>(n, file_limit_ - counter_));
        wrote_ecg_ = wrote_ecg_ || k > 0;
        const std::int64_t base = counter_;
        counter_ += k;
        for (int c = 0; c < chans; ++c) {
            std::uint8_t* p = raw_[c].room(static_cast<std::size_t>(k) * 2);
            const std::uint16_t* row = rows[c];
            for (int i = 0; i < k; ++i) {
                std::uint16_t w;
                if (plain_words_) {
                    const int s = row[i] & 0xFFF;
                    w = static_cast<std::uint16_t>((s ? s : 1) | flags[i]);
                } else {
                    w = make_word(row[i] & 0xFFF, flags[i], ten_bit, true, static_cast<std::uint32_t>(base + i + 1));
                }
                store_le16(p + 2 * i, w);
            }
            raw_[c].commit(static_cast<std::size_t>(k) * 2);
        }
    }
    void file_gap_time() {
        if (counter_ >= file_limit_) return;
        const auto n = static_cast<std::uint32_t>(++counter_);
        for (int c = 0; c < file_channels(); ++c) raw_[c].put16(make_word(0, 0, false, false, n));
    }
    void map_put(int c, std::uint16_t w) {
        EcgControlBlock* ctl = maps_.control(c);
        const std::int32_t idx = ctl->samples_written;
        if (idx < 0 || idx >= static_cast<std::int32_t>(kRawEcgSamples)) return;
        maps_.samples(c)[idx] = w;
        ctl->samples_written = idx + 1;
    }
    bool map_time_allowed() {
        if (maps_.control(0)->samples_written < map_limit_) return true;
        if (map_limit_ == static_cast<std::int64_t>(kRawEcgSamples) && !cap_traced_) {
            trace("mapping capacity of 32 hours reached\n");
            cap_traced_ = true;
        }
        return false;
    }
    int file_channels() const { return std::min(channels_, 3); }
    int map_channels() const { return channels_ == 1 ? 2 : std::min(channels_, 3); }
    void write_calibration(int seconds);
    void write_gap_second();
    void write_block();

    CardDisk& disk_;
    int format_;
    std::string out_;
    Progress* progress_;
    ReadSettings set_;
    OutKind kind_;
    int resolution_ = 12, half_ = 0;
    bool plain_words_ = true;  // full resolution, no scrambling
    std::uint16_t mask_ = 0xFFFF;
    std::int64_t file_limit_ = 0, map_limit_ = 0;

    platform::UniqueFile ecg_;
    OutFile patevent_, raw_[3], other_, leads_[8], pacing_;
    EcgMappings maps_;
    bool cap_traced_ = false;

    StartSector first_{};
    std::vector<IndexEntry> index_;
    Sector sector_{};
    int sector_counter_ = 0;
    int progress_counter_ = 0;
    bool stored_format_ = false;
    std::uint8_t format_code_ = 0;
    int channels_ = 0;
    CardClock clock_;
    double now_ = 0;
    std::int64_t start_s_ = 0;
    std::int64_t start_offset_ = 0;
    std::int64_t counter_ = 0;
    int window_ = 0;
    BitStreamDecoder decoder_;
    bool stop_ = false;
    bool stopped_by_event_ = false;
    bool met_data_ = false;   // a data sector of the recording was stepped over
    bool wrote_ecg_ = false;  // and at least one of its samples went out
    std::uint16_t lead_min_[8], lead_max_[8];
};

bool EcgReader::open_outputs() {
    if (!patevent_.open(card_path(out_, "patevent.dat"))) return false;
    OutsideFile ecg = disk_.open_ecg();
    if (!ecg) return false;
    FoundSector fs = find_start_sector_in(ecg.fd.get());
    if (!fs.found) return false;
    first_ = parse_start_sector(fs.sector);
    ecg_.reset(::fdopen(ecg.fd.get(), "rb"));
    if (!ecg_) return false;
    ecg.fd.release();  // the stream owns it now
    std::setvbuf(ecg_.get(), nullptr, _IOFBF, 1u << 20);
    if (kind_ == OutKind::Files) {
        for (int i = 0; i < 3; ++i)
            if (!raw_[i].open(card_path(out_, "rawecg" + std::to_string(i + 1) + ".dat"))) return false;
        if (progress_) {
            progress_->set_range(3600);
            progress_->set_position(0);
        }
    } else if (kind_ == OutKind::TwelveLead) {
        const std::uint8_t zero[59] = {};
        for (int i = 0; i < 8; ++i) {
            if (!leads_[i].open(card_path(out_, "os12ecg" + std::to_string(i + 1) + ".dat"))) return false;
            leads_[i].write(zero, 59);
            lead_min_[i] = 0xFFFF;
            lead_max_[i] = 0;
        }
        if (!pacing_.open(card_path(out_, "os12pac.dat"))) return false;
        pacing_.write(zero, 29);
    } else {
        if (!maps_.open(true)) {
            show_card_message(141, MsgIcon::Error, MsgButtons::Ok, true);
            return false;
        }
        maps_.begin_transfer();
    }
    return other_.open(card_path(out_, "other.dat"));
}

bool EcgReader::add_event(std::int64_t seconds) {
    if (kind_ == OutKind::Mapping && !maps_.add_event(static_cast<std::int32_t>(seconds))) return false;
    const std::string line = std::to_string(seconds) + "\r\n";
    patevent_.write(line.data(), line.size());
    return !patevent_.failed();
}

void EcgReader::write_calibration(int seconds) {
    for (std::int64_t rep = 0; rep < 2LL * seconds; ++rep) {
        for (int half = 0; half < 2; ++half) {
            for (int k = 0; k < 32; ++k) {
                if (kind_ == OutKind::Files) {
                    if (counter_ >= file_limit_) return;
                    const auto n = static_cast<std::uint32_t>(++counter_);
                    for (int c = 0; c < file_channels(); ++c)
                        raw_[c].put16(make_word(half ? 2253 : 1843, 0, false, false, n));
                } else if (kind_ == OutKind::Mapping) {
                    if (!map_time_allowed()) return;
                    for (int c = 0; c < map_channels(); ++c) map_put(c, half ? 2253 : 1843);
                } else {
                    const std::uint16_t w = static_cast<std::uint16_t>(half ? 819 : -819);
                    for (auto& l : leads_) l.put16(w);
                }
            }
        }
    }
}

void EcgReader::write_gap_second() {
    for (int k = 0; k < 128; ++k) {
        if (kind_ == OutKind::Files) {
            file_gap_time();
        } else if (kind_ == OutKind::Mapping) {
            if (!map_time_allowed()) return;
            for (int c = 0; c < map_channels(); ++c) map_put(c, 0);
        } else {
            for (auto& l : leads_) l.put16(0x8000);
        }
    }
}

void EcgReader::fail_sector(const char* format) {
    trace(format, sector_counter_);
    show_card_message(136, MsgIcon::Warning, MsgButtons::Ok, true);
}

bool EcgReader::write_card_events() {
    for (auto& e : index_) {
        if (e.tag() != 3) continue;
        const std::int64_t t = e.seconds() - start_s_ - static_cast<std::int64_t>(set_.skip_hours) * 3600;
        if (t < 0 || t >= static_cast<std::int64_t>(set_.duration_hours) * 3600) continue;
        if (!add_event(t + start_offset_)) break;
    }
    return true;
}

bool EcgReader::position_by_index() {
    const std::int64_t target = start_s_ + static_cast<std::int64_t>(set_.skip_hours) * 3600;
    const IndexEntry* best = nullptr;
    for (auto& e : index_) {
        if (e.tag() != 1 && e.tag() != 2 && e.tag() != 4) continue;
        const std::int64_t t = e.seconds();
        if (t > target) continue;
        if (!best || t > best->seconds()) best = &e;
    }
    if (!best) return true;
    const int bit = best->tag() == 1 ? 40 : best->bit();
    const std::uint32_t sector = best->sector();
    std::fseek(ecg_.get(), 0, SEEK_END);
    const long size = std::ftell(ecg_.get());
    // Nothing from the card is trusted: the place must lie in ecg.dat and in a sector's data.
    if (bit < 40 || bit >= 4096 ||
        static_cast<std::uint64_t>(sector) * kSectorSize >= static_cast<std::uint64_t>(size) ||
        std::fseek(ecg_.get(), static_cast<long>(sector) * kSectorSize, SEEK_SET) != 0) {
        fail_sector("Set index position failed in sector %i\n");
        return false;
    }
    clock_ = CardClock::from_bytes(best->bytes + 2);
    now_ = static_cast<double>(clock_.to_seconds());
    decoder_.position(bit);
    sector_counter_ = static_cast<int>(sector);
    return true;
}

bool EcgReader::start_sector_step() {
    const StartSector s = parse_start_sector(sector_);
    if (!stored_format_) {
        format_code_ = s.recording_format;
        channels_ = format_channel_count(format_code_);
        if (channels_ == 0) return false;
        stored_format_ = true;
        clock_ = CardClock::from_bytes(s.recording_start_time);
        start_s_ = clock_.to_seconds();
        now_ = static_cast<double>(start_s_);
        const int cal = set_.calibration_seconds;
        start_offset_ = cal ? cal + clock_.second : 0;
        write_calibration(static_cast<int>(start_offset_));
        other_.write(sector_.data(), sector_.size());
        window_ = 0;
        if (format_is_sector_coded(format_code_)) {
            decoder_.reset();
            if (set_.skip_hours > 0 && !position_by_index()) return false;
            write_card_events();
        }
        return true;
    }
    if (channels_ == 0) {
        trace("CCFDisk::read_start_sector s->recording_format invalid\n");
        return false;
    }
    if (s.recording_format != format_code_) {
        trace("CCFDisk::read_start_sector s->recording_format different\n");
        return false;
    }
    const std::int64_t now_s = clock_.to_seconds();
    const std::int64_t next = CardClock::from_bytes(s.recording_start_time).to_seconds();
    if (next < now_s || next - now_s > kMaxGapSeconds) {
        trace("CCFDisk::read_start_sector recording times inconsistent\n");
        return false;
    }
    for (std::int64_t k = now_s; k < next; ++k) {
        if (!in_skip()) write_gap_second();
        clock_.advance_second();
        now_ += 1.0;
    }
    other_.write(sector_.data(), sector_.size());
    window_ = 0;
    if (format_code_ >= 33 && format_code_ <= 35) decoder_.reset();
    return true;
}

bool EcgReader::fixed_sector_step(std::uint8_t type) {
    const bool two = type == kType10BitTwo || type == kTypeNibbleTwo;
    const bool nibble = type == kTypeNibbleTwo || type == kTypeNibbleThree;
    const int per_channel = two ? 192 : 128;
    const int chans = two ? 2 : 3;
    const bool skip = in_skip();
    if (!skip) {
        std::uint16_t samples[3][192];
        // Values in the order they stand: fine nibbles are shared by all channels.
        const std::uint8_t* data = sector_.data() + 32;
        const int values = per_channel * chans;
        int prev[3] = {0, 0, 0};
        bool first[3] = {true, true, true};
        const int events = sector_[11];
        int nib = 0;
        auto next_nibble = [&]() -> int {
            if (events * 2 >= 20 - nib / 2) return 0;
            const std::uint8_t b = sector_[static_cast<std::size_t>(31 - nib / 2)];
            const int v = (nib & 1) ? (b >> 4) : (b & 0x0F);
            ++nib;
            return v >= 8 ? v - 16 : v;
        };
        auto load5 = [&](int group) {
            const std::uint8_t* g = data + group * 5;
            return static_cast<std::uint64_t>(load_le32(g)) | (static_cast<std::uint64_t>(g[4]) << 32);
        };
        std::uint64_t bits = 0;
        if (!nibble && two) {
            for (int g = 0; g < 96; ++g) {
                bits = load5(g);
                samples[0][2 * g] = static_cast<std::uint16_t>((bits & 0x3FF) * 4);
                samples[1][2 * g] = static_cast<std::uint16_t>(((bits >> 10) & 0x3FF) * 4);
                samples[0][2 * g + 1] = static_cast<std::uint16_t>(((bits >> 20) & 0x3FF) * 4);
                samples[1][2 * g + 1] = static_cast<std::uint16_t>(((bits >> 30) & 0x3FF) * 4);
            }
        } else if (!nibble) {
            for (int g = 0; g < 32; ++g) {
                const std::uint64_t b0 = load5(3 * g), b1 = load5(3 * g + 1), b2 = load5(3 * g + 2);
                const int i = 4 * g;
                samples[0][i] = static_cast<std::uint16_t>((b0 & 0x3FF) * 4);
                samples[1][i] = static_cast<std::uint16_t>(((b0 >> 10) & 0x3FF) * 4);
                samples[2][i] = static_cast<std::uint16_t>(((b0 >> 20) & 0x3FF) * 4);
                samples[0][i + 1] = static_cast<std::uint16_t>(((b0 >> 30) & 0x3FF) * 4);
                samples[1][i + 1] = static_cast<std::uint16_t>((b1 & 0x3FF) * 4);
                samples[2][i + 1] = static_cast<std::uint16_t>(((b1 >> 10) & 0x3FF) * 4);
                samples[0][i + 2] = static_cast<std::uint16_t>(((b1 >> 20) & 0x3FF) * 4);
                samples[1][i + 2] = static_cast<std::uint16_t>(((b1 >> 30) & 0x3FF) * 4);
                samples[2][i + 2] = static_cast<std::uint16_t>((b2 & 0x3FF) * 4);
                samples[0][i + 3] = static_cast<std::uint16_t>(((b2 >> 10) & 0x3FF) * 4);
                samples[1][i + 3] = static_cast<std::uint16_t>(((b2 >> 20) & 0x3FF) * 4);
                samples[2][i + 3] = static_cast<std::uint16_t>(((b2 >> 30) & 0x3FF) * 4);
            }
        }
        for (int k = 0; nibble && k < values; ++k) {
            if (k % 4 == 0) bits = load5(k / 4);
            const int v = static_cast<int>((bits >> (10 * (k % 4))) & 0x3FF);
            int ch, idx;
            if (two) {
                ch = k % 2;
                idx = (k / 4) * 2 + (k % 4) / 2;
            } else {
                ch = k % 3;
                idx = k / 3;
            }
            int s;
            if (!nibble) {
                s = v * 4;
            } else if (first[ch]) {
                const int top = (sector_[8] >> (2 * ch)) & 3;
                s = (top << 10) | v;
                prev[ch] = s;
                first[ch] = false;
            } else {
                int p = std::clamp(prev[ch], 400, 3695);
                if (v <= 400) {
                    p = (p + v) & 0xFFF;
                    s = p;
                } else if (v >= 624) {
                    p = (p + v - 1024) & 0xFFF;
                    s = p;
                } else if (v <= 503) {
                    p = (p + 16 * (v - 401) + 408) & 0xFFF;
                    s = (p - next_nibble()) & 0xFFF;
                } else if (v >= 521) {
                    p = (p + 16 * v + 1912) & 0xFFF;
                    s = (p + next_nibble()) & 0xFFF;
                } else if (v == 504) {
                    p = s = 4087;
                } else if (v == 520) {
                    p = s = 8;
                } else {
                    p = s = 0;
                }
                prev[ch] = p;
            }
            samples[ch][idx] = static_cast<std::uint16_t>(s);
        }
        const int entries = std::min<int>(sector_[11], 10);
        int next_entry = 0;
        const std::uint16_t* rows[3] = {samples[0], samples[1], samples[2]};
        std::uint16_t flags[192];
        for (int i = 0; i < per_channel; ++i) {
            std::uint16_t f = 0;
            while (next_entry < entries && sector_[static_cast<std::size_t>(12 + 2 * next_entry)] == i) {
                f |= 0x1000;
                window_ = 23;
                ++next_entry;
            }
            if (window_ != 0) {
                f |= 0x8000;
                --window_;
            }
            flags[i] = f;
        }
        if (kind_ == OutKind::Files) {
            file_rows(rows, flags, per_channel, std::min(file_channels(), chans), !nibble, false);
        } else if (kind_ == OutKind::Mapping) {
            for (int i = 0; i < per_channel && map_time_allowed(); ++i) {
                for (int c = 0; c < chans; ++c)
                    map_put(c, static_cast<std::uint16_t>((samples[c][i] & 0xFFF) | flags[i]));
                wrote_ecg_ = true;
            }
        }
        other_.write(sector_.data(), 32);
        if ((sector_[6] & 1) != 0) {
            const std::int64_t t =
                clock_.to_seconds() + start_offset_ - start_s_ - static_cast<std::int64_t>(set_.skip_hours) * 3600;
            if (!add_event(t)) return false;
        }
    }
    clock_.advance_second();
    now_ += 1.0;
    if (two) {
        clock_.advance_half_second();
        now_ += 0.5;
    }
    return true;
}

void EcgReader::write_block() {
    const std::uint16_t* rows[3] = {decoder_.samples(0).data(), decoder_.samples(1).data(), decoder_.samples(2).data()};
    const auto& flags = decoder_.flags();
    if (kind_ == OutKind::Files) {
        file_rows(rows, flags.data(), BitStreamDecoder::kBlock, file_channels(), false, true);
    } else if (kind_ == OutKind::Mapping) {
        static const std::array<std::uint16_t, 128> square = [] {
            std::array<std::uint16_t, 128> a{};
            for (int i = 0; i < 128; ++i) a[static_cast<std::size_t>(i)] = (i / 32) % 2 ? 2253 : 1843;
            return a;
        }();
        if (channels_ == 1) rows[1] = square.data();
        for (int i = 0; i < BitStreamDecoder::kBlock; ++i) {
            if (!map_time_allowed()) return;
            const auto f = flags[static_cast<std::size_t>(i)];
            for (int c = 0; c < map_channels(); ++c) map_put(c, static_cast<std::uint16_t>((rows[c][i] & 0xFFF) | f));
            wrote_ecg_ = true;
        }
    }
}

// Looked at without moving the reading position.
bool EcgReader::next_sector_continues_stream() {
    Sector next{};
    const long at = std::ftell(ecg_.get());
    return at >= 0 &&
           ::pread(::fileno(ecg_.get()), next.data(), next.size(), at) == static_cast<ssize_t>(next.size()) &&
           is_stream_type(next[0]) && load_le16(&next[1]) == first_.recording_num;
}

bool EcgReader::stream_sector_step() {
    // The stream, or its part before a further start sector, ends in this sector when no stream
    // sector of the recording follows.
    const bool last = !next_sector_continues_stream();
    for (;;) {
        const auto r = decoder_.step(sector_.data(), last);
        if (r.stream_end) return true;
        if (!r.ok) {
            fail_sector("ecg decompression error in sector %i\n");
            return false;
        }
        if (r.block_ready) {
            if (!in_skip()) write_block();
            clock_.advance_second();
            now_ += 1.0;
            if (duration_reached()) {
                stop_ = true;
                return true;
            }
        }
        if (r.sector_used) return true;
    }
}

bool EcgReader::twelve_lead_step() {
    if (kind_ != OutKind::TwelveLead) return false;
    if (!in_skip()) {
        wrote_ecg_ = true;
        for (int f = 0; f < 30; ++f) {
            for (int l = 0; l < 8; ++l) {
                const std::uint16_t w = load_le16(&sector_[static_cast<std::size_t>(32 + f * 16 + l * 2)]);
                leads_[l].put16(w);
                lead_min_[l] = std::min(lead_min_[l], w);
                lead_max_[l] = std::max(lead_max_[l], w);
            }
        }
        const int marks = std::min<int>(sector_[7], 6);
        for (int k = 0; k < marks; ++k) {
            const std::int64_t pos = static_cast<std::int64_t>(std::floor(now_ * 128.0 + 0.5)) +
                                     sector_[static_cast<std::size_t>(8 + k)] / 8 + start_offset_ * 128;
            std::uint8_t b[4];
            store_le32(b, static_cast<std::uint32_t>(pos));
            pacing_.write(b, 4);
        }
        other_.write(sector_.data(), 32);
    }
    clock_.advance_23_hundredths();
    now_ += 0.234375;
    return true;
}

bool EcgReader::sector_step() {
    const std::uint8_t type = sector_[0];
    if (!unscramble_by_type(sector_.data())) {
        fail_sector(sector_form(type) == SectorForm::Low ? "10 bit checksum error in sector %i\n"
                                                         : "checksum error in sector %i\n");
        return false;
    }
    ++sector_counter_;
    if (kind_ == OutKind::Files && progress_) {
        if (++progress_counter_ % 180 == 0) progress_->set_position(static_cast<std::uint32_t>(progress_counter_));
        if (progress_counter_ >= 3600) progress_counter_ = 0;
    }
    bool ok = true;
    switch (type) {
        case 1:
        case 2:
        case 48:
        case 4:
        case 5:
            met_data_ = true;
            ok = stored_format_ && fixed_sector_step(type);
            break;
        case 32:
        case 49:
        case 66: other_.write(sector_.data(), sector_.size()); break;
        case 33:
        case 34:
        case 35:
            if (!stored_format_) return false;
            met_data_ = true;
            ok = stream_sector_step();
            break;
        case 64:
            met_data_ = true;
            ok = stored_format_ && twelve_lead_step();
            break;
        case 65: break;
        case 129:
        case 130:
        case 131: ok = start_sector_step(); break;
        default: stop_ = true; break;
    }
    if (ok && stored_format_ && duration_reached()) stop_ = true;
    return ok;
}

bool EcgReader::loop() {
    auto terminator = platform::NamedEvent::open("VOND TERMINATOR", true, false);
    bool ok = true;
    for (;;) {
        const bool set = terminator && terminator->is_set();
        if (load_le16(&sector_[1]) == first_.recording_num && !set) {
            ok = sector_step();
        } else {
            stopped_by_event_ = set;
            break;
        }
        if (!ok || stop_) break;
        if (std::fread(sector_.data(), 1, sector_.size(), ecg_.get()) != sector_.size()) break;
    }
    if (kind_ == OutKind::TwelveLead && !finish_twelve_lead()) ok = false;
    return ok;
}

bool EcgReader::finish_twelve_lead() {
    for (auto& l : leads_)
        for (int k = 0; k < kTwelveLeadTail; ++k) l.put16(0x8000);
    // The header date: an automation date that comes out 100 years early, as the analysis
    // system reads it.
    const double d = static_cast<double>(start_s_) / 86400.0 + 1.0 - static_cast<double>(start_offset_) / 86400.0;
    std::uint8_t date[6];
    std::memset(date, 255, sizeof(date));
    int year = -1;
    if (std::isfinite(d) && d > -657435.0 && d < 2958466.0) {
        std::int64_t secs = static_cast<std::int64_t>(std::llround(d * 86400.0));
        std::int64_t days = secs / 86400;
        std::int64_t rem = secs % 86400;
        if (rem < 0) {
            rem += 86400;
            --days;
        }
        int y, m, dd;
        civil_from_days(days + days_from_civil(1899, 12, 30), y, m, dd);
        year = y;
        date[0] = static_cast<std::uint8_t>(rem % 60);
        date[1] = static_cast<std::uint8_t>(rem / 60 % 60);
        date[2] = static_cast<std::uint8_t>(rem / 3600);
        date[3] = static_cast<std::uint8_t>(dd);
        date[4] = static_cast<std::uint8_t>(m);
        date[5] = static_cast<std::uint8_t>(y - 1900);
    }
    char proc[16] = {};
    std::memcpy(proc, set_.procedure_id.data(), std::min<std::size_t>(set_.procedure_id.size(), 16));
    for (int i = 0; i < 8; ++i) {
        std::uint8_t h[59] = {};
        h[0] = 1;
        store_le16(h + 1, 59);
        std::memcpy(h + 3, proc, 16);
        std::memcpy(h + 19, date, 6);
        std::strncpy(reinterpret_cast<char*>(h + 25), kLeadNames[i], 15);
        store_le16(h + 41, 128);
        store_le16(h + 43, 1638);
        store_le16(h + 45, 0);
        const float f40 = 40.0f, f005 = 0.05f;
        std::memcpy(h + 47, &f40, 4);
        std::memcpy(h + 51, &f005, 4);
        store_le16(h + 55, lead_min_[i]);
        store_le16(h + 57, lead_max_[i]);
        if (!leads_[i].pwrite(h, sizeof(h), 0)) {
            trace("File exception in write_os12_ecg_header_data()\n");
            return false;
        }
    }
    std::uint8_t p[29] = {};
    p[0] = 1;
    store_le16(p + 1, 29);
    store_le16(p + 3, 4);
    std::memcpy(p + 5, proc, 16);
    std::memcpy(p + 21, date, 5);
    p[26] = year < 0 ? 255 : static_cast<std::uint8_t>(year & 0xFF);
    store_le16(p + 27, 128);
    if (!pacing_.pwrite(p, sizeof(p), 0)) {
        trace("File exception in write_os12_pacing_header_data()\n");
        return false;
    }
    return true;
}

void EcgReader::pad_minimum() {
    if (kind_ == OutKind::Mapping && (format_ == kFormatPath || format_ == kFormatMmf)) {
        if (maps_.control(0)->samples_written < kMinimumSamples) {
            for (int c = 0; c < 3; ++c)
                while (maps_.control(c)->samples_written < kMinimumSamples) map_put(c, 0);
        }
        if (format_ == kFormatPath) {
            for (int c = 0; c < 3; ++c) {
                const std::int64_t target =
                    std::min<std::int64_t>(maps_.control(c)->samples_written + kPathPadding, kRawEcgSamples);
                while (maps_.control(c)->samples_written < target) map_put(c, 0);
            }
        }
    } else if (kind_ == OutKind::Files) {
        file_limit_ = std::max(file_limit_, kMinimumSamples);
        while (counter_ < kMinimumSamples) file_gap_time();
    }
}

// Every output on the disk, or the first one that is not.
const OutFile* EcgReader::close_outputs() {
    const OutFile* failed = nullptr;
    auto finish = [&](OutFile& f) {
        if (!f.finish() && !failed) failed = &f;
    };
    finish(patevent_);
    for (auto& r : raw_) finish(r);
    for (auto& l : leads_) finish(l);
    finish(pacing_);
    finish(other_);
    return failed;
}

// The card is marked as read only when everything the read wrote is safely on the disk: until
// then it holds the only copy of the recording.
bool EcgReader::run() {
    if (!open_outputs()) {
        close_outputs();
        return false;
    }
    disk_.read_config();
    if (disk_.config_.recording_num() < first_.recording_num) {
        trace("m_config_dat.recording_num >= start_sector.recording_num failed\n");
        close_outputs();
        return false;
    }
    if (disk_.config_.wav_recording_num() < first_.recording_num && !platform::find_name_ci(out_, "patient.wav") &&
        !write_empty_patient_wav(out_)) {
        trace("File Exception caught in module %s at line %d\n", "Cfdisk", __LINE__);
        close_outputs();
        return false;
    }
    if (format_is_sector_coded(first_.recording_format)) index_ = read_card_index(ecg_.get());
    std::fseek(ecg_.get(), 0, SEEK_SET);
    bool ok;
    if (std::fread(sector_.data(), 1, sector_.size(), ecg_.get()) != sector_.size()) {
        trace("wrong number of bytes read in first sector\n");
        show_card_message(136, MsgIcon::Warning, MsgButtons::Ok, true);
        ok = false;
    } else {
        ok = loop();
    }
    if (ok && !stopped_by_event_ && !stored_format_) {
        trace("the recording's start sector was not met in sector %i\n", sector_counter_);
        ok = false;
    }
    if (ok && !stopped_by_event_ && !met_data_) {
        trace("no data sector of the recording was met\n");
        ok = false;
    }
    if (ok && !stopped_by_event_ && met_data_ && !wrote_ecg_) {
        trace("no ECG sample of the recording was read\n");
        ok = false;
    }
    if (!stopped_by_event_) pad_minimum();
    if (kind_ == OutKind::Mapping) {
        maps_.end_transfer();
        // Held by nobody else, the mappings and the ECG in them go when this program ends: the
        // card keeps the only copy and is neither marked nor reconditioned.
        if (ok && !stopped_by_event_ && !maps_.held_elsewhere()) {
            trace("no other process holds the ECG mappings\n");
            ok = false;
        }
        maps_.release();
    }
    if (const OutFile* f = close_outputs()) {
        trace("File Exception caught in module %s at line %d\n", "Cfdisk", __LINE__);
        show_card_message(202, MsgIcon::Error, MsgButtons::Ok, true,
                          format_message(202, f->path().c_str(), std::strerror(f->error())));
        ok = false;
    }
    if (ok && !stopped_by_event_ && !platform::sync_folder(out_)) {
        trace("File Exception caught in module %s at line %d\n", "Cfdisk", __LINE__);
        ok = false;
    }
    if (ok && !stopped_by_event_) disk_.mark_after_read(out_, format_ != kFormatCnav);
    return ok;
}

bool CardDisk::read_ecg(int output_format, const std::string& out_folder, Progress* progress) {
    if (!read_config()) return false;
    if (output_format == kFormatCnav) return copy_all_files(out_folder);
    if (output_format != kFormatPath && output_format != kFormatArchive && output_format != kFormatMmf &&
        output_format != kFormatOs12File && output_format != kFormatOs12Arch)
        return true;
    // A read of no hours would write nothing but padding and still mark the card.
    if (settings_.duration_hours <= 0) {
        trace("no duration set for the ECG read\n");
        return false;
    }
    EcgReader reader(*this, output_format, out_folder, progress);
    return reader.run();
}

}  // namespace tv::vond
