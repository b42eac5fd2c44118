// Typed registry access with defaults, document-type registration, the search for the
// system's other programs and folders, and the choice of the user-interface language.
// Every read falls back to its default on any failure; writes report failure by their result.
#pragma once
#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace tv {

using platform::RegRoot;
// The Windows names of the roots, so that callers read as the registry contract is written.
inline constexpr RegRoot HKEY_LOCAL_MACHINE = RegRoot::LocalMachine;
inline constexpr RegRoot HKEY_CURRENT_USER = RegRoot::CurrentUser;
inline constexpr RegRoot HKEY_CLASSES_ROOT = RegRoot::ClassesRoot;

// Registry keys the system shares with the analysis system and its other programs.
inline constexpr const char* kAnalyserKey = "Software\\Torvane Medical\\Quorril";
inline constexpr const char* kMainProgramMachineKey = "Software\\Torvane Medical\\Calvera";
inline constexpr const char* kMainProgramUserKey = "Software\\Torvane Medical\\- Calvera -";
inline constexpr const char* kCardProgramKey = "Software\\Torvane Medical\\Ostrabel CF Interface Program";
inline constexpr const char* kLogKey = "Software\\Torvane Medical\\Log";
inline constexpr const char* kSzipKey = "Software\\Torvane Medical\\SZIP";
inline constexpr const char* kLanguageKey = "SOFTWARE\\Torvane Medical\\Language";
// The analysis system's main window: while a window of this title exists, the analysis system runs.
inline constexpr const char* kAnalysisMainWindowTitle = "Quorril";

// Longest string value a reader accepts (the value's bytes without its NUL).
inline constexpr std::size_t kRegStringMax = 1023;

// The value when it exists as a DWORD; otherwise `def`.
std::uint32_t reg_get_dword(RegRoot root, const std::string& key, const std::string& name, std::uint32_t def);
// Creates the key when missing and writes a DWORD; true on success.
bool reg_set_dword(RegRoot root, const std::string& key, const std::string& name, std::uint32_t value);
// The value when it is a string or an unexpanded expandable string of at most kRegStringMax
// bytes; otherwise `def`.
std::string reg_get_string(RegRoot root, const std::string& key, const std::string& name, const std::string& def);
// Creates the key when missing and writes a string; true on success.
bool reg_set_string(RegRoot root, const std::string& key, const std::string& name, const std::string& text);

// An account's own document types, which it may register where it cannot write HKCR.
inline constexpr const char* kUserClassesKey = "Software\\Classes";

// Registers a document type for the running program under HKCR: the type's description, its
// icon, its open command (program, blank, switch, blank, "%1" in quotes) and the extension's
// type. The extension is rewritten only when it does not already name the type. An account that
// cannot write HKCR (the machine's hive) registers the same keys under HKCU kUserClassesKey.
// 0 on success, else the failing step 1..4.
int register_file_type(const std::string& type_id, const std::string& description, const std::string& extension,
                       const std::string& switch_text);

// The analysis system's user and system folders (HKCU / HKLM "UserRoot" / "SystemRoot"), read
// once per process; platform::analyser_default_root() when unset.
std::string get_analyser_user_root();
std::string get_analyser_system_root();
// Forgets the cached roots, so the next call reads the registry again (tests).
void reset_cached_roots();

// Full path of the main program: HKLM "Location", HKCU "Location", PELLARN or TOLBEX beside the
// running program, then SYSTEM/PELLARN under the analysis system's root. Empty when none exists.
std::string find_main_program_path();
// The card interface program's "Install Path" when that program exists; else empty.
std::string get_card_program_path();
// The event-log message file's "DLL Install Path" when that file exists; else empty.
std::string get_log_dll_path();
// The folder of the private programs and data an installation keeps beside its programs' folder:
// <prefix>/lib/torvane for a program in <prefix>/bin. Empty when the running program is unknown.
std::string get_private_parts_folder();
// The outside compressor: beside the running program, in its private parts folder, its "Install
// Path", along PATH, beside the main program, beside the card program. Empty when none exists.
std::string find_szip_path();

// Chooses the user-interface language from the per-application and common language keys (user
// before machine), sets it with set_ui_language and returns it; -1 when no place names one.
int select_ui_language(const std::string& app_name);

}  // namespace tv
