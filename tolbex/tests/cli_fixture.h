// Helpers for the tests that run the built tolbex as a process: a fresh root per test, fixture
// builders for archive groups and reports, a literal-only implode encoder and a transfer-file
// writer that do not use the program's own code.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "testing/test_root.h"
#include "testing/test_files.h"

namespace cli {

namespace fs = std::filesystem;

using tv::testing::read_file;
using tv::testing::split_lines;
using tv::testing::write_file;

// Non-blank lines, as the index readers see them.
inline std::vector<std::string> index_lines(const fs::path& p) {
    std::vector<std::string> out;
    for (auto& l : split_lines(read_file(p))) {
        while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.pop_back();
        if (!l.empty()) out.push_back(l);
    }
    return out;
}

using RunResult = tv::platform::testing::CapturedRun;

// A fresh folder with the machine root, temp folder and work space of one test; the test
// process itself points at the same root as the program it runs.
class CliTest : public ::testing::Test {
protected:
    // Runs tolbex with TORVANE_ROOT, TMPDIR, TZ=UTC, LC_ALL=C, no display, stdin closed and a
    // time limit; a run over the limit is killed and fails.
    RunResult run(const std::vector<std::string>& args, int limit_seconds = 60) {
        std::vector<std::string> argv = {TOLBEX_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        return tv::platform::testing::run_captured(argv, environment(), t.string(), limit_seconds);
    }
    // That environment; each "NAME=value" of `changes` replaces the variable's entry.
    std::vector<std::string> environment(const std::vector<std::string>& changes = {}) const {
        std::vector<std::string> env = {
            "TORVANE_ROOT=" + root.string(),     "TMPDIR=" + tmp.string(), "TZ=UTC", "LC_ALL=C", "HOME=" + t.string(),
            "PATH=/usr/local/bin:/usr/bin:/bin",
        };
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        for (const std::string& c : changes) {
            const std::string name = c.substr(0, c.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
            env.push_back(c);
        }
        return env;
    }

    // The names left in the temporary folder (a run must leave none of its own).
    std::vector<std::string> temp_leftovers() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(tmp)) names.push_back(e.path().filename().string());
        return names;
    }

