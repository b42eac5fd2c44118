#include "platform/handles.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tv::platform {
namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(Handles, DescriptorsCloseOnceWhateverPathTheyTake) {
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        UniqueFd fd(raw);
        UniqueFd moved(std::move(fd));
        EXPECT_FALSE(fd);
        EXPECT_EQ(moved.get(), raw);
        EXPECT_TRUE(is_open(raw));
    }
    EXPECT_FALSE(is_open(raw));

    UniqueFd a(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int first = a.get();
    a.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_NE(a.get(), first);
    EXPECT_FALSE(is_open(first));
    EXPECT_TRUE(a.close());
    EXPECT_FALSE(a);
    EXPECT_TRUE(a.close());  // closing an empty handle is no failure

    UniqueFd kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int released = kept.release();
    EXPECT_TRUE(is_open(released));
    ::close(released);
}

TEST(Handles, FilesOpenCloseOnExecAndReportTheirClose) {
    UniqueFile f = open_file("/dev/null", "rb");
    ASSERT_TRUE(f);
    EXPECT_TRUE(::fcntl(::fileno(f.get()), F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(close_file(f));
    EXPECT_FALSE(f);
    EXPECT_TRUE(close_file(f));
    EXPECT_FALSE(open_file("/no/such/folder/file", "rb"));
    // A write whose data cannot reach the disk is reported by the close.
    if (::access("/dev/full", W_OK) == 0) {
        UniqueFile full = open_file("/dev/full", "wb");
        ASSERT_TRUE(full);
        std::fputs("x", full.get());
        EXPECT_FALSE(close_file(full));
        full = open_file("/dev/full", "wb");
        std::fputs("x", full.get());
        EXPECT_FALSE(sync_and_close_file(full));
        EXPECT_FALSE(full);
    }
    UniqueFile none;
    EXPECT_TRUE(sync_and_close_file(none));
}

}  // namespace
}  // namespace tv::platform
