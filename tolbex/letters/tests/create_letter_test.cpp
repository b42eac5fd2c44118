#include "tolbex/letters/create_letter.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/app_test_root.h"
#include "tolbex/letters/letter_files.h"

namespace tv::letters {
namespace {

using testing_root::write_file;

// A backend whose replace fails after some calls, standing in for a word processor that dies.
class FailingWordProcessor : public TextWordProcessor {
public:
    void replace(std::size_t, std::size_t, const std::string&) override { throw WordProcessorError("gone"); }
};

class CreateLetterTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        report = (t / "R.IMG").string();
        write_file(t / "R.IMG" / "VERSION.TXT", "V8.006\r\n");
        write_file(t / "R.IMG" / "PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
        write_file(t / "R.IMG" / "ANALSUM.TXT", "");
        templ = (t / "template.txt").string();
        write_file(templ, "Dear <patdet.name>,\r\n<patdet.name>[= \"\"]none</patdet.name>[= \"\"]end");
        hooks.choose_template = [this](const std::string& start) {
            offered.push_back(start);
            return chosen;
        };
        hooks.start_word_processor = [this]() -> std::unique_ptr<WordProcessor> {
            if (failing) return std::make_unique<FailingWordProcessor>();
            return std::make_unique<TextWordProcessor>();
        };
        hooks.show_letter = [this](const std::string& path) { shown.push_back(path); };
        chosen = templ;
    }
    std::string read(const std::string& path) { return platform::read_whole_file(path).value_or("<missing>"); }

    std::string report, templ;
    LetterHooks hooks;
    std::optional<std::string> chosen;
    std::vector<std::string> offered, shown;
    bool failing = false;
};

TEST_F(CreateLetterTest, LetterIsSavedWithTheReportAndShown) {
    std::string made;
    ASSERT_TRUE(create_letter(report, "Doe: 1/2", hooks, scripted, &made));
    EXPECT_EQ(made, report + "/Doe 12.doc");
    EXPECT_EQ(read(made), "Dear Doe,\nend");
    EXPECT_EQ(shown, std::vector<std::string>{made});
    EXPECT_EQ(read(templ), "Dear <patdet.name>,\r\n<patdet.name>[= \"\"]none</patdet.name>[= \"\"]end");
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(list_letters(report), std::vector<std::string>{made});
}

TEST_F(CreateLetterTest, SecondLetterGetsANumberAndLeavesTheFirst) {
    write_file(t / "R.IMG" / "Doe.doc", "first");
    std::string made;
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
    EXPECT_EQ(made, report + "/Doe (1).doc");
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
    EXPECT_EQ(made, report + "/Doe (2).doc");
    EXPECT_EQ(read(report + "/Doe.doc"), "first");
}

TEST_F(CreateLetterTest, NamesFromTheReportStayInTheFolder) {
    std::string made;
    ASSERT_TRUE(create_letter(report, "../../evil", hooks, scripted, &made));
    EXPECT_EQ(made, report + "/evil.doc");
}

// Files placed beside a signed container are never a letter's fields: the folder itself is
// refused before anything is asked, and the verified copy the caller restored is what is read.
TEST_F(CreateLetterTest, SignedReportIsReadOnlyFromItsVerifiedCopy) {
    write_file(t / "R.IMG" / "signed.dat", "container");
    write_file(t / "R.IMG" / "PATIENT.TXT", "a\r\nb\r\nForged\r\n--\r\n");
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    EXPECT_TRUE(offered.empty());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_NE(scripted.shown[0].text.find("is a signed report"), std::string::npos);

    write_file(t / "copy" / "VERSION.TXT", "V8.006\r\n");
    write_file(t / "copy" / "PATIENT.TXT", "a\r\nb\r\nDoe\r\n--\r\n");
    std::string made;
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made, (t / "copy").string()));
    EXPECT_EQ(read(made), "Dear Doe,\nend");
}

TEST_F(CreateLetterTest, CancelledTemplateChoiceMakesNothing) {
    chosen.reset();
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    EXPECT_TRUE(list_letters(report).empty());
}

TEST_F(CreateLetterTest, TemplateThatCannotBeOpenedIsAFailure) {
    chosen = (t / "missing.doc").string();
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Couldn't open the letter template document: \"" + *chosen + "\"");
    EXPECT_TRUE(list_letters(report).empty());
}

