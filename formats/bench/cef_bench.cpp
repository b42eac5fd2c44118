// A compressed ECG file of a 24-hour three-channel card recording (about 66 MB of channel data,
// reduced by 4 bits as the default level does): writing (with its validation round trip) and
// unpacking, with "xz -6" and "zstd -19" on the same members for comparison of size and time.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/registry.h"
#include "common/scramble.h"
#include "platform/fs.h"
#include "formats/cef.h"

namespace {

using tv::join_path;

// ECG-like 12-bit samples at 128/s: beats with P, QRS and T waves whose width follows the heart
// rate, breathing that moves the axis, baseline wander, noise, movement artefacts and event marks.
std::vector<std::uint16_t> make_ecg_channel(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint16_t> out(count);
    std::uint32_t s = seed * 2654435761u + 1;
    auto rnd = [&s] {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) * (1.0 / 16777216.0);
    };
    double next_beat = 0, rr = 110, last_beat = -1000;
    const double amp = 180.0 + 40.0 * (seed % 3);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i);
        if (t >= next_beat) {
            last_beat = next_beat;
            rr = 95 + 30 * rnd();
            next_beat += rr;
        }
        const double d = t - last_beat;
        auto g = [d](double c, double w, double a) {
            const double x = (d - c) / w;
            return a * std::exp(-x * x);
        };
        const double qt = 0.8 + 0.2 * rr / 110;
        const double v =
            g(10 * qt, 4, 0.12) + g(22, 1.3, -0.15) + g(25, 1.2, 1.0) + g(28, 1.4, -0.25) + g(50 * qt, 7 * qt, 0.3);
        const double resp = 1.0 + 0.1 * std::sin(t / 81.0 + seed);
        const double wander = 60 * std::sin(t / 700.0 + seed) + 15 * std::sin(t / 97.0);
        double noise = (rnd() + rnd() + rnd() - 1.5) * 8.0;
        if ((i / 128000) % 7 == 3) noise *= 6;
        int x = static_cast<int>(std::lround(2048 + amp * resp * v + wander + noise));
        x = std::clamp(x, 1, 4095);
        auto w = static_cast<std::uint16_t>(x);
        if (i % 500000 == 1234) w |= 0x1000;
        out[i] = w;
    }
    return out;
}

struct Fixture {
    std::string root, src, cef;
    std::uint64_t member_bytes = 0;
    std::vector<std::string> members;
    bool ok = false;

    Fixture() {
        char tmpl[] = "/tmp/cef_bench_XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        root = tmpl;
        ::setenv("TORVANE_ROOT", root.c_str(), 1);
        const std::string tmp = root + "/tmp";
        ::mkdir(tmp.c_str(), 0700);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        tv::reset_cached_roots();
        const std::string szip = tv::get_module_folder() + "/../tools/szip/szip";
        if (!tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", szip)) return;
        src = root + "/src";
        ::mkdir(src.c_str(), 0700);
        const std::size_t samples = 11059200;  // 24 hours
        for (int c = 0; c < 3; ++c) {
            auto w = make_ecg_channel(samples, static_cast<std::uint32_t>(c + 1));
            const std::string p = join_path(src, tv::cef_channel_file_name(false, c));
            if (!tv::platform::atomic_write_file(p, std::string_view(reinterpret_cast<const char*>(w.data()),
                                                                     w.size() * 2)))
                return;
        }
        if (!tv::precompress_folder_ecg(src, 4, false)) return;
        std::string other(20000, '\0');
        for (std::size_t i = 0; i < other.size(); ++i) other[i] = static_cast<char>(i % 97);
        std::string text = tv::format_cef_patient_text({"", "", "Doe Jane"});
        tv::scramble_bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
        tv::platform::atomic_write_file(join_path(src, "OTHER.DAT"), other);
        tv::platform::atomic_write_file(join_path(src, "PATSUMM.DAT"), "Doe Jane\r\nP123\r\n01/02/2003 10:20:31\r\n");
        tv::platform::atomic_write_file(join_path(src, "PATEVENT.DAT"), "10\n20\n");
        tv::platform::atomic_write_file(join_path(src, "PATIENT.TXT"), text);
        for (const char* name :
             {"PATEVENT.DAT", "RAWECG1.DAT", "RAWECG2.DAT", "RAWECG3.DAT", "OTHER.DAT", "PATSUMM.DAT"}) {
            members.push_back(join_path(src, name));
            member_bytes += static_cast<std::uint64_t>(tv::get_file_size_64(members.back()));
        }
        cef = root + "/REC.CEF";
        ok = true;
    }
    ~Fixture() {
        if (!root.empty()) tv::delete_folder_tree(root, true, true);
    }

    bool write() const {
        tv::CefHeader h;
        h.kind = tv::kCefKindCard;
        h.channel_count = 3;
        h.start_sample = 4769280;
        const std::vector<tv::CefChannelTrailer> trailers(3, tv::CefChannelTrailer{410, 1, 4, 0});
        return tv::assemble_cef(nullptr, h, trailers, cef, src, tv::cef_card_extra_list(), false).ok();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_CefCreate(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) return state.SkipWithError("set-up failed (is szip built?)");
    for (auto _ : state)
        if (!f.write()) return state.SkipWithError("writing failed");
    const auto size = tv::get_file_size_64(f.cef);
    state.counters["MB"] = static_cast<double>(f.member_bytes) / 1e6;
    state.counters["ratio"] = static_cast<double>(f.member_bytes) / static_cast<double>(size);
}
BENCHMARK(BM_CefCreate)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_CefUnpack(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok || (!tv::file_exists(f.cef) && !f.write())) return state.SkipWithError("no file");
    for (auto _ : state) {
        const std::string folder = tv::create_temp_folder();
        const int error = tv::uncompress_cef_to_folder(f.cef, folder);
        state.PauseTiming();
        tv::delete_folder_tree(folder, true, true);
        state.ResumeTiming();
        if (error != 0) return state.SkipWithError("unpacking failed");
    }
}
BENCHMARK(BM_CefUnpack)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same members through an outside command line ("xz -6", "zstd -19"), for comparison.
void reference(benchmark::State& state, const std::string& pack, const std::string& unpack) {
    Fixture& f = fixture();
    if (!f.ok) return state.SkipWithError("set-up failed");
    const std::string tool = pack.substr(0, pack.find(' '));
    if (std::system(("command -v " + tool + " > /dev/null").c_str()) != 0) return state.SkipWithError("tool missing");
    std::uint64_t packed = 0;
    double unpack_seconds = 0;
    for (auto _ : state) {
        packed = 0;
        for (const auto& m : f.members) {
            if (std::system((pack + " '" + m + "' > '" + m + ".ref'").c_str()) != 0)
                return state.SkipWithError("failed");
            packed += static_cast<std::uint64_t>(tv::get_file_size_64(m + ".ref"));
        }
        state.PauseTiming();
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& m : f.members)
            if (std::system((unpack + " '" + m + ".ref' > /dev/null").c_str()) != 0)
                return state.SkipWithError("failed");
        unpack_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        for (const auto& m : f.members) ::unlink((m + ".ref").c_str());
        state.ResumeTiming();
    }
    state.counters["ratio"] = static_cast<double>(f.member_bytes) / static_cast<double>(packed);
    state.counters["unpack_s"] = unpack_seconds;
}
void BM_Xz6(benchmark::State& state) { reference(state, "xz -6 -T1 -c", "xz -d -c"); }
void BM_Zstd19(benchmark::State& state) { reference(state, "zstd -19 -q -c", "zstd -d -q -c"); }
BENCHMARK(BM_Xz6)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Zstd19)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
