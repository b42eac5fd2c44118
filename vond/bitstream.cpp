#include "vond/bitstream.h"

#include <algorithm>

#include "common/bytes.h"
#include "vond/card_format.h"

namespace tv::vond {

namespace {

// The difference codes are prefix codes walked node by node: a node reads `bits` bits and the
// first range whose `last` is not below the value decides. A range either ends the code (the
// difference is the value plus `add`) or continues at node `next`.
enum Node : std::uint8_t {
    kLeaf,  // node 0 is a root, never a continuation, so `next` 0 ends the code
    kRoot1,
    kRoot2,
    kRoot4,
    kRoot5,
    kRoot6,
    kRoot7,
    kUp1,  // the long ladders of codes 0, 1 and 2: 31 steps at a time
    kUp2,
    kUp3,
    kDown1,
    kDown2,
    kDown3,
    kZero5,
    kOne7,
    kTwo13,  // shared by codes 2, 4 and 5
    kTwo14,
    kTwo15,
    kTwo15_30,
    kTwo15_31,
    kFour14,
    kFour14_31,
    kFour15,
    kFour15_31,
    kFive14,
    kFive14_15,
    kFive15,
    kFive15_15,
    kSix13,
    kSix14,
    kSix15,
    kSix15_14,
    kSix15_15,
    kSeven15,
    kNodeCount
};
constexpr Node kRoot0 = kLeaf;

struct CodeRange {
    std::uint8_t last;
    std::int8_t add;
    Node next;
};
struct CodeNode {
    std::uint8_t bits;
    std::array<CodeRange, 4> ranges;  // ascending; the last one used ends at 2^bits - 1
};

constexpr CodeRange leaf(int last, int add) {
    return {static_cast<std::uint8_t>(last), static_cast<std::int8_t>(add), kLeaf};
}
constexpr CodeRange go(int last, Node next) { return {static_cast<std::uint8_t>(last), 0, next}; }

constexpr std::array<CodeNode, kNodeCount> kNodes = {{
    {3, {leaf(4, -2), go(5, kZero5), go(6, kUp1), go(7, kDown1)}},             // kRoot0
    {3, {leaf(6, -3), go(7, kOne7)}},                                          // kRoot1
    {4, {leaf(12, -6), go(13, kTwo13), go(14, kTwo14), go(15, kTwo15)}},       // kRoot2
    {4, {leaf(12, -6), go(13, kTwo13), go(14, kFour14), go(15, kFour15)}},     // kRoot4
    {4, {leaf(12, -6), go(13, kTwo13), go(14, kFive14), go(15, kFive15)}},     // kRoot5
    {4, {leaf(12, -6), go(13, kSix13), go(14, kSix14), go(15, kSix15)}},       // kRoot6
    {4, {leaf(14, -7), go(15, kSeven15)}},                                     // kRoot7
    {5, {leaf(30, 7), go(31, kUp2)}},                                          // kUp1
    {5, {leaf(30, 38), go(31, kUp3)}},                                         // kUp2
    {5, {leaf(31, 69)}},                                                       // kUp3
    {5, {leaf(30, -37), go(31, kDown2)}},                                      // kDown1
    {5, {leaf(30, -68), go(31, kDown3)}},                                      // kDown2
    {5, {leaf(31, -100)}},                                                     // kDown3
    {3, {leaf(3, -6), leaf(7, -1)}},                                           // kZero5
    {3, {leaf(2, -6), leaf(5, 1), go(6, kUp1), go(7, kDown1)}},                // kOne7
    {4, {leaf(7, -14), leaf(15, -1)}},                                         // kTwo13
    {5, {leaf(15, -30), leaf(31, -1)}},                                        // kTwo14
    {5, {leaf(14, -45), leaf(29, 16), go(30, kTwo15_30), go(31, kTwo15_31)}},  // kTwo15
    {4, {leaf(7, -53), leaf(15, 38)}},                                         // kTwo15_30
    {5, {leaf(14, -68), leaf(29, 39), go(30, kUp3), go(31, kDown3)}},          // kTwo15_31
    {5, {leaf(30, 15), go(31, kFour14_31)}},                                   // kFour14
    {4, {leaf(15, 46)}},                                                       // kFour14_31
    {5, {leaf(30, -45), go(31, kFour15_31)}},                                  // kFour15
    {4, {leaf(15, -61)}},                                                      // kFour15_31
    {4, {leaf(14, 15), go(15, kFive14_15)}},                                   // kFive14
    {4, {leaf(15, 30)}},                                                       // kFive14_15
    {4, {leaf(14, -29), go(15, kFive15_15)}},                                  // kFive15
    {4, {leaf(15, -45)}},                                                      // kFive15_15
    {3, {leaf(3, -10), leaf(7, 3)}},                                           // kSix13
    {3, {leaf(3, -14), leaf(7, 7)}},                                           // kSix14
    {4, {leaf(6, -21), leaf(13, 8), go(14, kSix15_14), go(15, kSix15_15)}},    // kSix15
    {3, {leaf(7, 22)}},                                                        // kSix15_14
    {3, {leaf(7, -29)}},                                                       // kSix15_15
    {5, {leaf(15, -23), leaf(31, -8)}},                                        // kSeven15
}};

// The walk stops at the first range that holds the value read, so every node must reach its
// highest value, through ascending ranges.
constexpr bool codes_complete() {
    for (const CodeNode& n : kNodes) {
        const int top = (1 << n.bits) - 1;
        int below = -1;
        bool reached = false;
        for (const CodeRange& r : n.ranges) {
            if (r.last <= below || r.last > top) return false;
            if (r.last == top) {
                reached = true;
                break;
            }
            below = r.last;
        }
        if (!reached) return false;
    }
    return true;
}
static_assert(codes_complete());

// Per code (the 3-bit code number of a channel's block): where its tree starts, the step every
// difference is multiplied by, and whether it feeds the adaptive choice of code 3.
struct DifferenceCode {
    Node root;
    std::uint8_t multiplier;
    bool adapts;
};
constexpr std::array<DifferenceCode, 8> kCodes = {{
    {kRoot0, 3, true},
    {kRoot1, 3, true},
    {kRoot2, 3, true},
    {kRoot0, 0, false},  // code 3 stands for 0, 1 or 2 and never reaches the table
    {kRoot4, 5, false},
    {kRoot5, 7, false},
    {kRoot6, 11, false},
    {kRoot7, 15, false},
}};

// What differs between the stream sector types: how many channels each block carries.
struct StreamFormat {
    std::uint8_t type;
    int channels;
};
constexpr std::array<StreamFormat, 3> kFormats = {{
    {kTypeStreamOne, 1},
    {kTypeStreamTwo, 2},
    {kTypeStreamThree, 3},
}};
static_assert(kFormats.size() == static_cast<std::size_t>(BitStreamDecoder::kMaxChannels));

int stream_channels(std::uint8_t type) {
    for (const StreamFormat& f : kFormats)
        if (f.type == type) return f.channels;
    return 0;
}

}  // namespace

int bits_for(int v) {
    int b = 0;
    while (v > 0) {
        ++b;
        v >>= 1;
    }
    return b;
}

void BitStreamDecoder::reset() {
    bits_ = 0;
    nbits_ = 0;
    pos_ = 0;
    state_ = -4;
    check_position_ = true;
    window_ = 0;
    channel_ = 0;
    used_up_ = false;
    fault_ = false;
    pending_bit_ = -1;
}

void BitStreamDecoder::position(int bit) {
    bits_ = 0;
    nbits_ = 8 - bit % 8;
    pos_ = bit / 8 - 4;
    state_ = -5;
    check_position_ = false;
    channel_ = 0;
    used_up_ = false;
    pending_bit_ = bit;
}

// data points at the sector's data area (sector byte 5).
bool BitStreamDecoder::get_bits(const std::uint8_t* data, int n, unsigned& value) {
    while (nbits_ < n) {
        // Bytes 507 and on lie beyond the sector: a stream that needs them is damaged.
        if (pos_ >= kPayloadSize || pos_ < -8) {
            fault_ = true;
            return false;
        }
        const std::uint8_t b = pos_ < 0 ? carry_[static_cast<std::size_t>(pos_ + 8)] : data[pos_];
        if (pos_ > 499) used_up_ = true;
        bits_ |= static_cast<std::uint32_t>(b) << nbits_;
        nbits_ += 8;
        ++pos_;
    }
    value = bits_ & ((1u << n) - 1u);
    bits_ >>= n;
    nbits_ -= n;
    return true;
}

bool BitStreamDecoder::only_zeros_left(const std::uint8_t* data) const {
    if (bits_ != 0) return false;
    for (int p = std::max(pos_, -8); p < kPayloadSize; ++p)
        if ((p < 0 ? carry_[static_cast<std::size_t>(p + 8)] : data[p]) != 0) return false;
    return true;
}

bool BitStreamDecoder::read_difference(const std::uint8_t* data, int type, int& d, int& m) {
    // Code 3 has no table of its own: it picks code 1, 0 or 2 by the size of the last difference.
    if (type == 3) type = last_diff_ <= 3 ? 1 : (last_diff_ >= 10 && last_diff_ <= 37 ? 0 : 2);
    const DifferenceCode& code = kCodes[static_cast<std::size_t>(type)];
    m = code.multiplier;
    const CodeNode* node = &kNodes[code.root];
    for (;;) {
        unsigned v = 0;
        if (!get_bits(data, node->bits, v)) return false;
        const CodeRange* r = node->ranges.data();
        while (v > r->last) ++r;
        if (r->next == kLeaf) {
            d = static_cast<int>(v) + r->add;
            break;
        }
        node = &kNodes[r->next];
    }
    if (code.adapts) last_diff_ = d < 0 ? -d : d;
    return true;
}

void BitStreamDecoder::mark_events(const int* positions, int count) {
    for (int i = 0; i < count; ++i) {
        const int p = positions[i];
        if (p < 0 || p >= kBlock) continue;
        flags_[static_cast<std::size_t>(p)] = 0x1000;
        const int end = std::min(p + 22, kBlock - 1);
        for (int j = p; j <= end; ++j) flags_[static_cast<std::size_t>(j)] |= 0x8000;
        window_ = 23 - (end - p + 1);
    }
}

bool BitStreamDecoder::read_header(const std::uint8_t* sector) {
    const std::uint8_t* data = sector + kPayloadOffset;
    for (auto& f : flags_) {
        if (window_ > 0) {
            f = 0x8000;
            --window_;
        } else {
            f = 0;
        }
    }
    unsigned bit = 0;
    if (!get_bits(data, 1, bit)) return false;
    if (bit == 0) {
        state_ = -2;
        return true;
    }
    unsigned n = 0;
    if (!get_bits(data, 3, n)) return false;
    int positions[40];
    int count = 0;
    if (n == 1) {
        unsigned p = 0;
        if (!get_bits(data, 7, p)) return false;
        positions[count++] = static_cast<int>(p);
    } else if (n == 0) {
        unsigned k = 0, c = 0;
        if (!get_bits(data, 5, k) || !get_bits(data, 7, c)) return false;
        if (c == 0) {
            if (k < 1 || k > 3) {
                fault_ = true;
                return false;
            }
            present_[k - 1] = false;
            state_ = -3;
            return true;
        }
        unsigned e = 0;
        if (!get_bits(data, bits_for(126 - static_cast<int>(c)), e)) return false;
        const int total = static_cast<int>(k) + 8;
        const float step = static_cast<float>(c) / static_cast<float>(total - 1);
        for (int i = 0; i < total; ++i)
            positions[count++] = static_cast<int>(e) + static_cast<int>(static_cast<float>(i) * step + 0.5f);
    } else {
        unsigned f = 0;
        if (!get_bits(data, 7, f)) return false;
        int prev = static_cast<int>(f);
        positions[count++] = prev;
        for (unsigned i = 1; i < n; ++i) {
            unsigned g = 0;
            if (!get_bits(data, bits_for(126 - prev), g)) return false;
            prev = prev + static_cast<int>(g) + 1;
            positions[count++] = prev;
        }
    }
    mark_events(positions, count);
    state_ = -2;
    return true;
}

void BitStreamDecoder::end_channel(std::uint8_t type, Step& r) {
    if (channel_ + 1 < stream_channels(type)) {
        ++channel_;
        state_ = -2;
    } else {
        channel_ = 0;
        state_ = -4;
        r.block_ready = true;
    }
}

BitStreamDecoder::Step BitStreamDecoder::step(const std::uint8_t* sector, bool last) {
    Step r;
    const std::uint8_t type = sector[0];
    const std::uint8_t* data = sector + kPayloadOffset;
    if (!is_stream_type(type)) {
        r.ok = false;
        return r;
    }
    if (state_ == -5) {
        const int bit = pending_bit_;
        bits_ = static_cast<std::uint32_t>(sector[bit / 8]) >> (bit % 8);
        state_ = -4;
        return r;
    }
    for (;;) {
        if (used_up_) {
            std::copy(data + 499, data + 507, carry_.begin());
            pos_ -= kPayloadSize;
            used_up_ = false;
            check_position_ = true;
            r.sector_used = true;
            return r;
        }
        if (fault_) break;
        if (state_ == -4 || state_ == -3) {
            if (state_ == -4) {
                // Zeros to the end of the stream's last sector are padding: a block of zero bits
                // (start value 0, falling) is no recording.
                if (last && only_zeros_left(data)) {
                    r.stream_end = true;
                    return r;
                }
                if (check_position_ && (pos_ > 0 || (pos_ == 0 && nbits_ == 0))) {
                    const int at = 8 * pos_ - nbits_ + 40;
                    const int declared = load_le16(sector + 3);
                    // A last sector that declares no block start holds only the end of the block
                    // before it.
                    if (last && (declared < 40 || declared >= 8 * kSectorSize)) {
                        r.stream_end = true;
                        return r;
                    }
                    if (at != declared) {
                        for (auto& o : out_) o[0] = 0;
                        r.ok = false;
                        return r;
                    }
                    check_position_ = false;
                }
                present_[0] = present_[1] = present_[2] = true;
            }
            if (!read_header(sector)) break;
            continue;
        }
        auto& out = out_[static_cast<std::size_t>(channel_)];
        if (state_ == -2) {
            if (!present_[channel_]) {
                out.fill(0);
                end_channel(type, r);
            } else {
                unsigned h = 0, l = 0;
                if (!get_bits(data, 5, h) || !get_bits(data, 5, l)) break;
                value_ = static_cast<int>(32 * h + l);
                out[0] = static_cast<std::uint16_t>(std::min(4 * value_ + 1, 4095));
                last_diff_ = 0;
                state_ = -1;
            }
        } else if (state_ == -1) {
            unsigned t = 0;
            if (!get_bits(data, 3, t)) break;
            nibble_type_ = static_cast<int>(t);
            state_ = 1;
        } else {
            int d = 0, m = 0;
            if (!read_difference(data, nibble_type_, d, m)) break;
            value_ += d * m;
            out[static_cast<std::size_t>(state_)] = static_cast<std::uint16_t>(std::clamp(4 * value_ + 1, 1, 4095));
            if (++state_ == kBlock) end_channel(type, r);
        }
        if (r.block_ready) return r;
    }
    r.ok = false;
    r.block_ready = false;
    return r;
}

}  // namespace tv::vond
