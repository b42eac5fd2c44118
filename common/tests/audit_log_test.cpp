#include "common/audit_log.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <thread>

#include "common/bytes.h"
#include "common/registry.h"
#include "common/runner.h"
#include "common/ui.h"
#include "platform/event_log.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "testing/test_accounts.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kChild = TV_TEST_CHILD;
constexpr std::int64_t kGoldenTime = 1196690709;  // 2007-12-03 14:05:09 UTC

const Bytes kGoldenRecord = {0x1a, 0x00, 0x00, 0x00, 0xea, 0x00, 0x62, 0x5c, 0x64, 0x5c, 0x66, 0x5c, 0x68, 0x00, 0xa0,
                             0x00, 0xda, 0x00, 0xab, 0xcb, 0xed, 0x8f, 0xe4, 0x7e, 0xc7, 0x80, 0x00, 0x00, 0x00, 0x00};
const Bytes kGoldenRegister = {0x70, 0xd1, 0x72, 0x2b};

class FakeSystem : public platform::RealSystem {
public:
    std::int64_t time = kGoldenTime;
    std::vector<int> sleeps;
    std::function<void()> on_sleep;
    std::int64_t now() override { return time; }
    std::string user_name() override { return "u"; }
    std::string ipv4_address() override { return "1.2.3.4"; }
    void sleep_ms(int ms) override {
        sleeps.push_back(ms);
        if (on_sleep) on_sleep();
    }
};

class FakeEventLog : public platform::EventLog {
public:
    struct Event {
        std::string source;
        platform::EventType type;
        int category, id;
        std::string user;
    };
    std::vector<Event> events;
    bool fail = false;
    bool report(const std::string& source, platform::EventType type, int category, int event_id,
                const std::string& user) override {
        if (fail) return false;
        events.push_back({source, type, category, event_id, user});
        return true;
    }
};

// The standard CRC-32, bit by bit, as an independent reference for the stored register.
std::uint32_t reference_crc32(const Bytes& bytes, std::size_t from) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        c ^= bytes[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::uint32_t stored_register(const Bytes& file) {
    return std::uint32_t(file[0]) | std::uint32_t(file[1]) << 8 | std::uint32_t(file[2]) << 16 |
           std::uint32_t(file[3]) << 24;
}

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

class AuditLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        old_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
        platform::set_system(&system_);
        platform::set_event_log(&events_);
        platform::set_registry(registry_.get());
        set_ui(&ui_);
        log_file_ = root_ + "/TV200712.LOG";
    }
    void TearDown() override {
        set_ui(nullptr);
        platform::set_registry(nullptr);
        platform::set_event_log(nullptr);
        platform::set_system(nullptr);
        if (old_tz_)
            setenv("TZ", old_tz_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // One entry the way the application writes it: open, write, (closed by the write).
    bool log_entry(AuditLog& log, const char* format, const std::string& text, const std::string& a = "",
                   const std::string& b = "") {
        return log.open(root_ + "/dummy.img") && log.write_entry(format, text, a, b);
    }

    platform::testing::TempRoot temp_{platform::testing::TmpDir::Root};
    std::string root_ = temp_.path(), log_file_;
    FakeSystem system_;
    FakeEventLog events_;
    std::unique_ptr<platform::Registry> registry_ = platform::make_memory_registry();
    ScriptedUi ui_;
    std::optional<std::string> old_tz_;
};

TEST_F(AuditLogTest, RecordGoldenBytesAndRoundTrip) {
    const double date = ole_date_from_time(kGoldenTime);
    EXPECT_DOUBLE_EQ(date, 39419.586909722224);
    EXPECT_DOUBLE_EQ(ole_date_from_time(0), 25569.0);
    EXPECT_DOUBLE_EQ(ole_date_from_time(946728000), 36526.5);  // 2000-01-01 12:00

    AuditLogRecord record{"u", "1.2.3.4", "P", "m", date, 0};
    const Bytes bytes = record.serialize();
    EXPECT_EQ(bytes, kGoldenRecord);

    AuditLogRecord back;
    std::size_t consumed = 0;
    ASSERT_TRUE(AuditLogRecord::parse(bytes.data(), bytes.size(), back, consumed));
    EXPECT_EQ(consumed, 30u);
    EXPECT_EQ(back.user, "u");
    EXPECT_EQ(back.ip, "1.2.3.4");
    EXPECT_EQ(back.program, "P");
    EXPECT_EQ(back.message, "m");
    EXPECT_EQ(back.date, date);
    EXPECT_EQ(back.status, 0u);

    // Bytes >= 0x80 survive the rotation, and a text is cut at an embedded NUL as C text is.
    AuditLogRecord wide{"M\xfcller", "", "", std::string("ab\0cd", 5), 1.5, 7};
    const Bytes wbytes = wide.serialize();
    ASSERT_TRUE(AuditLogRecord::parse(wbytes.data(), wbytes.size(), back, consumed));
    EXPECT_EQ(back.user, "M\xfcller");
    EXPECT_EQ(back.message, "ab");
    EXPECT_EQ(back.status, 7u);
}

TEST_F(AuditLogTest, RegisterAndRotationHelpers) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32_update(kCrcInitial, check.data(), check.size()), ~0xCBF43926u);
    std::uint32_t reg = kCrcInitial;
    for (char c : check) reg = crc32_update(reg, static_cast<std::uint8_t>(c));
    EXPECT_EQ(reg, ~0xCBF43926u);

    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    Bytes turned = all;
    rotate_bytes_left(turned.data(), turned.size());
    EXPECT_EQ(turned[0x80], 0x01);
    EXPECT_EQ(turned[0x41], 0x82);
    rotate_bytes_right(turned.data(), turned.size());
    EXPECT_EQ(turned, all);
}

