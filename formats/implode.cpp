#include "formats/implode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "common/bytes.h"

namespace tv {
namespace {

// ---------------------------------------------------------------------------------------------
// Fixed code tables of the format. Each byte packs a repeat count (high nibble + 1) and a code
// length (low nibble); the codes are canonical, and the stream carries each code's bits
// inverted, most significant first.

// clang-format off
constexpr unsigned char kLiteralLengths[] = {
    11, 124, 8, 7, 28, 7, 188, 13, 76, 4, 10, 8, 12, 10, 12, 10, 8, 23, 8,
    9, 7, 6, 7, 8, 7, 6, 55, 8, 23, 24, 12, 11, 7, 9, 11, 12, 6, 7, 22, 5,
    7, 24, 6, 11, 9, 6, 7, 22, 7, 11, 38, 7, 9, 8, 25, 11, 8, 11, 9, 12,
    8, 12, 5, 38, 5, 38, 5, 11, 7, 5, 6, 21, 6, 10, 53, 8, 7, 24, 10, 27,
    44, 253, 253, 253, 252, 252, 252, 13, 12, 45, 12, 45, 12, 61, 12, 45,
    44, 173};
// clang-format on
constexpr unsigned char kLengthLengths[] = {2, 35, 36, 53, 38, 23};
constexpr unsigned char kDistanceLengths[] = {2, 20, 53, 230, 247, 151, 248};
constexpr unsigned short kLengthBase[16] = {3, 2, 4, 5, 6, 7, 8, 9, 10, 12, 16, 24, 40, 72, 136, 264};
constexpr unsigned char kLengthExtra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};

constexpr unsigned kEndLength = 519;
constexpr unsigned kMaxMatch = 518;
constexpr unsigned kLiteralBits = 13;
constexpr unsigned kLengthBits = 7;
constexpr unsigned kDistanceBits = 8;

template <std::size_t N, std::size_t R>
constexpr std::array<unsigned char, N> expand_lengths(const unsigned char (&rep)[R]) {
    std::array<unsigned char, N> lengths{};
    std::size_t symbol = 0;
    for (unsigned char packed : rep)
        for (unsigned left = (packed >> 4) + 1u; left > 0; --left) lengths[symbol++] = packed & 15;
    return lengths;
}

// A code's bits as they appear in the LSB-first stream, and its length.
struct Code {
    std::uint16_t bits = 0;
    std::uint8_t length = 0;
};

template <std::size_t N>
constexpr std::array<Code, N> canonical_codes(const std::array<unsigned char, N>& lengths) {
    unsigned count[16] = {};
    for (unsigned char l : lengths) ++count[l];
    count[0] = 0;
    unsigned next[16] = {};
    unsigned code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::array<Code, N> codes{};
    for (std::size_t s = 0; s < N; ++s) {
        unsigned l = lengths[s];
        unsigned c = next[l]++;
        unsigned v = 0;
        for (unsigned i = 0; i < l; ++i) v |= (1u ^ ((c >> (l - 1 - i)) & 1u)) << i;
        codes[s] = Code{static_cast<std::uint16_t>(v), static_cast<std::uint8_t>(l)};
    }
    return codes;
}

// Sum of 2^-length scaled to 2^15: exactly 2^15 for a complete code.
template <std::size_t N>
constexpr unsigned kraft_sum(const std::array<unsigned char, N>& lengths) {
    unsigned sum = 0;
    for (unsigned char l : lengths) sum += 1u << (15 - l);
    return sum;
}

// Decoding table indexed by the next `Bits` stream bits: symbol | length << 8.
template <unsigned Bits, std::size_t N>
constexpr std::array<std::uint16_t, (1u << Bits)> decode_table(const std::array<Code, N>& codes) {
    std::array<std::uint16_t, (1u << Bits)> table{};
    for (std::size_t s = 0; s < N; ++s) {
        const Code c = codes[s];
        for (unsigned k = 0; k < (1u << (Bits - c.length)); ++k)
            table[c.bits | (k << c.length)] = static_cast<std::uint16_t>(s | (c.length << 8));
    }
    return table;
}

constexpr auto kLitLen = expand_lengths<256>(kLiteralLengths);
constexpr auto kLenLen = expand_lengths<16>(kLengthLengths);
constexpr auto kDistLen = expand_lengths<64>(kDistanceLengths);
static_assert(kraft_sum(kLitLen) == 1u << 15 && kraft_sum(kLenLen) == 1u << 15 && kraft_sum(kDistLen) == 1u << 15,
              "code tables must be complete");

constexpr auto kLitCodes = canonical_codes(kLitLen);
constexpr auto kLenCodes = canonical_codes(kLenLen);
constexpr auto kDistCodes = canonical_codes(kDistLen);
constexpr auto kLitTable = decode_table<kLiteralBits>(kLitCodes);
constexpr auto kLenTable = decode_table<kLengthBits>(kLenCodes);
constexpr auto kDistTable = decode_table<kDistanceBits>(kDistCodes);

// Length 2..519 -> length code followed by its extra bits, as stream bits.
struct LengthCode {
    std::uint32_t bits;
    std::uint32_t length;
};
constexpr std::array<LengthCode, kEndLength + 1> make_length_codes() {
    std::array<LengthCode, kEndLength + 1> out{};
    for (unsigned len = 2; len <= kEndLength; ++len) {
        unsigned s = 0;
        for (unsigned i = 0; i < 16; ++i)
            if (len >= kLengthBase[i] && len < kLengthBase[i] + (1u << kLengthExtra[i])) s = i;
        const Code c = kLenCodes[s];
        out[len] = LengthCode{c.bits | ((len - kLengthBase[s]) << c.length),
                              static_cast<std::uint32_t>(c.length + kLengthExtra[s])};
    }
    return out;
}
constexpr auto kLengthCodes = make_length_codes();

int dictionary_bits(unsigned size) {
    switch (size) {
        case kDictionary1024: return 4;
        case kDictionary2048: return 5;
        case kDictionary4096: return 6;
        default: return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Explode

constexpr unsigned kExplodeReadSize = 2048;
constexpr unsigned kExplodeWriteBlock = 4096;
// Output window: history kept across flushes (dictionary plus an unflushed partial block), room
// to run ahead before a flush, and slack for one maximal match plus 8-byte over-copy.
constexpr unsigned kExplodeKeep = 8192;
constexpr unsigned kExplodeRun = 65536;
constexpr unsigned kExplodeWindow = kExplodeKeep + kExplodeRun + kMaxMatch + 64;

struct ExplodeState {
    CompressReadFn read;
    CompressWriteFn write;
    void* param;
    std::uint64_t bitbuf;
    unsigned bitcnt;
    unsigned in_pos, in_end;
    bool eof;
    unsigned out_pos;    // next byte of `window` to produce
    unsigned flushed;    // bytes of `window` before this were written out
    std::uint64_t base;  // output count that `window[0]` stands for
    unsigned char in[kExplodeReadSize + 8];
    unsigned char window[kExplodeWindow];
};

// Calls the reader once; false at the end of input.
bool explode_fetch(ExplodeState& s) {
    unsigned ask = kExplodeReadSize;
    unsigned got = s.read(s.in, ask, s.param);
    if (got > kExplodeReadSize) got = kExplodeReadSize;
    s.in_pos = 0;
    s.in_end = got;
    if (got == 0) s.eof = true;
    return got != 0;
}

inline void explode_refill(ExplodeState& s) {
    while (s.bitcnt <= 56) {
        if (s.in_pos == s.in_end && (s.eof || !explode_fetch(s))) return;
        if (s.in_end - s.in_pos >= 8) {
            // Whole-word load: the partial top byte is loaded again, to the same place, next time.
            s.bitbuf |= load_le64(s.in + s.in_pos) << s.bitcnt;
            const unsigned bytes = (63 - s.bitcnt) >> 3;
            s.in_pos += bytes;
            s.bitcnt += bytes * 8;
            return;
        }
        s.bitbuf |= std::uint64_t(s.in[s.in_pos++]) << s.bitcnt;
        s.bitcnt += 8;
    }
}

void explode_write(ExplodeState& s, unsigned from, unsigned to) {
    while (from < to) {
        unsigned n = std::min(to - from, kExplodeWriteBlock);
        s.write(s.window + from, n, s.param);
        from += n;
    }
}

// Writes the whole blocks produced so far and slides the window down to the kept history.
void explode_flush(ExplodeState& s) {
    const unsigned whole = (s.out_pos - s.flushed) / kExplodeWriteBlock * kExplodeWriteBlock;
    explode_write(s, s.flushed, s.flushed + whole);
    s.flushed += whole;
    const unsigned shift = s.out_pos - kExplodeKeep;
    std::memmove(s.window, s.window + shift, kExplodeKeep);
    s.base += shift;
    s.out_pos -= shift;
    s.flushed -= shift;
}

int explode_run(ExplodeState& s) {
    // Gather the header and the first token before judging the input short, whatever the
    // reader's chunking.
    unsigned have = 0;
    while (have < 5) {
        unsigned ask = kExplodeReadSize - have;
        unsigned got = s.read(s.in + have, ask, s.param);
        if (got == 0) break;
        have += std::min(got, ask);
    }
    if (have < 5) return kExplodeBadData;
    if (s.in[0] > 1) return kExplodeBadType;
    const bool ascii = s.in[0] == 1;
    const unsigned dict = s.in[1];
    if (dict < 4 || dict > 6) return kExplodeBadDictionary;
    s.in_pos = 2;
    s.in_end = have;

    for (;;) {
        if (s.bitcnt < 32) explode_refill(s);
        if (s.out_pos >= kExplodeKeep + kExplodeRun) explode_flush(s);
        const std::uint64_t b = s.bitbuf;
        unsigned used;
        if (!(b & 1)) {
            unsigned literal;
            if (ascii) {
                const unsigned e = kLitTable[(b >> 1) & ((1u << kLiteralBits) - 1)];
                literal = e & 0xFF;
                used = 1 + (e >> 8);
            } else {
                literal = (b >> 1) & 0xFF;
                used = 9;
            }
            if (used > s.bitcnt) return kExplodeAbort;
            s.window[s.out_pos++] = static_cast<unsigned char>(literal);
        } else {
            const unsigned e = kLenTable[(b >> 1) & ((1u << kLengthBits) - 1)];
            const unsigned symbol = e & 0xF;
            used = 1 + (e >> 8);
            const unsigned extra = kLengthExtra[symbol];
            const unsigned len = kLengthBase[symbol] + static_cast<unsigned>((b >> used) & ((1u << extra) - 1));
            used += extra;
            if (used > s.bitcnt) return kExplodeAbort;
            if (len == kEndLength) {
                s.bitbuf >>= used;
                s.bitcnt -= used;
                break;
            }
            const unsigned d = kDistTable[(b >> used) & ((1u << kDistanceBits) - 1)];
            used += d >> 8;
            const unsigned low = len == 2 ? 2 : dict;
            const unsigned dist = (((d & 0x3F) << low) | static_cast<unsigned>((b >> used) & ((1u << low) - 1))) + 1;
            used += low;
            if (used > s.bitcnt) return kExplodeAbort;
            // A distance reaching before the start of the output would copy stale memory.
            if (dist > s.base + s.out_pos) return kExplodeAbort;
            unsigned char* to = s.window + s.out_pos;
            const unsigned char* from = to - dist;
            if (dist >= 8) {
                for (unsigned i = 0; i < len; i += 8) std::memcpy(to + i, from + i, 8);
            } else if (dist == 1) {
                std::memset(to, *from, len);
            } else {
                for (unsigned i = 0; i < len; ++i) to[i] = from[i];
            }
            s.out_pos += len;
        }
        s.bitbuf >>= used;
        s.bitcnt -= used;
    }
    explode_write(s, s.flushed, s.out_pos);
    s.flushed = s.out_pos;
    return kExplodeOk;
}

// ---------------------------------------------------------------------------------------------
// Implode

constexpr unsigned kImplodeReadSize = 4096;
constexpr unsigned kImplodeWriteBlock = 2048;
constexpr unsigned kImplodeBuffer = 32768 + kImplodeReadSize + 1024;
constexpr unsigned kHashBits = 14;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kMaxChain = 16;
constexpr unsigned kNiceLength = 128;
constexpr unsigned kLazyLength = 8;  // a match this long is taken without looking one ahead

struct ImplodeState {
    CompressReadFn read;
    CompressWriteFn write;
    void* param;
    bool ascii;
    unsigned dict_bits;
    unsigned dict_size;
    unsigned pos;     // next byte to code
    unsigned fill;    // bytes in `data`
    unsigned hashed;  // positions below this are in the hash chains
    bool eof;
    std::uint64_t acc;
    unsigned nbits;
    unsigned out_len;
    std::int32_t head[kHashSize];
    std::uint16_t prev[kImplodeBuffer];  // distance back to the previous position with the same hash
    unsigned char data[kImplodeBuffer + 8];
    unsigned char out[kImplodeWriteBlock + 64];
};

inline unsigned hash3(const unsigned char* p) {
    const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline void put_bits(ImplodeState& s, std::uint32_t bits, unsigned count) {
    s.acc |= std::uint64_t(bits) << s.nbits;
    s.nbits += count;
    if (s.nbits >= 32) {
        store_le32(&s.out[s.out_len], static_cast<std::uint32_t>(s.acc));
        s.out_len += 4;
        s.acc >>= 32;
        s.nbits -= 32;
        if (s.out_len >= kImplodeWriteBlock) {
            unsigned n = kImplodeWriteBlock;
            s.write(s.out, n, s.param);
            s.out_len -= kImplodeWriteBlock;
            std::memmove(s.out, s.out + kImplodeWriteBlock, s.out_len);
        }
    }
}

inline void put_literal(ImplodeState& s, unsigned char c) {
    if (s.ascii) {
        const Code code = kLitCodes[c];
        put_bits(s, std::uint32_t(code.bits) << 1, code.length + 1u);
    } else {
        put_bits(s, std::uint32_t(c) << 1, 9);
    }
}

inline void put_match(ImplodeState& s, unsigned len, unsigned dist) {
    const LengthCode lc = kLengthCodes[len];
    put_bits(s, 1u | (lc.bits << 1), lc.length + 1);
    const unsigned low = len == 2 ? 2 : s.dict_bits;
    const unsigned d = dist - 1;
    const Code dc = kDistCodes[d >> low];
    put_bits(s, dc.bits | ((d & ((1u << low) - 1)) << dc.length), dc.length + low);
}

// Tops the buffer up so that a maximal match can be examined, sliding old history out first.
void implode_fill(ImplodeState& s) {
    while (!s.eof && s.fill - s.pos < kMaxMatch + 2) {
        if (s.fill + kImplodeReadSize > kImplodeBuffer) {
            const unsigned shift = s.pos - s.dict_size;
            std::memmove(s.data, s.data + shift, s.fill - shift);
            std::memmove(s.prev, s.prev + shift, (s.fill - shift) * sizeof(s.prev[0]));
            for (auto& h : s.head)
                h = h >= static_cast<std::int32_t>(shift) ? h - static_cast<std::int32_t>(shift) : -1;
            s.pos -= shift;
            s.fill -= shift;
            s.hashed -= shift;
        }
        unsigned ask = kImplodeReadSize;
        unsigned got = s.read(s.data + s.fill, ask, s.param);
        if (got == 0) {
            s.eof = true;
            break;
        }
        s.fill += std::min(got, kImplodeReadSize);
    }
}

inline void insert_hashes(ImplodeState& s, unsigned upto) {
    const unsigned limit = s.fill >= 3 ? s.fill - 2 : 0;
    if (upto > limit) upto = limit;
    for (unsigned p = s.hashed; p < upto; ++p) {
        const unsigned h = hash3(s.data + p);
        const std::int32_t last = s.head[h];
        const unsigned dist = last < 0 ? 0 : p - static_cast<unsigned>(last);
        s.prev[p] = dist > 0xFFFF ? 0 : static_cast<std::uint16_t>(dist);
        s.head[h] = static_cast<std::int32_t>(p);
    }
    if (upto > s.hashed) s.hashed = upto;
}

// Longest earlier occurrence of the bytes at `p` within the dictionary; length 0 when none.
unsigned find_match(const ImplodeState& s, unsigned p, unsigned& best_dist) {
    const unsigned max_len = std::min(kMaxMatch, s.fill - p);
    if (max_len < 3) return 0;
    unsigned best = 2;
    unsigned chain = kMaxChain;
    const unsigned char* cur = s.data + p;
    unsigned step = s.prev[p];
    unsigned dist = step;
    while (step != 0 && dist <= s.dict_size && chain-- > 0) {
        const unsigned char* cand = cur - dist;
        if (cand[best] == cur[best] && cand[0] == cur[0]) {
            unsigned len = 0;
            while (len + 8 <= max_len) {
                const std::uint64_t x = load_le64(cand + len) ^ load_le64(cur + len);
                if (x) {
                    len += static_cast<unsigned>(__builtin_ctzll(x)) >> 3;
                    goto done;
                }
                len += 8;
            }
            while (len < max_len && cand[len] == cur[len]) ++len;
        done:
            if (len > best) {
                best = len;
                best_dist = dist;
                if (len >= kNiceLength || len == max_len) break;
            }
        }
        step = s.prev[p - dist];
        dist += step;
    }
    return best >= 3 ? best : 0;
}

void implode_run(ImplodeState& s) {
    std::fill(std::begin(s.head), std::end(s.head), -1);
    implode_fill(s);
    while (s.pos < s.fill) {
        insert_hashes(s, s.pos + 1);
        unsigned dist = 0;
        unsigned len = find_match(s, s.pos, dist);
        if (len != 0 && len < kLazyLength && s.pos + 1 < s.fill) {
            insert_hashes(s, s.pos + 2);
            unsigned next_dist = 0;
            const unsigned next = find_match(s, s.pos + 1, next_dist);
            if (next > len) {
                put_literal(s, s.data[s.pos]);
                ++s.pos;
                implode_fill(s);
                continue;
            }
        }
        if (len == 0) {
            put_literal(s, s.data[s.pos]);
            ++s.pos;
        } else {
            put_match(s, len, dist);
            insert_hashes(s, s.pos + len);
            s.pos += len;
        }
        implode_fill(s);
    }
    const LengthCode end = kLengthCodes[kEndLength];
    put_bits(s, 1u | (end.bits << 1), end.length + 1);
    while (s.nbits > 0) {
        s.out[s.out_len++] = static_cast<unsigned char>(s.acc);
        s.acc >>= 8;
        s.nbits = s.nbits > 8 ? s.nbits - 8 : 0;
    }
    unsigned rest = s.out_len;
    if (rest > kImplodeWriteBlock) {
        unsigned n = kImplodeWriteBlock;
        s.write(s.out, n, s.param);
        rest -= kImplodeWriteBlock;
        std::memmove(s.out, s.out + kImplodeWriteBlock, rest);
    }
    if (rest > 0) s.write(s.out, rest, s.param);
}

static_assert(sizeof(ExplodeState) <= kCompressionWorkSize, "explode state exceeds the work area");
static_assert(sizeof(ImplodeState) <= kCompressionWorkSize, "implode state exceeds the work area");

}  // namespace

int implode(CompressReadFn read, CompressWriteFn write, CompressionWorkArea& work, void* param, const unsigned& type,
            const unsigned& dictionary_size) {
    const int bits = dictionary_bits(dictionary_size);
    if (bits == 0) return kImplodeBadDictionary;
    if (type != kCompressionBinary && type != kCompressionAscii) return kImplodeBadType;
    auto* s = ::new (static_cast<void*>(work.bytes)) ImplodeState;
    s->read = read;
    s->write = write;
    s->param = param;
    s->ascii = type == kCompressionAscii;
    s->dict_bits = static_cast<unsigned>(bits);
    s->dict_size = dictionary_size;
    s->pos = s->fill = s->hashed = 0;
    s->eof = false;
    s->acc = 0;
    s->nbits = 0;
    s->out_len = 0;
    // The stream header goes out as the first 16 bits.
    put_bits(*s, type | (static_cast<unsigned>(bits) << 8), 16);
    implode_run(*s);
    return kImplodeOk;
}

int explode(CompressReadFn read, CompressWriteFn write, CompressionWorkArea& work, void* param) {
    auto* s = ::new (static_cast<void*>(work.bytes)) ExplodeState;
    s->read = read;
    s->write = write;
    s->param = param;
    s->bitbuf = 0;
    s->bitcnt = 0;
    s->in_pos = s->in_end = 0;
    s->eof = false;
    s->out_pos = s->flushed = 0;
    s->base = 0;
    const int result = explode_run(*s);
    // Whatever was decoded before a failure still goes out, as the reader of a broken stream
    // expects; the result tells the caller not to trust it.
    if (result == kExplodeAbort && s->flushed < s->out_pos) explode_write(*s, s->flushed, s->out_pos);
    return result;
}

}  // namespace tv
