// BRACKMOR's index reading: ARCHINFO.DAT (records of five or four lines, resynchronised after
// lines that fit none) checked against a few report folders and rewritten, and ARCHDIR.DAT. Nothing is ever deleted: the
// questions are answered from an empty input.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "brackmor/archive_set.h"
#include "brackmor/report_set.h"
#include "brackmor/reporter.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string group = [] {
        const std::string g = tv::fuzz::sub_folder("brackmor");
        for (const char* report : {"A.OSB", "b.ful", "C.CEF", "D.SGN"})
            std::filesystem::create_directories(g + "ARC/" + report);
        tv::fuzz::put_file(g + "ARC/C.CEF/X.CEF", "x");
        return g;
    }();
    static std::FILE* console = std::fopen("/dev/null", "w");
    static const int input = ::open("/dev/null", O_RDONLY);
    static const int group_fd = ::open(group.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (size == 0) return 0;
    // The first byte picks the index and the options; the rest is the file.
    const std::uint8_t mode = data[0];
    tv::brackmor::Reporter reporter(console, input);
    reporter.set_tagged(mode & 2);
    if (mode & 1) {
        tv::fuzz::put_file(group + "ARCHDIR.DAT", data + 1, size - 1);
        tv::brackmor::RunOptions options;
        tv::brackmor::ArchiveSet archives(group.substr(0, group.size() - 1), options, reporter);
        volatile std::size_t sink = archives.entries().size();
        (void)sink;
    } else {
        tv::fuzz::put_file(group + "ARC/ARCHINFO.DAT", data + 1, size - 1);
        tv::brackmor::ReportSet reports(group_fd, "ARC", group + "ARC", {(mode & 4) != 0}, reporter);
        reports.check();
        volatile std::size_t sink = reports.records().size() + static_cast<std::size_t>(reports.removed());
        (void)sink;
    }
    return 0;
}
