#include "tools/crashwriter/crash_scenarios.h"

#include <dirent.h>

#include <cstdio>
#include <memory>

#include "common/files.h"
#include "common/generations.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"

namespace tv::crash {

namespace {

std::uint32_t fold_lines(const std::vector<std::string>& lines) {
    std::uint32_t sum = 0;
    for (const auto& l : lines) fold_line_checksum(l, sum);
    return sum;
}

std::string crlf_lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// ARCHINFO.DAT: every step rewrites the whole index; even states hold 3 reports, odd ones 7, and
// every state names its own reports, so two states never share an entry.

struct ArchiveEntry {
    std::string name, description;
    std::int32_t size;
    std::int64_t time;
};

class ArchInfoScenario : public Scenario {
public:
    const char* name() const override { return "archinfo"; }
    int period() const override { return 4; }
    std::string file_path(const std::string& folder) const override { return join_path(folder, kArchiveIndexName); }

    static std::vector<ArchiveEntry> entries(int state) {
        std::vector<ArchiveEntry> out;
        const int count = state % 2 == 0 ? 3 : 7;
        for (int j = 0; j < count; ++j)
            out.push_back({format_string("S%dE%d.FUL", state, j), format_string("State %d entry %d", state, j),
                           100 * state + j, 86400LL * (state + 1) + 3600LL * j});
        return out;
    }
    static std::vector<std::string> lines(int state) {
        std::vector<std::string> out;
        for (const auto& e : entries(state)) {
            out.push_back(e.name);
            out.push_back(e.description);
            out.push_back(format_file_date_text(e.time));
            out.push_back(std::to_string(e.size));
            out.push_back("Full");
        }
        return out;
    }
    std::string expected(int state) const override { return crlf_lines(lines(state)); }

    bool reader_agrees(const std::string& folder, int state) const override {
        ReportArchive archive(folder, "Crash");
        const auto want = entries(state);
        if (archive.get_count() != static_cast<std::int32_t>(want.size()) ||
            archive.get_entries_read() != archive.get_count() || archive.get_checksum() != fold_lines(lines(state)))
            return false;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const ReportRecord* r = archive.get_record(static_cast<std::int32_t>(i));
            if (!r || r->get_name() != want[i].name || r->get_description() != want[i].description ||
                r->get_size() != want[i].size || r->get_time() != want[i].time || r->get_type() != kReportFull)
                return false;
        }
        return true;
    }

    bool step(const std::string& folder, int from) const override {
        // The reports of the old state go (their folders never existed), the new state's come.
        return shown(change_archive_index(folder, [&](ArchiveIndexEntries& index) -> Result<void> {
            index.records().clear();
            for (const auto& e : entries(next(from)))
                index.add(std::make_unique<ReportRecord>(e.name, folder, e.description, e.size, e.time, false));
            return {};
        }));
    }
};

// ARCHINFO.DAT replaced as the repair tool replaces it: with generations, the old file kept as
// ARCHINFO.SAV before the new one is renamed over it.

class GenerationsScenario final : public ArchInfoScenario {
public:
    const char* name() const override { return "generations"; }
    bool step(const std::string& folder, int from) const override {
        const platform::UniqueFd dir = open_folder_no_link(folder);
        return dir && replace_with_generations_at(dir.get(), kArchiveIndexName, expected(next(from)), true);
    }
};

// ---------------------------------------------------------------------------------------------
// ARCHDIR.DAT: four appends of one archive each, then a rewrite that drops them again.

class ArchDirScenario final : public Scenario {
public:
    const char* name() const override { return "archdir"; }
    int period() const override { return 5; }
    std::string file_path(const std::string& folder) const override { return join_path(folder, kGroupIndexName); }

