// Cards, outputs and /dev/shm at their limits, each on a small file system of its own in a mount
// namespace: whatever fails, the card stays byte for byte as it was and still reads.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Bytes;
using cardgen::Sector;
using CardImage = std::map<std::string, Bytes>;

struct Mount {
    fs::path where;
    int kb;
};

CardImage image(const fs::path& folder) {
    CardImage m;
    for (auto& e : fs::directory_iterator(folder)) m[e.path().filename().string()] = cardgen::read_bytes(e.path());
    return m;
}

unsigned config_rec(const fs::path& c) { return tv::load_le16(cardgen::read_bytes(c / "config.dat").data() + 1); }

class CardLimitsTest : public VondTest {
protected:
    // Runs `body` in a child with a mount namespace of its own, where each mount is a tmpfs of
    // that size; the child's failures fail the test.
    static void with_mounts(const std::vector<Mount>& mounts, const std::function<void()>& body) {
        in_mount_namespace([&] {
            for (const Mount& m : mounts) {
                const std::string size = "size=" + std::to_string(m.kb) + "k";
                ASSERT_EQ(::mount("tmpfs", m.where.c_str(), "tmpfs", 0, size.c_str()), 0) << std::strerror(errno);
            }
            body();
        });
    }

    fs::path mount_point(const char* name) {
        const fs::path p = t / name;
        fs::create_directories(p);
        return p;
    }

    // A recorded card (recording 5) on `c`; `config` says where the card stands.
    static void make_card(const fs::path& c, const Bytes& config, std::size_t cnav,
                          const std::vector<Sector>& ecg = cardgen::three_channel_recording(5, 1)) {
        cardgen::write_card(c, config, cnav, ecg);
    }

    // The card reads: no code of a damaged or missing card.
    void expect_readable(const std::string& what) {
        const int code = run({"/readpat=status"}).code;
        EXPECT_TRUE(code == 111 || code == 114 || code == 0 || code == 109) << what << " status " << code;
    }
};

// Each write mode on a card whose file system has from nothing to more than enough room left.
TEST_F(CardLimitsTest, AWriteThatFailsLeavesTheCardAsItWas) {
    const fs::path card = mount_point("card");
    const std::string ldsc = (t / "D.LDSC").string();
    const std::string desc = "[Patient Details]\r\nPatientName=DOE\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    struct Mode {
        const char* name;
        std::vector<std::string> args;
        Bytes config;
        std::size_t cnav;
    };
    const std::string dir = "/dir=" + out.string();
    const std::vector<Mode> modes = {
        // Details for the next recording onto a card that waits for one.
        {"write", {"/write=cnav", dir}, cardgen::config_dat(6, 6, 5, "OLD", "1"), 8192},
        {"setpat", {"/setpat=" + ldsc}, cardgen::config_dat(6, 6, 5, "OLD", "1"), 1024},
        // New details for the unread recording, with a new cnav.dat of another size.
        {"changepat", {"/changepat=cnav", "/confirmed", dir}, cardgen::config_dat(5, 5, 5, "OLD", "1"), 1024},
        // The mark after a read.
        {"mark", {"/readecg=hide", "/opformat=archive", dir, "/cal=0"}, cardgen::config_dat(5, 5, 5, "OLD", "1"), 1024},
    };
    const std::string summary = "NEW\r\nID2\r\n";
    cardgen::write_bytes(out / "patsumm.dat", summary.data(), summary.size());
    const Bytes new_cnav(8192, 0x5A);
    cardgen::write_bytes(out / "cnav.dat", new_cnav.data(), new_cnav.size());
    for (const Mode& m : modes) {
        with_mounts({{card, 256}}, [&] {
            map_card('E', card, "QUX_CFR");
            make_card(card, m.config, m.cnav);
            const std::uint64_t used = 256 * 1024 - fs::space(card).available;
            int failed = 0, done = 0;
            // The card's room in 4 KiB steps, from full to more than any file needs.
            for (std::uint64_t room = 0; room <= 80 * 1024; room += 4096) {
                fs::remove_all(card / "BOOTEX.LOG");
                make_card(card, m.config, m.cnav);
                const std::uint64_t fill = 256 * 1024 - used - room;
                const Bytes filler(fill, 'f');
                cardgen::write_bytes(card / "BOOTEX.LOG", filler.data(), filler.size());
                const CardImage before = image(card);
                const RunResult r = run(m.args);
                const std::string what = std::string(m.name) + " room " + std::to_string(room);
                if (r.code == 0) {
                    ++done;
                    EXPECT_NE(image(card), before) << what;
                } else {
                    ++failed;
                    EXPECT_EQ(image(card), before) << what << " code " << r.code << r.err;
                }
                expect_readable(what);
            }
            // Each mode succeeds on some card; those that let cnav.dat grow fail for want of room on
            // others (the rest write files of unchanged size in place when there is no room).
            EXPECT_GT(done, 0) << m.name;
            if (m.cnav == 1024 && std::string(m.name) != "mark") {
                EXPECT_GT(failed, 0) << m.name;
            }
        });
    }
}

