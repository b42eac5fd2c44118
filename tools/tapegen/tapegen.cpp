#include "tools/tapegen/tapegen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "platform/handles.h"

namespace tv::tapegen {
namespace {

constexpr std::uint32_t kRawEcgSamples = 14745600;
constexpr std::int64_t kFullMarginSamples = 81920;
constexpr int kTimeCodeLimit = 50336;
constexpr int kStartWord = 120;    // 14:23 shown from here
constexpr int kSyncWord = 200;     // the serial block's sync region: 40 groups of 15 words
constexpr int kRunningWord = 800;  // the clock runs on from here
constexpr int kEventWords[] = {1000, 5000, 9000};
// clang-format off
constexpr std::uint8_t kSerialBytes[32] = {0, 0x30, 0x14, 0x25, 0x12, 0, 0x99, 0, 0x05, 0xF8, 0, 0, 0, 0, 0, 0x20,
                                           0x4D, 0x50, 0x34, 0x12};
// clang-format on

constexpr std::uint8_t kFirstPattern[3] = {5, 4, 1};
constexpr std::uint8_t kSegment[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

std::uint32_t scramble(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v;
}

std::vector<std::uint8_t> pack(std::initializer_list<std::uint32_t> list) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : list) append_le32(out, w);
    return out;
}

platform::TraceRecord message(std::vector<std::uint8_t> bytes) {
    platform::TraceRecord r;
    r.kind = platform::TraceKind::message;
    r.bytes = std::move(bytes);
    return r;
}

platform::TraceRecord control(platform::TraceKind kind, std::uint32_t value = 0) {
    platform::TraceRecord r;
    r.kind = kind;
    r.value = value;
    return r;
}

platform::TraceRecord packet(std::int32_t sample, int count, std::int32_t status = 0, std::int32_t length = 920) {
    platform::TraceRecord r;
    r.kind = platform::TraceKind::packet;
    r.desc_status = status;
    r.desc_length = length;
    r.bytes.assign(platform::ring::kPacketBytes, 0);
    std::memcpy(r.bytes.data() + 2, &sample, 4);
    r.bytes[6] = static_cast<std::uint8_t>(count);
    r.bytes[7] = 0xF0;
    r.bytes[309] = 0xF1;
    r.bytes[611] = 0xF2;
    const int offsets[3] = {8, 310, 612};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < count && i < 150; ++i) {
            const std::uint16_t v = sample_value(std::int64_t(sample) + i, c + 1);
            std::memcpy(r.bytes.data() + offsets[c] + 2 * i, &v, 2);
        }
    return r;
}

struct Tape {
    std::int64_t origin = 0;
    std::int64_t position(int j) const { return origin + 256 * std::int64_t(j); }
    bool event_at(int j, std::int32_t skip) const {
        auto in = [&](int start) { return j >= start && j < start + 8; };
        for (int e : kEventWords)
            if (in(e)) return true;
        return skip > 0 && in(50);  // a mark before the skip point
    }
    std::uint32_t word(int j, std::int32_t skip) const {
        std::uint32_t w;
        if (j < kStartWord) {
            w = (scramble(static_cast<std::uint32_t>(j) + 1) & 0xFFFFFE00u);
        } else if (j < kSyncWord) {
            w = time_word(14, 23, true) & ~0xFFu;
        } else if (j < kRunningWord) {
            const int group = (j - kSyncWord) / 15, at = j - kSyncWord;
            w = scramble(static_cast<std::uint32_t>(group) + 7777) & 0xFFFFFE00u;
            int bit = 0;
            if (at >= 10 && at < 42)
                bit = 1;
            else if (at >= 42 && at < 42 + 256)
                bit = (kSerialBytes[(at - 42) / 8] >> ((at - 42) % 8)) & 1;
            w |= static_cast<std::uint32_t>(bit) << 7;
        } else {
            const std::int64_t minutes = (position(j) - position(kStartWord)) / 7680 + 23;
            w = time_word(static_cast<int>((14 + minutes / 60) % 24), static_cast<int>(minutes % 60), true) & ~0xFFu;
        }
        return w | (event_at(j, skip) ? 0u : 0xFu);
    }
};

}  // namespace

std::uint16_t sample_value(std::int64_t s, int channel) {
    return static_cast<std::uint16_t>(((s * 3 + channel * 1365) % 4095 + 4095) % 4095 + 1);
}

