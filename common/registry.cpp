#include "common/registry.h"

#include <mutex>
#include <optional>
#include <vector>

#include "common/files.h"
#include "common/strings.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace tv {

std::uint32_t reg_get_dword(RegRoot root, const std::string& key, const std::string& name, std::uint32_t def) {
    auto value = platform::registry().get(root, key, name);
    if (!value || value->type != platform::RegType::Dword) return def;
    return value->dword;
}

bool reg_set_dword(RegRoot root, const std::string& key, const std::string& name, std::uint32_t value) {
    return platform::registry().set(root, key, name, platform::RegValue::from_dword(value));
}

std::string reg_get_string(RegRoot root, const std::string& key, const std::string& name, const std::string& def) {
    auto value = platform::registry().get(root, key, name);
    if (!value) return def;
    if (value->type != platform::RegType::String && value->type != platform::RegType::ExpandString) return def;
    if (value->text.size() > kRegStringMax) return def;
    return value->text;
}

bool reg_set_string(RegRoot root, const std::string& key, const std::string& name, const std::string& text) {
    return platform::registry().set(root, key, name, platform::RegValue::string(text));
}

int register_file_type(const std::string& type_id, const std::string& description, const std::string& extension,
                       const std::string& switch_text) {
    auto& reg = platform::registry();
    const std::string program = get_module_path();
    // The machine's classes are the administrator's; an account that cannot write them registers
    // the type in its own classes, as a per-user registration does.
    RegRoot root = HKEY_CLASSES_ROOT;
    std::string classes;
    if (!reg.set(root, type_id, "", platform::RegValue::string(description))) {
        root = HKEY_CURRENT_USER;
        classes = std::string(kUserClassesKey) + "\\";
        if (!reg.set(root, classes + type_id, "", platform::RegValue::string(description))) return 1;
    }
    const std::string key = classes + type_id;
    if (!reg.set(root, key + "\\DefaultIcon", "", platform::RegValue::string(program + ",0"))) return 2;
    const std::string command = program + " " + switch_text + " \"%1\"";
    if (!reg.set(root, key + "\\shell\\open\\command", "", platform::RegValue::string(command))) return 3;
    // Leave the extension alone when it already names the type: another program's association
    // is replaced, ours is not rewritten on every start.
    auto current = reg.get(root, classes + extension, "");
    const bool names_type = current && current->type == platform::RegType::String && current->text == type_id;
    if (!names_type && !reg.set(root, classes + extension, "", platform::RegValue::string(type_id))) return 4;
    return 0;
}

namespace {

std::mutex g_roots_mutex;
std::optional<std::string> g_user_root;
std::optional<std::string> g_system_root;

std::string cached_root(std::optional<std::string>& cache, RegRoot root, const char* name) {
    std::lock_guard<std::mutex> lock(g_roots_mutex);
    if (!cache) cache = reg_get_string(root, kAnalyserKey, name, platform::analyser_default_root());
    return *cache;
}

// `candidate` when it names an existing program, tried as spelled and then as the installed
// Linux program (".EXE" dropped, name matched without regard to case); else empty.
std::string existing_program(const std::string& candidate) {
    // A bare name would be searched along PATH; only the explicit PATH step asks for that.
    if (candidate.empty() || candidate.find('/') == std::string::npos) return {};
    std::string resolved = platform::resolve_program(platform::resolve_path_ci(candidate));
    if (resolved.empty() || !file_exists(resolved)) return {};
    return resolved;
}

std::string existing_file(const std::string& candidate) {
    if (candidate.empty()) return {};
    if (file_exists(candidate)) return candidate;
    std::string resolved = platform::resolve_path_ci(candidate);
    return file_exists(resolved) ? resolved : std::string();
}

std::string beside(const std::string& path, const char* name) {
    if (path.empty()) return {};
    return join_path(get_path_folder(path), name);
}

}  // namespace

std::string get_analyser_user_root() { return cached_root(g_user_root, HKEY_CURRENT_USER, "UserRoot"); }

std::string get_analyser_system_root() { return cached_root(g_system_root, HKEY_LOCAL_MACHINE, "SystemRoot"); }

void reset_cached_roots() {
    std::lock_guard<std::mutex> lock(g_roots_mutex);
    g_user_root.reset();
    g_system_root.reset();
}

std::string find_main_program_path() {
    const std::string module_folder = get_module_folder();
    const std::string candidates[] = {
        reg_get_string(HKEY_LOCAL_MACHINE, kMainProgramMachineKey, "Location", ""),
        reg_get_string(HKEY_CURRENT_USER, kMainProgramUserKey, "Location", ""),
        join_path(module_folder, "PELLARN.EXE"),
        join_path(module_folder, "TOLBEX.EXE"),
        join_path(join_path(get_analyser_system_root(), "SYSTEM"), "PELLARN.EXE"),
    };
    for (const auto& candidate : candidates) {
        std::string found = existing_program(candidate);
        if (!found.empty()) return found;
    }
    return {};
}

std::string get_card_program_path() {
    return existing_program(reg_get_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", ""));
}

std::string get_log_dll_path() {
    return existing_file(reg_get_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", ""));
}

std::string get_private_parts_folder() {
    const std::string own = get_module_folder();
    if (own.empty()) return {};
    return join_path(join_path(get_path_folder(own), "lib"), "torvane");
}

std::string find_szip_path() {
    std::string found = existing_program(join_path(get_module_folder(), "szip.exe"));
    // An installed program never needs to copy the compressor anywhere: its package ships it here.
    if (found.empty()) found = existing_program(join_path(get_private_parts_folder(), "szip.exe"));
    if (found.empty()) found = existing_program(reg_get_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", ""));
    if (found.empty()) {
        found = platform::resolve_program("szip.exe");
        if (!found.empty() && !file_exists(found)) found.clear();
    }
    if (found.empty()) found = existing_program(beside(find_main_program_path(), "szip.exe"));
    if (found.empty()) found = existing_program(beside(get_card_program_path(), "szip.exe"));
    return found;
}

int select_ui_language(const std::string& app_name) {
    // Language settings need NT 5 or later; the emulated system is NT 5.1, so there is no gate.
    const bool per_app =
        !app_name.empty() && reg_get_dword(HKEY_CURRENT_USER, kLanguageKey, "IgnorePerAppSettings", 0) == 0;
    struct Place {
        RegRoot root;
        std::string key;
    };
    std::vector<Place> places;
    if (per_app) {
        const std::string app_key = std::string(kLanguageKey) + "\\" + app_name;
        places.push_back({HKEY_CURRENT_USER, app_key});
        places.push_back({HKEY_LOCAL_MACHINE, app_key});
    }
    places.push_back({HKEY_CURRENT_USER, kLanguageKey});
    places.push_back({HKEY_LOCAL_MACHINE, kLanguageKey});

    for (const auto& place : places) {
        // The values are signed: the stored default is -1 (0xFFFFFFFF).
        const auto primary =
            static_cast<std::int32_t>(reg_get_dword(place.root, place.key, "PrimaryLanguage", 0xFFFFFFFFu));
        if (primary < 0) continue;
        auto sub = static_cast<std::int32_t>(reg_get_dword(place.root, place.key, "SubLanguage", 0xFFFFFFFFu));
        if (sub < 0) sub = 1;
        const int langid =
            static_cast<int>(((static_cast<std::uint32_t>(sub) << 10) | static_cast<std::uint32_t>(primary)) & 0xFFFFu);
        set_ui_language(langid);
        return langid;
    }
    return -1;
}

}  // namespace tv