TEST_F(AuditLogTest, FileNameIsTheLocalMonth) {
    EXPECT_EQ(AuditLog::make_file_name("/a/b", kGoldenTime), "/a/b/TV200712.LOG");
    EXPECT_EQ(AuditLog::make_file_name("/a", 1199145600), "/a/TV200801.LOG");  // 2008-01-01 00:00 UTC
    setenv("TZ", "EST5", 1);
    tzset();
    EXPECT_EQ(AuditLog::make_file_name("/a", 1199145600), "/a/TV200712.LOG");  // still December there
}

TEST_F(AuditLogTest, GoldenFileThenTwoProcessesTakingTurns) {
    AuditLog log("P");
    EXPECT_EQ(log.user(), "u");
    EXPECT_EQ(log.ip(), "1.2.3.4");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    EXPECT_FALSE(log.is_open());  // every entry closes the log
    EXPECT_EQ(read_bytes(log_file_), concat(kGoldenRegister, kGoldenRecord));

    // Two writers in other processes, 200 entries each, into the same month's file.
    const std::vector<std::string> argv = {kChild, "append", root_, "200", std::to_string(kGoldenTime)};
    ChildProgram a, b;
    ASSERT_TRUE(a.start(argv));
    ASSERT_TRUE(b.start(argv));
    EXPECT_EQ(a.wait().code(), 0);
    EXPECT_EQ(b.wait().code(), 0);

    const AuditFileCheck check = read_audit_log_file(log_file_);
    ASSERT_TRUE(check.readable);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    ASSERT_EQ(check.records.size(), 401u);
    EXPECT_EQ(check.records[0].message, "m");
    for (std::size_t i = 1; i < check.records.size(); ++i) {
        EXPECT_EQ(check.records[i].message, "View formatted report - Desc in abc.ful");
        EXPECT_EQ(check.records[i].program, "P");
        EXPECT_DOUBLE_EQ(check.records[i].date, 39419.586909722224);
    }
    const Bytes file = read_bytes(log_file_);
    EXPECT_EQ(stored_register(file), ~reference_crc32(file, 4));
}

