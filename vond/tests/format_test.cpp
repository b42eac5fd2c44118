// The card codings against the test encoder and against values worked out by hand.
#include <gtest/gtest.h>

#include "common/ui.h"
#include "vond/bitstream.h"
#include "vond/card_disk.h"
#include "vond/card_files.h"
#include "vond/card_format.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace tv::vond;
using cardgen::Sector;
namespace fs = std::filesystem;

// The register the sector forms run, over a plain buffer: checks the table against known values.
std::uint16_t crc16(const std::uint8_t* data, std::size_t size) {
    const auto& t = crc16_table();
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return static_cast<std::uint16_t>(crc);
}

TEST(SectorCoding, ChecksumAndScramblingForms) {
    const char* digits = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x6F91);
    const std::vector<std::uint8_t> zeros(507, 0);
    EXPECT_EQ(crc16(zeros.data(), zeros.size()), 0x04B0);

    std::mt19937 rng(7);
    for (bool high : {false, true}) {
        Sector plain{};
        plain[0] = high ? 5 : 2;
        for (int i = 5; i < 512; ++i) plain[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(rng());
        Sector s = plain;
        cardgen::scramble(s.data(), high);  // the test encoder's own scrambler
        Sector mine = plain;
        scramble_sector(mine.data(), high ? SectorForm::High : SectorForm::Low);
        EXPECT_EQ(mine, s);
        ASSERT_TRUE(unscramble_by_type(s.data()));
        EXPECT_TRUE(std::equal(plain.begin() + 5, plain.end(), s.begin() + 5));
        Sector z{};
        z[0] = plain[0];
        cardgen::scramble(z.data(), high);
        EXPECT_EQ(z[5], 0xFF);
    }
    // The same stored bytes read with the other form fail.
    Sector s{};
    s[0] = 1;
    for (int i = 5; i < 512; ++i) s[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    cardgen::scramble(s.data(), false);
    Sector as4 = s;
    as4[0] = 4;
    EXPECT_FALSE(unscramble_by_type(as4.data()));
    // A conditioned card's first sector passes the low-byte form.
    Sector cond{};
    cond[0] = 0x81;
    cond[1] = 0x01;
    EXPECT_TRUE(unscramble_sector(cond.data(), SectorForm::Low));
    EXPECT_EQ(cond[5], 0xFF);
    EXPECT_EQ(cond[6], 0xFF);
    // Stream sectors are neither unscrambled nor checked.
    Sector st{};
    st[0] = 35;
    st[3] = 40;
    st[9] = 0x55;
    Sector copy = st;
    EXPECT_TRUE(unscramble_by_type(st.data()));
    EXPECT_EQ(st, copy);
}

TEST(SectorCoding, FormatsAndClock) {
    EXPECT_EQ(format_channel_count(33), 1);
    EXPECT_EQ(format_result_code(33), 115);
    EXPECT_EQ(format_channel_count(48 | 0x80), 3);
    EXPECT_EQ(format_result_code(64), 123);
    EXPECT_EQ(format_result_code(7), 109);
    EXPECT_TRUE(format_is_sector_coded(48));
    EXPECT_FALSE(format_is_sector_coded(2));

    const std::uint8_t y2k[6] = {0, 0, 0, 1, 1, 0};
    EXPECT_EQ(CardClock::from_bytes(y2k).to_seconds(), 0);
    const std::uint8_t y99[6] = {59, 59, 23, 31, 12, 99};
    EXPECT_EQ(CardClock::from_bytes(y99).to_seconds(), -1);
    CardClock c = CardClock::from_bytes(y99);
    c.advance_second();
    EXPECT_EQ(c.to_seconds(), 0);
    EXPECT_EQ(c.year, 0);
    EXPECT_EQ(c.month, 1);
    const std::uint8_t feb[6] = {59, 59, 23, 28, 2, 4};
    c = CardClock::from_bytes(feb);
    c.advance_second();
    EXPECT_EQ(c.day, 29);  // 2004 is a leap year
    const std::uint8_t day0[6] = {0, 0, 0, 0, 3, 7};
    EXPECT_TRUE(CardClock::from_bytes(day0).valid());
    c = CardClock{};
    c.advance_half_second();
    c.advance_half_second();
    EXPECT_EQ(c.second, 1);
    for (int i = 0; i < 4; ++i) c.advance_23_hundredths();
    EXPECT_EQ(c.second, 1);
    c.advance_23_hundredths();
    EXPECT_EQ(c.second, 2);
    EXPECT_EQ(c.hundredths, 15);
}

TEST(SectorCoding, StartSectorFieldsAndInformationText) {
    cardgen::StartInfo i;
    i.recorder_text = std::string(30, 'R');  // longer than its room: stops at the length byte
    const Sector s = cardgen::start_sector(i, false);
    const StartSector st = parse_start_sector(s);
    EXPECT_EQ(st.recording_num, 5);
    EXPECT_EQ(st.recording_format, 2);
    EXPECT_EQ(st.recorder_text.size(), 18u);
    const std::string info = format_start_sector_info(st);
    EXPECT_NE(info.find("recorder_serial_no:\t\tSN123456\nrecording_flags"), std::string::npos);
    EXPECT_NE(info.find("recorder_sw_ver:\t\t102H"), std::string::npos);
}

TEST(BitStream, EdgeValues) {
    // Header bit 0, channel 1: h = l = 31, type 7; first difference x = 15, y = 16 (+8 * 15),
    // then x = 15, y = 15 (-8 * 15), then zeros (x = 7).
    cardgen::BitWriter w;
    w.put(0, 1);
    w.put(31, 5);
    w.put(31, 5);
    w.put(7, 3);
    w.put(15, 4);
    w.put(16, 5);
    w.put(15, 4);
    w.put(15, 5);
    for (int i = 3; i < 128; ++i) w.put(7, 4);
    auto sectors = cardgen::stream_sectors(w.bytes, {0}, 33, 5);
    BitStreamDecoder d;
    d.reset();
    auto r = d.step(sectors[0].data());
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.block_ready);
    EXPECT_EQ(d.samples(0)[0], 4093);
    EXPECT_EQ(d.samples(0)[1], 4095);  // 4 * (1023 + 120) + 1, clamped
    EXPECT_EQ(d.samples(0)[2], 4093);  // back by 120
    EXPECT_EQ(d.flags()[0], 0);

    // Channel 2 absent, then no events.
    cardgen::BitWriter a;
    cardgen::Block b;
    b.a[0].assign(128, 100);
    b.a[2].assign(128, 5);
    b.type[0] = b.type[2] = 7;
    ASSERT_TRUE(cardgen::encode_block(a, b, 3));
    auto s3 = cardgen::stream_sectors(a.bytes, {0}, 35, 5);
    BitStreamDecoder d3;
    d3.reset();
    r = d3.step(s3[0].data());
    ASSERT_TRUE(r.block_ready);
    EXPECT_EQ(d3.samples(0)[127], 401);
    EXPECT_EQ(d3.samples(1)[64], 0);
    EXPECT_EQ(d3.samples(2)[0], 21);
}

