// A card's life through the built program when others are at work too: a second run on the same
// card, a run killed at any step, a card pulled from its reader, files on the card that never end
// and links where the outputs go.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "vond/tests/vond_fixture.h"

namespace {

using namespace vondtest;
using cardgen::Bytes;
using CardImage = std::map<std::string, Bytes>;

constexpr std::uint64_t kCapacity = 4194304;

CardImage image(const fs::path& folder) {
    CardImage m;
    for (auto& e : fs::directory_iterator(folder)) m[e.path().filename().string()] = cardgen::read_bytes(e.path());
    return m;
}

unsigned config_rec(const fs::path& c) { return tv::load_le16(cardgen::read_bytes(c / "config.dat").data() + 1); }
std::string config_text(const fs::path& c, std::size_t at) {
    const Bytes b = cardgen::read_bytes(c / "config.dat");
    return b.size() > at ? std::string(reinterpret_cast<const char*>(b.data() + at)) : std::string();
}

class CardLifeTest : public VondTest {
protected:
    // A labelled card of a declared size, its recording `rec` not yet marked as read.
    fs::path card(unsigned rec = 5, const fs::path& where = {}) {
        const fs::path c = where.empty() ? t / "cards" / "E" : where;
        fs::remove_all(c);
        cardgen::write_card(c, cardgen::config_dat(rec, rec, rec, "DOE", "1"), 1024,
                            cardgen::three_channel_recording(rec, 1));
        map_card('E', c, "QUX_CFR", kCapacity);
        return c;
    }
    // PATSUMM.DAT and cnav.dat of new details in `folder`.
    static void details(const fs::path& folder, const std::string& name, std::uint8_t cnav_byte) {
        fs::create_directories(folder);
        const std::string s = name + "\r\nID-" + name + "\r\n";
        cardgen::write_bytes(folder / "patsumm.dat", s.data(), s.size());
        const Bytes cnav(8192, cnav_byte);
        cardgen::write_bytes(folder / "cnav.dat", cnav.data(), cnav.size());
    }
    // A card conditioned for its next recording: config.dat recording 3 and no record left in it,
    // ecg.dat starting recording 1 and filling the card.
    static void expect_conditioned(const fs::path& c, const std::string& what) {
        const Bytes config = cardgen::read_bytes(c / "config.dat");
        ASSERT_EQ(config.size(), 512u) << what;
        EXPECT_EQ(tv::load_le16(&config[1]), 3u) << what;
        EXPECT_EQ(Bytes(config.begin() + 496, config.end()), Bytes(16, 0)) << what;
        const Bytes ecg = cardgen::read_bytes(c / "ecg.dat");
        ASSERT_GE(ecg.size(), 512u) << what;
        EXPECT_EQ(ecg[0], 129) << what;
        EXPECT_EQ(ecg[1], 1) << what;
        EXPECT_EQ(ecg.size(), kCapacity - 512 - 8192 - 65536) << what;
        EXPECT_EQ(cardgen::read_bytes(c / "patient.wav").size(), 65536u) << what;
        EXPECT_EQ(cardgen::read_bytes(c / "cnav.dat").size(), 8192u) << what;
    }
    static std::vector<std::string> read_args(const fs::path& dir, const char* format = "archive") {
        return {"/readecg=hide", std::string("/opformat=") + format, "/dir=" + dir.string(), "/cal=0"};
    }
    std::vector<std::string> changepat_args(const fs::path& dir) {
        return {"/changepat=cnav", "/confirmed", "/dir=" + dir.string()};
    }
};

// One run holds the card (stopped right after a call of its own) while a second is started on it:
// the second waits, then gives up with its code and leaves the card alone; the first finishes.
TEST_F(CardLifeTest, ASecondRunOnTheCardWaitsThenLeavesItAlone) {
    const fs::path a = t / "a", b = t / "b";
    details(a, "ALPHA", 0xA1);
    details(b, "BRAVO", 0xB2);
    const fs::path e = t / "cards" / "E";
    const char* rename = "rename,renameat,renameat2";
    struct Case {
        const char* what;
        std::vector<std::string> first, second;
        const char* syscall;  // where the first is held, on `at`
        fs::path at;
        unsigned rec;
        int when = 1;
    };
    const std::vector<Case> cases = {
        // Held with its new cnav.dat written under its temporary name, and with it renamed.
        {"changepat beside changepat", changepat_args(a), changepat_args(b), "fsync", e / "cnav.dat.new", 5},
        {"changepat renamed beside changepat", changepat_args(a), changepat_args(b), rename, e, 5},
        // Held with the read complete and recorded (the output folder flushed a second time), before the mark.
        {"read beside changepat", read_args(a), changepat_args(b), "fsync", a, 5, 2},
        {"mmf read beside mmf read", read_args(a, "mmf"), read_args(b, "mmf"), "fsync", a, 5, 2},
        {"mmf read at 65000 beside mmf read", read_args(a, "mmf"), read_args(b, "mmf"), "fsync", a, 65000, 2},
        {"changepat beside read", changepat_args(a), read_args(b), "fsync", e / "cnav.dat.new", 5},
    };
    const auto held_maps = hold_card_mappings();
    for (const Case& c : cases) {
        card(c.rec);
        HeldRun first = hold(c.first, c.syscall, c.when, {c.at});
        ASSERT_TRUE(first.stopped) << c.what;
        const CardImage held = image(e);
        const auto started = std::chrono::steady_clock::now();
        const RunResult second = run(c.second);
        EXPECT_EQ(second.code, 107) << c.what << second.err;
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500)) << c.what;
        EXPECT_EQ(image(e), held) << c.what;
        EXPECT_EQ(resume(first), 0) << c.what << slurp(t / "held-stderr.txt");
        // The card is the first run's alone: config.dat and cnav.dat from one run.
        if (c.first[0] == "/changepat=cnav") {
            EXPECT_EQ(config_text(e, 96), "ALPHA") << c.what;
            EXPECT_EQ(cardgen::read_bytes(e / "cnav.dat"), Bytes(8192, 0xA1)) << c.what;
        } else if (c.rec < 65000) {
            EXPECT_EQ(config_rec(e), c.rec + 1) << c.what;
        } else {
            expect_conditioned(e, c.what);
        }
        EXPECT_EQ(config_text(e, 96).find("BRAVO"), std::string::npos) << c.what;
    }
}

