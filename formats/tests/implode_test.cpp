#include "formats/implode.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "testing/test_root.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Both callbacks receive the one parameter: input and output live together.
struct Pipe {
    explicit Pipe(const Bytes* d) : data(d) {}
    const Bytes* data;
    std::size_t pos = 0;
    unsigned chunk = 0xFFFFFFFFu;  // most bytes handed out per call
    unsigned max_asked = 0;
    Bytes out;
    std::vector<unsigned> blocks;
};

unsigned source_read(unsigned char* buffer, unsigned& count, void* param) {
    auto& s = *static_cast<Pipe*>(param);
    s.max_asked = std::max(s.max_asked, count);
    std::size_t n = std::min<std::size_t>({count, s.chunk, s.data->size() - s.pos});
    std::copy_n(s.data->begin() + static_cast<std::ptrdiff_t>(s.pos), n, buffer);
    s.pos += n;
    return static_cast<unsigned>(n);
}

void sink_write(unsigned char* buffer, unsigned& count, void* param) {
    auto& s = *static_cast<Pipe*>(param);
    s.out.insert(s.out.end(), buffer, buffer + count);
    s.blocks.push_back(count);
}

Bytes do_implode(const Bytes& data, unsigned type, unsigned dict, tv::CompressionWorkArea& work,
                 std::vector<unsigned>* blocks = nullptr, unsigned* max_asked = nullptr) {
    Pipe io(&data);
    EXPECT_EQ(tv::implode(source_read, sink_write, work, &io, type, dict), tv::kImplodeOk);
    if (blocks) *blocks = io.blocks;
    if (max_asked) *max_asked = io.max_asked;
    return io.out;
}

int do_explode(const Bytes& stream, Bytes& out, tv::CompressionWorkArea& work, unsigned chunk = 0xFFFFFFFFu,
               std::vector<unsigned>* blocks = nullptr) {
    Pipe io(&stream);
    io.chunk = chunk;
    int r = tv::explode(source_read, sink_write, work, &io);
    out = io.out;
    if (blocks) *blocks = io.blocks;
    return r;
}

std::unique_ptr<tv::CompressionWorkArea> new_work() { return std::make_unique<tv::CompressionWorkArea>(); }

std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Writes a stream bit by bit, independently of the engine under test.
class BitWriter {
public:
    BitWriter(unsigned type, unsigned dict_bits)
        : bytes_{static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(dict_bits)} {}
    void bits(unsigned value, unsigned count) {  // LSB first
        for (unsigned i = 0; i < count; ++i) bit((value >> i) & 1);
    }
    void code(unsigned value, unsigned length) {  // a Huffman code: inverted, MSB first
        for (unsigned i = length; i-- > 0;) bit(1 ^ ((value >> i) & 1));
    }
    void literal(std::uint8_t c) {
        bit(0);
        bits(c, 8);
    }
    void end() {
        bit(1);
        bits(0, 7);
        bits(0xFF, 8);
    }
    Bytes finish() {
        if (n_) bytes_.push_back(acc_);
        return bytes_;
    }

private:
    void bit(unsigned b) {
        acc_ |= static_cast<std::uint8_t>(b << n_);
        if (++n_ == 8) {
            bytes_.push_back(acc_);
            acc_ = 0;
            n_ = 0;
        }
    }
    Bytes bytes_;
    std::uint8_t acc_ = 0;
    unsigned n_ = 0;
};

// The simplest valid stream: every byte a literal.
Bytes literal_only_stream(const Bytes& data) {
    BitWriter w(0, 6);
    for (auto c : data) w.literal(c);
    w.end();
    return w.finish();
}

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<std::uint8_t>(rng());
    return b;
}

Bytes text_bytes(std::size_t n) {
    static const std::string words[] = {"the ", "patient ",    "heart ", "rate ",    "was ",     "72 ",  "beats ",
                                        "per ", "minute.\r\n", "Pause ", "longest ", "2.35 s; ", "QRS ", "normal, "};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < n) s += words[rng() % std::size(words)];
    s.resize(n);
    return Bytes(s.begin(), s.end());
}

