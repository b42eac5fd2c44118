#include "platform/handles.h"

#include <unistd.h>

namespace tv::platform {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::close() noexcept {
    if (fd_ < 0) return true;
    const int fd = release();
    return ::close(fd) == 0;
}

UniqueFile open_file(const std::string& path, const char* mode) {
    std::string m(mode);
    if (m.find('e') == std::string::npos) m.push_back('e');
    return UniqueFile(std::fopen(path.c_str(), m.c_str()));
}

bool close_file(UniqueFile& file) noexcept {
    std::FILE* f = file.release();
    return !f || std::fclose(f) == 0;
}

bool sync_and_close_file(UniqueFile& file) noexcept {
    if (!file) return true;
    bool ok = std::fflush(file.get()) == 0;
    ok = ::fsync(::fileno(file.get())) == 0 && ok;
    return close_file(file) && ok;
}

}  // namespace tv::platform