// Two paths to one card meet one lock: a second run that reaches the card through another path
// (a link on a folder above it) waits for the first all the same and leaves the card alone.
TEST_F(CardLifeTest, ASecondRunThroughAnotherPathToTheCardMeetsTheSameLock) {
    const fs::path a = t / "a", b = t / "b";
    details(a, "ALPHA", 0xA1);
    details(b, "BRAVO", 0xB2);
    const fs::path e = card();
    fs::create_directory_symlink(t / "cards", t / "via");
    const auto held_maps = hold_card_mappings();
    HeldRun first = hold(changepat_args(a), "fsync", 1, {e / "cnav.dat.new"});
    ASSERT_TRUE(first.stopped) << slurp(t / "held-stderr.txt");
    const CardImage held = image(e);
    map_card('E', t / "via" / "E", "QUX_CFR", kCapacity);
    const RunResult second = run(changepat_args(b));
    EXPECT_EQ(second.code, 107) << second.err;
    EXPECT_EQ(image(e), held);
    EXPECT_EQ(resume(first), 0) << slurp(t / "held-stderr.txt");
    EXPECT_EQ(config_text(e, 96), "ALPHA");
    EXPECT_EQ(cardgen::read_bytes(e / "cnav.dat"), Bytes(8192, 0xA1));
}

