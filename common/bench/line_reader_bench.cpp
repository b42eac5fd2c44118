// Index-file reading speed: read_nonblank_line with the running checksum over 50 MB of
// index-like text (five lines per entry, CR LF).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "platform/handles.h"

namespace {

constexpr std::size_t kBytes = 50u * 1024 * 1024;

class IndexFile {
public:
    IndexFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/tv-bench-XXXXXX";
        if (!::mkdtemp(folder.data())) return;
        folder_ = folder;
        path_ = folder_ + "/ARCHINFO.DAT";
        const tv::platform::UniqueFile f = tv::platform::open_file(path_, "wb");
        if (!f) return;
        std::size_t written = 0;
        char entry[160];
        for (unsigned i = 0; written < kBytes; ++i) {
            const int n = std::snprintf(entry, sizeof entry,
                                        "%08X.FUL\r\nDescription text %u\r\nMon Dec  3 14:05:09 2007\r\n%u\r\nFull\r\n",
                                        0x3B07E135u + i, i, 100000u + i % 900000u);
            written += std::fwrite(entry, 1, static_cast<std::size_t>(n), f.get());
        }
        size_ = written;
    }
    ~IndexFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
        if (!folder_.empty()) ::rmdir(folder_.c_str());
    }
    const std::string& path() const { return path_; }
    std::size_t size() const { return size_; }

private:
    std::string folder_, path_;
    std::size_t size_ = 0;
};

const IndexFile& index_file() {
    static IndexFile file;
    return file;
}

void BM_ReadNonblankLine(benchmark::State& state) {
    const IndexFile& file = index_file();
    if (file.size() == 0) {
        state.SkipWithError("could not write the index file");
        return;
    }
    for (auto _ : state) {
        const tv::platform::UniqueFile f = tv::platform::open_file(file.path(), "rb");
        std::uint32_t sum = 0;
        std::string line;
        std::size_t lines = 0;
        while (tv::read_nonblank_line(f.get(), line, &sum)) ++lines;
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ReadNonblankLine)->Unit(benchmark::kMillisecond);

void BM_ReadNonblankLineBuffer(benchmark::State& state) {
    const IndexFile& file = index_file();
    if (file.size() == 0) {
        state.SkipWithError("could not write the index file");
        return;
    }
    for (auto _ : state) {
        const tv::platform::UniqueFile f = tv::platform::open_file(file.path(), "rb");
        std::uint32_t sum = 0;
        char buffer[128];
        while (tv::read_nonblank_line(f.get(), buffer, sizeof buffer, &sum)) {}
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ReadNonblankLineBuffer)->Unit(benchmark::kMillisecond);

}  // namespace
