// Bit-stream cards (format 35) with an index, read whole and with a skip; the mapping output and
// its 32-hour cap.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/shared_memory.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Sector;

constexpr int kBlocks = 7300;  // a little over two hours

struct StreamCard {
    std::vector<Sector> sectors;
    std::vector<std::array<std::vector<std::uint16_t>, 3>> expect;  // per block: samples per channel
    std::vector<std::vector<std::uint16_t>> flags;                  // per block
    std::vector<std::uint64_t> block_bits;
    int blocks_ending_at_499 = 0;
};

void time_plus(const std::uint8_t* base, int seconds, std::uint8_t* out) {
    int s = base[0] + base[1] * 60 + base[2] * 3600 + seconds;  // stays within the day
    out[0] = static_cast<std::uint8_t>(s % 60);
    out[1] = static_cast<std::uint8_t>(s / 60 % 60);
    out[2] = static_cast<std::uint8_t>(s / 3600);
    out[3] = base[3];
    out[4] = base[4];
    out[5] = base[5];
}

const std::vector<int>& codable_cached(int t) {
    static std::vector<int> c[8];
    if (c[t].empty()) c[t] = cardgen::codable(t);
    return c[t];
}

StreamCard make_stream_card() {
    StreamCard card;
    std::mt19937 rng(1234);
    cardgen::BitWriter w;
    int window = 0;
    for (int b = 0; b < kBlocks; ++b) {
        cardgen::Block blk;
        std::array<std::vector<std::uint16_t>, 3> samples;
        for (int c = 0; c < 3; ++c) {
            if (b == 30 && c == 1) continue;  // channel 2 absent
            auto& a = blk.a[c];
            blk.type[c] = static_cast<int>(rng() % 8);
            const int m = cardgen::multiplier(blk.type[c]);
            a.push_back(static_cast<int>(200 + rng() % 600));
            int last = 0;
            for (int i = 1; i < 128; ++i) {
                int t = blk.type[c];
                if (t == 3) t = last <= 3 ? 1 : (last >= 10 && last <= 37 ? 0 : 2);
                const auto& choices = codable_cached(t);
                // Mostly small steps, now and then an escape.
                int d;
                do {
                    d = choices[rng() % choices.size()];
                } while (std::abs(d) > 12 && rng() % 8 != 0);
                if (a.back() + d * m < -50 || a.back() + d * m > 1100) d = -d;
                if (!cardgen::codes(t).count(d)) d = 0;
                if (t <= 2) last = std::abs(d);
                a.push_back(a.back() + d * m);
            }
        }
        std::vector<std::uint16_t> f(128, 0);
        int fills = 1 + (b == 30 ? 1 : 0);
        for (int k = 0; k < fills; ++k)
            for (auto& x : f) {
                if (window > 0) {
                    x = 0x8000;
                    --window;
                } else {
                    x = 0;
                }
            }
        std::vector<int> pos;
        if (b == 5) blk.events = {120};
        if (b == 10) blk.events = {10, 50, 126};
        if (b == 20) {
            blk.train = true;
            blk.train_count = 9;
            blk.train_span = 72;
            blk.train_first = 20;
            for (int i = 0; i < 9; ++i) pos.push_back(20 + 9 * i);
        }
        if (!blk.train) pos = blk.events;
        for (int p : pos) {
            f[static_cast<std::size_t>(p)] = 0x1000;
            const int end = std::min(p + 22, 127);
            for (int j = p; j <= end; ++j) f[static_cast<std::size_t>(j)] |= 0x8000;
            window = 23 - (end - p + 1);
        }
        card.block_bits.push_back(w.bit());
        EXPECT_TRUE(cardgen::encode_block(w, blk, 3)) << b;
        const std::uint64_t end_bit = w.bit() - 1;
        if ((end_bit / 8) % 507 == 499) ++card.blocks_ending_at_499;
        for (int c = 0; c < 3; ++c) {
            samples[static_cast<std::size_t>(c)].resize(128, 0);
            if (blk.a[c].empty()) continue;
            for (int i = 0; i < 128; ++i)
                samples[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] =
                    static_cast<std::uint16_t>(cardgen::out_sample(blk.a[c][static_cast<std::size_t>(i)]));
        }
        card.expect.push_back(samples);
        card.flags.push_back(f);
    }
    const auto stream = cardgen::stream_sectors(w.bytes, card.block_bits, 35, 5);
    cardgen::StartInfo st;
    st.format = 35;
    st.time[0] = 0;
    st.time[1] = 0;
    st.time[2] = 10;
    const std::uint32_t first = 2;
    std::vector<cardgen::IndexItem> index;
    cardgen::IndexItem i1{1, {}, first, 40};
    std::memcpy(i1.time, st.time, 6);
    index.push_back(i1);
    cardgen::IndexItem i2{2, {}, 0, 0};
    time_plus(st.time, 3600, i2.time);
    i2.sector = first + static_cast<std::uint32_t>(card.block_bits[3600] / 4056);
    i2.bit = static_cast<unsigned>(card.block_bits[3600] % 4056 + 40);
    index.push_back(i2);
    for (int secs : {600, 5400}) {
        cardgen::IndexItem e{3, {}, 0, 0};
        time_plus(st.time, secs, e.time);
        index.push_back(e);
    }
    card.sectors.push_back(cardgen::start_sector(st));
    card.sectors.push_back(cardgen::index_sector(index, 5));
    card.sectors.insert(card.sectors.end(), stream.begin(), stream.end());
    card.sectors.push_back(Sector{});
    return card;
}

