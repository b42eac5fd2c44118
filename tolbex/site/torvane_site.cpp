// torvane-site: the site's switches in the machine registry, which an installation leaves off.
// TIMI brings Sign Report and logging with it; logging needs the event-log message file, which
// the installation keeps in <prefix>/share/torvane. The machine hive is root's, so the site's
// administrator runs it; the accounts only read what it wrote.
//
//   torvane-site                       the switches as the programs read them
//   torvane-site on|off timi|signing|logging ...
//
// Exit status: 0 done, 1 a wrong command line, 2 the registry could not be written.
#include <cstdio>
#include <string>
#include <vector>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/registry.h"
#include "platform/paths.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_settings.h"

namespace {

struct Switch {
    const char* word;
    const char* value;  // under kAnalyserKey
};
constexpr Switch kSwitches[] = {{"timi", "Enable TIMI Rozaze"},
                                {"signing", "Enable Signing"},
                                {"logging", "Enable Logging"}};

int usage() {
    std::fprintf(stderr, "Usage: torvane-site [on|off timi|signing|logging ...]\n");
    return 1;
}

std::string installed_message_file() {
    return tv::join_path(tv::join_path(tv::get_path_folder(tv::get_module_folder()), "share/torvane"), "tvevents.msg");
}

int show() {
    const tv::WorkstationSwitches s = tv::read_workstation_switches();
    const std::string message_file = tv::get_log_dll_path();
    std::printf("machine registry: %s\n", tv::platform::machine_registry_dir().c_str());
    std::printf("timi: %s\n", s.timi_enabled ? "on" : "off");
    std::printf("signing: %s%s\n", s.signing_enabled || s.timi_enabled ? "on" : "off",
                !s.signing_enabled && s.timi_enabled ? " (with TIMI)" : "");
    std::printf("logging: %s%s\n", s.logging_enabled || s.timi_enabled ? "on" : "off",
                !s.logging_enabled && s.timi_enabled ? " (with TIMI)" : "");
    std::printf("event-log message file: %s\n", message_file.empty() ? "none" : message_file.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (args.empty()) return show();
    if (args.size() < 2 || (args[0] != "on" && args[0] != "off")) return usage();
    const bool on = args[0] == "on";
    std::vector<const Switch*> chosen;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const Switch* found = nullptr;
        for (const Switch& s : kSwitches)
            if (args[i] == s.word) found = &s;
        if (!found) return usage();
        chosen.push_back(found);
    }
    bool ok = true;
    bool needs_log = false;
    for (const Switch* s : chosen) {
        ok = tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kAnalyserKey, s->value, on ? "Yes" : "No") && ok;
        needs_log = needs_log || (on && std::string(s->word) != "signing");
    }
    if (ok && needs_log) {
        // Logging stops every start without its message file; an account cannot register the
        // event source in the machine's hive, so it is registered here once.
        const std::string message_file = installed_message_file();
        if (!tv::file_exists(message_file)) {
            std::fprintf(stderr, "torvane-site: the event-log message file %s is missing\n", message_file.c_str());
            return 2;
        }
        const std::string source = std::string(tv::kEventLogRegistryKey) + tv::kEventSourceName;
        ok = tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kLogKey, "DLL Install Path", message_file) &&
             tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, source, "EventMessageFile", message_file) &&
             tv::reg_set_dword(tv::HKEY_LOCAL_MACHINE, source, "TypesSupported", 7);
    }
    if (!ok) {
        std::fprintf(stderr, "torvane-site: cannot write the machine registry in %s (run it as root)\n",
                     tv::platform::machine_registry_dir().c_str());
        return 2;
    }
    return show();
}