    tv::platform::testing::TempRoot temp_root{tv::platform::testing::TmpDir::Beside};
    const fs::path t = temp_root.made(), root = temp_root.path(), tmp = temp_root.tmp();
};

// --- registry hives ---

inline void write_hive(const fs::path& file, const std::string& body) {
    write_file(file, "TORVANE REGISTRY 1\r\n\r\n" + body);
}

// --- archive fixtures ---

// ARCHDIR.DAT from (folder, display name) pairs, CR LF, with a blank line between pairs.
inline void make_group(const fs::path& group, const std::vector<std::pair<std::string, std::string>>& archives) {
    std::string text;
    for (auto& [folder, name] : archives) {
        text += folder + "\r\n" + name + "\r\n\r\n";
        fs::create_directories(group / folder);
    }
    write_file(group / "ARCHDIR.DAT", text);
}

struct IndexEntry {
    std::string name, description, date, size, type_name;
};

inline std::string format_entry(const IndexEntry& e, const char* eol = "\r\n") {
    return e.name + eol + e.description + eol + e.date + eol + e.size + eol + e.type_name + eol;
}

inline void append_entry(const fs::path& archive, const IndexEntry& e, const char* eol = "\r\n") {
    std::ofstream out(archive / "ARCHINFO.DAT", std::ios::binary | std::ios::app);
    out << format_entry(e, eol);
}

// A version-8 PATIENT.TXT with `recording_id` on line 8 (and 17 lines in all).
inline std::string patient_txt(const std::string& recording_id, const std::string& name = "Smith, John") {
    std::vector<std::string> lines = {"C:\\ANALYSER\\PATIENT.TXT",
                                      "Mon Dec 03 14:05:09 2007",
                                      name,
                                      "01/02/1950",
                                      "57",
                                      "M",
                                      "--",
                                      recording_id,
                                      "1234",
                                      "Dr Who",
                                      "--",
                                      "General",
                                      "03/12/2007",
                                      "R42",
                                      "R42",
                                      "04/12/2007",
                                      "No comment"};
    std::string text;
    for (auto& l : lines) text += l + "\r\n";
    return text;
}

// --- transfer files made without the program's code ---

class BitWriter {
public:
    void bit(int b) {
        if (b) cur_ |= static_cast<std::uint8_t>(1u << n_);
        if (++n_ == 8) flush_byte();
    }
    void bits(unsigned value, int count) {
        for (int i = 0; i < count; ++i) bit((value >> i) & 1u);
    }
    std::string finish() {
        if (n_) flush_byte();
        return out_;
    }
    std::string out_;

private:
    void flush_byte() {
        out_.push_back(static_cast<char>(cur_));
        cur_ = 0;
        n_ = 0;
    }
    std::uint8_t cur_ = 0;
    int n_ = 0;
};

// Implode stream (binary, dictionary 4096) of literals only: every byte as a 0 bit and its
// 8 bits, then the end code (a 1 bit, the 7-bit length code 0000000 and 8 one bits).
inline std::string literal_implode(const std::string& data) {
    BitWriter w;
    w.out_ = std::string("\x00\x06", 2);
    for (unsigned char c : data) {
        w.bit(0);
        w.bits(c, 8);
    }
    w.bit(1);
    w.bits(0, 7);
    w.bits(0xFF, 8);
    return w.finish();
}

// Written out rather than taken from common/bytes.h, so that the packer's checksums are checked
// against an independent reckoning.
inline std::uint32_t crc32_of(const std::string& bytes) {
    std::uint32_t table[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline void put_u32(std::string& s, std::uint32_t v) { tv::append_le32(s, v); }

inline std::uint32_t get_u32(const std::string& s, std::size_t at) {
    return tv::load_le32(reinterpret_cast<const std::uint8_t*>(s.data()) + at);
}

// One transfer-file entry: header (name as given, up to 16 bytes) and the stream as given.
inline std::string tvz_entry(const std::string& name, const std::string& stream, std::uint32_t original_size) {
    std::string e = "\x44\x48\x09\x02";
    std::string field = name.substr(0, 16);
    field.resize(16, '\0');
    e += field;
    put_u32(e, static_cast<std::uint32_t>(stream.size()));
    put_u32(e, original_size);
    put_u32(e, stream.empty() ? 0 : crc32_of(stream));
    return e + stream;
}

inline std::string tvz_literal_entry(const std::string& name, const std::string& content) {
    return tvz_entry(name, content.empty() ? std::string() : literal_implode(content),
                     static_cast<std::uint32_t>(content.size()));
}

// Transfer-file entries of the files that a report of `type` (REPINFO.TXT's type line) holds, so
// that the receiving store takes it as a whole report.
inline std::string report_files_tvz(const std::string& type = "510") {
    std::vector<const char*> names;
    if (type == "510" || type == "511") names = {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"};
    if (type == "512" || type == "519") names = {"SUMMARY.TXT", "PAGE.0"};
    std::string out;
    for (const char* n : names) out += tvz_literal_entry(n, std::string("part of the report: ") + n);
    return out;
}

struct TvzMember {
    std::string name, stream;
    std::uint32_t packed = 0, original = 0, crc = 0;
};

// Walks a transfer file; false when it is not a whole sequence of entries.
inline bool walk_tvz(const std::string& bytes, std::vector<TvzMember>& members) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 32) return false;
        TvzMember m;
        if (bytes.compare(at, 4, "\x44\x48\x09\x02") != 0) return false;
        const std::string field = bytes.substr(at + 4, 16);
        m.name = field.substr(0, field.find('\0'));
        m.packed = get_u32(bytes, at + 20);
        m.original = get_u32(bytes, at + 24);
        m.crc = get_u32(bytes, at + 28);
        at += 32;
        if (bytes.size() - at < m.packed) return false;
        m.stream = bytes.substr(at, m.packed);
        at += m.packed;
        members.push_back(m);
    }
    return true;
}

// Every file of a folder (name -> content).
inline std::vector<std::pair<std::string, std::string>> folder_files(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) files.emplace_back(e.path().filename().string(), read_file(e.path()));
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace cli
