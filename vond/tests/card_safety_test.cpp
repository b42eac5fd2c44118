// The card holds the only copy of a recording until it has been read: the built program marks,
// rewrites or reconditions a card only when the ECG is safely on disk, and only the card meant.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <map>

#include "common/tape_mappings.h"
#include "platform/shared_memory.h"
#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Bytes;
using cardgen::Sector;

using CardImage = std::map<std::string, Bytes>;

int value(int seed, int k, int i, int c) { return cardgen::ramp_value(seed, k, i, c); }

std::vector<Sector> recording(unsigned rec, int seed, int sectors = 10) {
    return cardgen::three_channel_recording(rec, seed, sectors);
}

using cardgen::twelve_lead_recording;

class CardSafetyTest : public VondTest {
protected:
    // A labelled card in the drive map; its recording is not yet marked as read.
    fs::path card(char letter, const std::vector<Sector>& ecg, unsigned rec = 5) {
        const fs::path c = t / "cards" / std::string(1, letter);
        fs::remove_all(c);
        cardgen::write_card(c, cardgen::config_dat(rec, rec, rec, "DOE^JOHN", "12345"), 1024, ecg);
        map_card(letter, c, "QUX_CFR", 4194304);
        return c;
    }
    static CardImage image(const fs::path& folder) {
        CardImage m;
        for (auto& e : fs::directory_iterator(folder)) m[e.path().filename().string()] = cardgen::read_bytes(e.path());
        return m;
    }
    static unsigned config_rec(const fs::path& c) {
        return tv::load_le16(cardgen::read_bytes(c / "config.dat").data() + 1);
    }
    void fresh_out() {
        fs::remove_all(out);
        fs::create_directories(out);
    }
    void summary(const std::string& name, const std::string& id) {
        const std::string s = name + "\r\n" + id + "\r\n";
        cardgen::write_bytes(out / "patsumm.dat", s.data(), s.size());
    }
};

TEST_F(CardSafetyTest, AReadThatMeetsNoStartSectorOrWritesNoSampleFails) {
    // The first sector belongs to an older recording; the card's own start sector follows.
    std::vector<Sector> foreign = recording(5, 2);
    cardgen::DataSector old;
    old.rec = 4;
    old.values.assign(384, 100);
    foreign.insert(foreign.begin(), cardgen::data_sector(old));
    fs::path e = card('E', foreign);
    CardImage before = image(e);
    RunResult r = run({"/readecg=hide", "/opformat=archive", "/dir=" + out.string(), "/cal=0"});
    EXPECT_EQ(r.code, 108) << r.err;
    EXPECT_NE(r.err.find("start sector was not met"), std::string::npos) << r.err;
    EXPECT_EQ(image(e), before);

    // Skipped past its end, a recording gives nothing to read.
    e = card('E', recording(5, 2));
    before = image(e);
    fresh_out();
    r = run({"/readecg=hide", "/opformat=archive", "/dir=" + out.string(), "/cal=0", "/skip=2"});
    EXPECT_EQ(r.code, 108) << r.err;
    EXPECT_NE(r.err.find("no ECG sample of the recording was read"), std::string::npos) << r.err;
    EXPECT_EQ(image(e), before);
}