class StreamCardTest : public VondTest {};

TEST_F(StreamCardTest, BitStreamCardWithIndexReadWholeAndWithSkip) {
    const StreamCard sc = make_stream_card();
    EXPECT_GT(sc.blocks_ending_at_499, 0);  // some block ends in the last byte before the carry
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, sc.sectors);
    const std::vector<std::string> args = {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide",
                                           "/opformat=archive", "/cal=0"};
    RunResult r = run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(out / "patevent.dat"), "600\r\n5400\r\n");
    for (int c = 0; c < 3; ++c) {
        const auto w = words(out / ("rawecg" + std::to_string(c + 1) + ".dat"));
        ASSERT_GE(w.size(), static_cast<std::size_t>(kBlocks) * 128);
        for (int b = 0; b < kBlocks; ++b)
            for (int i = 0; i < 128; ++i) {
                std::uint16_t s =
                    sc.expect[static_cast<std::size_t>(b)][static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
                if (s == 0) s = 1;  // an absent channel's zeros are written as "no data" never
                const std::uint16_t e =
                    static_cast<std::uint16_t>(s | sc.flags[static_cast<std::size_t>(b)][static_cast<std::size_t>(i)]);
                ASSERT_EQ(w[static_cast<std::size_t>(b) * 128 + static_cast<std::size_t>(i)], e)
                    << "channel " << c << " block " << b << " sample " << i;
            }
    }

    r = run(
        {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=archive", "/cal=0", "/skip=1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(out / "patevent.dat"), "1800\r\n");
    const auto w = words(out / "rawecg1.dat");
    ASSERT_GE(w.size(), 128u * 10);
    for (int b = 0; b < 10; ++b)
        for (int i = 0; i < 128; ++i)
            ASSERT_EQ(w[static_cast<std::size_t>(b) * 128 + static_cast<std::size_t>(i)] & 0xFFF,
                      sc.expect[static_cast<std::size_t>(3600 + b)][0][static_cast<std::size_t>(i)])
                << b << " " << i;
}

TEST_F(StreamCardTest, HostileIndexPositionIsRefused) {
    StreamCard sc = make_stream_card();
    // Point the one-hour entry past the end of ecg.dat.
    Sector& idx = sc.sectors[1];
    tv::store_le32(&idx[3 + 12 + 8], 0x7FFFFF);
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, sc.sectors);
    RunResult r =
        run({"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=archive", "/skip=1"});
    EXPECT_EQ(r.code, 108);
    EXPECT_NE(r.err.find("Set index position failed in sector"), std::string::npos) << r.err;
}

TEST_F(StreamCardTest, IndexThatLoopsEnds) {
    StreamCard sc = make_stream_card();
    // An index whose link points back at itself, and an entry of length 0.
    Sector& idx = sc.sectors[1];
    Sector loop{};
    loop[0] = 32;
    tv::store_le16(&loop[1], 5);
    loop[3] = 255;
    tv::store_le32(&loop[508], 1);
    idx = loop;
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, sc.sectors);
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=archive",
                       "/duration=1", "/cal=0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(out / "patevent.dat"), "");
}