// A read at recording 65,000 killed at every call that touches the card: the card is never changed
// unless the read's completion record is there with the whole recording beside it, and the next
// run that meets the card leaves it conditioned (or still holding its recording untouched).
TEST_F(CardLifeTest, AReadKilledAtAnyCardStepKeepsTheRecordingAndTheNextRunFinishesTheCard) {
    fs::path e = card(65000);
    const CardImage before = image(e);
    // The whole read as it should be, and the calls it makes on the card.
    const fs::path ref = t / "ref";
    fs::create_directories(ref);
    const std::string log = (t / "calls.txt").string();
    std::vector<std::string> watch = {"-P", e.string()};
    for (const char* n :
         {"config.dat", "ecg.dat", "cnav.dat", "patient.wav", "config.dat.new", "cnav.dat.new", "patient.wav.new"})
        watch.insert(watch.end(), {"-P", (e / n).string()});
    std::vector<std::string> trace_args = {"-o", log, "-e", "trace=!read,pread64,lseek,fstat,newfstatat,close"};
    trace_args.insert(trace_args.end(), watch.begin(), watch.end());
    ASSERT_EQ(run_traced(trace_args, read_args(ref)).code, 0);
    const Bytes whole = cardgen::read_bytes(ref / "rawecg1.dat");
    ASSERT_GT(whole.size(), 0u);
    std::map<std::string, int> calls;
    {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string pid, call;
            words >> pid >> call;
            call = call.substr(0, call.find('('));
            if (!call.empty() && call.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos)
                ++calls[call];
        }
    }
    ASSERT_GT(calls["unlinkat"], 0);
    ASSERT_GT(calls["ftruncate"], 0);
    int kills = 0;
    for (const auto& [call, count] : calls) {
        for (int n = 1; n <= count; ++n) {
            const std::string what = call + " " + std::to_string(n);
            e = card(65000);
            fs::remove_all(out);
            fs::create_directories(out);
            std::vector<std::string> args = {"-e", "inject=" + call + ":signal=KILL:when=" + std::to_string(n)};
            args.insert(args.end(), watch.begin(), watch.end());
            const RunResult r = run_traced(args, read_args(out));
            if (r.code == 0) continue;  // the call came after the card's last change
            ++kills;
            const bool kept = fs::exists(out / "ECGREAD.DAT");
            if (kept) {
                EXPECT_EQ(slurp(out / "ECGREAD.DAT").rfind("complete\r\n", 0), 0u) << what;
                EXPECT_EQ(cardgen::read_bytes(out / "rawecg1.dat"), whole) << what;
            } else {
                EXPECT_EQ(image(e), before) << what;
            }
            // The next run on the card: a status look finishes a conditioning left half-way.
            run({"/readpat=status"});
            // A temporary file left beside them changes nothing.
            const CardImage now = image(e);
            if (now.count("config.dat") && now.at("config.dat") == before.at("config.dat") && now.count("ecg.dat") &&
                now.at("ecg.dat") == before.at("ecg.dat"))
                continue;
            EXPECT_TRUE(kept) << what;
            expect_conditioned(e, what);
        }
    }
    EXPECT_GT(kills, 10);
}

