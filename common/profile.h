// The application profile: per-user settings in HKCU under "Software\Torvane Medical\Calvera\<section>"
// (a section may name sub-keys: "TIMI Print\Body Font"), one value per entry, strings and DWORDs.
// The one way every layer and program reads and writes its settings; the names are in
// common/profile_names.h. Reads fall back to their default on any failure; writes report failure
// by their result. Strings are stored as the caller's bytes.
#pragma once
#include <string>
#include <utility>

namespace tv {

// One program's profile under its key in HKCU ("<key>\<section>"); the free functions below are
// the main program's.
class ProgramProfile {
public:
    explicit ProgramProfile(std::string key) : key_(std::move(key)) {}
    std::string section_key(const std::string& section) const { return key_ + "\\" + section; }
    std::string get_string(const std::string& section, const std::string& entry, const std::string& def) const;
    int get_int(const std::string& section, const std::string& entry, int def) const;
    bool write_string(const std::string& section, const std::string& entry, const std::string& value) const;
    bool write_int(const std::string& section, const std::string& entry, int value) const;
    bool delete_value(const std::string& section, const std::string& entry) const;

private:
    std::string key_;
};

// "Software\Torvane Medical\Calvera\<section>".
std::string profile_section_key(const std::string& section);

// The entry's string value; `def` when it is missing, not a string or longer than a reader accepts.
std::string get_profile_string(const std::string& section, const std::string& entry, const std::string& def);
// The entry's DWORD value read as a signed int; `def` when it is missing or not a DWORD.
int get_profile_int(const std::string& section, const std::string& entry, int def);
// Creates the section when missing and writes the value; true on success.
bool write_profile_string(const std::string& section, const std::string& entry, const std::string& value);
// Stored as a DWORD (a negative value as its two's complement).
bool write_profile_int(const std::string& section, const std::string& entry, int value);
// Removes the entry; true when it existed and is gone.
bool delete_profile_value(const std::string& section, const std::string& entry);

}  // namespace tv
