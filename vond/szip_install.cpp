#include "vond/szip_install.h"

#include <sys/stat.h>

#include <cstdint>

#include "common/files.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/paths.h"

namespace tv::vond {
namespace {

constexpr const char* kWindowsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* kInstalledName = "szip";
constexpr const char* kInstalledReadme = "szip.readme.txt";
// Far above the real program; a larger "resource" is not ours.
constexpr std::uint64_t kMaxResourceSize = 64ull * 1024 * 1024;

// The bytes of a resource file; false when it is missing, unreadable, a link or not a plain file.
bool load_resource(const std::string& resources, const char* name, std::string& bytes) {
    if (resources.empty()) return false;
    auto p = platform::find_name_ci(resources, name);
    if (!p) return false;
    auto read = read_outside_text(*p, kMaxResourceSize);
    if (!read) return false;
    bytes = std::move(*read);
    return true;
}

}  // namespace

std::string szip_resource_folder() {
    // A build keeps them beside the program; an installation among its private parts.
    const std::string beside = join_path(get_module_folder(), "resources");
    return folder_exists(beside) ? beside : get_private_parts_folder();
}

std::string get_program_files_folder() {
    std::string v = reg_get_string(HKEY_LOCAL_MACHINE, kWindowsKey, "ProgramFilesDir", "");
    if (v.empty()) v = join_path(platform::machine_dir(), "Program Files");
    return v;
}

std::string szip_install_folder() {
    return join_path(join_path(get_program_files_folder(), "Torvane Medical"), "Common");
}

bool install_szip_into(const std::string& folder, const std::string& resources) {
    if (!find_szip_path().empty()) return true;
    std::string exe;
    if (!load_resource(resources, kSzipResourceName, exe)) return false;
    const std::string exe_path = join_path(folder, kInstalledName);
    if (!platform::atomic_write_file(exe_path, exe) || ::chmod(exe_path.c_str(), 0755) != 0) return false;
    std::string readme;
    if (load_resource(resources, kSzipReadmeResourceName, readme))
        platform::atomic_write_file(join_path(folder, kInstalledReadme), readme);
    reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", exe_path);
    return true;
}

bool install_szip(const std::string& resources) {
    if (!find_szip_path().empty()) return true;
    const std::string folder = szip_install_folder();
    if (create_folder_path(folder)) return install_szip_into(folder, resources);
    return install_szip_into(get_module_folder(), resources);
}

}  // namespace tv::vond
