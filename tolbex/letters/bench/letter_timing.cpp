// Times one letter from a one-page .doc template with the word processor's start included, then
// a second letter with the office already running. Runs in a throw-away root under /tmp.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/letters/office_word_processor.h"

using namespace tv;
using namespace tv::letters;

int main() {
    std::string why;
    if (!office_available(&why)) {
        std::printf("skipped: %s\n", why.c_str());
        return 0;
    }
    char base[] = "/tmp/letters_bench.XXXXXX";
    if (!mkdtemp(base)) return 1;
    const std::string root = base;
    setenv("TORVANE_ROOT", root.c_str(), 1);
    setenv("TMPDIR", root.c_str(), 1);
    const std::string report = root + "/R.IMG";
    create_folder_path(report);
    platform::atomic_write_file(report + "/VERSION.TXT", "V8.006\r\n");
    platform::atomic_write_file(report + "/PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
    platform::atomic_write_file(report + "/ANALSUM.TXT", "");

    std::string page = "Dear Dr <patdet.physician>,\n\nRe: <patdet.name> \\\n(<patdet.sex>)\n";
    for (int i = 0; i < 30; ++i)
        page += "Line " + std::to_string(i) +
                ": <patdet.name>[%s] <patdet.sex>[= \"\"]no sex given</patdet.sex>[= \"\"] recorded.\n";
    page += "Yours sincerely";
    const std::string tmpl = root + "/one_page.doc";
    write_office_document(tmpl, page);
    shutdown_office();

    ConsoleUi ui;
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(tmpl); };
    hooks.start_word_processor = start_office_word_processor;
    double seconds[2] = {};
    for (double& s : seconds) {
        const auto start = std::chrono::steady_clock::now();
        if (!create_letter(report, "Doe, letter", hooks, ui)) return 1;
        s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    shutdown_office();
    delete_folder_tree(root, true, false);
    std::printf("first letter (office start included): %.2f s\nsecond letter (office running): %.2f s\n", seconds[0],
                seconds[1]);
    return 0;
}