TEST(BitStream, EveryCodewordOfEveryCode) {
    // Each difference a code carries, as the first step of a block that then stays level.
    for (int t : {0, 1, 2, 4, 5, 6, 7}) {
        for (const auto& [diff, code] : cardgen::codes(t)) {
            const int level = 512 + diff * cardgen::multiplier(t);
            cardgen::Block b;
            b.a[0].assign(128, level);
            b.a[0][0] = 512;
            b.type[0] = t;
            cardgen::BitWriter w;
            ASSERT_TRUE(cardgen::encode_block(w, b, 1));
            const auto sectors = cardgen::stream_sectors(w.bytes, {0}, 33, 5);
            BitStreamDecoder d;
            d.reset();
            const auto r = d.step(sectors[0].data());
            ASSERT_TRUE(r.ok && r.block_ready) << "code " << t << " difference " << diff;
            EXPECT_EQ(d.samples(0)[1], cardgen::out_sample(level)) << "code " << t << " difference " << diff;
            EXPECT_EQ(d.samples(0)[127], cardgen::out_sample(level)) << "code " << t << " difference " << diff;
        }
    }
}

TEST(BitStream, DamagedPositionsAreErrors) {
    cardgen::BitWriter w;
    cardgen::Block b;
    b.a[0].assign(128, 300);
    b.type[0] = 7;
    for (int k = 0; k < 40; ++k) ASSERT_TRUE(cardgen::encode_block(w, b, 1));
    std::vector<std::uint64_t> starts;
    auto sectors = cardgen::stream_sectors(w.bytes, {0, 535, 1070, 1605, 2140, 2675, 3210, 3745, 4280}, 33, 5);
    ASSERT_GE(sectors.size(), 2u);
    tv::store_le16(&sectors[1][3], 999);  // the first block of sector 2 is not where it says
    BitStreamDecoder d;
    d.reset();
    bool failed = false;
    for (auto& s : sectors) {
        for (;;) {
            auto r = d.step(s.data());
            if (!r.ok) {
                failed = true;
                break;
            }
            if (r.sector_used) break;
        }
        if (failed) break;
    }
    EXPECT_TRUE(failed);
    // A type that does not fit is refused.
    Sector other{};
    other[0] = 2;
    BitStreamDecoder e;
    e.reset();
    EXPECT_FALSE(e.step(other.data()).ok);
}