TEST_F(AuditLogTest, RegisterContinuesAcrossOpenings) {
    AuditLog log("Calvera");
    ASSERT_TRUE(log_entry(log, kAuditPrint, "Holter 24h", "/ARCH/STD/R1.FUL", "/ARCH/STD"));
    system_.time += 3600;
    ASSERT_TRUE(log_entry(log, kAuditDelete, "Holter 48h", "/ARCH/STD/R2.FUL", "/ARCH/STD"));

    const Bytes file = read_bytes(log_file_);
    EXPECT_EQ(stored_register(file), ~reference_crc32(file, 4));

    CRCFile crc_file;
    ASSERT_TRUE(crc_file.open(log_file_, false));
    EXPECT_EQ(crc_file.crc(), stored_register(file));
    EXPECT_TRUE(crc_file.close());

    const AuditFileCheck check = read_audit_log_file(log_file_);
    ASSERT_EQ(check.records.size(), 2u);
    EXPECT_EQ(check.records[0].message, "Print report - Holter 24h in r1.ful");
    EXPECT_EQ(check.records[1].message, "Delete report - Holter 48h in r2.ful");
    EXPECT_NEAR(check.records[1].date - check.records[0].date, 1.0 / 24, 1e-9);

    // create starts afresh.
    ASSERT_TRUE(crc_file.create(log_file_, true));
    EXPECT_TRUE(crc_file.close());
    EXPECT_EQ(read_bytes(log_file_), Bytes({0xff, 0xff, 0xff, 0xff}));
}

TEST_F(AuditLogTest, MessagesAndLongEntries) {
    EXPECT_EQ(format_audit_message(kAuditTimiSign, "Desc", "/X/STD/A.FUL", "/X/STD/NEW.FUL"),
              "TIMI sign report Desc in a.ful as new.ful");
    EXPECT_EQ(format_audit_message(kAuditTimiSaveSummary, "S.TXT", "/x/y", "/x/z"), "TIMI save summary - S.TXT");
    EXPECT_EQ(format_audit_message("100%% %s%d", "a", "", ""), "100% a%d");
    EXPECT_EQ(format_audit_message(kAuditMove, "R", "/Q/ARCHIVE2", ""), "Move report to - R in archive2");

    // An entry of any length is written whole.
    AuditLog log("Calvera");
    const std::string text(5000, 'x');
    ASSERT_TRUE(log_entry(log, kAuditExport, text, "/A/B.FUL"));
    const AuditFileCheck check = read_audit_log_file(log_file_);
    ASSERT_EQ(check.records.size(), 1u);
    EXPECT_EQ(check.records[0].message, "Export report - " + text + " in b.ful");
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(AuditLogTest, ClosedLogWritesNothing) {
    AuditLog log("Calvera");
    EXPECT_FALSE(log.write_entry(kAuditPrint, "x", "", ""));
    EXPECT_FALSE(fs::exists(log_file_));
    ASSERT_TRUE(log_entry(log, kAuditPrint, "x"));
    EXPECT_FALSE(log.write_entry(kAuditPrint, "y", "", ""));  // the first entry closed it
    EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 1u);
}

TEST_F(AuditLogTest, OpenFailureShowsTheSystemCause) {
    AuditLog log("Calvera");
    EXPECT_FALSE(log.open(root_ + "/missing/dummy.img"));
    EXPECT_FALSE(log.is_open());
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_EQ(ui_.shown[0].text,
              "There was a serious file opening a CRCFile.\n"
              "The operating system returned the following cause : No such file or directory");
    EXPECT_EQ(ui_.shown[0].icon, MsgIcon::Error);
}

