// Command-line driver over the common library, for the acceptance tests.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/memory_mapped_file.h"
#include "common/registry.h"
#include "common/runner.h"
#include "common/scramble.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "tape_layout.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: tvcommon_cli COMMAND ...\n"
                 "  audit-write --folder F [--user U] [--ip A] [--program P] [--time YYYY-MM-DDThh:mm:ss]\n"
                 "              --format F --text T [--path-a A] [--path-b B] [--count N]\n"
                 "  audit-verify FILE [--messages]\n"
                 "  scramble | unscramble        (stdin to stdout)\n"
                 "  lines FILE\n"
                 "  tape-host PROGRAM [ARG]\n"
                 "  lang APP | user-root | find-szip\n"
                 "  register-type ID DESCRIPTION EXT SWITCH\n"
                 "  unique-name [--now YYYY-MM-DDThh:mm:ss] FOLDER EXT\n"
                 "  temp-folders N\n"
                 "  find PATTERN MASK\n"
                 "  map-drive LETTER FOLDER\n"
                 "  xor-checksum FILE\n");
    return 64;
}

// Local time "YYYY-MM-DDThh:mm:ss" to seconds; -1 when malformed.
std::int64_t parse_iso(const std::string& s) {
    std::tm tm{};
    if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Pins what the command line names; the rest stays real.
class PinnedSystem : public tv::platform::RealSystem {
public:
    std::int64_t time = -1;
    std::string user, ip;
    bool has_user = false, has_ip = false;
    std::int64_t now() override { return time >= 0 ? time : RealSystem::now(); }
    std::string user_name() override { return has_user ? user : RealSystem::user_name(); }
    std::string ipv4_address() override { return has_ip ? ip : RealSystem::ipv4_address(); }
};
PinnedSystem g_system;

std::map<std::string, std::string> options(int argc, char** argv, int first, std::vector<std::string>& rest) {
    std::map<std::string, std::string> o;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0 && i + 1 < argc)
            o[a.substr(2)] = argv[++i];
        else if (a.rfind("--", 0) == 0)
            o[a.substr(2)] = "";
        else
            rest.push_back(a);
    }
    return o;
}

int audit_write(const std::map<std::string, std::string>& o) {
    auto get = [&](const char* k, const char* d = "") {
        auto it = o.find(k);
        return it == o.end() ? std::string(d) : it->second;
    };
    if (o.count("user")) g_system.user = get("user"), g_system.has_user = true;
    if (o.count("ip")) g_system.ip = get("ip"), g_system.has_ip = true;
    if (o.count("time")) {
        g_system.time = parse_iso(get("time"));
        if (g_system.time < 0) return usage();
    }
    const std::string folder = get("folder");
    const std::string format = get("format", "%s");
    const int count = std::atoi(get("count", "1").c_str());
    tv::AuditLog log(get("program", "Calvera"));
    for (int i = 0; i < count; ++i) {
        if (!log.open(tv::join_path(folder, "dummy.img"))) {
            std::fprintf(stderr, "audit-write: cannot open the log in %s\n", folder.c_str());
            return 1;
        }
        if (!log.write_entry(format.c_str(), get("text"), get("path-a"), get("path-b"))) {
            std::fprintf(stderr, "audit-write: entry %d not written\n", i);
            return 1;
        }
    }
    return 0;
}

int audit_verify(const std::string& path, bool messages) {
    tv::AuditFileCheck check = tv::read_audit_log_file(path);
    if (!check.readable) {
        std::printf("unreadable\n");
        return 1;
    }
    std::printf("records=%zu crc=%s\n", check.records.size(), check.crc_ok ? "ok" : "bad");
    if (messages)
        for (const auto& r : check.records) std::printf("%s\n", r.message.c_str());
    return check.crc_ok ? 0 : 1;
}