// Two interleaved 16-bit channels: a repeating beat shape with jittered period and noise.
Bytes ecg_bytes(std::size_t n) {
    std::mt19937 rng(11);
    Bytes b;
    b.reserve(n + 4);
    unsigned phase = 0, period = 200;
    while (b.size() < n) {
        int v = 0;
        if (phase < 10)
            v = static_cast<int>(phase) * 120;
        else if (phase < 20)
            v = static_cast<int>(20 - phase) * 120;
        else if (phase > 60 && phase < 100)
            v = 150;
        for (int ch = 0; ch < 2; ++ch) {
            int s = 2048 + v / (ch + 1) + static_cast<int>(rng() % 3) - 1;
            b.push_back(static_cast<std::uint8_t>(s));
            b.push_back(static_cast<std::uint8_t>(s >> 8));
        }
        if (++phase >= period) {
            phase = 0;
            period = 190 + rng() % 20;
        }
    }
    b.resize(n);
    return b;
}

TEST(Explode, PublishedVectors) {
    auto work = new_work();
    Bytes out;
    EXPECT_EQ(do_explode({0x00, 0x04, 0x82, 0x24, 0x25, 0x8F, 0x80, 0x7F}, out, *work), tv::kExplodeOk);
    EXPECT_EQ(as_text(out), "AIAIAIAIAIAIA");
    EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x02, 0xFE, 0x01}, out, *work), tv::kExplodeOk);
    EXPECT_EQ(as_text(out), "A");
    // A length-2 match takes two low distance bits.
    EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x08, 0xED, 0x05, 0xFC, 0x03}, out, *work), tv::kExplodeOk);
    EXPECT_EQ(as_text(out), "ABAB");
}

TEST(Explode, ResultDoesNotDependOnReadChunking) {
    auto work = new_work();
    Bytes out;
    for (unsigned chunk : {1u, 2u, 3u, 4u, 7u}) {
        EXPECT_EQ(do_explode({0x00, 0x04, 0x82, 0x24, 0x25, 0x8F, 0x80, 0x7F}, out, *work, chunk), tv::kExplodeOk);
        EXPECT_EQ(as_text(out), "AIAIAIAIAIAIA");
        EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x02, 0xFE, 0x01}, out, *work, chunk), tv::kExplodeOk);
        EXPECT_EQ(as_text(out), "A");
    }
    const Bytes data = ecg_bytes(30000);
    const Bytes stream = do_implode(data, 0, 4096, *work);
    EXPECT_EQ(do_explode(stream, out, *work, 1), tv::kExplodeOk);
    EXPECT_EQ(out, data);
}

TEST(Explode, LongestMatchFromFarBack) {
    // 2000 literals, then one match of length 518 from distance 2000 (high part 31 of the
    // 7-bit class, code 103), then the end code.
    const Bytes head = random_bytes(2000, 3);
    BitWriter w(0, 6);
    for (auto c : head) w.literal(c);
    w.bits(1, 1);
    w.code(0x7F, 7);       // length symbol 15
    w.bits(518 - 264, 8);  // its extra bits
    w.code(103, 7);        // distance high part 31
    w.bits((2000 - 1) & 63, 6);
    w.end();
    Bytes expected = head;
    for (int i = 0; i < 518; ++i) expected.push_back(expected[expected.size() - 2000]);
    auto work = new_work();
    Bytes out;
    ASSERT_EQ(do_explode(w.finish(), out, *work), tv::kExplodeOk);
    EXPECT_EQ(out, expected);
}

TEST(Explode, RefusesBadStreams) {
    auto work = new_work();
    Bytes out;
    EXPECT_EQ(do_explode({0x00, 0x07, 0x82, 0x02, 0xFE, 0x01}, out, *work), tv::kExplodeBadDictionary);
    EXPECT_EQ(do_explode({0x00, 0x03, 0x82, 0x02, 0xFE, 0x01}, out, *work), tv::kExplodeBadDictionary);
    EXPECT_EQ(do_explode({0x02, 0x06, 0x82, 0x02, 0xFE, 0x01}, out, *work), tv::kExplodeBadType);
    EXPECT_EQ(do_explode({}, out, *work), tv::kExplodeBadData);
    EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x02}, out, *work), tv::kExplodeBadData);
    // Cut before the end code.
    EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x08, 0xED}, out, *work), tv::kExplodeAbort);
    EXPECT_EQ(do_explode({0x00, 0x06, 0x82, 0x02, 0xFE}, out, *work), tv::kExplodeAbort);
}