TEST_F(AuditLogTest, BusyFileIsWaitedFor) {
    AuditLog log("Calvera");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    int holder = ::open(log_file_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &fl), 0);
    // Let go only once the open is seen waiting for the lock in the kernel: the waiter then gets it
    // at once, without polling pauses. An open that never waits is never let go and fails.
    const pid_t opener = static_cast<pid_t>(::gettid());
    std::atomic<bool> opened{false};
    bool seen_waiting = false;
    std::thread release([&] {
        const std::string fcntl_call = std::to_string(SYS_fcntl);
        char waiting[16];
        std::snprintf(waiting, sizeof waiting, "0x%x", F_OFD_SETLKW);
        while (!opened.load()) {
            std::ifstream in("/proc/self/task/" + std::to_string(opener) + "/syscall");
            std::string call, fd, command;
            in >> call >> fd >> command;
            if (call == fcntl_call && command == waiting) {
                seen_waiting = true;
                break;
            }
            std::this_thread::yield();
        }
        ::close(holder);
    });
    const bool ok = log.open(root_ + "/dummy.img");
    opened = true;
    release.join();
    ASSERT_TRUE(ok);
    EXPECT_TRUE(seen_waiting);
    EXPECT_TRUE(system_.sleeps.empty());
    EXPECT_TRUE(log.write_entry("%s", "n", "", ""));
    EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 2u);
}

TEST_F(AuditLogTest, FileLockedByAnotherProcessIsNotOpened) {
    AuditLog log("Calvera");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    const std::string marker = root_ + "/locked";
    ChildProgram holder;
    ASSERT_TRUE(holder.start({kChild, "hold-lock", log_file_, marker, "60000"}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(marker));

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(log.open(root_ + "/dummy.img"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kAuditOpenWaitMs));
    EXPECT_TRUE(ui_.shown.empty());  // the caller words the refusal
    EXPECT_FALSE(log.write_entry("%s", "lost", "", ""));

    ::kill(holder.pid(), SIGKILL);
    EXPECT_EQ(holder.wait().code(), -2);
    ASSERT_TRUE(log_entry(log, "%s", "n"));
    const AuditFileCheck check = read_audit_log_file(log_file_);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_EQ(check.records.size(), 2u);
}

TEST_F(AuditLogTest, ShortFilesAreRefusedUntouched) {
    AuditLog log("P");
    for (std::size_t size = 1; size <= 3; ++size) {
        const Bytes stub(size, 0xAB);
        write_bytes(log_file_, stub);
        EXPECT_FALSE(log.open(root_ + "/dummy.img")) << size;
        EXPECT_EQ(read_bytes(log_file_), stub);
    }
    // An empty file is a new log.
    write_bytes(log_file_, {});
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    EXPECT_EQ(read_bytes(log_file_), concat(kGoldenRegister, kGoldenRecord));
}

TEST_F(AuditLogTest, ExistingFileFoundWhateverItsCase) {
    write_bytes(root_ + "/tv200712.log", concat(kGoldenRegister, kGoldenRecord));
    AuditLog log("P");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    EXPECT_FALSE(fs::exists(log_file_));
    const AuditFileCheck check = read_audit_log_file(root_ + "/tv200712.log");
    EXPECT_TRUE(check.crc_ok);
    EXPECT_EQ(check.records.size(), 2u);
}

// Restores the file-size limit and SIGXFSZ however the test ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, old_handler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    sighandler_t old_handler_{};
    bool ok_ = false;
};

TEST_F(AuditLogTest, FailedWriteLeavesFileAndRegisterConsistent) {
    AuditLog log("Calvera");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    const Bytes before = read_bytes(log_file_);

    {
        // The disk fills up in the middle of the next record.
        FileSizeLimit limit(before.size() + 10);
        ASSERT_TRUE(limit.ok());
        ASSERT_TRUE(log.open(root_ + "/dummy.img"));
        EXPECT_FALSE(log.write_entry(kAuditPrint, "a longer description than ten bytes", "/A/B.FUL", ""));
        EXPECT_FALSE(log.is_open());
    }
    EXPECT_EQ(read_bytes(log_file_), before);
    const AuditFileCheck check = read_audit_log_file(log_file_);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    EXPECT_EQ(check.records.size(), 1u);

    // And the log goes on afterwards.
    ASSERT_TRUE(log_entry(log, "%s", "n"));
    EXPECT_TRUE(read_audit_log_file(log_file_).crc_ok);
}

