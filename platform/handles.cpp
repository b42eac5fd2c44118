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

}  // namespace tv::platform
