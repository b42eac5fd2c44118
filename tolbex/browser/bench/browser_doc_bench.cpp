// The archive browser on a group of 100,000 reports (20 archives of 5,000): open and list (goal
// at most 1 s), sort by each column (at most 200 ms), search (at most 100 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/browser_list_model.h"

namespace {

constexpr int kArchives = 20;
constexpr int kReports = 5000;

const char* const kFirst[] = {"John", "Mary", "Ahmed", "Li", "Olga", "Pierre", "Anna", "Kofi", "Sven", "Maria"};
const char* const kLast[] = {"Smith", "Smyth",    "Brown",  "Garcia", "Novak", "Dubois", "Berg",  "Mensah",
                             "King",  "Ashcroft", "Keller", "Rossi",  "Walsh", "Moreau", "Silva", "Nagy"};

const std::string& group_index() {
    static const std::string index = [] {
        std::string folder = tv::create_temp_folder();
        if (folder.empty()) std::abort();
        folder.pop_back();
        std::string dir;
        static const char* kTypes[] = {".FUL", ".IMG", ".PRT", ".RAW", ".O12"};
        for (int a = 0; a < kArchives; ++a) {
            const std::string name = a == 0 ? "STANDARD" : "ARCH" + std::to_string(a);
            dir += name + "\r\n" + (a == 0 ? std::string("STANDARD") : "Archive " + std::to_string(a)) + "\r\n";
            const std::string archive = folder + "/" + name;
            std::filesystem::create_directories(archive);
            std::string text;
            for (int r = 0; r < kReports; ++r) {
                const int t = r % 5;
                text += tv::format_string("R%05d%02d%s\r\n", r, a, kTypes[t]);
                text += tv::format_string("%s %s %d\r\n", kFirst[(r * 7 + a) % 10], kLast[(r * 13 + a) % 16], r);
                text += tv::format_file_date_text(1196690709 + ((r * 7919) % 100000) * 3600LL) + "\r\n";
                text += tv::format_string("%d%s\r\n", 100000 + (r * 37) % 9973, t == 1 && r % 2 ? "C" : "");
                text += "Full\r\n";
            }
            if (!tv::platform::atomic_write_file(archive + "/ARCHINFO.DAT", text)) std::abort();
        }
        if (!tv::platform::atomic_write_file(folder + "/ARCHDIR.DAT", dir)) std::abort();
        static std::string cleanup = folder;
        std::atexit([] { tv::delete_folder_tree(cleanup, true, false); });
        return folder + "/ARCHDIR.DAT";
    }();
    return index;
}

// Open the group and fill the list as the window does (sorted by archive, the default key).
void BM_OpenAndList(benchmark::State& state) {
    for (auto _ : state) {
        tv::BrowserListCore doc;
        doc.open_document(group_index());
        tv::BrowserListModel list(doc);
        list.update();
        benchmark::DoNotOptimize(list.item_count());
        if (doc.get_row_count() != kArchives * kReports) state.SkipWithError("wrong row count");
    }
}
BENCHMARK(BM_OpenAndList)->Unit(benchmark::kMillisecond);

void BM_Sort(benchmark::State& state) {
    tv::BrowserListCore doc;
    doc.open_document(group_index());
    tv::BrowserListModel list(doc);
    list.update();
    const int key = static_cast<int>(state.range(0));
    bool ascending = true;
    for (auto _ : state) {
        list.sort(key, ascending);
        ascending = !ascending;
        benchmark::DoNotOptimize(list.row_of_item(0));
    }
}
BENCHMARK(BM_Sort)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void BM_Search(benchmark::State& state) {
    tv::BrowserListCore doc;
    doc.open_document(group_index());
    tv::BrowserListModel list(doc);
    list.update();
    const int mode = static_cast<int>(state.range(0));
    // Alternating texts, so every iteration really searches again.
    const std::string texts[] = {"smyth", "smyth "};
    int i = 0;
    for (auto _ : state) {
        list.apply_search(0, mode, texts[i++ % 2]);
        benchmark::DoNotOptimize(list.item_count());
    }
}
BENCHMARK(BM_Search)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);

}  // namespace