// An output folder that fills up at each of the read's files: the read fails with the file's name,
// and the card stays as it was (past 65,000 it would be reconditioned).
TEST_F(CardLimitsTest, AFullOutputFolderLeavesTheCardAsItWas) {
    const fs::path card = t / "cards" / "E";
    for (unsigned rec : {5u, 65000u}) {
        for (const char* format : {"archive", "os12arch"}) {
            const bool twelve = std::string(format) == "os12arch";
            for (int kb : {4, 400, 700}) {
                fs::remove_all(card);
                make_card(card, cardgen::config_dat(rec, rec, rec, "DOE", "1"), 1024,
                          twelve ? cardgen::twelve_lead_recording(rec) : cardgen::three_channel_recording(rec, 1));
                map_card('E', card, "QUX_CFR", 4194304);
                const CardImage before = image(card);
                const std::string what = std::string(format) + " " + std::to_string(rec) + " " + std::to_string(kb);
                with_mounts({{out, kb}}, [&] {
                    const RunResult r =
                        run({"/readecg=hide", std::string("/opformat=") + format, "/dir=" + out.string(), "/cal=0"});
                    EXPECT_EQ(r.code, 108) << what << r.err;
                    EXPECT_NE(r.err.find("message 202"), std::string::npos) << what << r.err;
                    EXPECT_NE(r.err.find(out.string() + "/"), std::string::npos) << what << r.err;
                    EXPECT_FALSE(fs::exists(out / "ECGREAD.DAT")) << what;
                });
                EXPECT_EQ(image(card), before) << what;
            }
        }
    }
}

TEST_F(CardLimitsTest, AFullDevShmEndsTheReadWithItsMessageAndLeavesTheCard) {
    const fs::path card = mount_point("card");
    // A recording folder for the "/ipdir=" flow.
    const fs::path folder = t / "rec";
    fs::create_directories(folder);
    const Bytes samples(128 * 600, 1);
    for (const char* n : {"RAWECG1.DAT", "RAWECG2.DAT", "RAWECG3.DAT"})
        cardgen::write_bytes(folder / n, samples.data(), samples.size());
    for (const char* n : {"PATIENT.WAV", "PATEVENT.DAT", "PATIENT.TXT", "PATSUMM.DAT"})
        cardgen::write_bytes(folder / n, "1\r\n", 3);
    for (int shm_kb : {64, 512, 40000}) {
        with_mounts({{card, 1024}, {"/dev/shm", shm_kb}}, [&] {
            map_card('E', card, "QUX_CFR");
            make_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024);
            const CardImage before = image(card);
            const auto held = hold_card_mappings();  // room for the holder's names, not their memory
            RunResult r = run({"/readecg=hide", "/opformat=mmf", "/dir=" + out.string(), "/cal=0"});
            EXPECT_EQ(r.code, 108) << shm_kb << r.err;
            EXPECT_NE(r.err.find("message 141"), std::string::npos) << shm_kb << r.err;
            EXPECT_EQ(image(card), before) << shm_kb;
            r = run({"/readecg=hide", "/opformat=mmf", "/dir=" + out.string(), "/ipdir=" + folder.string()});
            EXPECT_EQ(r.code, 105) << shm_kb << r.err;
            expect_readable(std::to_string(shm_kb));
        });
    }
}