TEST_F(AuditLogTest, WriterDyingBeforeItSealsLeavesTheOldLog) {
    AuditLog log("Calvera");
    ASSERT_TRUE(log_entry(log, "%s", "m"));
    const Bytes before = read_bytes(log_file_);
    const std::string note = root_ + "/.TV200712.LOG.pending";

    // A writer that appends a record and dies before writing the register back.
    AuditLogRecord r;
    r.user = "x";
    r.message = "never sealed";
    const auto stored = r.serialize();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CRCFile f;
        const bool ok = f.open(log_file_, false) && f.write(stored.data(), stored.size());
        ::_exit(ok ? 0 : 1);  // no destructor: the register is never written
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(read_bytes(log_file_).size(), before.size() + stored.size());
    EXPECT_TRUE(fs::exists(note));

    // Readers see the old log, whole.
    AuditFileCheck check = read_audit_log_file(log_file_);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    ASSERT_EQ(check.records.size(), 1u);

    // The next writer cuts the unsealed record off and goes on from the old log.
    ASSERT_TRUE(log_entry(log, "%s", "n"));
    EXPECT_FALSE(fs::exists(note));
    const Bytes after = read_bytes(log_file_);
    EXPECT_EQ(Bytes(after.begin() + 4, after.begin() + static_cast<long>(before.size())),
              Bytes(before.begin() + 4, before.end()));
    check = read_audit_log_file(log_file_);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    ASSERT_EQ(check.records.size(), 2u);
    EXPECT_EQ(check.records[1].message, "n");

    // A writer that died after sealing, before removing its note: its records stay.
    { std::ofstream(note, std::ios::binary) << std::string("\x04\0\0\0\0\0\0\0\x12\x34\x56\x78", 12); }
    EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 2u);
    ASSERT_TRUE(log_entry(log, "%s", "o"));
    EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 3u);
    EXPECT_FALSE(fs::exists(note));
    // A note cut short (the writer died writing it, before any append) changes nothing.
    { std::ofstream(note, std::ios::binary) << "abc"; }
    EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 3u);
    EXPECT_TRUE(read_audit_log_file(log_file_).crc_ok);
}