std::uint32_t time_word(int hours, int minutes, bool shown, int event_nibble, int serial_bit) {
    const std::uint32_t d1 = kFirstPattern[std::clamp(hours / 10, 0, 2)];
    const std::uint32_t d2 = kSegment[hours % 10], d3 = kSegment[minutes / 10 % 10], d4 = kSegment[minutes % 10];
    std::uint32_t w = 0;
    w |= ((d1 >> 2) & 1) << 25 | (d1 & 1) << 24;
    w |= (d2 & 0x1F) << 26 | ((d2 >> 5) & 3) << 16;
    w |= (d3 & 0x3F) << 18 | ((d3 >> 6) & 1) << 9;
    w |= (d4 & 0x3F) << 10 | ((d4 >> 6) & 1) << 31;
    if (shown) w |= 0x100;
    w |= static_cast<std::uint32_t>(serial_bit & 1) << 7;
    w |= static_cast<std::uint32_t>(event_nibble & 0xF);
    return w;
}

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size, std::uint64_t hash) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

bool generate(const Options& o, const std::string& path, Expected& e, std::string& error) {
    platform::TraceWriter out;
    if (!out.open(path, o.geometry, o.idle_ms)) {
        error = "cannot write " + path;
        return false;
    }
    e = Expected{};
    for (auto& h : e.channel_hash) h = 14695981039346656037ull;
    if (o.type != 1 && o.type != 9) e.channel_words[2] = 0;
    const std::uint32_t ppe = std::max<std::uint32_t>(1, std::min<std::uint32_t>(o.geometry.packets_per_entry, 64));

    Tape tape;
    tape.origin = o.skip > 0 ? std::int64_t(o.skip) + 1000 - 256 * (kStartWord + 1) : 0;
    std::int64_t packets = o.no_tape ? 0 : o.packets;
    if (o.bad_packets) packets -= (packets + 4) % ppe;
    if (o.status_after >= 0) packets = std::min(packets, o.status_after);
    const std::int64_t end_sample = std::int64_t(o.first_sample) + packets * o.count;
    const int words = o.time_codes && end_sample > tape.origin ? static_cast<int>((end_sample - tape.origin) / 256) : 0;
    const int blocks = words / 32;
    int blocks_sent = 0, stored_words = 0;

    auto send_blocks = [&](std::int64_t upto) {
        while (blocks_sent < blocks && tape.position(32 * blocks_sent + 31) < upto) {
            std::vector<std::uint8_t> m = pack({80, 17, 10});
            for (int i = 0; i < 32; ++i) {
                const int j = 32 * blocks_sent + i;
                append_le32(m, static_cast<std::uint32_t>(tape.position(j)));
                append_le32(m, tape.word(j, o.skip));
            }
            out.add(message(std::move(m)));
            if (stored_words < kTimeCodeLimit) stored_words += 32;
            ++blocks_sent;
        }
    };

    std::int64_t written = 0;  // mapping index (start_sample 0)
    bool full = false;
    std::uint64_t slots = 0;
    auto after_slot = [&](std::int64_t sample_end) {
        ++slots;
        if (slots == ppe) {
            out.add(control(platform::TraceKind::sync));
            if (o.extra_messages) {
                out.add(message(pack({109, 16, 777, 0})));
                ++e.acks;
                out.add(message(pack({109, 17, 150, 5})));
            }
        }
        if (slots % ppe == 0) send_blocks(sample_end);
    };

    for (std::int64_t p = 0; p < packets; ++p) {
        if (o.bad_packets && p == ppe) {
            const std::int32_t s = o.first_sample + static_cast<std::int32_t>(p) * o.count;
            platform::TraceRecord bad = packet(s, o.count);
            bad.bytes[309] = 0;
            out.add(bad);
            after_slot(s);
            bad = packet(s, o.count);
            bad.bytes[6] = 75;
            out.add(bad);
            after_slot(s);
            out.add(packet(s, o.count, 1));
            after_slot(s);
            out.add(packet(s, o.count, 0, 919));
            after_slot(s);
            e.packet_errors = 4;
        }
        const bool jumped = o.jump_at >= 0 && p >= o.jump_at;
        const std::int64_t s = o.first_sample + (p + (jumped ? 1 : 0)) * o.count;
        out.add(packet(static_cast<std::int32_t>(s), o.count));
        const std::int64_t end = s + o.count;
        if (end > o.skip && !full && !jumped) {
            if (written + o.count > kRawEcgSamples) {
                full = true;
            } else {
                for (int c = 0; c < 3; ++c)
                    for (int i = 0; i < o.count; ++i) {
                        const std::uint16_t v = sample_value(s + i, c + 1);
                        e.channel_hash[c] = fnv1a(reinterpret_cast<const std::uint8_t*>(&v), 2, e.channel_hash[c]);
                    }
                written += o.count;
                if (written + kFullMarginSamples > kRawEcgSamples)
                    full = true;
                else
                    e.samples_written += o.count;
            }
        }
        after_slot(end);
    }
    e.samples_stored = written;

    if (o.no_tape) {
        out.add(message(pack({109, 16, 150, 115})));
        ++e.acks;
        out.add(message(pack({80, 17, 1, 36})));
        out.add(control(platform::TraceKind::pause, 100));
        out.add(message(pack({80, 17, 4})));
        e.status = 115;
    } else if (o.status_after >= 0) {
        out.add(message(pack({109, 16, 150, static_cast<std::uint32_t>(o.status)})));
        ++e.acks;
        e.status = o.status;
        if (o.status == 114) e.speed_error = 1;
        // The deck goes silent: the transfer ends by its time limit.
    } else {
        send_blocks(end_sample + 1);
        if (o.end_status) {
            out.add(message(pack({109, 16, 150, static_cast<std::uint32_t>(o.end_status)})));
            ++e.acks;
            e.status = o.end_status;
            if (o.end_status == 114) e.speed_error = 1;
            if (o.end_status == 115 && packets > 0) e.status = 0;
        }
        out.add(control(platform::TraceKind::sync));
        out.add(control(platform::TraceKind::pause, 100));
        out.add(control(platform::TraceKind::disable));
    }
    if (!out.close()) {
        error = "cannot write " + path;
        return false;
    }

    // What the reader makes of it.
    if (stored_words > kStartWord + 1) {
        e.start_time_code = 0x1423;
        e.start_offset = static_cast<std::int32_t>(tape.position(kStartWord + 1) - o.skip);
    }
    if (stored_words > 500 && stored_words >= kRunningWord) {
        e.serial_text = "SN:12345 / 1234";
        e.recording_date = "12/25/1999";
        e.wendle_line = "  RTC: 14:30  Date(dd/mm/yy):25/12/99 Serial Number: 12345  Hours run: 1234";
    }
    std::vector<int> marks;
    if (o.skip > 0) marks.push_back(50);
    for (int j : kEventWords) marks.push_back(j);
    if (stored_words > 500)
        for (int j : marks) {
            if (j >= stored_words) continue;
            const std::int64_t pos = tape.position(j) - o.skip;
            if (pos <= 0) continue;
            if (full && pos >= e.samples_written) continue;
            e.events.push_back(static_cast<std::int32_t>(pos));
        }
    if (o.jump_at >= 0 && o.jump_at < packets) {
        e.exit_code = 120;  // the tape was not read whole
        e.deck_state = 3;
    } else if (full) {
        e.exit_code = 2;
        e.deck_state = 3;
    } else if (e.status != 0) {
        e.exit_code = e.status;
        e.deck_state = 3;
    } else if (e.samples_written == 0) {
        e.exit_code = 121;  // nothing stored is no success
        e.deck_state = 3;
    }
    return true;
}