    static std::vector<std::pair<std::string, std::string>> archives(int state) {
        std::vector<std::pair<std::string, std::string>> out = {{"ARCH1", "First archive"},
                                                                {"ARCH2", "Second archive"},
                                                                {"DELETED", "Deleted Reports"}};
        for (int j = 1; j <= state; ++j)
            out.emplace_back(format_string("B%d", j), format_string("Added archive %d", j));
        return out;
    }
    static std::vector<std::string> lines(int state) {
        std::vector<std::string> out;
        for (const auto& [folder, display] : archives(state)) {
            out.push_back(folder);
            out.push_back(display);
        }
        return out;
    }
    std::string expected(int state) const override { return crlf_lines(lines(state)); }

    bool reader_agrees(const std::string& folder, int state) const override {
        ArchiveGroup group(file_path(folder));
        const auto want = archives(state);
        if (group.get_count() != static_cast<std::int32_t>(want.size())) return false;
        // The archives have no index of their own, so only the group's lines count.
        if (group.get_checksum() != fold_lines(lines(state))) return false;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const ReportArchive* a = group.get_archive(static_cast<std::int32_t>(i));
            if (!a || a->get_folder_entry() != want[i].first || a->get_name() != want[i].second || !a->is_safe())
                return false;
        }
        return true;
    }

    bool step(const std::string& folder, int from) const override {
        const std::string index = file_path(folder);
        if (from < 4) {
            const auto add = archives(from + 1).back();
            return add_group_entry(index, add.first, add.second).ok();
        }
        // One rewrite drops the added archives again (their folders never existed).
        return shown(change_group_index(index, [](GroupIndexEntries& entries) -> Result<void> {
            if (entries.list.size() > 3) entries.list.resize(3);
            return {};
        }));
    }
};

// ---------------------------------------------------------------------------------------------
// DEVICE.DAT: three groups added, then removed again; every change rewrites the file.

class DeviceScenario final : public Scenario {
public:
    const char* name() const override { return "device"; }
    int period() const override { return 6; }
    std::string file_path(const std::string& folder) const override {
        return join_path(folder, kArchiveConfigFileName);
    }

    // Relative paths name no drive, so their kind is the same on every machine.
    static std::vector<std::string> extra(int state) {
        static const std::vector<std::vector<std::string>> lists = {{},
                                                                    {"groups/X1"},
                                                                    {"groups/X1", "groups/X2"},
                                                                    {"groups/X1", "groups/X2", "groups/X3"},
                                                                    {"groups/X2", "groups/X3"},
                                                                    {"groups/X3"}};
        return lists[static_cast<std::size_t>(state)];
    }
    std::string expected(int state) const override {
        std::string out = "1 \"groups/G1\" \"First group\"\r\n1 \"groups/G2\"\r\n";
        for (const auto& p : extra(state)) out += "1 \"" + p + "\"\r\n";
        return out;
    }

    bool reader_agrees(const std::string& folder, int state) const override {
        ArchiveConfigList list;
        if (!list.load(file_path(folder))) return false;
        std::vector<std::pair<std::string, std::string>> want = {{"groups/G1", "First group"}, {"groups/G2", ""}};
        for (const auto& p : extra(state)) want.emplace_back(p, "");
        if (list.get_count() != static_cast<std::int32_t>(want.size())) return false;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const auto n = static_cast<std::int32_t>(i);
            if (list.get_path(n) != want[i].first || list.get_name(n) != want[i].second) return false;
        }
        return true;
    }

    bool step(const std::string& folder, int from) const override {
        ArchiveConfigList list;
        if (!list.load(file_path(folder))) return false;
        static const char* const kChange[] = {"groups/X1", "groups/X2", "groups/X3"};
        const int result = from < 3 ? list.add(kChange[from]) : list.remove(kChange[from - 3]);
        if (result == kConfigRefused) shown(list.refusal());
        return result == kConfigOk;
    }
};

// ---------------------------------------------------------------------------------------------
// A registry hive: one value changes between a short and a long text, beside values that stay.

class HiveScenario final : public Scenario {
public:
    const char* name() const override { return "hive"; }
    int period() const override { return 4; }
    std::string file_path(const std::string& folder) const override { return join_path(folder, "HKLM.reg"); }