// A plain bit-stream card of 1 to 3 channels (format 32 + channels): in block b channel c
// alternates between level(b, c) and 3 above it; block 2 has an event at sample 100. Blocks are
// added until `enough(first bit, bit after the end, blocks)`.
int level(int b, int c) { return 100 + 10 * c + b % 50; }

struct PlainStream {
    std::vector<Sector> sectors;
    int blocks = 0;
};

template <class Enough>
PlainStream plain_stream(int channels, Enough enough) {
    PlainStream p;
    cardgen::BitWriter w;
    std::vector<std::uint64_t> starts;
    for (int b = 0;; ++b) {
        cardgen::Block blk;
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < 128; ++i) blk.a[c].push_back(level(b, c) + 3 * (i % 2));
        if (b == 2) blk.events = {100};
        starts.push_back(w.bit());
        EXPECT_TRUE(cardgen::encode_block(w, blk, channels));
        if (enough(starts.back(), w.bit(), b + 1)) break;
    }
    p.blocks = static_cast<int>(starts.size());
    const auto type = static_cast<std::uint8_t>(32 + channels);
    cardgen::StartInfo st;
    st.format = type;
    p.sectors.push_back(cardgen::start_sector(st));
    for (auto& s : cardgen::stream_sectors(w.bytes, starts, type, st.rec)) p.sectors.push_back(s);
    p.sectors.push_back(Sector{});
    return p;
}

std::uint16_t plain_sample(int b, int c, int i) {
    return static_cast<std::uint16_t>(cardgen::out_sample(level(b, c) + 3 * (i % 2)));
}

TEST_F(StreamCardTest, TheLastBlockEndsTheRecordingAndThePaddingIsNoBlock) {
    // Blocks of this card take 1,183 bits. Zeros fill the last stream sector after the last block.
    using Enough = bool (*)(std::uint64_t, std::uint64_t, int);
    struct Case {
        const char* what;
        Enough enough;
    };
    const Case cases[] = {
        {"last block begins in the last-but-one sector and ends in the last, which declares no start",
         [](std::uint64_t first, std::uint64_t end, int blocks) {
             return blocks > 4 && first / 4056 != (end - 1) / 4056;
         }},
        {"last block leaves room for a block of zeros in its sector",
         [](std::uint64_t first, std::uint64_t end, int blocks) {
             return blocks > 4 && first / 4056 == (end - 1) / 4056 && end % 4056 < 2500;
         }},
    };
    const fs::path card = t / "CARD";
    const std::vector<std::string> args = {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide",
                                           "/opformat=archive", "/cal=0"};
    for (const Case& c : cases) {
        const PlainStream ps = plain_stream(3, c.enough);
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, ps.sectors);
        RunResult r = run(args);
        ASSERT_EQ(r.code, 0) << c.what << r.err;
        EXPECT_EQ(tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1), 6u) << c.what;  // marked
        for (int ch = 0; ch < 3; ++ch) {
            const auto w = words(out / ("rawecg" + std::to_string(ch + 1) + ".dat"));
            ASSERT_EQ(w.size(), 153600u);
            for (int b = 0; b < ps.blocks; ++b)
                for (int i = 0; i < 128; ++i)
                    ASSERT_EQ(w[static_cast<std::size_t>(b * 128 + i)] & 0xFFF, plain_sample(b, ch, i))
                        << c.what << " " << b << " " << i;
            // After the last block comes the gap filler, not decoded padding.
            for (std::size_t k = static_cast<std::size_t>(ps.blocks) * 128; k < w.size(); ++k)
                ASSERT_EQ(w[k], 0) << c.what << " " << k;
        }
        // The same sector with the stream going on after it is damaged.
        std::vector<Sector> damaged = ps.sectors;
        damaged.insert(damaged.end() - 1, damaged[damaged.size() - 2]);
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, damaged);
        r = run(args);
        EXPECT_EQ(r.code, 108) << c.what;
        EXPECT_NE(r.err.find("ecg decompression error in sector"), std::string::npos) << c.what << r.err;
    }
}

// --- mapping output ---

int ramp(int k, int i, int c) { return (k * 128 + i + c * 7) % 1024; }

class MappingTest : public VondTest {};

