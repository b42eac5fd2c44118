#include "vond/bitstream.h"

#include <algorithm>

#include "common/bytes.h"
#include "vond/card_format.h"

namespace tv::vond {

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

bool BitStreamDecoder::ladder(const std::uint8_t* data, bool positive, int& d) {
    unsigned y = 0, z = 0, w = 0;
    if (!get_bits(data, 5, y)) return false;
    if (y < 31) {
        d = positive ? static_cast<int>(y) + 7 : static_cast<int>(y) - 37;
        return true;
    }
    if (!get_bits(data, 5, z)) return false;
    if (z < 31) {
        d = positive ? static_cast<int>(z) + 38 : static_cast<int>(z) - 68;
        return true;
    }
    if (!get_bits(data, 5, w)) return false;
    d = positive ? static_cast<int>(w) + 69 : static_cast<int>(w) - 100;
    return true;
}

bool BitStreamDecoder::read_difference(const std::uint8_t* data, int type, int& d, int& m) {
    unsigned x = 0, y = 0, z = 0, w = 0;
    if (type == 3) type = last_diff_ <= 3 ? 1 : (last_diff_ >= 10 && last_diff_ <= 37 ? 0 : 2);
    switch (type) {
        case 0:
            m = 3;
            if (!get_bits(data, 3, x)) return false;
            if (x <= 4) {
                d = static_cast<int>(x) - 2;
            } else if (x == 5) {
                if (!get_bits(data, 3, y)) return false;
                d = y < 4 ? static_cast<int>(y) - 6 : static_cast<int>(y) - 1;
            } else if (!ladder(data, x == 6, d)) {
                return false;
            }
            break;
        case 1:
            m = 3;
            if (!get_bits(data, 3, x)) return false;
            if (x <= 6) {
                d = static_cast<int>(x) - 3;
            } else {
                if (!get_bits(data, 3, y)) return false;
                if (y <= 2)
                    d = static_cast<int>(y) - 6;
                else if (y <= 5)
                    d = static_cast<int>(y) + 1;
                else if (!ladder(data, y == 6, d))
                    return false;
            }
            break;
        case 2:
            m = 3;
            if (!get_bits(data, 4, x)) return false;
            if (x <= 12) {
                d = static_cast<int>(x) - 6;
            } else if (x == 13) {
                if (!get_bits(data, 4, y)) return false;
                d = y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1;
            } else if (x == 14) {
                if (!get_bits(data, 5, y)) return false;
                d = y < 16 ? static_cast<int>(y) - 30 : static_cast<int>(y) - 1;
            } else {
                if (!get_bits(data, 5, y)) return false;
                if (y <= 14) {
                    d = static_cast<int>(y) - 45;
                } else if (y <= 29) {
                    d = static_cast<int>(y) + 16;
                } else if (y == 30) {
                    if (!get_bits(data, 4, z)) return false;
                    d = z < 8 ? static_cast<int>(z) - 53 : static_cast<int>(z) + 38;
                } else {
                    if (!get_bits(data, 5, z)) return false;
                    if (z <= 14) {
                        d = static_cast<int>(z) - 68;
                    } else if (z <= 29) {
                        d = static_cast<int>(z) + 39;
                    } else {
                        if (!get_bits(data, 5, w)) return false;
                        d = z == 30 ? static_cast<int>(w) + 69 : static_cast<int>(w) - 100;
                    }
                }
            }
            break;
        case 4:
            m = 5;
            if (!get_bits(data, 4, x)) return false;
            if (x <= 12) {
                d = static_cast<int>(x) - 6;
            } else if (x == 13) {
                if (!get_bits(data, 4, y)) return false;
                d = y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1;
            } else {
                if (!get_bits(data, 5, y)) return false;
                if (y < 31) {
                    d = x == 14 ? static_cast<int>(y) + 15 : static_cast<int>(y) - 45;
                } else {
                    if (!get_bits(data, 4, z)) return false;
                    d = x == 14 ? static_cast<int>(z) + 46 : static_cast<int>(z) - 61;
                }
            }
            break;
        case 5:
            m = 7;
            if (!get_bits(data, 4, x)) return false;
            if (x <= 12) {
                d = static_cast<int>(x) - 6;
            } else if (x == 13) {
                if (!get_bits(data, 4, y)) return false;
                d = y < 8 ? static_cast<int>(y) - 14 : static_cast<int>(y) - 1;
            } else {
                if (!get_bits(data, 4, y)) return false;
                if (y < 15) {
                    d = x == 14 ? static_cast<int>(y) + 15 : static_cast<int>(y) - 29;
                } else {
                    if (!get_bits(data, 4, z)) return false;
                    d = x == 14 ? static_cast<int>(z) + 30 : static_cast<int>(z) - 45;
                }
            }
            break;
        case 6:
            m = 11;
            if (!get_bits(data, 4, x)) return false;
            if (x <= 12) {
                d = static_cast<int>(x) - 6;
            } else if (x == 13) {
                if (!get_bits(data, 3, y)) return false;
                d = y < 4 ? static_cast<int>(y) - 10 : static_cast<int>(y) + 3;
            } else if (x == 14) {
                if (!get_bits(data, 3, y)) return false;
                d = y < 4 ? static_cast<int>(y) - 14 : static_cast<int>(y) + 7;
            } else {
                if (!get_bits(data, 4, y)) return false;
                if (y <= 6) {
                    d = static_cast<int>(y) - 21;
                } else if (y <= 13) {
                    d = static_cast<int>(y) + 8;
                } else {
                    if (!get_bits(data, 3, z)) return false;
                    d = y == 14 ? static_cast<int>(z) + 22 : static_cast<int>(z) - 29;
                }
            }
            break;
        default:  // 7
            m = 15;
            if (!get_bits(data, 4, x)) return false;
            if (x <= 14) {
                d = static_cast<int>(x) - 7;
            } else {
                if (!get_bits(data, 5, y)) return false;
                d = y > 15 ? static_cast<int>(y) - 8 : static_cast<int>(y) - 23;
            }
            break;
    }
    if (type <= 2) last_diff_ = d < 0 ? -d : d;
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
    const bool more = (channel_ == 0 && (type == kTypeStreamTwo || type == kTypeStreamThree)) ||
                      (channel_ == 1 && type == kTypeStreamThree);
    if (more) {
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
