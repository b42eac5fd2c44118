#include "tools/demo/demo_tape.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/fs.h"
#include "testing/app_test_root.h"

namespace tv::demo {
namespace {

class DemoTapeTest : public testing_root::RootTest {};

// A newcomer's tape: long enough for a recording (ten minutes at least), made once.
TEST_F(DemoTapeTest, ProgramMakesATwoHourTapeOnce) {
    const std::string cmd = std::string(TV_DEMO_PROGRAM) + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string trace = demo_tape_path();
    ASSERT_TRUE(std::filesystem::is_regular_file(trace));
    const std::string expect = platform::read_whole_file(trace + ".expect").value_or("");
    EXPECT_NE(expect.find("exit_code=0\n"), std::string::npos) << expect;
    EXPECT_NE(expect.find("samples_written=921600\n"), std::string::npos) << expect;
    const auto stamp = std::filesystem::last_write_time(trace);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(std::filesystem::last_write_time(trace), stamp);
}

}  // namespace
}  // namespace tv::demo