TEST_F(MappingTest, CardIntoTheNamedMappings) {
    std::vector<Sector> s;
    s.push_back(cardgen::start_sector(cardgen::StartInfo{}));
    for (int k = 0; k < 10; ++k) {
        cardgen::DataSector d;
        if (k == 3) {
            d.button = true;
            d.events = {5};
        }
        for (auto [c, i] : cardgen::value_order(false)) d.values.push_back(ramp(k, i, c));
        s.push_back(cardgen::data_sector(d));
    }
    s.push_back(Sector{});
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, s);
    const auto held = hold_card_mappings();
    RunResult r = run(
        {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=mmf", "/duration=1", "/cal=0"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto ctrl = tv::platform::SharedMemory::open_existing("ECGCTRL.MMF", 48, false);
    ASSERT_TRUE(ctrl);
    auto* cb = static_cast<const tv::EcgControlBlock*>(ctrl->data());
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(cb[c].samples_written, 153600);
        EXPECT_EQ(cb[c].transfer_done, 1);
        auto raw = tv::platform::SharedMemory::open_existing(tv::kRawEcgNames[c], tv::kRawEcgBytes, false);
        ASSERT_TRUE(raw);
        auto* w = static_cast<const std::uint16_t*>(raw->data());
        for (int n = 0; n < 1280; ++n) {
            std::uint16_t e = static_cast<std::uint16_t>(ramp(n / 128, n % 128, c) * 4);  // 0 stays 0
            if (n == 389) e |= 0x1000;
            if (n >= 389 && n < 389 + 23) e |= 0x8000;
            ASSERT_EQ(w[n], e) << c << " " << n;
        }
    }
    auto ev = tv::platform::SharedMemory::open_existing("Patient Events", tv::kCardPatientEventBytes, false);
    ASSERT_TRUE(ev);
    auto* e = static_cast<const std::int32_t*>(ev->data());
    EXPECT_EQ(e[0], 1);
    EXPECT_EQ(e[1], 3);
}

TEST_F(MappingTest, OneChannelStreamsSquareWaveCarriesTheEventFlags) {
    std::unique_ptr<tv::platform::SharedMemory> raw[3];
    for (int c = 0; c < 3; ++c) raw[c] = tv::platform::SharedMemory::open(tv::kRawEcgNames[c], tv::kRawEcgBytes, true);
    ASSERT_TRUE(raw[0] && raw[1] && raw[2]);
    const PlainStream ps = plain_stream(1, [](std::uint64_t, std::uint64_t, int blocks) { return blocks == 5; });
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, ps.sectors);
    RunResult r = run(
        {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=mmf", "/duration=1", "/cal=0"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto* ch1 = static_cast<const std::uint16_t*>(raw[0]->data());
    const auto* ch2 = static_cast<const std::uint16_t*>(raw[1]->data());
    for (int n = 0; n < 5 * 128; ++n) {
        std::uint16_t flags = 0;
        if (n == 2 * 128 + 100) flags |= 0x1000;
        if (n >= 2 * 128 + 100 && n < 2 * 128 + 123) flags |= 0x8000;
        const std::uint16_t square = (n % 128) / 32 % 2 ? 2253 : 1843;
        ASSERT_EQ(ch1[n], plain_sample(n / 128, 0, n % 128) | flags) << n;
        ASSERT_EQ(ch2[n], square | flags) << n;
    }
}

TEST_F(MappingTest, TapeLayoutPatientEventsIsNotOverrun) {
    // tolbex made the 4,000-byte layout under the same name: the card read refuses it.
    auto small = tv::platform::SharedMemory::open("Patient Events", tv::kPatientEventBytes, true);
    ASSERT_TRUE(small);
    std::vector<Sector> s = {cardgen::start_sector(cardgen::StartInfo{}), Sector{}};
    const fs::path card = t / "CARD";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, s);
    RunResult r = run({"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide", "/opformat=mmf"});
    EXPECT_EQ(r.code, 108);
    EXPECT_NE(r.err.find("message 141"), std::string::npos);
    EXPECT_EQ(tv::platform::SharedMemory::open_existing("Patient Events", 1, false)->object_size(),
              tv::kPatientEventBytes);
}