TEST(Explode, RefusesDistanceBeyondTheDataWritten) {
    auto work = new_work();
    Bytes out;
    // Fill the work area's window with a first run, so a stale copy would have data to leak.
    ASSERT_EQ(do_explode(do_implode(random_bytes(20000, 5), 0, 4096, *work), out, *work), tv::kExplodeOk);
    BitWriter w(0, 6);
    w.literal('A');
    w.bits(1, 1);
    w.code(0, 2);  // length symbol 0: length 3
    w.code(0, 2);  // distance high part 0
    w.bits(1, 6);  // distance 2, one byte more than written
    w.end();
    EXPECT_EQ(do_explode(w.finish(), out, *work), tv::kExplodeAbort);
    EXPECT_LE(out.size(), 1u);
}

TEST(Explode, EveryTruncationFails) {
    auto work = new_work();
    const Bytes stream = do_implode(text_bytes(3000), 1, 2048, *work);
    Bytes out;
    for (std::size_t n = 0; n < stream.size(); ++n) {
        Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_NE(do_explode(cut, out, *work), tv::kExplodeOk) << n;
    }
}

TEST(Explode, SurvivesGarbage) {
    auto work = new_work();
    Bytes out;
    for (unsigned seed = 0; seed < 300; ++seed) {
        Bytes junk = random_bytes(64 + seed * 7, seed);
        junk[0] = static_cast<std::uint8_t>(seed & 1);
        junk[1] = static_cast<std::uint8_t>(4 + seed % 3);
        int r = do_explode(junk, out, *work);
        EXPECT_TRUE(r == tv::kExplodeOk || r == tv::kExplodeAbort) << seed;
    }
}

TEST(Implode, EmptyInputAndParameters) {
    auto work = new_work();
    EXPECT_EQ(do_implode({}, 0, 4096, *work), (Bytes{0x00, 0x06, 0x01, 0xFF}));
    EXPECT_EQ(do_implode({}, 1, 1024, *work), (Bytes{0x01, 0x04, 0x01, 0xFF}));
    Bytes out;
    // The library's short-input rule: peers' decoders refuse it too.
    EXPECT_EQ(do_explode({0x00, 0x06, 0x01, 0xFF}, out, *work), tv::kExplodeBadData);

    Bytes data{'x'};
    Pipe io(&data);
    EXPECT_EQ(tv::implode(source_read, sink_write, *work, &io, 0, 3000), tv::kImplodeBadDictionary);
    EXPECT_EQ(tv::implode(source_read, sink_write, *work, &io, 2, 4096), tv::kImplodeBadType);
    EXPECT_TRUE(io.out.empty());
}

TEST(Implode, ShortInputsAreUnique) {
    auto work = new_work();
    EXPECT_EQ(do_implode({'A'}, 0, 4096, *work), (Bytes{0x00, 0x06, 0x82, 0x02, 0xFE, 0x01}));
    EXPECT_EQ(do_implode({'A'}, 0, 4096, *work), literal_only_stream({'A'}));
}

TEST(Implode, RoundTripsEveryKindAndSize) {
    auto work = new_work();
    const Bytes sources[] = {text_bytes(3 * 4096 + 9), random_bytes(3 * 4096 + 9, 1), ecg_bytes(3 * 4096 + 9)};
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n = 301; n <= 3 * 4096; n += 97) lengths.push_back(n);
    for (std::size_t k : {1024u, 2048u, 4096u, 8192u, 3u * 4096u}) {
        lengths.push_back(k - 1);
        lengths.push_back(k);
        lengths.push_back(k + 1);
    }
    Bytes out;
    for (const Bytes& src : sources)
        for (unsigned type : {0u, 1u})
            for (unsigned dict : {1024u, 2048u, 4096u})
                for (std::size_t n : lengths) {
                    const Bytes data(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(std::min(n, src.size())));
                    const Bytes stream = do_implode(data, type, dict, *work);
                    ASSERT_EQ(stream[0], type);
                    ASSERT_EQ(stream[1], dict == 1024 ? 4 : dict == 2048 ? 5 : 6);
                    ASSERT_EQ(do_explode(stream, out, *work), tv::kExplodeOk) << n << ' ' << type << ' ' << dict;
                    ASSERT_EQ(out, data) << n << ' ' << type << ' ' << dict;
                }
}

