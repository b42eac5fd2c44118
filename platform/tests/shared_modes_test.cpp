// What the machine's shared state makes for itself follows the umask, so that every account of
// the site's group can write it; the user's own hive stays as private as it was.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/event_log.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/window_messages.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST(SharedModes, MachineStateFollowsTheUmask) {
    const struct { mode_t umask, file, folder; } cases[] = {{002, 0664, 0775}, {022, 0644, 0755}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        testing::TempRoot root;
        const mode_t old = ::umask(c.umask);
        auto reg = make_file_registry(root / "m/registry", root / "u/registry");
        const bool set = reg->set(RegRoot::LocalMachine, "Software\\X", "V", RegValue::string("1")) &&
                         reg->set(RegRoot::ClassesRoot, "X", "V", RegValue::string("1")) &&
                         reg->set(RegRoot::CurrentUser, "Software\\X", "V", RegValue::string("1"));
        const bool logged = event_log().report("src", EventType::Information, 0, 1, "u");
        auto window = WindowEndpoint::create("ModesWnd", "modes");
        ::umask(old);
        ASSERT_TRUE(set && logged && window);

        const struct {
            std::string path;
            mode_t mode;
        } made[] = {
            {root / "m", c.folder},
            {root / "m/registry", c.folder},
            {root / "m/registry/HKLM.reg", c.file},
            {root / "m/registry/HKLM.lock", c.file},
            {root / "m/registry/HKCR.reg", c.file},
            {root / "log", c.folder},
            {event_log_file(), c.file},
            {windows_socket_dir(), c.folder},
            // The user's own folder keeps its owner-only write; the hive in it follows the umask.
            {root / "u/registry", 0755 & ~c.umask},
            {root / "u/registry/HKCU.reg", c.file},
        };
        for (const auto& m : made) EXPECT_EQ(mode_of(m.path), m.mode) << m.path;

        // A rewrite keeps what an administrator set.
        ASSERT_EQ(::chmod((root / "m/registry/HKLM.reg").c_str(), 0660), 0);
        ASSERT_TRUE(reg->set(RegRoot::LocalMachine, "Software\\X", "V", RegValue::string("2")));
        EXPECT_EQ(mode_of(root / "m/registry/HKLM.reg"), 0660u);
    }
}

}  // namespace
}  // namespace tv::platform