TEST_F(AuditLogTest, FirstWriterOfTheMonthDyingIsRecovered) {
    const std::string note = root_ + "/.TV200712.LOG.pending";
    AuditLogRecord lost;
    lost.user = "x";
    lost.message = "never sealed";
    const Bytes record = lost.serialize();
    const Bytes placeholder(4, 0);
    auto note_of = [](std::uint64_t end, std::uint32_t reg) {
        Bytes b(12);
        store_le64(b.data(), end);
        store_le32(b.data() + 8, reg);
        return b;
    };
    // A sealed record that brings the register to zero, as one in 2^32 does: its status word is
    // the register before it.
    AuditLogRecord zero{"z", "", "", "sealed", 1.0, 0};
    Bytes zeroing = zero.serialize();
    store_le32(zeroing.data() + zeroing.size() - 4, crc32_update(kCrcInitial, zeroing.data(), zeroing.size() - 4));
    ASSERT_EQ(crc32_update(kCrcInitial, zeroing.data(), zeroing.size()), 0u);
    enum class Dies { Never, AfterOpen, AfterWrite };
    struct Case {
        const char* name;
        Dies dies;       // a forked writer killed at that point, else the bytes below
        bool keep_note;  // the killed writer's note stays (else it never got written)
        Bytes file;      // what a dead writer left, where no child is run
        std::optional<Bytes> note;
        std::size_t sealed = 0;  // records that stay
    };
    const Case cases[] = {
        {"created, nothing written", Dies::Never, false, {}, std::nullopt},
        {"placeholder", Dies::AfterOpen, false, {}, std::nullopt},
        {"placeholder and note", Dies::Never, false, placeholder, note_of(4, kCrcInitial)},
        {"record unsealed, note", Dies::AfterWrite, true, {}, std::nullopt},
        {"record unsealed, no note", Dies::AfterWrite, false, {}, std::nullopt},
        {"record cut short, note", Dies::Never, false, concat(placeholder, Bytes(record.begin(), record.end() - 7)),
         note_of(4, kCrcInitial)},
        {"record unsealed, note cut short", Dies::Never, false, concat(placeholder, record), Bytes{4, 0, 0}},
        {"zero register, record unsealed", Dies::Never, false, concat(placeholder, concat(zeroing, record)),
         std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log_file_);
        fs::remove(note);
        if (c.dies == Dies::Never) {
            write_bytes(log_file_, c.file);
            if (c.note) write_bytes(note, *c.note);
        } else {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                CRCFile f;
                if (!f.open(log_file_, false)) ::_exit(1);
                if (c.dies == Dies::AfterWrite && !f.write(record.data(), record.size())) ::_exit(1);
                if (!c.keep_note) ::unlink(note.c_str());
                ::kill(::getpid(), SIGKILL);
                ::_exit(1);
            }
            ASSERT_EQ(testing_root::wait_child(child), -SIGKILL);
        }
        // Readers see only what was sealed.
        AuditFileCheck check = read_audit_log_file(log_file_);
        if (!c.file.empty() || c.dies != Dies::Never) {
            EXPECT_TRUE(check.readable);
            EXPECT_TRUE(check.crc_ok);
            EXPECT_EQ(check.records.size(), c.sealed);
        }

        AuditLog log("P");
        EXPECT_TRUE(log_entry(log, "%s", "m"));
        EXPECT_TRUE(log_entry(log, "%s", "n"));
        EXPECT_FALSE(fs::exists(note));
        check = read_audit_log_file(log_file_);
        EXPECT_TRUE(check.crc_ok);
        EXPECT_TRUE(check.complete);
        EXPECT_EQ(check.records.size(), c.sealed + 2);
        if (check.records.size() != c.sealed + 2) continue;
        EXPECT_EQ(check.records[c.sealed].message, "m");
        EXPECT_EQ(check.records[c.sealed + 1].message, "n");
        const Bytes file = read_bytes(log_file_);
        EXPECT_EQ(stored_register(file), ~reference_crc32(file, 4));
        if (c.sealed == 0) {
            EXPECT_EQ(Bytes(file.begin() + 4, file.begin() + 34), kGoldenRecord);
        }
    }
}

TEST_F(AuditLogTest, NewFilesTakeTheUmask) {
    const std::string note = root_ + "/.TV200712.LOG.pending";
    for (const mode_t mask : {mode_t(002), mode_t(022), mode_t(077)}) {
        fs::remove(log_file_);
        const mode_t old = ::umask(mask);
        CRCFile f;
        const bool opened = f.open(log_file_, false);
        const bool written = opened && f.write("x", 1);
        struct stat log_st {};
        struct stat note_st {};
        const bool stated = ::stat(log_file_.c_str(), &log_st) == 0 && ::stat(note.c_str(), &note_st) == 0;
        f.close();
        ::umask(old);
        ASSERT_TRUE(opened && written && stated) << mask;
        EXPECT_EQ(log_st.st_mode & 07777, 0666u & ~mask) << mask;
        EXPECT_EQ(note_st.st_mode & 07777, 0666u & ~mask) << mask;
    }
}

