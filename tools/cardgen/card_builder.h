// A recorder-card encoder for the tests, written from the card formats independently of the
// program's decoders: sector scrambling and checksums, 10-bit, nibble-delta, 12-lead and
// bit-stream sectors, the start sector, the index, config.dat and the empty patient files.
//
// Decisions where the formats leave a point open (the decoder must agree, and is strict):
//  - A bit-stream sector is used up by the fetch of a data byte above 499; the encoder writes
//    one continuous stream, so the choice never shows in its output.
//  - "Bits needed for 126 - previous position" is 0 bits when that value is 0 or less.
//  - Event trains in the tests use spans divisible by N - 1, so float rounding never matters.
//  - An index entry's length byte counts the whole entry, its tag and length bytes included.
//  - Offsets 3-4 of a stream sector in which no block begins hold 0.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/files.h"
#include "platform/fs.h"

namespace cardgen {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// CRC-16/MCRF4XX, bit by bit.
inline std::uint16_t crc_step(std::uint16_t crc, std::uint8_t b) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : static_cast<std::uint16_t>(crc >> 1);
    return crc;
}

// Scrambles bytes 5..511 with the running CRC's low (or high) byte and stores the CRC at 3..4.
inline void scramble(std::uint8_t* s, bool high) {
    std::uint16_t crc = 0xFFFF;
    for (int i = 5; i < 512; ++i) {
        const std::uint8_t plain = s[i];
        s[i] = static_cast<std::uint8_t>(plain ^ (high ? crc >> 8 : crc & 0xFF));
        crc = crc_step(crc, plain);
    }
    tv::store_le16(s + 3, crc);
}

inline bool high_form(std::uint8_t type) {
    return type == 4 || type == 5 || type == 48 || type == 64 || type == 65 || type == 130 || type == 131;
}

using Sector = std::array<std::uint8_t, 512>;

struct StartInfo {
    std::uint8_t type = 129;
    unsigned rec = 5;
    std::uint8_t format = 2;
    std::uint8_t time[6] = {30, 20, 10, 15, 3, 7};  // s m h d M yy
    std::string serial = "SN123456";
    std::string recorder_text;
    std::uint8_t length_hours = 24;
};

inline Sector start_sector(const StartInfo& i, bool scrambled = true) {
    Sector s{};
    s[0] = i.type;
    tv::store_le16(&s[1], i.rec);
    std::memcpy(&s[6], i.time, 6);
    s[15] = i.format;
    tv::store_le16(&s[16], 0x0102);
    std::memcpy(&s[18], i.serial.data(), std::min<std::size_t>(8, i.serial.size()));
    std::memcpy(&s[164], i.recorder_text.data(), std::min<std::size_t>(18, i.recorder_text.size()));
    s[182] = i.length_hours;
    if (scrambled) scramble(s.data(), high_form(i.type));
    return s;
}