TEST_F(CardSafetyTest, PatientDetailsChangeOnlyTheOneCardWithFilesFromTheNamedFolder) {
    // Two cards: neither is changed.
    const fs::path e = card('E', recording(5, 1)), f = card('F', recording(5, 2));
    const CardImage e_before = image(e), f_before = image(f);
    summary("NEW", "ID2");
    RunResult r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 117) << r.err;
    EXPECT_EQ(image(e), e_before);
    EXPECT_EQ(image(f), f_before);
    ASSERT_TRUE(tv::platform::unmap_drive('F'));

    // A cnav.dat in the current folder is nobody's: the card keeps its own.
    const Bytes stray(500, 'x');
    cardgen::write_bytes(t / "cnav.dat", stray.data(), stray.size());
    r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cardgen::read_bytes(e / "cnav.dat"), Bytes(1024, 0));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cardgen::read_bytes(e / "config.dat").data() + 96)), "NEW");
    // and a read still takes the card.
    r = run({"/readpat=path", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 111) << r.err;

    // The new details' own cnav.dat goes onto the card; one of a size no card carries is refused
    // before anything is written.
    const Bytes bad(500, 'y');
    cardgen::write_bytes(out / "cnav.dat", bad.data(), bad.size());
    summary("OTHER", "ID3");
    const CardImage kept = image(e);
    r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 105) << r.err;
    EXPECT_EQ(image(e), kept);
    // Nor is a link there (to a file of a size a card carries) followed, or a FIFO opened.
    const Bytes others(8192, 'o');
    cardgen::write_bytes(t / "others", others.data(), others.size());
    for (const bool link : {true, false}) {
        fs::remove(out / "cnav.dat");
        if (link)
            fs::create_symlink(t / "others", out / "cnav.dat");
        else
            ASSERT_EQ(::mkfifo((out / "cnav.dat").c_str(), 0600), 0);
        r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
        EXPECT_EQ(r.code, 105) << link << r.err;
        EXPECT_EQ(image(e), kept) << link;
    }
    fs::remove(out / "cnav.dat");
    Bytes good(8192, 0);
    good[0] = 0x5A;
    cardgen::write_bytes(out / "cnav.dat", good.data(), good.size());
    r = run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cardgen::read_bytes(e / "cnav.dat"), good);
}

TEST_F(CardSafetyTest, MappingsHeldAcrossTwoReadsHoldTheSecondRecordingAlone) {
    const auto held = hold_card_mappings();
    auto* ctrl = static_cast<tv::EcgControlBlock*>(held[0]->data());
    auto* ev = static_cast<std::int32_t*>(held[4]->data());
    const fs::path e = card('E', recording(5, 1, 20));
    ASSERT_EQ(run({"/readecg=hide", "/opformat=mmf", "/dir=" + out.string(), "/cal=0"}).code, 0);
    ASSERT_EQ(ctrl[0].transfer_done, 1);
    ASSERT_EQ(ev[0], 1);
    // The next patient's card, shorter, read while the analysis system still holds the names.
    card('E', recording(7, 2, 10), 7);
    const RunResult r = run({"/readecg=hide", "/opformat=mmf", "/dir=" + out.string(), "/cal=0"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(ctrl[c].samples_written, 153600) << c;  // 10 seconds, padded to 20 minutes
        EXPECT_EQ(ctrl[c].transfer_done, 1) << c;
        const auto* w = static_cast<const std::uint16_t*>(held[1 + c]->data());
        for (int n = 0; n < 1280; ++n) ASSERT_EQ(w[n] & 0x0FFF, value(2, n / 128, n % 128, c) * 4) << c << " " << n;
        ASSERT_EQ(w[1280], 0) << c;
    }
    EXPECT_EQ(ev[0], 1);
    EXPECT_EQ(ev[1], 3);
}

TEST_F(CardSafetyTest, RecordingLengthLimitIsAWholeNumberOfHoursOrNone) {
    card('E', recording(5, 1));
    for (auto [limit, hours] : {std::pair{"12", "12"}, {"abc", "24"}, {"0", "24"}, {"", "24"}, {"-3", "24"}}) {
        const RunResult r = run({"/readpat=path", "/dir=" + out.string()}, {std::string("VOND_RECLEN_LIMIT=") + limit});
        ASSERT_EQ(r.code, 111) << r.err;
        std::vector<std::string> lines;
        std::string s = slurp(out / "patsumm.dat");
        for (std::size_t p = 0; (p = s.find("\r\n")) != std::string::npos; s.erase(0, p + 2))
            lines.push_back(s.substr(0, p));
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[6], hours) << limit;
    }
}

}  // namespace
