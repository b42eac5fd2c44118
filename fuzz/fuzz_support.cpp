#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/registry.h"

namespace tv::fuzz {
namespace {

std::string g_folder;

// Answers every question with its safe answer and keeps nothing, so memory stays flat over
// millions of runs.
class QuietUi : public Ui {
public:
    MsgResult message_box(const std::string&, const std::string&, MsgIcon, MsgButtons buttons,
                          MsgDefault = MsgDefault::First) override {
        return safe_answer(buttons);
    }
};

void remove_tree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        clear_folder(path + "/");
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

void remove_work_folder() {
    if (g_folder.empty()) return;
    remove_tree(g_folder.substr(0, g_folder.size() - 1));
}

void make_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace

void init() {
    if (!g_folder.empty()) return;
    // Targets that write whole recordings run much faster on a memory file system.
    std::string base = "/tmp";
    if (const char* t = std::getenv("TV_FUZZ_TMP"); t && *t)
        base = t;
    else if (struct stat st{}; ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        base = "/dev/shm";
    std::string pattern = base + "/tvfuzz.XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_folder = pattern + "/";
    make_folder(g_folder + "root");
    make_folder(g_folder + "tmp");
    ::setenv("TORVANE_ROOT", (g_folder + "root").c_str(), 1);
    ::setenv("TMPDIR", (g_folder + "tmp").c_str(), 1);
    ::setenv("TZ", "UTC", 1);
    reset_cached_roots();
    static QuietUi quiet;
    set_ui(&quiet);
    static std::unique_ptr<platform::Registry> memory = platform::make_memory_registry();
    platform::set_registry(memory.get());
    std::atexit(remove_work_folder);
}

const std::string& work_folder() {
    init();
    return g_folder;
}

std::string sub_folder(const std::string& name) {
    const std::string path = work_folder() + name;
    make_folder(path);
    return path + "/";
}

void put_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd || !platform::write_all(fd.get(), data, size) || !fd.close()) {
        std::perror(path.c_str());
        std::abort();
    }
}

void put_file(const std::string& path, std::string_view bytes) {
    put_file(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void clear_folder(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const auto& n : names) remove_tree(folder + n);
}

}  // namespace tv::fuzz
