// A 24-hour tape on the simulated deck, played as fast as it goes, read by the built KELMOTH while
// tolbex polls the mappings every 500 ms as the loading dialog does. Prints how long the tape took
// and what the polling cost: the polling thread's CPU time as a share of one core.
//   tape_polling_bench [PACKETS]   (default 73,728: 24 hours of 150-sample packets)
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include <fcntl.h>
#include <sys/resource.h>

#include "common/memory_mapped_file.h"
#include "platform/fs.h"
#include "platform/deck.h"
#include "platform/process.h"
#include "tolbex/tape/ecg_mappings.h"
#include "tolbex/tape/tape_reader.h"

namespace {

double process_cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double thread_cpu_seconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const long long packets = argc > 1 ? std::atoll(argv[1]) : 73728;
    char made[] = "/tmp/tapebench.XXXXXX";
    if (!::mkdtemp(made)) return 1;
    const std::string root = made;
    std::filesystem::create_directories(root + "/tmp");
    std::filesystem::create_directories(root + "/ANALYSER/System");
    ::setenv("TORVANE_ROOT", root.c_str(), 1);
    ::setenv("TMPDIR", (root + "/tmp").c_str(), 1);

    // The tape and what the reader must make of it, from the tapegen program.
    const std::string trace = root + "/tape.trace";
    tv::platform::ChildProcess gen;
    if (!tv::platform::spawn_process({TAPEGEN_PROGRAM, trace, "--type", "2", "--packets", std::to_string(packets),
                                      "--quiet-deck"},
                                     gen) ||
        tv::platform::wait_process(gen) != 0) {
        std::fprintf(stderr, "tapegen failed\n");
        return 1;
    }
    const std::string expect = tv::platform::read_whole_file(trace + ".expect").value_or("");
    const std::size_t at = expect.find("samples_written=");
    const long long expected_samples = at == std::string::npos ? -1 : std::atoll(expect.c_str() + at + 16);
    tv::platform::ChildProcess sim;
    if (!tv::platform::spawn_process({DECK_SIM_PROGRAM, trace}, sim)) return 1;
    const std::string socket = tv::platform::deck_socket_path("\\\\.\\Tvreplay0");
    for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    int code = 0;
    double wall = 0, polling_cpu = 0, process_cpu = 0;
    int ticks = 0;
    std::int32_t loaded = 0;
    {
        tv::TapeMappings mappings;
        tv::TapeReader reader;
        // The reader's console goes nowhere, as a hidden program's does.
        const int saved = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, 1);
        tv::TapeOptions options;
        options.type_index = 1;
        const bool started = mappings.all_mapped() && reader.start(KELMOTH_PROGRAM, tv::tape_reader_arguments(options));
        ::dup2(saved, 1);
        ::close(saved);
        ::close(null);
        if (!started) {
            std::fprintf(stderr, "the reader did not start\n");
            return 1;
        }
        tv::TapeLoadSession session(mappings, reader);
        const double process_before = process_cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        auto next = start;
        for (;;) {
            const double before = thread_cpu_seconds();
            const bool ended = session.tick() == tv::TapeLoadSession::Tick::ended;
            polling_cpu += thread_cpu_seconds() - before;
            ++ticks;
            if (ended) break;
            next += std::chrono::milliseconds(500);
            std::this_thread::sleep_until(next);
        }
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        process_cpu = process_cpu_seconds() - process_before;
        code = session.exit_code();
        loaded = mappings.sample_count();
    }
    ::kill(sim.pid, SIGTERM);
    tv::platform::wait_process(sim);
    for (const char* name : {"TV USB READ SHUTDOWN", "KELMOTH SHUTDOWN REQ"}) tv::MemoryMappedFile::remove(name);
    std::filesystem::remove_all(root);

    // The deck itself delivers one packet per 1 ms USB frame.
    std::printf("exit %d, %d samples a channel (%s of ECG) in %.2f s; the deck at its own rate takes %.1f s\n", code,
                loaded, tv::tape_duration_text(loaded).c_str(), wall, static_cast<double>(packets) / 1000.0);
    std::printf("polling: %d ticks, %.3f ms CPU in all, %.4f %% of one core\n", ticks, polling_cpu * 1000.0,
                100.0 * polling_cpu / wall);
    std::printf("tolbex's side while the tape loads (polling and waiting): %.3f ms CPU, %.3f %% of one core\n",
                process_cpu * 1000.0, 100.0 * process_cpu / wall);
    return code == 0 && loaded == expected_samples ? 0 : 1;
}
