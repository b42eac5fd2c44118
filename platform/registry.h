// Registry stand-in: one text hive per root (HKLM, HKCU, HKCR), `.reg`-like, keys and value
// names compared case-insensitively. Every write rereads the hive under its lock and replaces
// it atomically, so two programs writing one hive never lose each other's values.
//
// Hive text (Windows-1252, CR LF):
//   TORVANE REGISTRY 1
//
//   [Software\Torvane Medical\Quorril]
//   @="default value"
//   "UserRoot"="/var/lib/torvane/ANALYSER"
//   "Path"=expand:"%ProgramFiles%\\x"
//   "Count"=dword:00000007
//   "Blob"=hex:01,02,ff
// Inside quotes, \\ is a backslash, \" a quote and \xHH a control character (CR, LF, NUL ...);
// other bytes, including those >= 0x80, stand for themselves, and so does a backslash before
// anything else (hand-written "C:\ANALYSER" reads as meant). A dword has 8 hex digits. A value
// name of "" (written @) is the key's default value. Every line ends with a line end (CR LF
// written, LF accepted), so a hive cut short is recognised and refused. Parent keys have their
// own (possibly empty) sections.
//
// Key paths: leading and trailing backslashes are ignored, "" is the root itself; an empty
// component (two backslashes in a row) or a line break in a key makes the call fail. A new key
// takes the stored spelling of its existing parents.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tv::platform {

enum class RegRoot { LocalMachine, CurrentUser, ClassesRoot };

enum class RegType { String, ExpandString, Dword, Binary };

struct RegValue {
    RegType type = RegType::String;
    std::string text;         // String, ExpandString
    std::uint32_t dword = 0;  // Dword
    std::string bytes;        // Binary

    static RegValue string(std::string s) { return {RegType::String, std::move(s), 0, {}}; }
    static RegValue expand_string(std::string s) { return {RegType::ExpandString, std::move(s), 0, {}}; }
    static RegValue from_dword(std::uint32_t v) { return {RegType::Dword, {}, v, {}}; }
    bool operator==(const RegValue&) const = default;
};

class Registry {
public:
    virtual ~Registry() = default;
    // The value, or nullopt when the key or value is missing or the hive cannot be read.
    virtual std::optional<RegValue> get(RegRoot root, const std::string& key, const std::string& name) = 0;
    // Creates the key (and its parents) when missing and writes the value.
    virtual bool set(RegRoot root, const std::string& key, const std::string& name, const RegValue& value) = 0;
    virtual bool key_exists(RegRoot root, const std::string& key) = 0;
    virtual bool create_key(RegRoot root, const std::string& key) = 0;
    // False when the value (or key) is missing.
    virtual bool delete_value(RegRoot root, const std::string& key, const std::string& name) = 0;
    // Deletes the key with all its sub-keys; false when it is missing or is the root.
    virtual bool delete_key(RegRoot root, const std::string& key) = 0;
    // Names of the direct sub-keys / values of a key, in stored order.
    virtual std::vector<std::string> sub_keys(RegRoot root, const std::string& key) = 0;
    virtual std::vector<std::string> value_names(RegRoot root, const std::string& key) = 0;
};

// Hives as files in folders: HKLM.reg and HKCR.reg in `machine_folder`, HKCU.reg in `user_folder`
// (an empty folder: paths.h's folder at each call). Reads parse the current file; a write takes
// "<hive>.lock" beside it, rereads, changes and replaces the file atomically. A hive that exists
// but does not parse reads as empty and is never overwritten (writes to it fail).
std::unique_ptr<Registry> make_file_registry(const std::string& machine_folder, const std::string& user_folder);
// An in-memory registry for tests.
std::unique_ptr<Registry> make_memory_registry();

// The process-wide registry: file hives under paths.h's registry folders, unless replaced.
Registry& registry();
// Replaces it (tests); nullptr restores the file registry. Call at set-up only.
void set_registry(Registry* r);

// Hive text codec, exposed for tests and the fuzzer. parse_hive returns false on text that is
// not a hive (the caller then treats the hive as empty and refuses to overwrite it).
struct HiveKey {
    std::string path;
    std::vector<std::pair<std::string, RegValue>> values;
};
bool parse_hive(const std::string& text, std::vector<HiveKey>& keys);
std::string format_hive(const std::vector<HiveKey>& keys);

}  // namespace tv::platform
