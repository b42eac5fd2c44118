// First counts the helper requests of a letter with a stand-in helper that needs no office (the
// fields of a letter must take one request, however many there are; the run fails otherwise).
// Then times one letter from a one-page .doc template with the word processor's start included,
// and a second letter with the office already running. Runs in a throw-away root under /tmp.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/letters/office_word_processor.h"

using namespace tv;
using namespace tv::letters;

namespace {

// The requests the stand-in helper logged, one command a line; the log is emptied.
std::vector<std::string> logged_requests(const std::string& log) {
    std::vector<std::string> out;
    const std::string text = platform::read_whole_file(log).value_or("");
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        out.push_back(text.substr(at, nl - at));
    platform::atomic_write_file(log, "");
    return out;
}

// Two letters through the stand-in helper: the requests of each, and of those the field requests.
bool count_requests(const std::string& root, const std::string& report, const std::string& page) {
    const std::string log = root + "/requests.log", tmpl = root + "/one_page.txt";
    platform::atomic_write_file(tmpl, page);
    platform::atomic_write_file(log, "");
    const char* given = std::getenv("TV_LETTER_HELPER");  // the helper the office timings use
    const std::string office_helper = given ? given : "";
    setenv("TV_LETTER_HELPER", TV_COUNTING_HELPER, 1);
    setenv("TV_LETTER_HELPER_LOG", log.c_str(), 1);
    ConsoleUi ui;
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(tmpl); };
    hooks.start_word_processor = start_office_word_processor;
    bool one_each = true;
    for (const char* which : {"first", "second"}) {
        if (!create_letter(report, "Doe, letter", hooks, ui)) return false;
        const std::vector<std::string> asked = logged_requests(log);
        long fields = 0;
        for (const std::string& r : asked) fields += r == "edits" || r == "replace";
        std::printf("%s letter (stand-in helper): %zu requests, %ld of them for the fields\n", which,
                    asked.size() - static_cast<std::size_t>(std::count(asked.begin(), asked.end(), "start")), fields);
        one_each = one_each && fields == 1;
    }
    shutdown_office();
    if (office_helper.empty())
        unsetenv("TV_LETTER_HELPER");
    else
        setenv("TV_LETTER_HELPER", office_helper.c_str(), 1);
    unsetenv("TV_LETTER_HELPER_LOG");
    if (!one_each) std::printf("FAILED: a letter's fields took more than one request\n");
    return one_each;
}

}  // namespace

int main() {
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
    if (!count_requests(root, report, page)) {
        delete_folder_tree(root, true, false);
        return 1;
    }
    std::string why;
    if (!office_available(&why)) {
        std::printf("office timings skipped: %s\n", why.c_str());
        delete_folder_tree(root, true, false);
        return 0;
    }
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