TEST_F(MappingTest, FolderFlowCopiesEveryChannelThatHoldsData) {
    // The analysis system holds the mappings while vond fills them.
    std::unique_ptr<tv::platform::SharedMemory> raw[3];
    for (int c = 0; c < 3; ++c) raw[c] = tv::platform::SharedMemory::open(tv::kRawEcgNames[c], tv::kRawEcgBytes, true);
    auto ctrl = tv::platform::SharedMemory::open("ECGCTRL.MMF", 48, true);
    ASSERT_TRUE(raw[0] && raw[1] && raw[2] && ctrl);
    auto* cb = static_cast<const tv::EcgControlBlock*>(ctrl->data());
    const fs::path rec = t / "REC";
    fs::create_directories(rec);
    cardgen::write_bytes(rec / "CEFDESC.TXT", "x", 1);
    cardgen::write_bytes(rec / "PATIENT.TXT", "x", 1);
    std::vector<std::uint16_t> ch1(300000), ch3(300000);
    for (std::size_t i = 0; i < ch1.size(); ++i) {
        ch1[i] = static_cast<std::uint16_t>(i % 4096);
        ch3[i] = static_cast<std::uint16_t>(4095 - i % 4096);
    }
    cardgen::write_bytes(rec / "RAWECG1.DAT", ch1.data(), ch1.size() * 2);
    cardgen::write_bytes(rec / "RAWECG3.DAT", ch3.data(), ch3.size() * 2);
    const std::vector<std::string> args = {"/dir=" + out.string(), "/ipdir=" + rec.string(), "/readecg=hide",
                                           "/opformat=mmf"};
    struct Case {
        const char* channel2;  // an empty file, or a folder that cannot be read as one
        int expect;
    };
    for (const Case c : {Case{"empty", 0}, {"folder", 105}}) {
        fs::remove_all(rec / "RAWECG2.DAT");
        if (std::string(c.channel2) == "empty")
            cardgen::write_bytes(rec / "RAWECG2.DAT", "", 0);
        else
            fs::create_directories(rec / "RAWECG2.DAT");
        std::memset(raw[2]->data(), 0, ch3.size() * 2);
        RunResult r = run(args);
        ASSERT_EQ(r.code, c.expect) << c.channel2 << r.err;
        if (c.expect != 0) continue;
        EXPECT_EQ(cb[0].samples_written, 300000);
        EXPECT_EQ(cb[1].samples_written, 0);
        EXPECT_EQ(cb[2].samples_written, 300000);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(cb[k].transfer_done, 1);
        EXPECT_EQ(std::memcmp(raw[2]->data(), ch3.data(), ch3.size() * 2), 0);
        EXPECT_EQ(std::memcmp(raw[0]->data(), ch1.data(), ch1.size() * 2), 0);
    }
}

TEST_F(MappingTest, FolderFlowStopsAtThe32HourCapAnd4096Events) {
    const fs::path rec = t / "REC";
    fs::create_directories(rec);
    cardgen::write_bytes(rec / "CEFDESC.TXT", "x", 1);
    cardgen::write_bytes(rec / "PATIENT.TXT", "x", 1);
    const std::uint64_t size = 33ull * 921600;
    for (int c = 1; c <= 3; ++c) {
        const fs::path p = rec / ("RAWECG" + std::to_string(c) + ".DAT");
        const std::uint8_t head[4] = {static_cast<std::uint8_t>(c), 0, 2, 0};
        cardgen::write_bytes(p, head, 4);
        fs::resize_file(p, size);  // sparse
    }
    std::string ev;
    for (int i = 0; i < 5000; ++i) ev += std::to_string(i) + "\n";
    cardgen::write_bytes(rec / "PATEVENT.DAT", ev.data(), ev.size());
    const auto held = hold_card_mappings();
    RunResult r =
        run({"/dir=" + out.string(), "/ipdir=" + rec.string(), "/readecg=hide", "/opformat=mmf", "/duration=40"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto ctrl = tv::platform::SharedMemory::open_existing("ECGCTRL.MMF", 48, false);
    ASSERT_TRUE(ctrl);
    auto* cb = static_cast<const tv::EcgControlBlock*>(ctrl->data());
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(cb[c].samples_written, static_cast<std::int32_t>(tv::kRawEcgSamples));
        EXPECT_EQ(cb[c].transfer_done, 1);
    }
    auto raw = tv::platform::SharedMemory::open_existing("RAWECG2.MMF", tv::kRawEcgBytes, false);
    EXPECT_EQ(static_cast<const std::uint16_t*>(raw->data())[0], 2);
    EXPECT_EQ(static_cast<const std::uint16_t*>(raw->data())[1], 2);
    auto evm = tv::platform::SharedMemory::open_existing("Patient Events", tv::kCardPatientEventBytes, false);
    auto* e = static_cast<const std::int32_t*>(evm->data());
    EXPECT_EQ(e[0], 4096);
    EXPECT_EQ(e[4096], 4095);
}

}  // namespace
