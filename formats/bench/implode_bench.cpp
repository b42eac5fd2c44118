// Implode and explode throughput on ECG-like 16-bit data, beside gzip -6 and gzip -d on the same
// bytes (run as a program, so its figures include one process start per iteration).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/implode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Three interleaved channels of 16-bit samples: a beat shape with jittered period, baseline
// wander and noise of a few units.
const Bytes& ecg_data() {
    static const Bytes data = [] {
        const std::size_t size = 32u << 20;
        std::mt19937 rng(2024);
        Bytes b;
        b.reserve(size + 8);
        unsigned phase = 0, period = 180;
        double wander = 0;
        while (b.size() < size) {
            int v = 0;
            if (phase >= 40 && phase < 52)
                v = static_cast<int>(phase - 40) * 90;
            else if (phase >= 52 && phase < 64)
                v = static_cast<int>(64 - phase) * 90 - 120;
            else if (phase >= 110 && phase < 150)
                v = 140;
            wander += (static_cast<int>(rng() % 3) - 1) * 0.5;
            for (int ch = 0; ch < 3; ++ch) {
                const int s = 2048 + v * (ch + 2) / 4 + static_cast<int>(wander) + static_cast<int>(rng() % 5) - 2;
                b.push_back(static_cast<std::uint8_t>(s));
                b.push_back(static_cast<std::uint8_t>(s >> 8));
            }
            if (++phase >= period) {
                phase = 0;
                period = 170 + rng() % 25;
            }
        }
        b.resize(size);
        return b;
    }();
    return data;
}

struct Pipe {
    const Bytes* in;
    std::size_t pos;
    Bytes* out;  // null: count only
    std::size_t written;
};

unsigned pipe_read(unsigned char* buffer, unsigned& count, void* param) {
    auto& p = *static_cast<Pipe*>(param);
    const std::size_t n = std::min<std::size_t>(count, p.in->size() - p.pos);
    std::memcpy(buffer, p.in->data() + p.pos, n);
    p.pos += n;
    return static_cast<unsigned>(n);
}

void pipe_write(unsigned char* buffer, unsigned& count, void* param) {
    auto& p = *static_cast<Pipe*>(param);
    if (p.out) p.out->insert(p.out->end(), buffer, buffer + count);
    p.written += count;
}

Bytes imploded(const Bytes& data) {
    auto work = std::make_unique<tv::CompressionWorkArea>();
    Bytes out;
    Pipe p{&data, 0, &out, 0};
    const unsigned type = tv::kCompressionBinary, dict = tv::kDictionary4096;
    tv::implode(pipe_read, pipe_write, *work, &p, type, dict);
    return out;
}

void BM_Implode(benchmark::State& state) {
    const Bytes& data = ecg_data();
    auto work = std::make_unique<tv::CompressionWorkArea>();
    std::size_t packed = 0;
    for (auto _ : state) {
        Pipe p{&data, 0, nullptr, 0};
        const unsigned type = tv::kCompressionBinary, dict = tv::kDictionary4096;
        benchmark::DoNotOptimize(tv::implode(pipe_read, pipe_write, *work, &p, type, dict));
        packed = p.written;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(data.size());
}
BENCHMARK(BM_Implode)->Unit(benchmark::kMillisecond);

void BM_Explode(benchmark::State& state) {
    const Bytes& data = ecg_data();
    static const Bytes stream = imploded(data);
    auto work = std::make_unique<tv::CompressionWorkArea>();
    for (auto _ : state) {
        Pipe p{&stream, 0, nullptr, 0};
        benchmark::DoNotOptimize(tv::explode(pipe_read, pipe_write, *work, &p));
        if (p.written != data.size()) state.SkipWithError("explode gave the wrong size");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Explode)->Unit(benchmark::kMillisecond);

// gzip on the same bytes, from files in a private folder; output goes to /dev/null.
struct GzipFiles {
    std::string dir, raw, gz;
    bool ok = false;
    GzipFiles() {
        char tmpl[] = "/tmp/tvbench.XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir = tmpl;
        raw = dir + "/ecg.bin";
        gz = raw + ".gz";
        const Bytes& data = ecg_data();
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        ok = std::system(("gzip -6 -c '" + raw + "' > '" + gz + "'").c_str()) == 0;
    }
    ~GzipFiles() {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
};
GzipFiles& gzip_files() {
    static GzipFiles files;
    return files;
}

void run_timed(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("gzip failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ecg_data().size()));
}

void BM_Gzip6(benchmark::State& state) {
    auto& f = gzip_files();
    if (!f.ok) {
        state.SkipWithError("gzip is not available");
        return;
    }
    run_timed(state, "gzip -6 -c '" + f.raw + "' > /dev/null");
    state.counters["ratio"] =
        static_cast<double>(std::filesystem::file_size(f.gz)) / static_cast<double>(ecg_data().size());
}
BENCHMARK(BM_Gzip6)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_GzipDecompress(benchmark::State& state) {
    auto& f = gzip_files();
    if (!f.ok) {
        state.SkipWithError("gzip is not available");
        return;
    }
    run_timed(state, "gzip -d -c '" + f.gz + "' > /dev/null");
}
BENCHMARK(BM_GzipDecompress)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
