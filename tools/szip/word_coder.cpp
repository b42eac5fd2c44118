#include "tools/szip/word_coder.h"

#include <algorithm>
#include <array>

#include "common/bytes.h"

namespace tv::szip {

namespace {

constexpr int kProbBits = 11;
constexpr std::uint16_t kProbOne = 1u << kProbBits;
constexpr int kMoveBits = 5;
constexpr std::uint32_t kTop = 1u << 24;
constexpr std::uint32_t kUnary = 16;        // decisions before the escape
constexpr std::uint32_t kMaxExponent = 15;  // v <= 65535 - 15 has at most 16 bits
constexpr std::size_t kContexts = 16 * 16;

struct Model {
    std::array<std::uint16_t, kContexts * kUnary> unary;
    std::array<std::uint16_t, kMaxExponent + 1> escape;
    Model() {
        unary.fill(kProbOne / 2);
        escape.fill(kProbOne / 2);
    }
};

std::uint32_t context(std::uint32_t z1, std::uint32_t z2) { return std::min(z1, 15u) * 16 + std::min(z2, 15u); }

class Encoder {
public:
    explicit Encoder(std::vector<std::uint8_t>& out) : out_(out) {}

    void bit(std::uint16_t& p, std::uint32_t b) {
        const std::uint32_t bound = (range_ >> kProbBits) * p;
        if (b == 0) {
            range_ = bound;
            p = static_cast<std::uint16_t>(p + ((kProbOne - p) >> kMoveBits));
        } else {
            low_ += bound;
            range_ -= bound;
            p = static_cast<std::uint16_t>(p - (p >> kMoveBits));
        }
        normalize();
    }
    void direct(std::uint32_t b) {
        range_ >>= 1;
        if (b) low_ += range_;
        normalize();
    }
    void finish() {
        for (int i = 0; i < 5; ++i) shift_low();
    }

private:
    void normalize() {
        while (range_ < kTop) {
            range_ <<= 8;
            shift_low();
        }
    }
    // Carries propagate into bytes already decided, so a run of 0xFF is held back until the
    // byte before it is known.
    void shift_low() {
        if (static_cast<std::uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
            const auto carry = static_cast<std::uint8_t>(low_ >> 32);
            std::uint8_t b = cache_;
            do {
                out_.push_back(static_cast<std::uint8_t>(b + carry));
                b = 0xFF;
            } while (--pending_ != 0);
            cache_ = static_cast<std::uint8_t>(low_ >> 24);
        }
        ++pending_;
        low_ = (low_ & 0x00FFFFFFu) << 8;
    }

    std::vector<std::uint8_t>& out_;
    std::uint64_t low_ = 0;
    std::uint32_t range_ = 0xFFFFFFFFu;
    std::uint8_t cache_ = 0;
    std::uint64_t pending_ = 1;
};

class Decoder {
public:
    Decoder(const std::uint8_t* in, std::size_t size) : p_(in), end_(in + size) {
        // The encoder's first byte is always 0 (the carry slot).
        ok_ = size >= 5 && in[0] == 0;
        if (ok_) {
            for (int i = 1; i < 5; ++i) code_ = code_ << 8 | in[i];
            p_ += 5;
            ok_ = code_ < range_;
        }
    }
    bool ok() const { return ok_; }

    std::uint32_t bit(std::uint16_t& p) {
        const std::uint32_t bound = (range_ >> kProbBits) * p;
        std::uint32_t b;
        if (code_ < bound) {
            range_ = bound;
            p = static_cast<std::uint16_t>(p + ((kProbOne - p) >> kMoveBits));
            b = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            p = static_cast<std::uint16_t>(p - (p >> kMoveBits));
            b = 1;
        }
        normalize();
        return b;
    }
    std::uint32_t direct() {
        range_ >>= 1;
        std::uint32_t b = 0;
        if (code_ >= range_) {
            code_ -= range_;
            b = 1;
        }
        normalize();
        return b;
    }

private:
    void normalize() {
        while (range_ < kTop) {
            range_ <<= 8;
            // Past the end the stream is bad; zeros keep the arithmetic defined until the caller
            // checks ok().
            std::uint8_t next = 0;
            if (p_ < end_)
                next = *p_++;
            else
                ok_ = false;
            code_ = code_ << 8 | next;
        }
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::uint32_t code_ = 0;
    std::uint32_t range_ = 0xFFFFFFFFu;
    bool ok_ = false;
};

}  // namespace

std::vector<std::uint8_t> encode_word_block(const std::uint8_t* data, std::size_t count) {
    std::vector<std::uint8_t> out;
    out.reserve(count / 2 + 16);
    Encoder enc(out);
    Model m;
    std::uint16_t prev = 0;
    std::uint32_t z1 = 0, z2 = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto w = load_le16(data + 2 * i);
        const auto d = static_cast<std::uint16_t>(w - prev);
        prev = w;
        const std::uint32_t z = (d & 0x8000u) ? ((0xFFFFu - d) << 1 | 1u) : static_cast<std::uint32_t>(d) << 1;
        std::uint16_t* p = &m.unary[context(z1, z2) * kUnary];
        std::uint32_t k = 0;
        for (; k < kUnary; ++k) {
            const std::uint32_t more = z != k;
            enc.bit(p[k], more);
            if (!more) break;
        }
        if (k == kUnary) {
            const std::uint32_t v = z - (kUnary - 1);
            const int n = 31 - __builtin_clz(v);
            for (int j = 0; j < n; ++j) enc.bit(m.escape[static_cast<std::size_t>(j)], 1);
            enc.bit(m.escape[static_cast<std::size_t>(n)], 0);
            for (int j = n - 1; j >= 0; --j) enc.direct(v >> j & 1u);
        }
        z2 = z1;
        z1 = z;
    }
    enc.finish();
    return out;
}

bool decode_word_block(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out, std::size_t count) {
    Decoder dec(in, in_size);
    if (!dec.ok()) return false;
    Model m;
    std::uint16_t prev = 0;
    std::uint32_t z1 = 0, z2 = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t* p = &m.unary[context(z1, z2) * kUnary];
        std::uint32_t z = 0;
        while (z < kUnary && dec.bit(p[z])) ++z;
        if (z == kUnary) {
            std::uint32_t n = 0;
            while (dec.bit(m.escape[n]))
                if (++n > kMaxExponent) return false;
            std::uint32_t v = 1;
            for (std::uint32_t j = 0; j < n; ++j) v = v << 1 | dec.direct();
            z = v + (kUnary - 1);
            if (z > 0xFFFFu) return false;
        }
        if (!dec.ok()) return false;
        // Unfold: even numbers are steps up, odd ones steps down.
        const auto d = static_cast<std::uint16_t>((z & 1u) ? 0xFFFFu - (z >> 1) : z >> 1);
        prev = static_cast<std::uint16_t>(prev + d);
        store_le16(&out[2 * i], prev);
        z2 = z1;
        z1 = z;
    }
    return dec.ok();
}

}  // namespace tv::szip
