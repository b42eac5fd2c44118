// deck-sim: plays a tape trace as the replay deck, on the socket of "\\.\Tvreplay<unit>" under
// $TORVANE_ROOT/run/deck, with its ring in named shared memory.
//   deck-sim TRACE [--unit N] [--real-rate] [--fail-map] [--log FILE]   (options in any order)
// It stops on SIGTERM or SIGINT, removing its socket and ring. SIGUSR1 makes it a deck that hung:
// it plays no more and answers no request.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "deck_server.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_silent{false};
void on_signal(int) { g_stop = true; }
void on_silence(int) { g_silent = true; }

constexpr const char* kUsage = "usage: deck-sim TRACE [--unit N] [--real-rate] [--fail-map] [--log FILE]\n";

}  // namespace

int main(int argc, char** argv) {
    std::string trace_path, log_path, unit = "0";
    tv::platform::DeckModelOptions options;
    // The options come before or after the trace, in any order.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--real-rate") {
            options.real_rate = true;
        } else if (a == "--fail-map") {
            options.fail_map = true;
        } else if ((a == "--unit" || a == "--log") && i + 1 < argc) {
            (a == "--unit" ? unit : log_path) = argv[++i];
        } else if (a.starts_with("-") || !trace_path.empty()) {
            std::fprintf(stderr, "deck-sim: unknown argument %s\n%s", a.c_str(), kUsage);
            return 2;
        } else {
            trace_path = a;
        }
    }
    if (trace_path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string device = "\\\\.\\Tvreplay" + unit;
    const std::string socket_path = tv::platform::deck_socket_path(device);
    if (socket_path.empty()) {
        std::fprintf(stderr, "deck-sim: bad unit %s\n", unit.c_str());
        return 2;
    }
    auto source = std::make_unique<tv::platform::FileTraceSource>();
    tv::platform::DeckGeometry geometry;
    std::string error;
    if (!source->open(trace_path, geometry, options.idle_ms, error)) {
        std::fprintf(stderr, "deck-sim: %s\n", error.c_str());
        return 1;
    }
    const std::string ring_name = tv::platform::deck_ring_name(tv::platform::deck_unit_name(device));
    tv::platform::SharedMemory::unlink(ring_name);
    const std::size_t ring_bytes = tv::platform::DeckModel::region_bytes(geometry);
    auto ring = tv::platform::SharedMemory::open(ring_name, ring_bytes, true);
    if (!ring) {
        std::fprintf(stderr, "deck-sim: cannot make the ring %s\n", ring_name.c_str());
        return 1;
    }
    tv::platform::UniqueFile log_file;
    if (!log_path.empty() && !(log_file = tv::platform::open_file(log_path, "a"))) {
        std::fprintf(stderr, "deck-sim: cannot write %s\n", log_path.c_str());
        return 1;
    }
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::signal(SIGUSR1, on_silence);
    std::signal(SIGPIPE, SIG_IGN);
    {
        tv::platform::DeckModel model(std::move(source), geometry,
                                      {static_cast<std::uint8_t*>(ring->data()), ring_bytes}, options);
        if (std::FILE* log = log_file.get())
            model.set_write_log([log](const std::vector<std::uint8_t>& packet) {
                // One line per packet: its length, then its words.
                std::string line = std::to_string(packet.size());
                for (std::size_t i = 0; i + 4 <= packet.size(); i += 4) {
                    std::uint32_t w;
                    std::memcpy(&w, packet.data() + i, 4);
                    line += ' ';  // not " " + to_string(): gcc 12 at -O3 warns of an overlapping copy
                    line += std::to_string(w);
                }
                line += "\n";
                std::fputs(line.c_str(), log);  // one call per line: connections log concurrently
                std::fflush(log);
            });
        if (!tv::platform::serve_deck(model, socket_path, g_stop, error, &g_silent)) {
            std::fprintf(stderr, "deck-sim: %s\n", error.c_str());
            tv::platform::SharedMemory::unlink(ring_name);
            return 1;
        }
    }
    tv::platform::SharedMemory::unlink(ring_name);
    return 0;
}
