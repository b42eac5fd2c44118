// A child program for the runner and audit-log tests.
//   exit N                      ends with exit code N
//   exit-minus-one              ends with exit(-1)
//   kill-self                   dies of SIGKILL
//   sleep MS N                  sleeps, then ends with N
//   append FOLDER COUNT TIME    writes COUNT audit entries in FOLDER with the clock pinned at TIME
//   hold-lock FILE MARKER MS    holds an exclusive lock on FILE, creates MARKER, sleeps, ends
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/audit_log.h"
#include "platform/system.h"

namespace {

class PinnedClock : public tv::platform::RealSystem {
public:
    explicit PinnedClock(std::int64_t t) : time_(t) {}
    std::int64_t now() override { return time_; }

private:
    std::int64_t time_;
};

int append(const std::string& folder, int count, std::int64_t time) {
    PinnedClock clock(time);
    tv::platform::set_system(&clock);
    tv::AuditLog log("P");
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        if (!log.open(folder + "/dummy.img") ||
            !log.write_entry(tv::kAuditViewFormatted, "Desc", "/A/STD/ABC.FUL", "/A/STD"))
            ++failed;
    }
    tv::platform::set_system(nullptr);
    if (failed) std::fprintf(stderr, "append: %d of %d entries not written\n", failed, count);
    return failed ? 1 : 0;
}

int hold_lock(const std::string& file, const std::string& marker, int ms) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return 2;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLKW, &fl) != 0) return 3;
    const int m = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (m < 0) return 4;
    ::close(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
    if (mode == "exit-minus-one") std::exit(-1);
    if (mode == "kill-self") {
        ::raise(SIGKILL);
        return 1;
    }
    if (mode == "sleep" && argc > 3) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return std::atoi(argv[3]);
    }
    if (mode == "append" && argc > 4) return append(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));
    if (mode == "hold-lock" && argc > 4) return hold_lock(argv[2], argv[3], std::atoi(argv[4]));
    std::fprintf(stderr, "tv_test_child: unknown mode\n");
    return 64;
}