// Each output the patient reads copy from the card, on an output file system of every size from
// none to enough: a read either delivers every file whole or fails with its code.
TEST_F(CardLimitsTest, APatientReadIsWholeOrFails) {
    const fs::path card = t / "cards" / "E";
    make_card(card, cardgen::config_dat(5, 5, 5, "DOE", "12345"), 1024);
    map_card('E', card, "QUX_CFR", 4194304);
    const fs::path small = mount_point("small");
    for (const char* mode : {"/readpat=path", "/readpat=cnav"}) {
        for (int kb : {4, 8, 64, 68, 72, 76, 80, 200}) {
            with_mounts({{small, kb}}, [&] {
                const RunResult r = run({mode, "/dir=" + small.string()});
                const std::string what = std::string(mode) + " " + std::to_string(kb);
                // patient.wav alone takes 64 KiB; with 200 there is room for all.
                if (kb <= 64) {
                    EXPECT_EQ(r.code, 106) << what << r.err;
                }
                if (r.code == 106) return;
                EXPECT_EQ(r.code, std::string(mode) == "/readpat=path" ? 111 : 0) << what << r.err;
                EXPECT_EQ(cardgen::read_bytes(small / "patient.wav"), cardgen::read_bytes(card / "patient.wav"))
                    << what;
                EXPECT_EQ(slurp(small / "event.dat").rfind("Version 1\r\n", 0), 0u) << what;
                if (std::string(mode) == "/readpat=cnav") {
                    EXPECT_EQ(fs::file_size(small / "cnavop.dat"), 80u) << what;
                    EXPECT_EQ(fs::file_size(small / "cnav.dat"), 1024u) << what;
                }
            });
        }
    }
}