    static std::string data(int state) {
        return format_string("state %d ", state) +
               std::string(state % 2 == 0 ? 16 : 4000, static_cast<char>('a' + state));
    }
    std::string expected(int state) const override {
        return "TORVANE REGISTRY 1\r\n"
               "\r\n[Software]\r\n"
               "\r\n[Software\\Crash]\r\n"
               "\"Stable\"=\"C:\\\\ANALYSER\"\r\n"
               "\"Count\"=dword:00000007\r\n"
               "\"Data\"=\"" +
               data(state) + "\"\r\n";
    }

    bool reader_agrees(const std::string& folder, int state) const override {
        auto text = platform::read_whole_file(file_path(folder));
        std::vector<platform::HiveKey> keys;
        if (!text || !platform::parse_hive(*text, keys) || keys.size() != 2) return false;
        auto reg = platform::make_file_registry(folder, folder);
        using platform::RegRoot;
        using platform::RegValue;
        return reg->get(RegRoot::LocalMachine, "Software\\Crash", "Data") == RegValue::string(data(state)) &&
               reg->get(RegRoot::LocalMachine, "software\\crash", "STABLE") == RegValue::string("C:\\ANALYSER") &&
               reg->get(RegRoot::LocalMachine, "Software\\Crash", "Count") == RegValue::from_dword(7) &&
               reg->value_names(RegRoot::LocalMachine, "Software\\Crash").size() == 3;
    }

    bool step(const std::string& folder, int from) const override {
        auto reg = platform::make_file_registry(folder, folder);
        return reg->set(platform::RegRoot::LocalMachine, "Software\\Crash", "Data",
                        platform::RegValue::string(data(next(from))));
    }
};

const ArchInfoScenario g_archinfo;
const GenerationsScenario g_generations;
const ArchDirScenario g_archdir;
const DeviceScenario g_device;
const HiveScenario g_hive;

}  // namespace

bool shown(const Result<void>& result) {
    if (!result && !result.error().message.empty())
        ui().message_box(result.error().message, archive_error_caption(result.error().code), MsgIcon::Error,
                         MsgButtons::Ok);
    return result.ok();
}

bool Scenario::prepare(const std::string& folder) const {
    const std::string bytes = expected(0);
    platform::UniqueFile f = platform::open_file(file_path(folder), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    return platform::close_file(f) && ok;
}

std::optional<int> Scenario::identify(const std::string& folder) const {
    const auto bytes = platform::read_whole_file(file_path(folder));
    if (!bytes) return std::nullopt;
    for (int s = 0; s < period(); ++s)
        if (*bytes == expected(s)) return reader_agrees(folder, s) ? std::optional<int>(s) : std::nullopt;
    return std::nullopt;
}

const Scenario* find_scenario(std::string_view name) {
    for (const Scenario* s : all_scenarios())
        if (name == s->name()) return s;
    return nullptr;
}

std::vector<const Scenario*> all_scenarios() { return {&g_archinfo, &g_generations, &g_archdir, &g_device, &g_hive}; }

std::string record_text(std::string_view tag, int n) { return std::string(tag) + " " + std::to_string(n); }

bool parse_record_text(std::string_view text, std::string& tag, int& n) {
    const auto space = text.rfind(' ');
    if (space == std::string_view::npos || space == 0 || space + 1 >= text.size()) return false;
    const std::string_view digits = text.substr(space + 1);
    if (digits[0] < '0' || digits[0] > '9') return false;
    const ParsedInteger value = parse_integer(digits, 0, 999999999);
    if (!value.whole(digits.size())) return false;
    tag.assign(text.substr(0, space));
    n = static_cast<int>(value.value);
    return true;
}

std::vector<std::string> leftover_temp_files(const std::string& folder) {
    std::vector<std::string> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return out;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n = e->d_name;
        if (n.size() > 1 && n[0] == '.' && n != ".." && n.find(".tmp") != std::string_view::npos) out.emplace_back(n);
    }
    ::closedir(dir);
    return out;
}

}  // namespace tv::crash