// What another account plants at the log's or its note's name is never written through: the log
// is refused, a planted note is passed over, and a FIFO holds neither.
TEST_F(AuditLogTest, APlantedLogOrNoteIsNeverWrittenThrough) {
    const std::string note = root_ + "/.TV200712.LOG.pending", victim = root_ + "/private";
    const std::string where[] = {log_file_, note};
    const struct {
        const char* what;
        std::function<void(const std::string&)> plant;
    } kinds[] = {
        {"link", [&](const std::string& at) { ASSERT_EQ(::symlink(victim.c_str(), at.c_str()), 0); }},
        {"hard link", [&](const std::string& at) { ASSERT_EQ(::link(victim.c_str(), at.c_str()), 0); }},
        {"FIFO", [&](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0); }},
    };
    for (const std::string& at : where)
        for (const auto& kind : kinds) {
            SCOPED_TRACE(at + ": " + kind.what);
            fs::remove(log_file_);
            fs::remove(note);
            write_bytes(victim, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
            kind.plant(at);
            AuditLog log("P");
            EXPECT_EQ(log_entry(log, "%s", "m"), at == note);
            EXPECT_EQ(read_bytes(victim), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
            if (at == note) {
                EXPECT_EQ(read_audit_log_file(log_file_).records.size(), 1u);
            } else {
                // Named with why, for the caller's message; no cause of the system's is shown.
                EXPECT_NE(log.refusal_text().find("the log file \"" + log_file_ + "\" "), std::string::npos)
                    << log.refusal_text();
                EXPECT_TRUE(ui_.shown.empty());
            }
        }
}

// An archive folder swapped for a link: no log is made or written where the link leads.
TEST_F(AuditLogTest, AnArchiveFolderThatIsALinkTakesNoLog) {
    const std::string elsewhere = root_ + "/elsewhere", archive = root_ + "/ARCH";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, archive);
    AuditLog log("P");
    EXPECT_FALSE(log.open(archive + "/R1.FUL"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(AuditLogTest, TwoAccountsShareOneMonthsLogInAGroupFolder) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";

    // The archive: a setgid folder of the group, reachable by both.
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string archive = root_ + "/archive";
    ASSERT_TRUE(accounts.share(archive));
    const std::string log_file = archive + "/TV200712.LOG";
    const std::string note = archive + "/.TV200712.LOG.pending";
    auto entry = [&](const std::string& text) {
        AuditLog log("P");
        return log.open(archive + "/dummy.img") && log.write_entry("%s", text, "", "");
    };

    // The first account starts the month, the second goes on; then the first dies with an
    // unsealed record and its note, and the second recovers from both.
    EXPECT_EQ(accounts.run_as(0, [&] { return entry("a"); }), 0);
    EXPECT_EQ(accounts.run_as(1, [&] { return entry("b"); }), 0);
    EXPECT_EQ(accounts.run_as(0,
                              [&] {
                                  CRCFile f;
                                  const Bytes r = kGoldenRecord;
                                  if (f.open(log_file, false) && f.write(r.data(), r.size()))
                                      ::kill(::getpid(), SIGKILL);
                                  return false;
                              }),
              -SIGKILL);
    EXPECT_TRUE(fs::exists(note));
    EXPECT_EQ(accounts.run_as(1, [&] { return entry("c"); }), 0);
    EXPECT_EQ(accounts.run_as(0, [&] { return entry("d"); }), 0);

    EXPECT_FALSE(fs::exists(note));
    struct stat st {};
    ASSERT_EQ(::stat(log_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(st.st_gid, accounts.gid());
    EXPECT_EQ(st.st_uid, accounts.uid(0));
    const AuditFileCheck check = read_audit_log_file(log_file);
    EXPECT_TRUE(check.crc_ok);
    EXPECT_TRUE(check.complete);
    ASSERT_EQ(check.records.size(), 4u);
    EXPECT_EQ(check.records[0].message, "a");
    EXPECT_EQ(check.records[1].message, "b");
    EXPECT_EQ(check.records[2].message, "c");
    EXPECT_EQ(check.records[3].message, "d");
}

TEST_F(AuditLogTest, HostileFilesAreReadSafely) {
    const std::string path = root_ + "/hostile.log";
    EXPECT_FALSE(read_audit_log_file(root_ + "/none.log").readable);
    EXPECT_FALSE(read_audit_log_file(root_).readable);  // a folder
    write_bytes(path, {1, 2, 3});
    EXPECT_FALSE(read_audit_log_file(path).readable);

    write_bytes(path, {0xff, 0xff, 0xff, 0xff});
    AuditFileCheck check = read_audit_log_file(path);
    EXPECT_TRUE(check.readable && check.crc_ok && check.complete);
    EXPECT_TRUE(check.records.empty());

    // Sized once and filled: growing a 4-byte vector by insert draws gcc 12's -O3 array-bounds
    // false positive.
    auto with_length = [](std::uint32_t length, const Bytes& body) {
        Bytes r(4 + body.size());
        store_le32(r.data(), length);
        std::copy(body.begin(), body.end(), r.begin() + 4);
        return r;
    };
    Bytes record = kGoldenRecord;
    const Bytes cases[] = {
        with_length(0xFFFFFFFFu, Bytes(26, 0)),                                  // length far past the end
        with_length(27, Bytes(kGoldenRecord.begin() + 4, kGoldenRecord.end())),  // one byte past the end
        with_length(15, Bytes(15, 0)),                                           // too short to hold its fields
        with_length(16, Bytes(16, 0xAA)),                                        // no NULs at all (rotated 0x55)
        with_length(17, Bytes(17, 0)),                          // a fifth string where the date should start
        Bytes(kGoldenRecord.begin(), kGoldenRecord.end() - 1),  // truncated
    };
    for (const Bytes& bad : cases) {
        const Bytes file = concat(kGoldenRegister, concat(kGoldenRecord, bad));
        write_bytes(path, file);
        check = read_audit_log_file(path);
        EXPECT_TRUE(check.readable);
        EXPECT_FALSE(check.complete);
        EXPECT_FALSE(check.crc_ok);
        ASSERT_EQ(check.records.size(), 1u);
        EXPECT_EQ(check.records[0].message, "m");
    }
    AuditLogRecord out;
    std::size_t consumed = 0;
    EXPECT_FALSE(AuditLogRecord::parse(kGoldenRecord.data(), 3, out, consumed));
    EXPECT_FALSE(AuditLogRecord::parse(kGoldenRecord.data(), 29, out, consumed));

    // Random damage to a valid file never reads outside it (the sanitizers watch).
    std::mt19937 random(1234);
    Bytes valid = concat(kGoldenRegister, concat(kGoldenRecord, kGoldenRecord));
    for (int round = 0; round < 300; ++round) {
        Bytes damaged = valid;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        damaged.resize(4 + random() % (damaged.size() - 3));
        write_bytes(path, damaged);
        check = read_audit_log_file(path);
        EXPECT_TRUE(check.readable);
        EXPECT_LE(check.records.size(), 2u);
    }
}

TEST_F(AuditLogTest, EventLogSource) {
    EventLogSource source("Brisco Torvane Medical Calvera", "/opt/torvane/messages.so");
    const std::string key =
        "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Brisco Torvane Medical Calvera";
    EXPECT_EQ(reg_get_string(HKEY_LOCAL_MACHINE, key, "EventMessageFile", ""), "/opt/torvane/messages.so");
    EXPECT_EQ(reg_get_dword(HKEY_LOCAL_MACHINE, key, "TypesSupported", 0), 7u);

    EXPECT_TRUE(source.report_event(1));
    EXPECT_TRUE(source.report_event(3));
    ASSERT_EQ(events_.events.size(), 2u);
    EXPECT_EQ(events_.events[0].source, "Brisco Torvane Medical Calvera");
    EXPECT_EQ(events_.events[0].type, platform::EventType::Information);
    EXPECT_EQ(events_.events[0].category, 0);
    EXPECT_EQ(events_.events[0].id, 1);
    EXPECT_EQ(events_.events[0].user, "u");
    EXPECT_EQ(events_.events[1].id, 3);
    EXPECT_TRUE(ui_.shown.empty());

    events_.fail = true;
    EXPECT_FALSE(source.report_event(1));
    ASSERT_EQ(ui_.shown.size(), 1u);
    EXPECT_EQ(ui_.shown[0].text, "Could not report the event.");
}

TEST_F(AuditLogTest, AddressTexts) {
    EXPECT_EQ(get_computer_ip_address(), "1.2.3.4");
    EXPECT_EQ(kAuditFormats[0], std::string("View formatted report - %s in %s"));
    EXPECT_EQ(kAuditFormats[15], std::string("TIMI save arrhythmia summary - %s"));
    EXPECT_EQ(kAuditFormats[16], std::string("signed.dat"));
}

}  // namespace
}  // namespace tv