TEST_F(CardLimitsTest, ReadsThatLeaveNoECGAnywhereFailAndKeepTheCard) {
    struct Case {
        const char* what;
        std::vector<Sector> ecg;
        unsigned rec;
        const char* format;
        const char* trace;
    };
    cardgen::StartInfo late;
    late.rec = 65000;
    const std::vector<Case> cases = {
        // Nobody holds the mappings: they go with vond, and marking would recondition this card.
        {"mmf, no holder", cardgen::three_channel_recording(65000, 1), 65000, "mmf",
         "no other process holds the ECG mappings"},
        {"path, no holder", cardgen::three_channel_recording(5, 1), 5, "path", "no other process holds"},
        // A start sector and nothing behind it.
        {"start sector only",
         {cardgen::start_sector(cardgen::StartInfo{}), Sector{}},
         5,
         "archive",
         "no data sector of the recording was met"},
        {"start sector only, late",
         {cardgen::start_sector(late), Sector{}},
         65000,
         "archive",
         "no data sector of the recording was met"},
    };
    for (const Case& c : cases) {
        const fs::path card = t / "cards" / "E";
        fs::remove_all(card);
        make_card(card, cardgen::config_dat(c.rec, c.rec, c.rec, "DOE", "1"), 1024, c.ecg);
        map_card('E', card, "QUX_CFR", 4194304);
        const CardImage before = image(card);
        const RunResult r =
            run({"/readecg=hide", std::string("/opformat=") + c.format, "/dir=" + out.string(), "/cal=0"});
        EXPECT_EQ(r.code, 108) << c.what << r.err;
        EXPECT_NE(r.err.find(c.trace), std::string::npos) << c.what << r.err;
        EXPECT_EQ(image(card), before) << c.what;
    }
    // Held by the analysis system, the same mmf read is done and the card starts afresh.
    const fs::path card = t / "cards" / "E";
    fs::remove_all(card);
    make_card(card, cardgen::config_dat(65000, 65000, 65000, "DOE", "1"), 1024,
              cardgen::three_channel_recording(65000, 1));
    const auto held = hold_card_mappings();
    const RunResult r = run({"/readecg=hide", "/opformat=mmf", "/dir=" + out.string(), "/cal=0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(config_rec(card), 3u);
}

// Reconditioning makes ecg.dat as large as the card: its declared capacity, else its old ecg.dat.
TEST_F(CardLimitsTest, ReconditioningSizesEcgDatFromTheCard) {
    for (const std::uint64_t capacity : {std::uint64_t{0}, std::uint64_t{2097152}}) {
        const fs::path card = t / "cards" / "E";
        fs::remove_all(card);
        const auto ecg = cardgen::three_channel_recording(65000, 1);
        make_card(card, cardgen::config_dat(65000, 65000, 65000, "DOE", "1"), 1024, ecg);
        map_card('E', card, "QUX_CFR", capacity);
        const RunResult r = run({"/readecg=hide", "/opformat=archive", "/dir=" + out.string(), "/cal=0"});
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(config_rec(card), 3u);
        const std::uint64_t expect = capacity ? capacity - 512 - 8192 - 65536 : ecg.size() * 512;
        EXPECT_EQ(fs::file_size(card / "ecg.dat"), expect) << capacity;
    }
}

}  // namespace

namespace {

// What a replacement killed half-way leaves, a temporary file beside the card's own, keeps the
// card readable, and the next replacement takes it away.
TEST_F(CardLimitsTest, ALeftOverTemporaryFileKeepsTheCardReadable) {
    const fs::path card = t / "cards" / "E";
    make_card(card, cardgen::config_dat(5, 5, 5, "DOE", "1"), 1024);
    map_card('E', card, "QUX_CFR", 4194304);
    const Bytes half(200, 'h');
    cardgen::write_bytes(card / "config.dat.new", half.data(), half.size());
    expect_readable("left over");
    const std::string summary = "NEW\r\nID2\r\n";
    cardgen::write_bytes(out / "patsumm.dat", summary.data(), summary.size());
    ASSERT_EQ(run({"/changepat=cnav", "/confirmed", "/dir=" + out.string()}).code, 0);
    EXPECT_FALSE(fs::exists(card / "config.dat.new"));
    EXPECT_EQ(run({"/readpat=path", "/dir=" + out.string()}).code, 111);
    EXPECT_EQ(slurp(out / "patsumm.dat").rfind("NEW\r\nID2\r\n", 0), 0u);
}

}  // namespace

namespace {

// config.dat's temporary name taken by a folder: the step that replaces config.dat fails after
// the files before it were replaced, and those get their old bytes back.
TEST_F(CardLimitsTest, AFailedLastStepGivesBackWhatWentBefore) {
    const fs::path card = t / "card";
    const std::string summary = "NEW\r\nID2\r\n";
    cardgen::write_bytes(out / "patsumm.dat", summary.data(), summary.size());
    const Bytes new_cnav(8192, 0x5A);
    cardgen::write_bytes(out / "cnav.dat", new_cnav.data(), new_cnav.size());
    const std::vector<std::pair<const char*, std::vector<std::string>>> steps = {
        {"changepat", {"/changepat=cnav", "/confirmed", "/dir=" + out.string(), "/ipdir=" + card.string()}},
        {"mark", {"/readecg=hide", "/opformat=archive", "/cal=0", "/dir=" + out.string(), "/ipdir=" + card.string()}},
    };
    for (const auto& [what, args] : steps) {
        fs::remove_all(card);
        make_card(card, cardgen::config_dat(5, 5, 5, "OLD", "1"), 1024);
        const CardImage before = image(card);
        fs::create_directory(card / "config.dat.new");
        const RunResult r = run(args);
        EXPECT_NE(r.err.find("could not be replaced"), std::string::npos) << what << r.err;
        fs::remove(card / "config.dat.new");
        EXPECT_EQ(image(card), before) << what;
    }
}

}  // namespace
