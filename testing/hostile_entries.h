// Entries planted in a report folder that must never be carried out of it: a link to a secret
// outside the folder, a link to a folder, a FIFO (which would block a reader that opens it), and
// a twin whose name differs from a page's only in case. Every routine that packs, signs or stores
// a folder refuses each of them whole.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tv::testing {

struct HostileEntry {
    const char* what;
    const char* name;  // the entry the refusal names
    // Plants the entry into `folder`; `outside` is a folder of secrets beyond it.
    void (*plant)(const std::filesystem::path& folder, const std::filesystem::path& outside);
};

inline void write_secret(const std::filesystem::path& p) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << "PKCS#12 bytes of a signing key";
}

inline const std::vector<HostileEntry>& hostile_entries() {
    static const std::vector<HostileEntry> entries = {
        {"link to a key file", "PAGE.9",
         [](const std::filesystem::path& f, const std::filesystem::path& out) {
             write_secret(out / "signer.p12");
             std::filesystem::create_symlink(out / "signer.p12", f / "PAGE.9");
         }},
        {"link to a folder", "KEYS",
         [](const std::filesystem::path& f, const std::filesystem::path& out) {
             write_secret(out / "keys" / "signer.p12");
             std::filesystem::create_directory_symlink(out / "keys", f / "KEYS");
         }},
        {"FIFO", "PAGE.8",
         [](const std::filesystem::path& f, const std::filesystem::path&) { ::mkfifo((f / "PAGE.8").c_str(), 0600); }},
        {"case twin", "page.0",
         [](const std::filesystem::path& f, const std::filesystem::path&) {
             std::ofstream(f / "page.0", std::ios::binary) << "other bytes";
             std::ofstream(f / "PAGE.0", std::ios::binary) << "page bytes";
         }},
    };
    return entries;
}

}  // namespace tv::testing
