// Reads a 48-hour three-channel card into recording files. Output goes to tmpfs (/dev/shm) when
// there is one, so the figure is the decoder's, not the disk's. Reports output bytes per second.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/shared_memory.h"
#include "vond/card_disk.h"
#include "tools/cardgen/card_builder.h"

namespace {

namespace fs = std::filesystem;

// While set, writes to the recording files (rawecg*.dat) in this folder are discarded.
std::string null_sink_folder;

// Whether `fd` is a recording file in the null sink. The answer is kept per descriptor with the
// file's identity, so a reused descriptor is asked again; one fstat per write of the reader's
// 256 KiB buffers.
bool in_null_sink(int fd) {
    struct Known {
        dev_t dev = 0;
        ino_t ino = 0;
        bool sink = false;
    };
    static Known known[1024];
    struct stat st;
    if (null_sink_folder.empty() || fd < 0 || fd >= 1024 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    Known& k = known[fd];
    if (k.dev != st.st_dev || k.ino != st.st_ino) {
        char path[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
        const std::string name = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
        k = {st.st_dev, st.st_ino,
             name.rfind(null_sink_folder, 0) == 0 && name.compare(null_sink_folder.size(), 6, "rawecg") == 0};
    }
    return k.sink;
}

}  // namespace

// The bench's own write(): the program's calls reach it before the C library's, so the reader's
// sample files in the null sink cost no copy, while every other write (the card, the read record,
// the events file) is made as always.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
    if (in_null_sink(fd)) return static_cast<ssize_t>(size);
    return ::syscall(SYS_write, fd, data, size);
}

namespace {

std::vector<cardgen::Sector> fixed_layout_48h() {
    std::vector<cardgen::Sector> sectors;
    sectors.push_back(cardgen::start_sector(cardgen::StartInfo{}));
    std::mt19937 rng(5);
    cardgen::DataSector d;
    for (std::size_t k = 0; k < cardgen::value_order(false).size(); ++k)
        d.values.push_back(static_cast<int>(rng() % 1024));
    const cardgen::Sector data = cardgen::data_sector(d);
    sectors.insert(sectors.end(), 48 * 3600, data);
    sectors.push_back(cardgen::Sector{});
    return sectors;
}

// 24 hours of three-channel bit-stream blocks (format 35) of small random steps.
std::vector<cardgen::Sector> bit_stream_24h() {
    std::mt19937 rng(7);
    cardgen::BitWriter w;
    std::vector<std::uint64_t> starts;
    for (int b = 0; b < 24 * 3600; ++b) {
        cardgen::Block blk;
        for (int c = 0; c < 3; ++c) {
            int a = 400 + static_cast<int>(rng() % 200);
            for (int i = 0; i < 128; ++i) {
                blk.a[c].push_back(a);
                a += 3 * (static_cast<int>(rng() % 5) - 2);
            }
        }
        starts.push_back(w.bit());
        cardgen::encode_block(w, blk, 3);
    }
    cardgen::StartInfo st;
    st.format = 35;
    std::vector<cardgen::Sector> sectors = {cardgen::start_sector(st)};
    for (auto& s : cardgen::stream_sectors(w.bytes, starts, 35, st.rec)) sectors.push_back(s);
    sectors.push_back(cardgen::Sector{});
    return sectors;
}

struct Card {
    fs::path base, card, out;
    explicit Card(const std::vector<cardgen::Sector>& sectors, const char* name = "card") {
        base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        base /= "vond-bench-" + std::to_string(::getpid()) + "-" + name;
        card = base / "card";
        out = base / "out";
        fs::create_directories(out);
        ::setenv("TORVANE_ROOT", (base / "root").c_str(), 1);
        cardgen::write_card(card, cardgen::config_dat(5, 5, 5, "A", "B"), 1024, sectors);
    }
    ~Card() {
        tv::platform::SharedMemory::unlink("VOND TERMINATOR");
        std::error_code ec;
        fs::remove_all(base, ec);
    }
};

// Reads the whole card once per pass into archive files; `hours` of three channels per pass.
void read_card_passes(benchmark::State& state, const Card& card, int hours) {
    std::int64_t bytes = 0;
    for (auto _ : state) {
        // The card is marked as read by each pass: put its counter back.
        auto cfg = cardgen::config_dat(5, 5, 5, "A", "B");
        cardgen::write_bytes(card.card / "config.dat", cfg.data(), cfg.size());
        tv::vond::CardDisk disk;
        disk.set_root(card.card.string());
        disk.set_mode(10);
        disk.set_calibration(0);
        disk.settings().duration_hours = 200;
        if (!disk.read_ecg(tv::vond::kFormatArchive, card.out.string())) state.SkipWithError("read failed");
        bytes += 3LL * hours * 921600LL;
    }
    state.SetBytesProcessed(bytes);
}

void BM_ReadCard48h(benchmark::State& state) {
    static Card card(fixed_layout_48h());
    read_card_passes(state, card, 48);
}
BENCHMARK(BM_ReadCard48h)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same with the recording files' contents discarded: the decoder alone. The files are still
// made where the read puts them (vond never writes through a link, so /dev/null cannot stand in);
// only the sample bytes go nowhere.
void BM_ReadCard48hDecoderOnly(benchmark::State& state) {
    static Card card(fixed_layout_48h());
    const fs::path sink = card.base / "sink";
    fs::create_directories(sink);
    null_sink_folder = fs::canonical(sink).string() + "/";
    std::int64_t bytes = 0;
    for (auto _ : state) {
        auto cfg = cardgen::config_dat(5, 5, 5, "A", "B");
        cardgen::write_bytes(card.card / "config.dat", cfg.data(), cfg.size());
        tv::vond::CardDisk disk;
        disk.set_root(card.card.string());
        disk.set_mode(10);
        disk.set_calibration(0);
        disk.settings().duration_hours = 200;
        if (!disk.read_ecg(tv::vond::kFormatArchive, sink.string())) state.SkipWithError("read failed");
        bytes += 3 * 48 * 921600LL;
    }
    null_sink_folder.clear();
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadCard48hDecoderOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

// A bit-stream card: the decompressor, and the look at the next sector that tells where a stream
// ends.
void BM_ReadStreamCard24h(benchmark::State& state) {
    static Card card(bit_stream_24h(), "stream");
    read_card_passes(state, card, 24);
}
BENCHMARK(BM_ReadStreamCard24h)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
