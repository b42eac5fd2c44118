// Letters through LibreOffice Writer: templates made by the helper, letters read back through it.
#include "tolbex/letters/office_word_processor.h"

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/fs.h"
#include "testing/app_test_root.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/letters/letter_files.h"
#include "tolbex/letters/letter_template.h"

namespace tv::letters {
namespace {

using testing_root::write_file;

// Every field kind and condition kind, a joined line, a curly-quoted value, a bad format and an
// unknown field.
const char* const kTemplate =
    "Dear <patdet.name>,\\\n"
    " <HR.mean>[>= 60]fast </HR.mean>[>= 60]<patdet.sex>[~= \x93m\x94]Mr</patdet.sex>[~= \x93m\x94] "
    "<pause.longest.length>[%05.1f] <HR.mean>[%n] <no.such>[%d]\n"
    "<HR.mean>[< 60]slow</HR.mean>[< 60]rate <HR.mean> bpm, pause <pause.longest.length>\n"
    "<patdet.comments>[= \"\"]no comments</patdet.comments>[= \"\"]\n"
    "end";
const char* const kLetter =
    "Dear Doe, fast Mr 002.4 <HR.mean>[%n] <no.such>[%d]\n"
    "rate 72 bpm, pause 2.350000\n"
    "no comments\n"
    "end";

class OfficeLetterTest : public testing_root::RootTest {
protected:
    void TearDown() override {
        shutdown_office();
        RootTest::TearDown();
    }
    // A formatted report folder of patient "Doe".
    std::string make_report() {
        write_file(t / "R.IMG" / "VERSION.TXT", "V8.006\r\n");
        write_file(t / "R.IMG" / "PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
        write_file(t / "R.IMG" / "ANALSUM.TXT", "");
        return (t / "R.IMG").string();
    }
};

std::string read_back(const std::string& path) {
    std::unique_ptr<WordProcessor> wp = start_office_word_processor();
    if (!wp->open(path)) return "<cannot open " + path + ">";
    std::string text = wp->text();
    wp->close();
    return text;
}

TEST_F(OfficeLetterTest, LetterFromDocAndOdtTemplates) {
    std::string why;
    if (!office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    const std::string report = make_report();

    AnalysisData data;
    data.set_string(data.get_field_number("patdet.name"), "Doe");
    data.set_string(data.get_field_number("patdet.sex"), "M");
    data.set_int(data.get_field_number("HR.mean"), 72);
    data.set_double(data.get_field_number("pause.longest.length"), 2.35);

    for (const char* ext : {".doc", ".odt"}) {
        SCOPED_TRACE(ext);
        const std::string templ = (t / (std::string("template") + ext)).string();
        write_office_document(templ, kTemplate);
        EXPECT_EQ(read_back(templ), kTemplate);

        // The template language on a Writer document, values as set above.
        std::unique_ptr<WordProcessor> wp = start_office_word_processor();
        ASSERT_TRUE(wp->open(templ));
        scripted.shown.clear();
        apply_letter(*wp, plan_letter(*wp, data, scripted));
        const std::string filled = (t / (std::string("filled") + ext)).string();
        ASSERT_TRUE(wp->save(filled));
        wp->close();
        EXPECT_EQ(read_back(filled), kLetter);
        EXPECT_EQ(scripted.shown.size(), 2u);  // the bad format, the unknown field
        EXPECT_EQ(read_back(templ), kTemplate);
    }

    // The whole Create Letter flow: a Word 97 letter beside the report, values from its files.
    const std::string templ = (t / "plain.doc").string();
    write_office_document(templ, "To <patdet.name>:\nrate <HR.mean>[%d] <patdet.name>[= Doe]ok</patdet.name>[= Doe]");
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(templ); };
    hooks.start_word_processor = start_office_word_processor;
    for (const char* expected : {"Doe.doc", "Doe (1).doc"}) {
        std::string made;
        ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
        EXPECT_EQ(made, report + "/" + expected);
        EXPECT_EQ(read_back(made), "To Doe:\nrate 0 ok");
        const std::optional<std::string> bytes = platform::read_whole_file(made);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(bytes->substr(0, 4), "\xD0\xCF\x11\xE0");  // a Word 97 (compound) file
    }
}

// Fields in table cells, a header, a footer and a frame are filled in place, and the text after
// the table stays as it was; a passage to leave out that reaches into a table makes no letter.
TEST_F(OfficeLetterTest, TablesHeadersFootersAndFramesAreFilled) {
    std::string why;
    if (!office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    const std::string report = make_report();
    OfficeDocumentParts parts;
    parts.header = "Re: <patdet.name> page";
    parts.footer = "footer <patdet.name>[= Doe]for Doe</patdet.name>[= Doe] end <patdet.name>";
    parts.table = {{"Name", "<patdet.name>"}, {"cell\\", "<HR.mean>[%03d]"}};
    parts.after_table = "65<patdet.name>65 end";
    parts.frame = "framed <patdet.name>";  // the document's last text: the field ends it
    std::string templ;
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(templ); };
    hooks.start_word_processor = start_office_word_processor;

    for (const char* ext : {".doc", ".odt", ".docx"}) {
        SCOPED_TRACE(ext);
        templ = (t / (std::string("parts") + ext)).string();
        write_office_document(templ, "Dear <patdet.name>,\nrate <HR.mean> bpm", parts);
        std::string made;
        ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
        EXPECT_EQ(read_back(made),
                  "Dear Doe,\nrate 0 bpm\nName\nDoe\ncell\\\n000\n65Doe65 end\nRe: Doe page\n"
                  "footer for Doe end Doe\nframed Doe");
        EXPECT_TRUE(scripted.shown.empty());
    }

    for (const char* ext : {".doc", ".odt"}) {
        SCOPED_TRACE(ext);
        for (const std::string& letter : list_letters(report)) std::remove(letter.c_str());
        templ = (t / (std::string("across") + ext)).string();
        OfficeDocumentParts across;
        across.table = {{"<patdet.name>[= x]gone", "</patdet.name>[= x]"}};
        across.after_table = "after";
        write_office_document(templ, "Dear <patdet.name>,", across);
        scripted.shown.clear();
        EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_NE(scripted.shown[0].text.find("<patdet.name>[= x]"), std::string::npos) << scripted.shown[0].text;
        EXPECT_TRUE(list_letters(report).empty());
        EXPECT_EQ(read_back(templ), "Dear <patdet.name>,\n<patdet.name>[= x]gone\n</patdet.name>[= x]\nafter");
    }
}

// A paragraph holding a field of the word processor, which shows more characters than the one
// place it takes: the markers after it are still found and filled in place, as in a paragraph of
// text only.
TEST_F(OfficeLetterTest, MarkersAfterAWordProcessorFieldAreFilledInPlace) {
    std::string why;
    if (!office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    const std::string report = make_report();
    OfficeDocumentParts parts;
    parts.field = "FIELD TEXT ";
    const std::string templ = (t / "field.odt").string();
    write_office_document(templ, "Dear <patdet.name>, <patdet.sex>[= \"\"]none</patdet.sex>[= \"\"] end\n<patdet.name>",
                          parts);
    ASSERT_EQ(read_back(templ).substr(0, 16), "FIELD TEXT Dear ");
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(templ); };
    hooks.start_word_processor = start_office_word_processor;
    std::string made;
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
    EXPECT_EQ(read_back(made), "FIELD TEXT Dear Doe, none end\nDoe");
}

// A machine root under a folder of a non-ASCII name, a report described "Hartigan, Zo\xEB"
// (Windows-1252): the template is found, and each letter gets a free name of its own in the report
// folder, spelt in UTF-8 as the file system has it.
TEST_F(OfficeLetterTest, NonAsciiPathsAndDescriptionsKeepEveryLetter) {
    std::string why;
    if (!office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    const std::filesystem::path home = t / "Zo\xC3\xAB-root";
    write_file(home / "R.IMG" / "VERSION.TXT", "V8.006\r\n");
    write_file(home / "R.IMG" / "PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
    const std::string report = (home / "R.IMG").string();
    const std::string templ = (home / "Vorlage f\xC3\xBCr Briefe.odt").string();
    write_office_document(templ, "To <patdet.name>");
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(templ); };
    hooks.start_word_processor = start_office_word_processor;
    std::vector<std::string> shown;
    hooks.show_letter = [&](const std::string& path) { shown.push_back(path); };
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(create_letter(report, "Hartigan, Zo\xEB", hooks, scripted));
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    const std::vector<std::string> expected = {report + "/Hartigan, Zo\xC3\xAB (1).doc",
                                               report + "/Hartigan, Zo\xC3\xAB.doc"};
    EXPECT_EQ(list_letters(report), expected);
    EXPECT_EQ(shown, (std::vector<std::string>{expected[1], expected[0]})) << "the viewer gets the letter made";
    for (const std::string& letter : expected) EXPECT_EQ(read_back(letter), "To Doe");
}

// A description longer than a file name may be: the letter's name is cut to fit (never inside a
// character), and a second letter stays apart from the first by its serial.
TEST_F(OfficeLetterTest, LongDescriptionsAreCutToAFileName) {
    std::string why;
    if (!office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    const std::string report = make_report();
    const std::string templ = (t / "short.odt").string();
    write_office_document(templ, "To <patdet.name>");
    LetterHooks hooks;
    hooks.choose_template = [&](const std::string&) { return std::optional<std::string>(templ); };
    hooks.start_word_processor = start_office_word_processor;
    const struct {
        std::string description;  // Windows-1252
        std::string stem;         // the name's first bytes, UTF-8
    } cases[] = {{std::string(251, 'a'), "aaaa"}, {std::string(200, '\xFC'), "\xC3\xBC\xC3\xBC"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description.size());
        for (const std::string& letter : list_letters(report)) std::remove(letter.c_str());
        std::vector<std::string> made(2);
        for (std::string& m : made) ASSERT_TRUE(create_letter(report, c.description, hooks, scripted, &m));
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
        EXPECT_EQ(list_letters(report).size(), 2u);
        EXPECT_NE(made[0], made[1]);
        for (const std::string& m : made) {
            const std::string name = std::filesystem::path(m).filename().string();
            EXPECT_LE(name.size(), kLetterFileNameMax);
            EXPECT_EQ(name.rfind(c.stem, 0), 0u) << name;
            EXPECT_EQ(platform::utf8_to_cp1252(name, '\0').find('\0'), std::string::npos) << "whole characters";
            EXPECT_EQ(read_back(m), "To Doe");
        }
    }
}

}  // namespace
}  // namespace tv::letters
