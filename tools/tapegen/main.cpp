// tapegen: writes a synthetic deck trace and, beside it (TRACE.expect), what the reader must make of it.
//   tapegen TRACE [--type N] [--packets N] [--count N] [--first-sample N] [--skip24]
//          [--status-after PACKETS:STATUS] [--end-status STATUS] [--jump-at PACKET] [--bad-packets] [--no-tape]
//          [--flat] [--quiet-deck] [--idle-ms N] [--ppe N] [--stride N] [--entries N] [--bytes-per-entry N]
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "tools/tapegen/tapegen.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: tapegen TRACE [--type N] [--packets N] [--count N] [--first-sample N] [--skip24]\n"
                 "       [--status-after PACKETS:STATUS] [--end-status STATUS] [--jump-at PACKET] [--bad-packets]\n"
                 "       [--no-tape]\n"
                 "       [--flat] [--quiet-deck] [--idle-ms N] [--ppe N] [--stride N] [--entries N]\n"
                 "       [--bytes-per-entry N]\n");
    return 2;
}

bool number(const char* text, long long& value) {
    const tv::ParsedInteger n = tv::parse_integer(text, INT64_MIN, INT64_MAX);
    value = n.value;
    return n.whole(std::strlen(text));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    tv::tapegen::Options o;
    const std::string trace = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        long long v = 0;
        auto value = [&]() { return i + 1 < argc && number(argv[++i], v); };
        if (a == "--skip24")
            o.skip = 11059200;
        else if (a == "--bad-packets")
            o.bad_packets = true;
        else if (a == "--no-tape")
            o.no_tape = true;
        else if (a == "--flat")
            o.time_codes = false;
        else if (a == "--quiet-deck")
            o.extra_messages = false;
        else if (a == "--status-after" && i + 1 < argc) {
            const char* colon = std::strchr(argv[++i], ':');
            long long s = 0;
            if (!colon || !number(std::string(static_cast<const char*>(argv[i]), colon).c_str(), v) ||
                !number(colon + 1, s))
                return usage();
            o.status_after = v;
            o.status = static_cast<std::int32_t>(s);
        } else if (!value())
            return usage();
        else if (a == "--type")
            o.type = static_cast<int>(v);
        else if (a == "--packets")
            o.packets = v;
        else if (a == "--count")
            o.count = static_cast<int>(v);
        else if (a == "--first-sample")
            o.first_sample = static_cast<std::int32_t>(v);
        else if (a == "--jump-at")
            o.jump_at = v;
        else if (a == "--end-status")
            o.end_status = static_cast<std::int32_t>(v);
        else if (a == "--idle-ms")
            o.idle_ms = static_cast<std::uint32_t>(v);
        else if (a == "--ppe")
            o.geometry.packets_per_entry = static_cast<std::uint32_t>(v);
        else if (a == "--stride")
            o.geometry.stride = static_cast<std::uint32_t>(v);
        else if (a == "--entries")
            o.geometry.entries = static_cast<std::uint32_t>(v);
        else if (a == "--bytes-per-entry")
            o.geometry.bytes_per_entry = static_cast<std::uint32_t>(v);
        else
            return usage();
    }
    if (o.count != 50 && o.count != 100 && o.count != 150) {
        std::fprintf(stderr, "tapegen: --count must be 50, 100 or 150\n");
        return 2;
    }
    tv::tapegen::Expected e;
    std::string error;
    if (!tv::tapegen::generate(o, trace, e, error) || !tv::tapegen::write_expected(trace + ".expect", e)) {
        std::fprintf(stderr, "tapegen: %s\n", error.empty() ? "cannot write the expectations" : error.c_str());
        return 1;
    }
    return 0;
}