int scramble(bool forward) {
    std::string data((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    auto* p = reinterpret_cast<std::uint8_t*>(data.data());
    if (forward)
        tv::scramble_bytes(p, data.size());
    else
        tv::unscramble_bytes(p, data.size());
    std::fwrite(data.data(), 1, data.size(), stdout);
    return 0;
}

int lines(const std::string& path) {
    const tv::platform::UniqueFile f = tv::platform::open_file(path, "rb");
    if (!f) return 1;
    std::uint32_t sum = 0;
    std::string line;
    while (tv::read_nonblank_line(f.get(), line, &sum)) std::printf("%s\n", line.c_str());
    std::printf("checksum=0x%08x\n", sum);
    return 0;
}

class CountingPump : public tv::MessagePump {
public:
    int pumps = 0;
    void pump() override { ++pumps; }
};

int tape_host(const std::string& program, const std::string& arg) {
    using namespace tvcli;
    std::vector<std::unique_ptr<tv::MemoryMappedFile>> maps;
    for (const char* name : kRawEcgNames)
        maps.push_back(std::make_unique<tv::MemoryMappedFile>(name, kRawEcgBytes, true));
    maps.push_back(std::make_unique<tv::MemoryMappedFile>(kEcgCtrlName, kEcgCtrlBytes, true));
    maps.push_back(std::make_unique<tv::MemoryMappedFile>(kTapeDataName, kTapeDataBytes, true));
    maps.push_back(std::make_unique<tv::MemoryMappedFile>(kPatientEventsName, kPatientEventBytes, true));
    for (auto& m : maps)
        if (!m->get_view()) {
            std::printf("mapping %s failed\n", m->name().c_str());
            return 1;
        }
    auto* ctrl = static_cast<std::uint8_t*>(maps[3]->get_view());
    auto* tape = static_cast<std::uint8_t*>(maps[4]->get_view());
    std::memset(ctrl, 0, 4);
    std::memset(tape + kDeckStateOffset, 0, 4);

    CountingPump pump;
    tv::set_message_pump(&pump);
    std::vector<std::string> argv{program};
    tv::split_windows_command_line(arg, argv);
    tv::ChildProgram child;
    const int code = child.start(argv) ? child.wait_pumping(500).code() : tv::platform::kExitNotStarted;
    tv::set_message_pump(nullptr);

    std::int32_t count = 0, state = 0;
    std::memcpy(&count, ctrl, 4);
    std::memcpy(&state, tape + kDeckStateOffset, 4);
    char serial[41] = {};
    std::memcpy(serial, tape + kSerialOffset, 40);
    std::printf("exit=%d count=%d state=%d serial=%s pumps=%d\n", code, count, state, serial, pump.pumps);
    return 0;
}

int unique_name(const std::map<std::string, std::string>& o, const std::vector<std::string>& rest) {
    if (rest.size() != 2) return usage();
    auto it = o.find("now");
    if (it != o.end()) {
        g_system.time = parse_iso(it->second);
        if (g_system.time < 0) return usage();
    }
    std::printf("%s\n", tv::make_unique_file_name(rest[0], rest[1]).c_str());
    return 0;
}

int find(const std::string& pattern, const std::string& mask) {
    for (tv::FileFinder f(pattern, static_cast<std::uint32_t>(std::stoul(mask, nullptr, 0))); !f.at_end(); f.next())
        std::printf("%s\n", f.get_name().c_str());
    return 0;
}

int map_drive(const std::string& letter, const std::string& folder) {
    tv::platform::MappedDrive d;
    d.letter = letter.empty() ? 0 : letter[0];
    d.folder = folder;
    d.kind = tv::platform::DriveKind::Fixed;
    return tv::platform::map_drive(d) ? 0 : 1;
}

int xor_checksum(const std::string& path) {
    const tv::platform::UniqueFile f = tv::platform::open_file(path, "rb");
    if (!f) return 1;
    std::printf("0x%08x\n", tv::file_xor_checksum(f.get()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    // Several drivers may share one pipe: one write per line keeps their lines whole.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    tv::platform::set_system(&g_system);
    const std::string cmd = argv[1];
    std::vector<std::string> rest;
    auto o = options(argc, argv, 2, rest);
    auto arg = [&](std::size_t i) { return i < rest.size() ? rest[i] : std::string(); };

    if (cmd == "audit-write") return audit_write(o);
    if (cmd == "audit-verify") return rest.empty() ? usage() : audit_verify(rest[0], o.count("messages") > 0);
    if (cmd == "scramble") return scramble(true);
    if (cmd == "unscramble") return scramble(false);
    if (cmd == "lines") return rest.empty() ? usage() : lines(rest[0]);
    if (cmd == "tape-host") return rest.empty() ? usage() : tape_host(rest[0], arg(1));
    if (cmd == "lang") {
        const int id = tv::select_ui_language(arg(0));
        if (id < 0)
            std::printf("-1\n");
        else
            std::printf("0x%04x\n", id);
        return 0;
    }
    if (cmd == "user-root") return std::printf("%s\n", tv::get_analyser_user_root().c_str()), 0;
    if (cmd == "find-szip") return std::printf("%s\n", tv::find_szip_path().c_str()), 0;
    if (cmd == "register-type") {
        if (rest.size() != 4) return usage();
        const int r = tv::register_file_type(rest[0], rest[1], rest[2], rest[3]);
        std::printf("%d\n", r);
        return r == 0 ? 0 : 1;
    }
    if (cmd == "unique-name") return unique_name(o, rest);
    if (cmd == "temp-folders") {
        const int n = std::atoi(arg(0).c_str());
        for (int i = 0; i < n; ++i) {
            const std::string f = tv::create_temp_folder();
            if (f.empty()) return 1;
            std::printf("%s\n", f.c_str());
        }
        return 0;
    }
    if (cmd == "find") return rest.size() != 2 ? usage() : find(rest[0], rest[1]);
    if (cmd == "map-drive") return rest.size() != 2 ? usage() : map_drive(rest[0], rest[1]);
    if (cmd == "xor-checksum") return rest.empty() ? usage() : xor_checksum(rest[0]);
    return usage();
}
