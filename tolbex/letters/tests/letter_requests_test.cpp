// What a letter costs in exchanges with the word-processor helper: a stand-in helper that needs no
// office counts the requests. A letter's fields go in one request whatever their number, and the
// letter is the one that making the edits one by one gives.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/process.h"
#include "testing/app_test_root.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/letters/letter_template.h"
#include "tolbex/letters/office_word_processor.h"

namespace tv::letters {
namespace {

using testing_root::write_file;

class LetterRequests : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        log = (t / "requests.log").string();
        ::setenv("TV_LETTER_HELPER", TV_COUNTING_HELPER, 1);
        ::setenv("TV_LETTER_HELPER_LOG", log.c_str(), 1);
        write_file(t / "R.IMG" / "VERSION.TXT", "V8.006\r\n");
        write_file(t / "R.IMG" / "PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
        write_file(t / "R.IMG" / "ANALSUM.TXT", "");
        report = (t / "R.IMG").string();
        hooks.start_word_processor = start_office_word_processor;
    }
    void TearDown() override {
        shutdown_office();
        ::unsetenv("TV_LETTER_HELPER");
        ::unsetenv("TV_LETTER_HELPER_LOG");
        RootTest::TearDown();
    }

    // A template with `lines` lines of two fields and a conditional passage each.
    std::string make_template(int lines) {
        std::string text = "Dear Dr <patdet.physician>,\nRe: <patdet.name> \\\n(<patdet.sex>)\n";
        for (int i = 0; i < lines; ++i)
            text += "Line " + std::to_string(i) +
                    ": <patdet.name>[%s] <patdet.sex>[= \"\"]no sex given</patdet.sex>[= \"\"] recorded.\n";
        text += "Yours sincerely";
        const std::string path = (t / ("template" + std::to_string(lines) + ".txt")).string();
        write_file(path, text);
        return path;
    }
    // The requests since the last call, one command each.
    std::vector<std::string> requests() {
        std::vector<std::string> out;
        std::istringstream in(platform::read_whole_file(log).value_or(""));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        std::filesystem::resize_file(log, 0);
        return out;
    }
    static long count(const std::vector<std::string>& requests, const std::string& command) {
        return std::count(requests.begin(), requests.end(), command);
    }
    // The letter made from `tmpl` with every edit made one by one, in memory.
    std::string filled_one_by_one(const std::string& tmpl) {
        AnalysisData data;
        data.load(report);
        TextWordProcessor wp;
        EXPECT_TRUE(wp.open(tmpl));
        apply_letter(wp, plan_letter(wp, data, scripted));
        return wp.text();
    }

    std::string log, report;
    LetterHooks hooks;
};

TEST_F(LetterRequests, ALettersFieldsGoInOneRequestWhateverTheirNumber) {
    std::vector<std::string> first, later;
    for (int lines : {1, 30, 60}) {
        SCOPED_TRACE(lines);
        const std::string tmpl = make_template(lines);
        hooks.choose_template = [tmpl](const std::string&) { return std::optional<std::string>(tmpl); };
        std::string made;
        ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
        const std::vector<std::string> asked = requests();
        EXPECT_EQ(count(asked, "edits"), 1);
        EXPECT_EQ(count(asked, "replace"), 0);
        EXPECT_EQ(platform::read_whole_file(made).value_or("?"), filled_one_by_one(tmpl));
        if (first.empty()) {
            first = asked;
            EXPECT_EQ(count(asked, "start"), 1);
        } else if (later.empty()) {
            later = asked;
        } else {
            EXPECT_EQ(asked, later);  // the same exchanges for 30 lines and for 60
        }
    }
    EXPECT_EQ(count(later, "start"), 0);  // the helper and its office are kept
}

// Where the user will soon want a letter the office is started ahead, without waiting for it; the
// letter then uses that start.
TEST_F(LetterRequests, TheOfficeStartsAheadOfTheFirstLetter) {
    if (platform::resolve_program("soffice").empty()) GTEST_SKIP() << "no soffice: nothing is started ahead";
    start_office_ahead();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (platform::read_whole_file(log).value_or("").empty() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(requests(), std::vector<std::string>{"start"});
    const std::string tmpl = make_template(2);
    hooks.choose_template = [tmpl](const std::string&) { return std::optional<std::string>(tmpl); };
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted));
    EXPECT_EQ(count(requests(), "start"), 0);
}

}  // namespace
}  // namespace tv::letters
