#include "common/desktop_types.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

DesktopOpener opener(std::string program) {
    return {"x-open.desktop",
            "Open <X> & Co",
            {std::move(program), "/mail"},
            {{"application/x-a", "A \"report\"", ".TVZ"}},
            "x-types.xml"};
}

// The desktop's quoting of Exec arguments: a path that holds blanks, quotes, '$', '%' or '\' is
// one argument and starts that program, never a shell word or a field code.
TEST(DesktopTypes, ExecLineQuotesWhatTheDesktopWouldSplitOrExpand) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/t/tolbex", "Exec=/opt/t/tolbex /mail %f\n"},
        {"/opt/my t/tolbex", "Exec=\"/opt/my t/tolbex\" /mail %f\n"},
        {"/o/a\"b$c`d", "Exec=\"/o/a\\\\\"b\\\\$c\\\\`d\" /mail %f\n"},
        {"/o/100%/x", "Exec=/o/100%%/x /mail %f\n"},
        {"/o/back\\slash", "Exec=\"/o/back\\\\\\\\slash\" /mail %f\n"},
    };
    for (const auto& [program, line] : cases) {
        const std::string entry = desktop_entry(opener(program));
        EXPECT_NE(entry.find(std::string("\n") + line), std::string::npos) << program << "\n" << entry;
    }
    EXPECT_NE(desktop_mime_package(opener("/t"))
                  .find("<comment>A &quot;report&quot;</comment>\n"
                        "    <glob pattern=\"*.tvz\" case-sensitive=\"false\"/>"),
              std::string::npos);
}

// Outside a desktop session nothing is written; a program path with a line end, which would
// start a key of its own in the entry, is refused before anything is written.
TEST(DesktopTypes, NothingIsWrittenOutsideASessionOrForAPathWithALineEnd) {
    platform::testing::TempRoot root;
    const std::string data = root.path() + "/data";
    const char* display = std::getenv("DISPLAY");
    const std::string old_display = display ? display : "";
    const std::string old_data = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("DISPLAY");
    EXPECT_EQ(register_desktop_opener(opener("/opt/t/tolbex")), DesktopRegistration::NoDesktop);
    ::setenv("DISPLAY", ":97", 1);
    const DesktopRegistration r = register_desktop_opener(opener("/opt/t/tolbex\nExec=/bin/evil"));
    EXPECT_TRUE(r == DesktopRegistration::Failed || r == DesktopRegistration::NoDesktop);
    EXPECT_FALSE(fs::exists(data));
    ::setenv("XDG_DATA_HOME", old_data.c_str(), 1);
    if (display)
        ::setenv("DISPLAY", old_display.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

}  // namespace
}  // namespace tv