// Nibble-delta and 12-lead sectors through the reading loop into files.
class DecodeTest : public vondtest::VondTest {
protected:
    tv::ScriptedUi ui;
    void SetUp() override {
        VondTest::SetUp();
        tv::set_ui(&ui);
    }
    void TearDown() override {
        tv::set_ui(nullptr);
        VondTest::TearDown();
    }
    std::vector<std::uint16_t> read_channel(const std::vector<Sector>& ecg, int format, int c, int out_format = 2) {
        const fs::path card = t / "C";
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, ecg);
        CardDisk disk;
        disk.set_root(card.string());
        disk.set_mode(10);
        disk.settings().duration_hours = 28;
        disk.set_calibration(0);
        (void)format;
        EXPECT_TRUE(disk.read_ecg(out_format, out.string()));
        return vondtest::words(out / ("rawecg" + std::to_string(c + 1) + ".dat"));
    }
};

TEST_F(DecodeTest, NibbleDeltaEdgeValues) {
    cardgen::StartInfo st;
    st.format = 5;
    st.type = 130;
    cardgen::DataSector d;
    d.type = 5;
    // Channel 1: 1000, +400, +408 (401, n 0), -408 (623, n 0), -1 (1023), clamp of 3900.
    std::vector<int> ch1 = {1000, 1400, 1808, 1400, 1399};
    d.values.assign(384, 0);
    d.top_bits = 0;
    auto set = [&](int c, int i, int v) { d.values[static_cast<std::size_t>(i * 3 + c)] = v; };
    set(0, 0, 1000 & 0x3FF);
    d.top_bits = static_cast<std::uint8_t>((1000 >> 10) & 3);
    set(0, 1, 400);
    set(0, 2, 401);
    set(0, 3, 623);
    set(0, 4, 1023);
    set(0, 5, 504);  // 4087
    set(0, 6, 0);    // 4087 clamped to 3695 first
    set(0, 7, 520);  // 8
    set(0, 8, 510);  // 0
    set(0, 9, 450);  // 400 (clamped) + 16 * 49 + 408 - nibble 3
    d.nibbles = {0, 0, 3};
    auto ecg = std::vector<Sector>{cardgen::start_sector(st), cardgen::data_sector(d), Sector{}};
    auto w = read_channel(ecg, 5, 0);
    const int expect[] = {1000, 1400, 1808, 1400, 1399, 4087, 3695, 8, 1, 400 + 784 + 408 - 3};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(w[static_cast<std::size_t>(i)] & 0xFFF, expect[i]) << i;

    // Ten events: no nibbles left, a coarse step is exact.
    cardgen::DataSector e = d;
    e.events = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    e.nibbles = {5, 5, 5};
    ecg = {cardgen::start_sector(st), cardgen::data_sector(e), Sector{}};
    w = read_channel(ecg, 5, 0);
    EXPECT_EQ(w[2] & 0xFFF, 1808);
    EXPECT_EQ(w[9] & 0xFFF, 400 + 784 + 408);
    EXPECT_EQ(w[0] & 0x9000, 0x9000);
}

