#include "vond/ecg_loader.h"

#include "common/files.h"
#include "common/runner.h"
#include "common/ini_file.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "vond/exit_codes.h"

namespace tv::vond {
namespace {

// A descriptor is a few lines of text; anything far larger is not one and is not read into memory.
constexpr std::uint64_t kMaxDescriptorBytes = 1 << 20;
// The card's name and identifier fields hold 160 bytes with their terminating NUL.
constexpr std::size_t kCardTextLimit = 159;

std::string join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string find_loader(const std::string& own_folder) {
    const auto sub = platform::find_name_ci(own_folder, kLoaderFolder);
    if (!sub) return {};
    const std::string name = kLoaderName;
    for (const std::string& n : {name, name.substr(0, name.size() - 4)})
        // The loader is installed beside vond, where links may lead to it.
        if (auto p = platform::find_name_ci(*sub, n); p && file_exists(*p)) return *p;
    return {};
}

bool has_descriptor(const std::string& folder) {
    return !folder.empty() && !FileFinder(join(folder, "*.LDSC"), kFindAny).at_end();
}

std::string find_descriptor(const std::string& folder) {
    if (folder.empty()) return {};
    FileFinder ff(join(folder, "*.LDSC"), kFindFiles);
    return ff.at_end() ? std::string() : ff.get_path();
}

int loader_exit_code(int loader_code) {
    switch (loader_code) {
        case 0: return kExitNoRecording;
        case 1: return kExitOneChannel;
        case 2: return kExitTwoChannels;
        case 3: return kExitThreeChannels;
        default: return kExitUnreadable;
    }
}

int run_loader(const std::vector<std::string>& argv) { return loader_exit_code(run_child(argv, false).code()); }

std::string clean_card_text(const std::string& text) {
    // Control characters (tabs, stray line ends, NULs) have no place on the card: each is a blank.
    std::string r;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        r.push_back(u < 0x20 || u == 0x7F ? ' ' : c);
    }
    std::size_t i = 0;
    while (i < r.size() && r[i] == ' ') ++i;
    r.erase(0, i);
    if (r.size() > kCardTextLimit) r.resize(kCardTextLimit);
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
}

bool read_descriptor_patient(const std::string& path, DescriptorPatient& out) {
    const auto text = read_outside_text(path, kMaxDescriptorBytes);
    if (!text) return false;
    IniFile ini;
    ini.set_strip_comments(true);
    ini.take_text(*text);
    out.name = clean_card_text(ini.get_value("Patient Details", "PatientName"));
    out.id = clean_card_text(ini.get_value("Patient Details", "PatientId"));
    return true;
}

}  // namespace tv::vond