TEST(Implode, LargeInputsRoundTripAndShrink) {
    auto work = new_work();
    Bytes out;
    for (const Bytes& data : {ecg_bytes(1 << 20), text_bytes(500000), Bytes(300000, 0x55)}) {
        const Bytes stream = do_implode(data, 0, 4096, *work);
        EXPECT_LT(stream.size(), data.size() / 2);
        ASSERT_EQ(do_explode(stream, out, *work), tv::kExplodeOk);
        EXPECT_EQ(out, data);
    }
    const Bytes noise = random_bytes(200000, 9);
    ASSERT_EQ(do_explode(do_implode(noise, 0, 1024, *work), out, *work), tv::kExplodeOk);
    EXPECT_EQ(out, noise);
}

TEST(Implode, BlockSizesOfTheCallbacks) {
    auto work = new_work();
    const Bytes data = random_bytes(50000, 2);
    std::vector<unsigned> blocks;
    unsigned asked = 0;
    const Bytes stream = do_implode(data, 0, 4096, *work, &blocks, &asked);
    EXPECT_EQ(asked, 4096u);
    ASSERT_GE(blocks.size(), 2u);
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i], 2048u);
    EXPECT_LE(blocks.back(), 2048u);
    Pipe io(&stream);
    ASSERT_EQ(tv::explode(source_read, sink_write, *work, &io), tv::kExplodeOk);
    EXPECT_EQ(io.max_asked, 2048u);
    for (std::size_t i = 0; i + 1 < io.blocks.size(); ++i) EXPECT_EQ(io.blocks[i], 4096u);
    EXPECT_EQ(io.out, data);
}

TEST(Implode, LiteralOnlyStreamsFromAnIndependentEncoder) {
    auto work = new_work();
    Bytes out;
    for (std::size_t n : {1u, 2u, 5u, 4095u, 4096u, 70000u}) {
        const Bytes data = random_bytes(n, static_cast<unsigned>(n));
        ASSERT_EQ(do_explode(literal_only_stream(data), out, *work), tv::kExplodeOk);
        EXPECT_EQ(out, data);
    }
}

TEST(Implode, SeparateWorkAreasRunInParallel) {
    const Bytes a = ecg_bytes(400000), b = text_bytes(400000);
    bool ok_a = false, ok_b = false;
    auto job = [](const Bytes& data, bool& ok) {
        auto work = new_work();
        Bytes out;
        ok = do_explode(do_implode(data, 0, 4096, *work), out, *work) == tv::kExplodeOk && out == data;
    };
    std::thread ta(job, std::cref(a), std::ref(ok_a)), tb(job, std::cref(b), std::ref(ok_b));
    ta.join();
    tb.join();
    EXPECT_TRUE(ok_a);
    EXPECT_TRUE(ok_b);
}

// An outside decoder of the binary type checks that the streams follow the format.
TEST(Implode, OutsideDecoderAgrees) {
    if (std::system("command -v dynamite >/dev/null 2>&1") != 0) GTEST_SKIP() << "dynamite is not installed";
    namespace fs = std::filesystem;
    tv::platform::testing::TempRoot temp;
    const fs::path dir = temp.path();
    auto work = new_work();
    auto check = [&](const Bytes& stream, const Bytes& expected, const std::string& what) {
        const fs::path in = dir / "in.bin", out = dir / "out.bin";
        {
            std::ofstream(in, std::ios::binary)
                .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        }
        const std::string cmd = "dynamite '" + in.string() + "' '" + out.string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << what;
        std::ifstream f(out, std::ios::binary);
        Bytes got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(got, expected) << what;
    };
    for (unsigned dict : {1024u, 2048u, 4096u}) {
        check(do_implode(ecg_bytes(100000), 0, dict, *work), ecg_bytes(100000), "ecg");
        check(do_implode(text_bytes(50000), 0, dict, *work), text_bytes(50000), "text");
        check(do_implode(random_bytes(20000, 4), 0, dict, *work), random_bytes(20000, 4), "random");
    }
    check({0x00, 0x06, 0x82, 0x08, 0xED, 0x05, 0xFC, 0x03}, {'A', 'B', 'A', 'B'}, "ABAB");
    check(literal_only_stream(random_bytes(5000, 8)), random_bytes(5000, 8), "literal-only");
}

// The transfer file's check value of a packed stream.
TEST(Crc32, OfAPackedStream) {
    const Bytes a_stream{0x00, 0x06, 0x82, 0x02, 0xFE, 0x01};
    EXPECT_EQ(~tv::crc32_update(tv::kCrc32Start, a_stream.data(), a_stream.size()), 0x876E0278u);
}

}  // namespace