TEST_F(DecodeTest, NibbleDeltaRandomWalkRoundTrip) {
    std::mt19937 rng(99);
    cardgen::StartInfo st;
    st.format = 4;
    st.type = 130;
    std::vector<Sector> ecg = {cardgen::start_sector(st)};
    std::vector<std::vector<int>> all(2);
    for (int k = 0; k < 20; ++k) {
        std::vector<std::vector<int>> target(2, std::vector<int>(192));
        for (int c = 0; c < 2; ++c) {
            int v = 1500 + static_cast<int>(rng() % 500);
            for (int i = 0; i < 192; ++i) {
                int step = static_cast<int>(rng() % 801) - 400;
                if (i % 50 == 7) step = 1000;  // a coarse step with a fine nibble
                v = std::min(std::max(v + step, 500), 3600);
                target[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = v;
            }
        }
        cardgen::DataSector d;
        d.type = 4;
        ASSERT_TRUE(cardgen::nibble_encode(target, true, d)) << k;
        ecg.push_back(cardgen::data_sector(d));
        for (int c = 0; c < 2; ++c)
            all[static_cast<std::size_t>(c)].insert(all[static_cast<std::size_t>(c)].end(),
                                                    target[static_cast<std::size_t>(c)].begin(),
                                                    target[static_cast<std::size_t>(c)].end());
    }
    ecg.push_back(Sector{});
    for (int c = 0; c < 2; ++c) {
        auto w = read_channel(ecg, 4, c);
        for (std::size_t i = 0; i < all[static_cast<std::size_t>(c)].size(); ++i)
            ASSERT_EQ(w[i] & 0xFFF, all[static_cast<std::size_t>(c)][i]) << c << " " << i;
    }
    EXPECT_EQ(vondtest::words(out / "rawecg3.dat").size(), 0u);  // two channels: the third stays empty
}

TEST_F(DecodeTest, TwelveLeadFilesAndHeaders) {
    const std::vector<Sector> ecg = cardgen::twelve_lead_recording(5);
    const fs::path card = t / "C";
    cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, ecg);
    CardDisk disk;
    disk.set_root(card.string());
    disk.set_mode(10);
    disk.set_calibration(0);
    disk.settings().procedure_id = "PROC1";
    disk.settings().duration_hours = 28;
    ASSERT_TRUE(disk.read_ecg(6, out.string()));
    const auto lead2 = cardgen::read_bytes(out / "os12ecg2.dat");
    ASSERT_EQ(lead2.size(), 59u + 2u * (60 + 76800));
    const std::uint8_t head[25] = {
        1, 59, 0, 'P', 'R', 'O', 'C', '1', 0,  0,  0, 0, 0,
        0, 0,  0, 0,   0,   0,   30,  20,  10, 15, 3, 7};  // 1907: day and month right, the year 100 early
    for (int i = 0; i < 25; ++i) EXPECT_EQ(lead2[static_cast<std::size_t>(i)], head[i]) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&lead2[25])), "Lead II");
    EXPECT_EQ(tv::load_le16(&lead2[41]), 128u);
    EXPECT_EQ(tv::load_le16(&lead2[43]), 1638u);
    EXPECT_EQ(tv::load_le16(&lead2[55]), 100u);
    EXPECT_EQ(tv::load_le16(&lead2[57]), 130u);
    EXPECT_EQ(tv::load_le16(&lead2[59]), 100u);
    EXPECT_EQ(tv::load_le16(&lead2[59 + 2 * 60]), 0x8000u);
    const auto pac = cardgen::read_bytes(out / "os12pac.dat");
    ASSERT_EQ(pac.size(), 29u + 8u);
    EXPECT_EQ(pac[26], 0x73);  // 1907
    // The second sector's mark: start * 128 + 30 (0.234375 s) + 16 / 8.
    const std::int64_t start = CardClock::from_bytes(cardgen::StartInfo{}.time).to_seconds();
    EXPECT_EQ(tv::load_le32(&pac[33]), static_cast<unsigned>((start * 128 + 30 + 2) & 0xFFFFFFFF));

    // The same card with the archive output fails at its first 12-lead sector.
    CardDisk again;
    again.set_root(card.string());
    again.set_mode(10);
    again.settings().duration_hours = 28;
    EXPECT_FALSE(again.read_ecg(2, out.string()));
}

TEST(CardFiles, TextsWavAndVisualOrder) {
    ConfigDat c;
    c.set_logical_texts(std::string(300, 'N'), "ID", std::string(100, 'O'), 129);
    EXPECT_EQ(c.text(1).size(), 159u);
    EXPECT_EQ(c.bytes[96 + 159], 0);
    EXPECT_EQ(c.text(3).size(), 79u);
    EXPECT_EQ(c.text(2), "ID");
    const std::string heb = "\xE0\xE1 12";
    EXPECT_EQ(to_visual_order(heb), "\xE1\xE0 12");
    c.set_logical_texts(heb, "", "", 131);
    EXPECT_EQ(c.text(1), "\xE1\xE0 12");
    EXPECT_EQ(c.logical_text(1), heb);
    std::array<std::uint16_t, 32> fir{};
    for (int i = 0; i < 32; ++i) fir[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i + 1);
    c.set_fir(&fir);
    EXPECT_EQ(c.bytes[15], 32);
    EXPECT_EQ(tv::load_le16(&c.bytes[80]), 136u);  // 1 + ... + 16
    EXPECT_EQ(c.bytes[48], 0);
    const std::string wav = empty_patient_wav();
    const cardgen::Bytes golden = cardgen::empty_wav();
    EXPECT_TRUE(std::equal(golden.begin(), golden.end(), reinterpret_cast<const std::uint8_t*>(wav.data())));
}

}  // namespace
