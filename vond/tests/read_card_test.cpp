// The main road: a three-channel card read into recording files by the built program.
#include <gtest/gtest.h>

#include "platform/shared_memory.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Sector;

// v(k, i, c): the 10-bit value of data sector k, sample i, channel c (0 included).
int ramp(int k, int i, int c) { return cardgen::ramp_value(0, k, i, c); }

std::vector<Sector> three_channel_card(unsigned rec = 5) { return cardgen::three_channel_recording(rec); }

class ReadCardTest : public VondTest {
protected:
    void make_card() {
        card = t / "CARD";
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "DOE^JOHN", "12345"), 1024, three_channel_card());
    }
    unsigned card_rec() { return tv::load_le16(cardgen::read_bytes(card / "config.dat").data() + 1); }
    RunResult read_archive(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> a = {"/dir=" + out.string(), "/ipdir=" + card.string(), "/readecg=hide",
                                      "/opformat=archive", "/cal=0"};
        a.insert(a.end(), extra.begin(), extra.end());
        return run(a);
    }
    fs::path card;
};

TEST_F(ReadCardTest, ThreeChannelCardToFilesAndMarkedAsRead) {
    make_card();
    RunResult r = read_archive();
    ASSERT_EQ(r.code, 0) << r.err;
    for (int c = 0; c < 3; ++c) {
        const auto w = words(out / ("rawecg" + std::to_string(c + 1) + ".dat"));
        ASSERT_EQ(w.size(), 153600u) << c;  // padded to 20 minutes: 307,200 bytes
        for (int n = 0; n < 1280; ++n) {
            const int k = n / 128, i = n % 128;
            const int v = ramp(k, i, c) * 4;
            std::uint16_t expect = static_cast<std::uint16_t>(v == 0 ? 1 : v);
            const int ev = 3 * 128 + 5;
            if (n == ev) expect |= 0x1000;
            if (n >= ev && n < ev + 23) expect |= 0x8000;
            ASSERT_EQ(w[static_cast<std::size_t>(n)], expect) << "channel " << c << " sample " << n;
        }
        for (std::size_t n = 1280; n < w.size(); ++n) ASSERT_EQ(w[n], 0) << n;
    }
    EXPECT_EQ(slurp(out / "patevent.dat"), "3\r\n");
    const auto other = cardgen::read_bytes(out / "other.dat");
    ASSERT_EQ(other.size(), 832u);
    const Sector plain = cardgen::start_sector(cardgen::StartInfo{}, false);
    // The start sector as read: unscrambled, its checksum kept.
    Sector scrambled = cardgen::start_sector(cardgen::StartInfo{});
    EXPECT_TRUE(std::equal(plain.begin() + 5, plain.end(), other.begin() + 5));
    EXPECT_EQ(other[3], scrambled[3]);
    EXPECT_EQ(card_rec(), 6u);

    // Read again: the card was marked, nothing more happens to it.
    const auto config = cardgen::read_bytes(card / "config.dat");
    r = read_archive();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cardgen::read_bytes(card / "config.dat"), config);
}

TEST_F(ReadCardTest, ChecksumErrorStopsTheReadAndLeavesTheCardUnmarked) {
    make_card();
    auto ecg = cardgen::read_bytes(card / "ecg.dat");
    // The low-byte form's register after a byte depends only on the last two stored bytes (the
    // key byte cancels the CRC's low byte), so only a change among them shows: flip the last.
    ecg[5 * 512 + 511] ^= 0x40;
    cardgen::write_bytes(card / "ecg.dat", ecg.data(), ecg.size());
    RunResult r = read_archive();
    EXPECT_EQ(r.code, 108);
    EXPECT_NE(r.err.find("10 bit checksum error in sector 5\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("message 136"), std::string::npos);
    const auto w = words(out / "rawecg1.dat");
    ASSERT_GE(w.size(), 512u);
    for (int n = 0; n < 512; ++n) {
        const int v = ramp(n / 128, n % 128, 0) * 4;
        EXPECT_EQ(w[static_cast<std::size_t>(n)] & 0x0FFF, v == 0 ? 1 : v) << n;
    }
    EXPECT_EQ(w[512], 0);
    EXPECT_EQ(card_rec(), 5u);
}

TEST_F(ReadCardTest, StopEventEndsTheReadWithoutMarking) {
    make_card();
    auto ev = tv::platform::NamedEvent::open("VOND TERMINATOR", true, false);
    ASSERT_TRUE(ev);
    ev->set();
    RunResult r = read_archive();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(words(out / "rawecg1.dat").size(), 0u);
    EXPECT_EQ(card_rec(), 5u);
}

TEST_F(ReadCardTest, ScrambledReducedWordsAndCalibration) {
    make_card();
    RunResult r = read_archive({"/resolution=8", "/scramble", "/cal=1"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto w = words(out / "rawecg2.dat");
    // Table of the word scrambling: low 16 bits of the CRC-32 table.
    auto S = [](unsigned n) {
        std::uint32_t c = n & 0xFF;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        return static_cast<std::uint16_t>(c);
    };
    EXPECT_EQ(S(1), 0x3096);
    EXPECT_EQ(S(4), 0xC419);
    // Calibration: start offset = 1 + 30 seconds: 2 x 31 periods of 32 x 1843, 32 x 2253 (reduced).
    const int cal = 31 * 128;
    auto reduce8 = [](int s) { return s == 0 ? 0 : s >= 4088 ? s : ((s < 8 ? 16 : s + 8) & 0xFFF0); };
    for (int n = 0; n < cal; ++n) {
        const int s = (n / 32) % 2 ? 2253 : 1843;
        ASSERT_EQ(w[static_cast<std::size_t>(n)] ^ S(static_cast<unsigned>(n + 1)), reduce8(s)) << n;
    }
    // Below 10 bits the 10-bit codes are reduced too (a 0 became 1 first).
    for (int n = 0; n < 1280; ++n) {
        const int v = ramp(n / 128, n % 128, 1) * 4;
        const int m = cal + n;
        ASSERT_EQ((w[static_cast<std::size_t>(m)] ^ S(static_cast<unsigned>(m + 1))) & 0x0FFF, reduce8(v == 0 ? 1 : v))
            << n;
    }
    EXPECT_EQ(slurp(out / "patevent.dat"), "34\r\n");
}

}  // namespace