TEST_F(CreateLetterTest, MissingWordProcessorIsTold) {
    hooks.start_word_processor = []() -> std::unique_ptr<WordProcessor> { throw WordProcessorError("none"); };
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "There was an error while creating the letter: none.\nLetters are made by LibreOffice Writer: are the "
              "packages libreoffice-writer-nogui and python3-uno installed?");
}

TEST_F(CreateLetterTest, FailingWordProcessorLeavesNoHalfLetter) {
    failing = true;
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    EXPECT_TRUE(list_letters(report).empty());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_TRUE(shown.empty());
}

TEST_F(CreateLetterTest, OptionsChooseTemplateNameAndFolder) {
    LetterOptions o;
    o.template_name = templ;
    o.prompt_for_template = false;
    o.fixed_letter_name = true;
    o.letter_name = "Referral";
    o.save_with_report = false;
    o.letter_folder = (t / "out" / "letters").string();
    ASSERT_TRUE(write_letter_options(o));
    std::string made;
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted, &made));
    EXPECT_TRUE(offered.empty());
    EXPECT_EQ(made, o.letter_folder + "/Referral.doc");
    EXPECT_EQ(read(made), "Dear Doe,\nend");
}

TEST_F(CreateLetterTest, PromptOffersTheDefaultTemplate) {
    LetterOptions o;
    o.template_name = templ;
    ASSERT_TRUE(write_letter_options(o));
    ASSERT_TRUE(create_letter(report, "Doe", hooks, scripted));
    EXPECT_EQ(offered, std::vector<std::string>{templ});
}

TEST_F(CreateLetterTest, OutputFolderThatCannotBeMadeIsTold) {
    write_file(t / "file", "x");
    LetterOptions o;
    o.save_with_report = false;
    o.letter_folder = (t / "file" / "sub").string();
    ASSERT_TRUE(write_letter_options(o));
    EXPECT_FALSE(create_letter(report, "Doe", hooks, scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Could not create the folder for the output letter: \"" + o.letter_folder + "\"");
}

TEST(ListLetters, OnlyDocFilesInAnyCase) {
    const std::string folder = ::testing::TempDir() + "letters_list";
    std::filesystem::remove_all(folder);
    write_file(std::filesystem::path(folder) / "b.DOC", "");
    write_file(std::filesystem::path(folder) / "a.doc", "");
    write_file(std::filesystem::path(folder) / "c.txt", "");
    std::filesystem::create_directories(std::filesystem::path(folder) / "d.doc");
    EXPECT_EQ(list_letters(folder), (std::vector<std::string>{folder + "/a.doc", folder + "/b.DOC"}));
    std::filesystem::remove_all(folder);
}

// The desktop's tools stand in as scripts: xdg-mime names (or not) a program for the letter's type,
// and xdg-open leaves a mark when it is started.
TEST_F(CreateLetterTest, AnOpenerIsStartedOnlyWhenTheDesktopNamesAProgram) {
    const std::filesystem::path bin = t / "bin", opened = t / "opened";
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    struct Case {
        const char* xdg_mime;  // the script's body; nullptr: no xdg-mime at all
        OpenResult expected;
    };
    const Case cases[] = {
        {"[ \"$2\" = filetype ] && echo 'application/msword; charset=binary'; "
         "[ \"$2 $3\" = 'default application/msword' ] && echo writer.desktop; exit 0",
         OpenResult::Started},
        {"[ \"$2\" = filetype ] && echo application/msword; exit 0", OpenResult::NoProgram},
        {"exit 4", OpenResult::Started},
        {nullptr, OpenResult::Started},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(bin);
        std::filesystem::remove(opened);
        write_file(bin / "xdg-open", "#!/bin/sh\n: > '" + opened.string() + "'\n");
        if (c.xdg_mime) write_file(bin / "xdg-mime", std::string("#!/bin/sh\n") + c.xdg_mime + "\n");
        for (const auto& f : std::filesystem::directory_iterator(bin))
            std::filesystem::permissions(f.path(), std::filesystem::perms::owner_all);
        EXPECT_EQ(open_document((t / "Doe.doc").string()), c.expected) << (c.xdg_mime ? c.xdg_mime : "");
        if (c.expected == OpenResult::Started)
            for (int i = 0; i < 500 && !std::filesystem::exists(opened); ++i) ::usleep(10000);
        EXPECT_EQ(std::filesystem::exists(opened), c.expected == OpenResult::Started);
    }
    ::setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
}  // namespace tv::letters
