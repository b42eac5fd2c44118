// Owning handles for the operating system's descriptors, so that no path forgets a close.
// UniqueFd owns a file descriptor, UniqueFile a stdio stream. Both close on destruction and
// ignore a failure there; a writer that must know whether its data reached the file calls
// close() and checks it (a delayed write error can show only at close).
#pragma once
#include <cstdio>
#include <memory>
#include <string>

namespace tv::platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives up ownership; the caller closes.
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held (if any) and takes `fd`.
    void reset(int fd = -1) noexcept;
    // Closes now; false when close failed (errno says why). Empty afterwards either way.
    bool close() noexcept;

private:
    int fd_ = -1;
};

struct FileCloser {
    void operator()(std::FILE* f) const noexcept {
        if (f) std::fclose(f);
    }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// fopen with close-on-exec added to `mode` ("rb" opens as "rbe"), so no child inherits the file.
// Empty on failure (errno says why).
UniqueFile open_file(const std::string& path, const char* mode);
// Closes now; false when fclose failed (buffered data not written). Empty afterwards either way.
bool close_file(UniqueFile& file) noexcept;
// Flushes the stream, puts the file on the disk (fsync) and closes it; false when any step
// failed. Empty afterwards either way.
bool sync_and_close_file(UniqueFile& file) noexcept;

}  // namespace tv::platform