// The card's reader bound to the card's own folder; the card is pulled (the mount detached) while a
// run is held right after its first rename on the card or its completion record. The run fails,
// the reader's empty folder stays empty, and the card is whole: as it was, or changed as a whole.
TEST_F(CardLifeTest, ACardPulledDuringAWriteFailsAndWritesNothingElsewhere) {
    const fs::path source = t / "cardsrc", reader = t / "reader", dir = t / "d";
    details(dir, "NEWNAME", 0x5C);
    const std::string ldsc = (t / "D.LDSC").string();
    const std::string desc = "[Patient Details]\r\nPatientName=DOE\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    struct Case {
        const char* what;
        std::vector<std::string> args;
        unsigned rec;
        const char* held_at;
        fs::path on;
        int when = 1;
    };
    const char* rename = "rename,renameat,renameat2";
    const std::vector<Case> cases = {
        {"changepat", changepat_args(dir), 5, rename, reader},
        // A card that waits for its next recording and that its ecg.dat fills: written in place.
        {"setpat", {"/setpat=" + ldsc}, 6, "pwrite64", reader / "patient.wav"},
        {"mark", read_args(dir), 5, "fsync", dir, 2},
        {"recondition", read_args(dir), 65000, "fsync", dir, 2},
    };
    for (const Case& c : cases) {
        fs::remove_all(source);
        const bool waiting = c.rec == 6;
        cardgen::write_card(source, cardgen::config_dat(c.rec, c.rec, c.rec, "DOE", "1"), waiting ? 8192 : 1024,
                            cardgen::three_channel_recording(waiting ? 5 : c.rec, 1));
        if (waiting) fs::resize_file(source / "ecg.dat", kCapacity - 512 - 8192 - 65536);
        fs::remove_all(reader);
        fs::create_directories(reader);
        in_mount_namespace([&] {
            ASSERT_EQ(::mount(source.c_str(), reader.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
            map_card('E', reader, "QUX_CFR", kCapacity);
            HeldRun h = hold(c.args, c.held_at, c.when, {c.on});
            ASSERT_TRUE(h.stopped) << c.what;
            ASSERT_EQ(::umount2(reader.c_str(), MNT_DETACH), 0) << std::strerror(errno);
            const int code = resume(h);
            EXPECT_NE(code, 0) << c.what << slurp(t / "held-stderr.txt");
            EXPECT_TRUE(fs::is_empty(reader)) << c.what;
        });
        // Still a card: each file whole.
        EXPECT_EQ(fs::file_size(source / "config.dat"), 512u) << c.what;
        EXPECT_GE(fs::file_size(source / "ecg.dat"), 512u) << c.what;
    }
}

// The card pulled right after a run's change landed on it (held after its last rename on the card):
// the run reports what the card holds, the read's record "marked" and exit 0, never "gone".
TEST_F(CardLifeTest, ACardPulledAfterItsChangeLandedIsReportedAsChanged) {
    const fs::path source = t / "cardsrc", reader = t / "reader", dir = t / "d";
    details(dir, "NEWNAME", 0x5C);
    const char* rename = "rename,renameat,renameat2";
    const struct {
        const char* what;
        std::vector<std::string> args;
    } cases[] = {{"mark", read_args(dir)}, {"changepat", changepat_args(dir)}};
    for (const auto& c : cases) {
        auto fresh = [&] {
            fs::remove_all(source);
            cardgen::write_card(source, cardgen::config_dat(5, 5, 5, "DOE", "1"), 1024,
                                cardgen::three_channel_recording(5, 1));
        };
        // The renames the run makes on the card; the last puts config.dat in place.
        fresh();
        map_card('E', source, "QUX_CFR", kCapacity);
        const std::string log = (t / "renames.txt").string();
        ASSERT_EQ(run_traced({"-o", log, "-e", std::string("trace=") + rename, "-P", source.string()}, c.args).code, 0);
        int renames = 0;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            renames += line.find("rename") != std::string::npos && line.find("resumed") == std::string::npos;
        ASSERT_GT(renames, 0) << c.what;
        fresh();
        fs::remove_all(dir / "ECGREAD.DAT");
        fs::remove_all(reader);
        fs::create_directories(reader);
        in_mount_namespace([&] {
            ASSERT_EQ(::mount(source.c_str(), reader.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
            map_card('E', reader, "QUX_CFR", kCapacity);
            HeldRun h = hold(c.args, rename, renames, {reader});
            ASSERT_TRUE(h.stopped) << c.what;
            ASSERT_EQ(::umount2(reader.c_str(), MNT_DETACH), 0) << std::strerror(errno);
            EXPECT_EQ(resume(h), 0) << c.what << slurp(t / "held-stderr.txt");
        });
        if (c.args[0] == "/changepat=cnav") {
            EXPECT_EQ(config_text(source, 96), "NEWNAME");
        } else {
            EXPECT_EQ(config_rec(source), 6u);
            EXPECT_EQ(slurp(dir / "ECGREAD.DAT").rfind("complete\r\nmarked\r\n", 0), 0u) << slurp(dir / "ECGREAD.DAT");
        }
    }
}

// ecg.dat that never ends (a FIFO, a link to /dev/zero) and links among the card's files: every
// read mode ends within seconds without taking them, and never as a good read.
TEST_F(CardLifeTest, EndlessOrLinkedCardFilesEndEveryReadMode) {
    const fs::path victim = t / "victim.dat";
    const Bytes config = cardgen::read_bytes(card() / "config.dat");
    cardgen::write_bytes(victim, config.data(), config.size());
    struct Kind {
        const char* what;
        const char* file;
        std::function<void(const fs::path&)> make;
    };
    const std::vector<Kind> kinds = {
        {"fifo", "ecg.dat", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
        {"/dev/zero", "ecg.dat", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"link", "config.dat", [&](const fs::path& p) { fs::create_symlink(victim, p); }},
    };
    const std::vector<std::vector<std::string>> modes = {
        {"/readpat=path", "/dir=" + out.string()},
        {"/readpat=cnav", "/dir=" + out.string()},
        {"/readpat=status"},
        read_args(out),
        read_args(out, "mmf"),
        read_args(out, "cnav"),
        read_args(out, "os12file"),
    };
    const auto held = hold_card_mappings();
    for (const Kind& k : kinds) {
        for (const auto& m : modes) {
            const fs::path e = card();
            fs::remove(e / k.file);
            k.make(e / k.file);
            const auto started = std::chrono::steady_clock::now();
            const RunResult r = run(m, {}, 30);
            const std::string what = std::string(k.what) + " " + m[0] + (m.size() > 1 ? " " + m[1] : "");
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << what;
            EXPECT_TRUE(r.code != 0 && r.code != 110 && r.code != 111 && r.code != 114 && r.code != -1)
                << what << " code " << r.code;
        }
    }
    EXPECT_EQ(cardgen::read_bytes(victim), config);
}

// Every file a read or a copy writes into the output folder, put there first as a link to a file
// elsewhere: the link is replaced, the file it leads to never written.
TEST_F(CardLifeTest, ALinkInTheOutputFolderIsNeverWrittenThrough) {
    const fs::path victim = t / "victim.txt";
    const std::string kept = "keep me";
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> names;
    };
    const std::vector<Case> cases = {
        {read_args(out), {"patevent.dat", "rawecg1.dat", "rawecg3.dat", "other.dat", "ECGREAD.DAT"}},
        {read_args(out, "os12arch"), {"os12ecg1.dat", "os12pac.dat"}},
        {read_args(out, "cnav"), {"config.dat", "ecg.dat", "cnav.dat"}},
        {{"/readpat=cnav", "/dir=" + out.string()},
         {"patsumm.dat", "patient.wav", "event.dat", "cnav.dat", "cnavop.dat"}},
    };
    for (const Case& c : cases) {
        card();
        for (const char* n : c.names) {
            fs::remove_all(out);
            fs::create_directories(out);
            cardgen::write_bytes(victim, kept.data(), kept.size());
            fs::create_symlink(victim, out / n);
            const RunResult r = run(c.args);
            EXPECT_EQ(slurp(victim), kept) << c.args[0] << " " << n << " code " << r.code;
        }
    }
}

// An ecg.dat cut short (a conditioning killed before the file was sized, by an older run without
// its record) is refused by /setpat: the recorder would have no room to record.
TEST_F(CardLifeTest, SetpatRefusesAnEcgDatSmallerThanTheCard) {
    const std::string ldsc = (t / "D.LDSC").string();
    const std::string desc = "[Patient Details]\r\nPatientName=DOE\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    const fs::path e = t / "cards" / "E";
    fs::remove_all(e);
    const Bytes config = cardgen::config_dat(3, 2, 2, "", "");
    cardgen::StartInfo fresh;
    fresh.rec = 1;
    cardgen::write_card(e, config, 8192, {cardgen::start_sector(fresh)});
    map_card('E', e, "QUX_CFR", kCapacity);
    const CardImage before = image(e);
    const RunResult r = run({"/setpat=" + ldsc});
    EXPECT_EQ(r.code, 103) << r.err;
    EXPECT_NE(r.err.find("smaller than the card allows"), std::string::npos) << r.err;
    EXPECT_EQ(image(e), before);
}

}  // namespace

namespace {

// A change of the patient details killed at every call that touches the card: the next run, of
// another mode, leaves config.dat and cnav.dat of one patient, the old one or the new one. On a
// card its ecg.dat fills there is no room for a record beside the files.
class DetailsChangeKillTest : public CardLifeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DetailsChangeKillTest, AHalfMadeDetailsChangeIsFinishedOrUndoneByTheNextRunOfAnyMode) {
    const bool full = GetParam();
    const fs::path e = t / "cards" / "E", a = t / "a";
    details(a, "ALPHA", 0xA1);
    const std::string ldsc = (t / "D.LDSC").string();
    const std::string desc = "[Patient Details]\r\nPatientName=BRAVO\r\nPatientId=77\r\n";
    cardgen::write_bytes(ldsc, desc.data(), desc.size());
    const Bytes old_cnav(8192, 0x5A);
    struct Mode {
        const char* what;
        std::vector<std::string> args;
        std::string name;
        Bytes cnav;  // what the change puts on the card
    };
    const Mode modes[] = {
        {"changepat", changepat_args(a), "ALPHA", Bytes(8192, 0xA1)},
        {"setpat", {"/setpat=" + ldsc}, "BRAVO", Bytes(8192, 0)},
    };
    std::vector<std::string> watch = {"-P", e.string()};
    for (const char* n : {"config.dat", "cnav.dat", "patient.wav", "config.dat.new", "cnav.dat.new", "patient.wav.new",
                          "undo.dat", "undo.dat.new"})
        watch.insert(watch.end(), {"-P", (e / n).string()});
    for (const Mode& m : modes) {
        // /setpat writes a card that waits for its next recording (no ECG on it).
        const bool waiting = m.args[0].rfind("/setpat", 0) == 0;
        auto fresh = [&] {
            fs::remove_all(e);
            cardgen::write_card(e, cardgen::config_dat(waiting ? 6 : 5, waiting ? 6 : 5, 5, "DOE", "1"), 1024,
                                cardgen::three_channel_recording(5, 1));
            map_card('E', e, "QUX_CFR", waiting && !full ? 0 : kCapacity);
            cardgen::write_bytes(e / "cnav.dat", old_cnav.data(), old_cnav.size());
            if (full) fs::resize_file(e / "ecg.dat", kCapacity - 512 - 8192 - 65536);
        };
        fresh();
        const std::string log = (t / "calls.txt").string();
        std::vector<std::string> trace_args = {"-o", log, "-e", "trace=!read,pread64,lseek,fstat,newfstatat,close"};
        trace_args.insert(trace_args.end(), watch.begin(), watch.end());
        const RunResult whole = run_traced(trace_args, m.args);
        ASSERT_EQ(whole.code, 0) << m.what << whole.err;
        ASSERT_EQ(config_text(e, 96), m.name) << m.what;
        ASSERT_EQ(cardgen::read_bytes(e / "cnav.dat"), m.cnav) << m.what;
        if (full) {
            ASSERT_EQ(slurp(log).find("undo.dat\""), std::string::npos) << m.what;
        }
        std::map<std::string, int> calls;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string pid, call;
            words >> pid >> call;
            call = call.substr(0, call.find('('));
            if (!call.empty() && call.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos)
                ++calls[call];
        }
        int kills = 0, halves = 0;
        for (const auto& [call, count] : calls) {
            for (int n = 1; n <= count; ++n) {
                const std::string what = std::string(m.what) + " killed at " + call + " " + std::to_string(n);
                fresh();
                std::vector<std::string> args = {"-e", "inject=" + call + ":signal=KILL:when=" + std::to_string(n)};
                args.insert(args.end(), watch.begin(), watch.end());
                if (run_traced(args, m.args).code == 0) continue;
                ++kills;
                const bool mixed = config_text(e, 96) == "DOE" ? cardgen::read_bytes(e / "cnav.dat") != old_cnav
                                                               : cardgen::read_bytes(e / "cnav.dat") != m.cnav;
                halves += mixed ? 1 : 0;
                run({"/readpat=status"});
                const std::string name = config_text(e, 96);
                const Bytes cnav = cardgen::read_bytes(e / "cnav.dat");
                EXPECT_TRUE((name == "DOE" && cnav == old_cnav) || (name == m.name && cnav == m.cnav))
                    << what << ": " << name << " with cnav.dat of " << cnav.size() << " bytes";
                EXPECT_FALSE(fs::exists(e / "undo.dat")) << what;
                EXPECT_EQ(cardgen::read_bytes(e / "patient.wav"), cardgen::empty_wav()) << what;
            }
        }
        EXPECT_GT(kills, 5) << m.what;
        EXPECT_GT(halves, 0) << m.what;  // the kills met the card between its two files
    }
}

INSTANTIATE_TEST_SUITE_P(Cards, DetailsChangeKillTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Full" : "WithRoom"; });

// What stands where a change's record goes (patient.wav) but is no whole record of a details
// change, cut short or naming another file, changes nothing but patient.wav, which the change was
// to empty.
TEST_F(CardLifeTest, ARecordCutShortOrNamingAnotherFileIsDropped) {
    auto record = [](const std::string& name, const std::string& bytes) {
        std::string r = "CARDNEXT1\n" + name + "\n1\n" + std::to_string(bytes.size()) + "\n" + bytes;
        std::uint8_t crc[4];
        tv::store_le32(crc, tv::crc32_update(0xFFFFFFFFu, r.data(), r.size()) ^ 0xFFFFFFFFu);
        r += std::string(reinterpret_cast<const char*>(crc), 4);
        return "CARDNEXT1\n" + std::to_string(r.size()) + "\n" + r;
    };
    const std::string whole = record("config.dat", std::string(512, 'X'));
    const struct {
        const char* what;
        std::string head;
    } cases[] = {
        {"cut short", whole.substr(0, whole.size() - 3)},
        {"altered", whole.substr(0, 40) + "Y" + whole.substr(41)},
        {"naming ecg.dat", record("ecg.dat", std::string(512, 'X'))},
        {"naming the sound file", record("patient.wav", std::string(512, 'X'))},
        {"of a size no card carries", record("cnav.dat", std::string(100, 'X'))},
    };
    for (const auto& c : cases) {
        const fs::path e = card();
        Bytes wav = cardgen::empty_wav();
        std::copy(c.head.begin(), c.head.end(), wav.begin());
        cardgen::write_bytes(e / "patient.wav", wav.data(), wav.size());
        CardImage expected = image(e);
        expected["patient.wav"] = cardgen::empty_wav();
        run({"/readpat=status"});
        EXPECT_EQ(image(e), expected) << c.what;
    }
}

}  // namespace