// Packs 10-bit values, four to five bytes, least significant bit first.
inline void pack10(const std::vector<int>& values, std::uint8_t* out) {
    for (std::size_t g = 0; g * 4 < values.size(); ++g) {
        std::uint64_t bits = 0;
        for (int k = 0; k < 4 && g * 4 + k < values.size(); ++k)
            bits |= static_cast<std::uint64_t>(values[g * 4 + k] & 0x3FF) << (10 * k);
        for (int b = 0; b < 5; ++b) out[g * 5 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
}

// Stream order of a fixed-layout sector: (channel, sample) of each value.
inline std::vector<std::pair<int, int>> value_order(bool two_channels) {
    std::vector<std::pair<int, int>> o;
    if (two_channels) {
        for (int g = 0; g < 96; ++g) {
            o.push_back({0, 2 * g});
            o.push_back({1, 2 * g});
            o.push_back({0, 2 * g + 1});
            o.push_back({1, 2 * g + 1});
        }
    } else {
        for (int i = 0; i < 128; ++i)
            for (int c = 0; c < 3; ++c) o.push_back({c, i});
    }
    return o;
}

struct DataSector {
    std::uint8_t type = 2;
    unsigned rec = 5;
    bool button = false;
    std::vector<int> events;    // sample indexes
    std::vector<int> values;    // 10-bit codes in stream order
    std::uint8_t top_bits = 0;  // nibble-delta: header byte 8
    std::vector<int> nibbles;   // fine nibbles, -8..7, in use order
};

inline Sector data_sector(const DataSector& d, bool scrambled = true) {
    Sector s{};
    s[0] = d.type;
    tv::store_le16(&s[1], d.rec);
    s[6] = d.button ? 1 : 0;
    s[8] = d.top_bits;
    s[11] = static_cast<std::uint8_t>(d.events.size());
    for (std::size_t i = 0; i < d.events.size() && i < 10; ++i) s[12 + 2 * i] = static_cast<std::uint8_t>(d.events[i]);
    for (std::size_t n = 0; n < d.nibbles.size(); ++n) {
        const std::uint8_t v = static_cast<std::uint8_t>(d.nibbles[n] & 0x0F);
        std::uint8_t& b = s[31 - n / 2];
        b = (n & 1) ? static_cast<std::uint8_t>((b & 0x0F) | (v << 4)) : static_cast<std::uint8_t>((b & 0xF0) | v);
    }
    pack10(d.values, &s[32]);
    if (scrambled) scramble(s.data(), high_form(d.type));
    return s;
}

// Nibble-delta encoding of target samples (per channel), tracking the decoder's state:
// prev is clamped to 400..3695 before each step; coarse steps keep the value before the nibble.
// Returns false when a target cannot be reached exactly.
inline bool nibble_encode(const std::vector<std::vector<int>>& target, bool two, DataSector& d) {
    const int chans = two ? 2 : 3;
    const int events = static_cast<int>(d.events.size());
    d.values.clear();
    d.nibbles.clear();
    d.top_bits = 0;
    int prev[3] = {0, 0, 0};
    bool first[3] = {true, true, true};
    for (auto [c, i] : value_order(two)) {
        if (c >= chans) continue;
        const int t = target[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
        if (first[c]) {
            d.top_bits = static_cast<std::uint8_t>(d.top_bits | ((t >> 10) & 3) << (2 * c));
            d.values.push_back(t & 0x3FF);
            prev[c] = t;
            first[c] = false;
            continue;
        }
        const int p = std::min(std::max(prev[c], 400), 3695);
        int diff = t - p;
        if (diff > 2048) diff -= 4096;
        if (diff < -2048) diff += 4096;
        const bool nibbles_left = events * 2 < 20 - static_cast<int>(d.nibbles.size()) / 2;
        if (diff >= 0 && diff <= 400) {
            d.values.push_back(diff);
            prev[c] = t;
        } else if (diff >= -400 && diff < 0) {
            d.values.push_back(1024 + diff);
            prev[c] = t;
        } else if (diff > 400) {
            int v = 401 + (diff - 408 + 8) / 16;
            v = std::min(std::max(v, 401), 503);
            const int base = 16 * (v - 401) + 408;
            const int n = base - diff;  // sample = base - n
            if (n < -8 || n > 7 || (n != 0 && !nibbles_left)) return false;
            d.values.push_back(v);
            if (nibbles_left) d.nibbles.push_back(n);
            prev[c] = (p + base) & 0xFFF;
        } else {
            int v = 521 + (diff + 2040 + 8) / 16;
            v = std::min(std::max(v, 521), 623);
            const int step = 16 * (v - 521) - 2040;
            const int n = diff - step;  // sample = step + n
            if (n < -8 || n > 7 || (n != 0 && !nibbles_left)) return false;
            d.values.push_back(v);
            if (nibbles_left) d.nibbles.push_back(n);
            prev[c] = (p + step) & 0xFFF;
        }
    }
    return true;
}

// --- bit stream ---

class BitWriter {
public:
    void put(unsigned value, int n) {
        for (int i = 0; i < n; ++i) {
            if (bit_ % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1u) bytes.back() |= static_cast<std::uint8_t>(1u << (bit_ % 8));
            ++bit_;
        }
    }
    std::uint64_t bit() const { return bit_; }
    Bytes bytes;

private:
    std::uint64_t bit_ = 0;
};

struct Field {
    unsigned value;
    int bits;
};
using Code = std::vector<Field>;

inline int bits_for(int v) {
    int b = 0;
    while (v > 0) {
        ++b;
        v >>= 1;
    }
    return b;
}

// Every codeword of a nibble type (3 excluded: it borrows 0, 1 or 2), by difference.
inline std::map<int, Code> code_table(int type) {
    std::map<int, Code> t;
    auto add = [&](int d, Code c) {
        auto it = t.find(d);
        int len = 0, old = 0;
        for (auto& f : c) len += f.bits;
        if (it != t.end())
            for (auto& f : it->second) old += f.bits;
        if (it == t.end() || len < old) t[d] = c;
    };
    auto ladder = [&](Code pre_pos, Code pre_neg) {
        for (unsigned y = 0; y < 31; ++y) {
            Code a = pre_pos;
            a.push_back({y, 5});
            add(static_cast<int>(y) + 7, a);
            Code b = pre_neg;
            b.push_back({y, 5});
            add(static_cast<int>(y) - 37, b);
        }
        for (unsigned z = 0; z < 31; ++z) {
            Code a = pre_pos;
            a.push_back({31, 5});
            a.push_back({z, 5});
            add(static_cast<int>(z) + 38, a);
            Code b = pre_neg;
            b.push_back({31, 5});
            b.push_back({z, 5});
            add(static_cast<int>(z) - 68, b);
        }
        for (unsigned w = 0; w < 32; ++w) {
            Code a = pre_pos;
            a.push_back({31, 5});
            a.push_back({31, 5});
            a.push_back({w, 5});
            add(static_cast<int>(w) + 69, a);
            Code b = pre_neg;
            b.push_back({31, 5});
            b.push_back({31, 5});
            b.push_back({w, 5});
            add(static_cast<int>(w) - 100, b);
        }
    };
    switch (type) {
        case 0:
            for (unsigned x = 0; x <= 4; ++x) add(static_cast<int>(x) - 2, {{x, 3}});
            for (unsigned y = 0; y < 8; ++y)
                add(y < 4 ? static_cast<int>(y) - 6 : static_cast<int>(y) - 1, {{5, 3}, {y, 3}});
            ladder({{6, 3}}, {{7, 3}});
            break;
        case 1:
            for (unsigned x = 0; x <= 6; ++x) add(static_cast<int>(x) - 3, {{x, 3}});
            for (unsigned y = 0; y <= 5; ++y)
                add(y <= 2 ? static_cast<int>(y) - 6 : static_cast<int>(y) + 1, {{7, 3}, {y, 3}});
            ladder({{7, 3}, {6, 3}}, {{7, 3}, {7, 3}});
            break;
        case 2:
            for (unsigned x = 0; x <= 12; ++x) add(static_cast<int>(x) - 6, {{x, 4}});
            for (unsigned y = 0; y < 16; ++y)
                add(y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1, {{13, 4}, {y, 4}});
            for (unsigned y = 0; y < 32; ++y)
                add(y < 16 ? static_cast<int>(y) - 30 : static_cast<int>(y) - 1, {{14, 4}, {y, 5}});
            for (unsigned y = 0; y <= 29; ++y)
                add(y <= 14 ? static_cast<int>(y) - 45 : static_cast<int>(y) + 16, {{15, 4}, {y, 5}});
            for (unsigned z = 0; z < 16; ++z)
                add(z < 8 ? static_cast<int>(z) - 53 : static_cast<int>(z) + 38, {{15, 4}, {30, 5}, {z, 4}});
            for (unsigned z = 0; z <= 29; ++z)
                add(z <= 14 ? static_cast<int>(z) - 68 : static_cast<int>(z) + 39, {{15, 4}, {31, 5}, {z, 5}});
            for (unsigned w = 0; w < 32; ++w) {
                add(static_cast<int>(w) + 69, {{15, 4}, {31, 5}, {30, 5}, {w, 5}});
                add(static_cast<int>(w) - 100, {{15, 4}, {31, 5}, {31, 5}, {w, 5}});
            }
            break;
        case 4:
            for (unsigned x = 0; x <= 12; ++x) add(static_cast<int>(x) - 6, {{x, 4}});
            for (unsigned y = 0; y < 16; ++y)
                add(y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1, {{13, 4}, {y, 4}});
            for (unsigned y = 0; y < 31; ++y) {
                add(static_cast<int>(y) + 15, {{14, 4}, {y, 5}});
                add(static_cast<int>(y) - 45, {{15, 4}, {y, 5}});
            }
            for (unsigned z = 0; z < 16; ++z) {
                add(static_cast<int>(z) + 46, {{14, 4}, {31, 5}, {z, 4}});
                add(static_cast<int>(z) - 61, {{15, 4}, {31, 5}, {z, 4}});
            }
            break;
        case 5:
            for (unsigned x = 0; x <= 12; ++x) add(static_cast<int>(x) - 6, {{x, 4}});
            for (unsigned y = 0; y < 16; ++y)
                add(y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1, {{13, 4}, {y, 4}});
            for (unsigned y = 0; y < 15; ++y) {
                add(static_cast<int>(y) + 15, {{14, 4}, {y, 4}});
                add(static_cast<int>(y) - 29, {{15, 4}, {y, 4}});
            }
            for (unsigned z = 0; z < 16; ++z) {
                add(static_cast<int>(z) + 30, {{14, 4}, {15, 4}, {z, 4}});
                add(static_cast<int>(z) - 45, {{15, 4}, {15, 4}, {z, 4}});
            }
            break;
        case 6:
            for (unsigned x = 0; x <= 12; ++x) add(static_cast<int>(x) - 6, {{x, 4}});
            for (unsigned y = 0; y < 8; ++y) {
                add(y < 4 ? static_cast<int>(y) - 10 : static_cast<int>(y) + 3, {{13, 4}, {y, 3}});
                add(y < 4 ? static_cast<int>(y) - 14 : static_cast<int>(y) + 7, {{14, 4}, {y, 3}});
            }
            for (unsigned y = 0; y <= 13; ++y)
                add(y <= 6 ? static_cast<int>(y) - 21 : static_cast<int>(y) + 8, {{15, 4}, {y, 4}});
            for (unsigned z = 0; z < 8; ++z) {
                add(static_cast<int>(z) + 22, {{15, 4}, {14, 4}, {z, 3}});
                add(static_cast<int>(z) - 29, {{15, 4}, {15, 4}, {z, 3}});
            }
            break;
        case 7:
            for (unsigned x = 0; x <= 14; ++x) add(static_cast<int>(x) - 7, {{x, 4}});
            for (unsigned y = 0; y < 32; ++y)
                add(y > 15 ? static_cast<int>(y) - 8 : static_cast<int>(y) - 23, {{15, 4}, {y, 5}});
            break;
    }
    return t;
}

inline const std::map<int, Code>& codes(int type) {
    static std::map<int, Code> tables[8];
    static bool made = false;
    if (!made) {
        for (int i = 0; i < 8; ++i)
            if (i != 3) tables[i] = code_table(i);
        made = true;
    }
    return tables[type];
}

inline int multiplier(int type) {
    static const int m[8] = {3, 3, 3, 3, 5, 7, 11, 15};
    return m[type];
}

// One block: for each channel present, the running values a[0..127] and its nibble type; a
// channel with an empty vector is absent. Events as a header item.
struct Block {
    std::vector<int> a[3];
    int type[3] = {0, 0, 0};
    std::vector<int> events;  // 1..7 positions (ascending), or a train
    bool train = false;
    int train_first = 0, train_span = 0, train_count = 0;
};

// Differences each nibble type can code (for tests that draw random walks).
inline std::vector<int> codable(int type) {
    std::vector<int> d;
    if (type == 3) type = 1;
    for (auto& [k, v] : codes(type)) d.push_back(k);
    return d;
}

inline void put_code(BitWriter& w, const Code& c) {
    for (auto& f : c) w.put(f.value, f.bits);
}

// Writes a block; returns false when a difference cannot be coded.
inline bool encode_block(BitWriter& w, const Block& b, int channels) {
    for (int c = 0; c < channels; ++c)
        if (b.a[c].empty()) {
            w.put(1, 1);
            w.put(0, 3);
            w.put(static_cast<unsigned>(c + 1), 5);
            w.put(0, 7);
        }
    if (b.train) {
        w.put(1, 1);
        w.put(0, 3);
        w.put(static_cast<unsigned>(b.train_count - 8), 5);
        w.put(static_cast<unsigned>(b.train_span), 7);
        w.put(static_cast<unsigned>(b.train_first), bits_for(126 - b.train_span));
    } else if (b.events.empty()) {
        w.put(0, 1);
    } else {
        w.put(1, 1);
        w.put(static_cast<unsigned>(b.events.size()), 3);
        w.put(static_cast<unsigned>(b.events[0]), 7);
        for (std::size_t i = 1; i < b.events.size(); ++i)
            w.put(static_cast<unsigned>(b.events[i] - b.events[i - 1] - 1), bits_for(126 - b.events[i - 1]));
    }
    for (int c = 0; c < channels; ++c) {
        const auto& a = b.a[c];
        if (a.empty()) continue;
        w.put(static_cast<unsigned>(a[0] / 32), 5);
        w.put(static_cast<unsigned>(a[0] % 32), 5);
        w.put(static_cast<unsigned>(b.type[c]), 3);
        int last = 0;
        for (int i = 1; i < 128; ++i) {
            const int m = multiplier(b.type[c]);
            const int step = a[static_cast<std::size_t>(i)] - a[static_cast<std::size_t>(i) - 1];
            if (step % m != 0) return false;
            const int d = step / m;
            int t = b.type[c];
            if (t == 3) t = last <= 3 ? 1 : (last >= 10 && last <= 37 ? 0 : 2);
            auto it = codes(t).find(d);
            if (it == codes(t).end()) return false;
            put_code(w, it->second);
            if (t <= 2) last = d < 0 ? -d : d;
        }
    }
    return true;
}

// The decoded samples of a block per the output rule.
inline int out_sample(int a) { return std::min(std::max(4 * a + 1, 1), 4095); }

// Splits a stream into sectors of `type`, offsets 3-4 from the block start bits.
inline std::vector<Sector> stream_sectors(const Bytes& stream, const std::vector<std::uint64_t>& block_bits,
                                          std::uint8_t type, unsigned rec) {
    const std::size_t n = (stream.size() + 506) / 507;
    std::vector<Sector> out(n);
    std::size_t next_block = 0;
    for (std::size_t k = 0; k < n; ++k) {
        Sector& s = out[k];
        s[0] = type;
        tv::store_le16(&s[1], rec);
        for (std::size_t i = 0; i < 507 && k * 507 + i < stream.size(); ++i) s[5 + i] = stream[k * 507 + i];
        while (next_block < block_bits.size() && block_bits[next_block] < k * 4056) ++next_block;
        if (next_block < block_bits.size() && block_bits[next_block] < (k + 1) * 4056)
            tv::store_le16(&s[3], static_cast<unsigned>(block_bits[next_block] - k * 4056 + 40));
    }
    return out;
}

struct IndexItem {
    std::uint8_t tag;
    std::uint8_t time[6];
    std::uint32_t sector = 0;
    unsigned bit = 0;
};

inline Sector index_sector(const std::vector<IndexItem>& items, unsigned rec, std::uint8_t type = 32) {
    Sector s{};
    s[0] = type;
    tv::store_le16(&s[1], rec);
    std::size_t off = 3;
    for (auto& it : items) {
        const std::size_t len = it.tag == 3 ? 8 : it.tag == 1 ? 12 : 14;
        s[off] = it.tag;
        s[off + 1] = static_cast<std::uint8_t>(len);
        std::memcpy(&s[off + 2], it.time, 6);
        if (len >= 12) tv::store_le32(&s[off + 8], it.sector);
        if (len >= 14) tv::store_le16(&s[off + 12], it.bit);
        off += len;
    }
    s[off] = 0;
    return s;
}

// --- card files ---

inline Bytes config_dat(unsigned rec, unsigned pdn, unsigned wav, const std::string& name, const std::string& id) {
    Bytes c(512, 0);
    c[0] = 1;
    tv::store_le16(&c[1], rec);
    tv::store_le16(&c[10], pdn);
    tv::store_le16(&c[12], wav);
    c[95] = 129;
    std::memcpy(&c[96], name.data(), name.size());
    std::memcpy(&c[256], id.data(), id.size());
    return c;
}

inline Bytes empty_wav() {
    Bytes w(65536, 0);
    std::uint8_t* p = w.data();
    std::memcpy(p, "RIFF", 4);
    tv::store_le32(p + 4, 65528);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    tv::store_le32(p + 16, 18);
    tv::store_le16(p + 20, 1);
    tv::store_le16(p + 22, 1);
    tv::store_le32(p + 24, 8000);
    tv::store_le32(p + 28, 8000);
    tv::store_le16(p + 32, 1);
    tv::store_le16(p + 34, 8);
    tv::store_le16(p + 36, 0);
    std::memcpy(p + 38, "fact", 4);
    tv::store_le32(p + 42, 4);
    tv::store_le32(p + 46, 65477);
    std::memcpy(p + 50, "data", 4);
    tv::store_le32(p + 54, 65477);
    return w;
}

inline void write_bytes(const fs::path& p, const void* data, std::size_t n) {
    fs::create_directories(p.parent_path());
    std::ofstream o(p, std::ios::binary | std::ios::trunc);
    o.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
}

inline Bytes read_bytes(const fs::path& p) {
    Bytes b;
    tv::platform::read_whole_file(p.string(), b);
    return b;
}

inline void write_ecg(const fs::path& p, const std::vector<Sector>& sectors) {
    Bytes all;
    for (auto& s : sectors) all.insert(all.end(), s.begin(), s.end());
    write_bytes(p, all.data(), all.size());
}

// A card folder: config.dat, cnav.dat, patient.wav, ecg.dat.
inline void write_card(const fs::path& card, const Bytes& config, std::size_t cnav_size,
                       const std::vector<Sector>& ecg) {
    fs::create_directories(card);
    write_bytes(card / "config.dat", config.data(), config.size());
    Bytes cnav(cnav_size, 0);
    write_bytes(card / "cnav.dat", cnav.data(), cnav.size());
    const Bytes w = empty_wav();
    write_bytes(card / "patient.wav", w.data(), w.size());
    write_ecg(card / "ecg.dat", ecg);
}

// --- whole recordings ---

// The 10-bit value of data sector k, sample i, channel c of a card made with `seed` (0 included).
inline int ramp_value(int seed, int k, int i, int c) { return (seed * 97 + k * 128 + i + c * 7) % 1024; }

// A three-channel recording `rec` of `sectors` fixed-layout sectors of ramp values, the patient
// button pressed at sample 5 of sector 3, then an end sector.
inline std::vector<Sector> three_channel_recording(unsigned rec = 5, int seed = 0, int sectors = 10) {
    StartInfo st;
    st.rec = rec;
    std::vector<Sector> s = {start_sector(st)};
    for (int k = 0; k < sectors; ++k) {
        DataSector d;
        d.type = 2;
        d.rec = rec;
        if (k == 3) {
            d.button = true;
            d.events = {5};
        }
        for (auto [c, i] : value_order(false)) d.values.push_back(ramp_value(seed, k, i, c));
        s.push_back(data_sector(d));
    }
    s.push_back(Sector{});
    return s;
}

// A twelve-lead recording `rec`: two sectors of 30 frames of 8 leads, lead l of frame f of sector k
// holding 100 * l + f + k, one pacing mark each, then an end sector.
inline std::vector<Sector> twelve_lead_recording(unsigned rec = 5) {
    StartInfo st;
    st.rec = rec;
    st.format = 64;
    st.type = 130;
    std::vector<Sector> ecg = {start_sector(st)};
    for (int k = 0; k < 2; ++k) {
        Sector s{};
        s[0] = 64;
        tv::store_le16(&s[1], rec);
        s[7] = 1;
        s[8] = 16;
        for (int f = 0; f < 30; ++f)
            for (int l = 0; l < 8; ++l)
                tv::store_le16(&s[static_cast<std::size_t>(32 + f * 16 + l * 2)],
                               static_cast<unsigned>(100 * l + f + k));
        scramble(s.data(), true);
        ecg.push_back(s);
    }
    ecg.push_back(Sector{});
    return ecg;
}

}  // namespace cardgen
