// Unpacking a compressed ECG file whose extra members are many and empty: the time per member
// must stay flat as their number grows (10,000 members at most about four times 2,500).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "common/bytes.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/scramble.h"
#include "formats/cef.h"
#include "platform/fs.h"
#include "platform/handles.h"

namespace {

struct Root {
    std::string path;
    std::map<std::int64_t, std::string> files;  // by member count
    bool ok = false;

    Root() {
        // On tmpfs where there is one: ext4's search for a free inode among many just deleted
        // would otherwise be most of what is measured.
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string made = std::string(base) + "/cef_extras_bench_XXXXXX";
            if (!::mkdtemp(made.data())) continue;
            path = made;
            break;
        }
        if (path.empty()) return;
        ::mkdir((path + "/tmp").c_str(), 0700);
        enter();
        const std::string szip = tv::get_module_folder() + "/../tools/szip/szip";
        ok = tv::reg_set_string(tv::HKEY_LOCAL_MACHINE, tv::kSzipKey, "Install Path", szip);
    }
    ~Root() {
        if (!path.empty()) tv::delete_folder_tree(path, true, true);
    }
    // Another benchmark of this program may have pointed the machine root elsewhere.
    void enter() const {
        ::setenv("TORVANE_ROOT", path.c_str(), 1);
        ::setenv("TMPDIR", (path + "/tmp").c_str(), 1);
        tv::reset_cached_roots();
    }

    // One empty channel, a patient text and `count` empty extra members.
    const std::string& file(std::int64_t count) {
        std::string& cef = files[count];
        if (!cef.empty()) return cef;
        tv::CefHeader h;
        h.kind = tv::kCefKindCard;
        h.channel_count = 1;
        const auto head = tv::encode_cef_header(h);
        std::vector<std::uint8_t> b(head.begin(), head.end());
        std::string text = tv::format_cef_patient_text({"", "", "Doe Jane"});
        tv::scramble_bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
        tv::append_le32(b, static_cast<std::uint32_t>(text.size()));
        b.insert(b.end(), text.begin(), text.end());
        for (int member = 0; member < 3; ++member) {  // sound, events, the channel
            tv::append_le32(b, 0);
            tv::append_le32(b, tv::kCefStored);
        }
        for (std::uint32_t v : {410u, 1u, 0u, 0u}) tv::append_le32(b, v);
        for (std::int64_t i = 0; i < count; ++i) {
            const std::string name = "X" + std::to_string(i) + ".DAT";
            tv::append_le32(b, static_cast<std::uint32_t>(name.size() + 1));
            b.insert(b.end(), name.c_str(), name.c_str() + name.size() + 1);
            tv::append_le32(b, 0);
            tv::append_le32(b, tv::kCefStored);
        }
        std::uint32_t sum = 0;
        for (std::size_t at = 4; at < b.size(); at += 4) {
            std::uint8_t word[4] = {};
            std::copy(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(std::min(at + 4, b.size())),
                      word);
            sum ^= tv::load_le32(word);
        }
        tv::store_le32(b.data(), sum);
        cef = path + "/EXTRAS" + std::to_string(count) + ".CEF";
        if (!tv::platform::atomic_write_file(cef, std::string_view(reinterpret_cast<const char*>(b.data()), b.size())))
            cef.clear();
        return cef;
    }
};

Root& root() {
    static Root r;
    return r;
}

void BM_CefEmptyExtras(benchmark::State& state) {
    Root& r = root();
    if (!r.ok) return state.SkipWithError("set-up failed (is szip built?)");
    r.enter();
    const std::string& cef = r.file(state.range(0));
    if (cef.empty()) return state.SkipWithError("writing the file failed");
    for (auto _ : state) {
        const std::string folder = tv::create_temp_folder();
        const int error = tv::uncompress_cef_to_folder(cef, folder);
        state.PauseTiming();
        tv::delete_folder_tree(folder, true, true);
        state.ResumeTiming();
        if (error != 0) return state.SkipWithError("unpacking failed");
    }
    state.SetComplexityN(state.range(0));
    state.counters["members_per_s"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CefEmptyExtras)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

}  // namespace
