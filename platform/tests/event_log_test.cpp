#include "platform/event_log.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

TEST(EventLog, FileSinkWritesOneLinePerEvent) {
    testing::TempRoot root;
    ::setenv("TZ", "UTC", 1);
    ASSERT_EQ(event_log_file(), root / "log/eventlog.txt");
    EventLog& log = event_log();
    EXPECT_TRUE(log.report("Brisco Torvane Medical Calvera", EventType::Information, 0, 1, "alice"));
    EXPECT_TRUE(log.report("src", EventType::Error, 3, 1000, "bob\r\nforged line"));
    EXPECT_TRUE(log.report("src", EventType::Warning, -1, 3, ""));
    auto text = read_whole_file(event_log_file());
    ASSERT_TRUE(text);
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}";
    EXPECT_TRUE(testing::full_match(*text, stamp + "\tBrisco Torvane Medical Calvera\tInformation\t0\t1\talice\r\n" +
                                               stamp + "\tsrc\tError\t3\t1000\tbob  forged line\r\n" + stamp +
                                               "\tsrc\tWarning\t-1\t3\t\r\n"))
        << *text;
}

TEST(EventLog, FailureIsReported) {
    testing::TempRoot root;
    std::filesystem::create_directories(event_log_file());  // a folder where the file should be
    EXPECT_FALSE(event_log().report("src", EventType::Error, 0, 1, "u"));
}

TEST(EventLog, ReplaceableForTests) {
    struct Recorder : EventLog {
        int calls = 0;
        bool report(const std::string&, EventType, int, int, const std::string&) override { return ++calls, true; }
    } rec;
    set_event_log(&rec);
    EXPECT_TRUE(event_log().report("x", EventType::Information, 0, 1, "u"));
    EXPECT_EQ(rec.calls, 1);
    set_event_log(nullptr);
    EXPECT_NE(&event_log(), &rec);
}

}  // namespace
}  // namespace tv::platform