bool write_expected(const std::string& path, const Expected& e) {
    platform::UniqueFile file = platform::open_file(path, "w");
    if (!file) return false;
    std::FILE* f = file.get();
    std::fprintf(f, "exit_code=%d\ndeck_state=%d\nsamples_written=%d\nsamples_stored=%lld\n", e.exit_code, e.deck_state,
                 e.samples_written, static_cast<long long>(e.samples_stored));
    for (int c = 0; c < 3; ++c)
        std::fprintf(f, "channel%d_fnv1a=%016llx\n", c + 1, static_cast<unsigned long long>(e.channel_hash[c]));
    std::fprintf(f, "start_time_code=%d\nstart_offset=%d\nserial_text=%s\nrecording_date=%s\nwendle=%s\n",
                 e.start_time_code, e.start_offset, e.serial_text.c_str(), e.recording_date.c_str(),
                 e.wendle_line.c_str());
    std::fprintf(f, "speed_error=%d\nstatus=%d\nscale=%d\nchannel_words=%d,%d,%d\n", e.speed_error, e.status, e.scale,
                 e.channel_words[0], e.channel_words[1], e.channel_words[2]);
    std::fprintf(f, "events=");
    for (std::size_t i = 0; i < e.events.size(); ++i) std::fprintf(f, "%s%d", i ? "," : "", e.events[i]);
    std::fprintf(f, "\npacket_errors=%d\nacks=%d\n", e.packet_errors, e.acks);
    return platform::close_file(file);
}

bool read_expected(const std::string& path, std::vector<std::pair<std::string, std::string>>& fields) {
    const platform::UniqueFile f = platform::open_file(path, "r");
    if (!f) return false;
    char line[4096];
    while (std::fgets(line, sizeof line, f.get())) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        const auto eq = s.find('=');
        if (eq != std::string::npos) fields.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    return true;
}

}  // namespace tv::tapegen
