#include "tolbex/app/command_line.h"

#include "formats/cef.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/import_reports.h"
#include "testing/app_test_root.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"

namespace tv {
namespace {

using Args = std::vector<std::string>;
using testing_root::write_file;

class CommandLineTest : public testing_root::RootTest {};

TEST_F(CommandLineTest, ParameterFilesAreExpandedOnceAndAppended) {
    const auto p1 = t / "p1.txt", p2 = t / "p2.txt";
    write_file(p1, "/find \"RECORDING ID\" \"\"\r\n\r\n/paramfile " + p2.string() + "\n");
    write_file(p2, "/readonly\n");
    Args args = {"/paramfile", p1.string(), "/from_gui"};
    expand_parameter_files(args);
    EXPECT_EQ(args,
              (Args{"/paramfile", p1.string(), "/from_gui", "/find", "RECORDING ID", "", "/paramfile", p2.string()}));

    // A missing file adds nothing; "/paramfile" as the last token has no file to read.
    Args missing = {"/PARAMFILE", (t / "none.txt").string(), "/paramfile"};
    expand_parameter_files(missing);
    EXPECT_EQ(missing.size(), 3u);
}

TEST_F(CommandLineTest, ShowStateLastNamingSwitchWins) {
    bool preview = false;
    EXPECT_EQ(prescan_show_state({}, preview), kShowNormal);
    EXPECT_EQ(prescan_show_state({"/print", "f", "1", "2", "1", "0", "N"}, preview), kShowHidden);
    EXPECT_EQ(prescan_show_state({"/print", "f", "1", "2", "1", "0", "N", "/from_gui"}, preview), kShowMaximized);
    EXPECT_FALSE(preview);
    // Operands are stepped over: a report folder named like a switch names no state.
    EXPECT_EQ(prescan_show_state({"/load", "/from_gui"}, preview), kShowNormal);
    EXPECT_EQ(prescan_show_state({"/preview", "a|b"}, preview), kShowMaximized);
    EXPECT_TRUE(preview);
    // "/merivale" is not in the pre-scan's table: its operands are looked at one by one.
    EXPECT_EQ(prescan_show_state({"/merivale", "a", "/choose_ecg", "c", "d", "e", "f", "7"}, preview), kShowMaximized);
    // The unread optional operand never swallows a following switch.
    EXPECT_EQ(prescan_show_state({"/export", "TVZ", "a", "b", "/from_gui"}, preview), kShowMaximized);
    EXPECT_EQ(prescan_show_state({"/export", "TVZ", "a", "b", "x"}, preview), kShowHidden);
}

TEST_F(CommandLineTest, ActionsAreRecognisedWhereTheyStand) {
    EXPECT_TRUE(has_command_line_action({"/readonly", "/STORE", "a", "b", "c"}));
    EXPECT_TRUE(has_command_line_action({"/find", "RECORDING_ID"}));  // short, yet an action
    EXPECT_FALSE(has_command_line_action({"/load", "/store"}));       // an operand, not a switch
    EXPECT_FALSE(has_command_line_action({"/from_gui", "/disable_browse"}));
    EXPECT_FALSE(has_command_line_action({}));
}

TEST_F(CommandLineTest, FirstPassSetsFlagsOnly) {
    CTolbexApp app;
    const Args args = {"/from_QDS",       "/readonly",   "/autodelete", "/enable_confirm_cnav",
                       "/choose_report",  "/choose_ecg", "/from_noske", "/unknown",
                       "/disable_browse", "/preview",    "a|b"};
    EXPECT_TRUE(dispatch_command_line(app, args, true));
    const CommandLineFlags& flags = app.settings().flags;
    EXPECT_TRUE(flags.from_qds && flags.read_only && flags.auto_delete && flags.confirm_cnav && flags.choose_report &&
                flags.choose_ecg && flags.from_noske && flags.preview);
    EXPECT_FALSE(flags.browse);
    EXPECT_FALSE(flags.started_without_arguments);
    EXPECT_EQ(app.exit_code(), 0);
    EXPECT_TRUE(scripted.shown.empty());

    CTolbexApp empty;
    EXPECT_TRUE(dispatch_command_line(empty, {}, true));
    EXPECT_TRUE(empty.settings().flags.started_without_arguments);
    EXPECT_TRUE(empty.settings().flags.browse);

    // An action clears browse in the first pass already, but runs only in the second.
    CTolbexApp finder;
    const auto out = t / "out.txt";
    const Args find = {"/find", "RECORDING_ID", "X", (t / "G").string(), out.string()};
    EXPECT_TRUE(dispatch_command_line(finder, find, true));
    EXPECT_FALSE(finder.settings().flags.browse);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(dispatch_command_line(finder, find, false));
    EXPECT_EQ(finder.exit_code(), -3);
}

TEST_F(CommandLineTest, MerivaleNeedsTheWholeLine) {
    CTolbexApp app;
    EXPECT_TRUE(dispatch_command_line(app, {"/merivale", "1", "2", "3", "4", "5", "6", "42"}, true));
    EXPECT_TRUE(app.settings().flags.merivale);
    EXPECT_EQ(app.settings().flags.merivale_texts[5], "6");
    EXPECT_EQ(app.settings().flags.merivale_number, 42);

    CTolbexApp longer;
    dispatch_command_line(longer, {"/merivale", "1", "2", "3", "4", "5", "6", "42", "/readonly"}, true);
    EXPECT_FALSE(longer.settings().flags.merivale);
    EXPECT_FALSE(longer.settings().flags.read_only);
    EXPECT_EQ(longer.exit_code(), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, std::string(kWrongParameterCountMessage) +
                                          " \"/merivale\" takes 7 operands and nothing else on the line.");
}

TEST_F(CommandLineTest, ShortOperandsStopAndRunNothing) {
    CTolbexApp app;
    const auto out = t / "o.txt";
    const Args args = {"/readonly", "/find", "RECORDING_ID", "X", (t / "G").string(), out.string(), "/store", "a"};
    dispatch_command_line(app, args, true);
    EXPECT_TRUE(app.settings().flags.read_only);
    EXPECT_EQ(app.command_line_stop(), 6);
    EXPECT_EQ(app.exit_code(), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, std::string(kWrongParameterCountMessage) + " \"/store\" takes 3 operands.");
    EXPECT_TRUE(dispatch_command_line(app, args, false));
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(app.exit_code(), 1);
    EXPECT_EQ(scripted.shown.size(), 1u);  // said once
}

TEST_F(CommandLineTest, RepInfoRules) {
    register_tolbex_strings();
    const auto p = t / "REPINFO.TXT";
    RepInfo info;
    write_file(p, "  \r\n512\r\n0\r\n0\r\n");
    ASSERT_TRUE(read_repinfo(p.string(), 1000, 77, info));
    EXPECT_EQ(info.description, "<Name>");
    EXPECT_EQ(info.type, 519);
    EXPECT_EQ(info.time, 1000);
    EXPECT_EQ(info.size, 77);

    write_file(p, " Lead blank kept  \n526\n1196690709\n1234");  // LF, no final line end
    ASSERT_TRUE(read_repinfo(p.string(), 1000, 77, info));
    EXPECT_EQ(info.description, " Lead blank kept");
    EXPECT_EQ(info.type, 526);
    EXPECT_EQ(info.time, 1196690709);
    EXPECT_EQ(info.size, 1234);

    for (const char* bad : {"D\r\n600\r\n1\r\n1\r\n", "D\r\n509\r\n1\r\n1\r\n", "D\r\nFUL\r\n1\r\n1\r\n",
                            "D\r\n510\r\n1\r\n", "D\r\n510\r\nnow\r\n1\r\n", ""}) {
        write_file(p, bad);
        EXPECT_FALSE(read_repinfo(p.string(), 1000, 77, info)) << bad;
    }
    EXPECT_FALSE(read_repinfo((t / "none").string(), 1000, 77, info));
}

TEST_F(CommandLineTest, ImportResultsMapToStoreCodes) {
    EXPECT_EQ(import_result_to_store_code(kImportStored), 0);
    EXPECT_EQ(import_result_to_store_code(kImportNoTempFolder), 9);
    EXPECT_EQ(import_result_to_store_code(kImportUnpackFailed), 8);
    for (int r : {kImportNoRepInfo, kImportBadRepInfo, kImportStoreFailed})
        EXPECT_EQ(import_result_to_store_code(r), 7);
}

// "/uncompress" turns every reader error into its exit code; a checksum error says the file is not
// valid, a missing compressor says nothing about the file.
TEST_F(CommandLineTest, UncompressExitCodes) {
    const int expected[] = {0, 5, 1, 2, 3, 3, 3, 3, 4, 5, 3, 3, 3, 3, 5, 5};
    for (int e = 0; e < 16; ++e) EXPECT_EQ(uncompress_exit_code(e), expected[e]) << e;
    EXPECT_EQ(uncompress_exit_code(-1), kUncompressCompressorFailed);
    EXPECT_EQ(uncompress_exit_code(kCefChecksum), kUncompressInvalid);
    EXPECT_EQ(uncompress_exit_code(kCefNoCompressor), kUncompressCompressorFailed);
}

TEST_F(CommandLineTest, ReceivedFileGoesToTheChosenArchiveUntilCancel) {
    register_tolbex_strings();
    write_file(t / "G" / "A" / "keep", "");
    write_file(t / "in.TVZ", "not a transfer file at all");
    int asked = 0;
    std::string caption;
    receive_mailed_report((t / "in.TVZ").string(), [&](const std::string& c) -> std::string {
        caption = c;
        return ++asked < 3 ? (t / "G" / "A").string() : std::string();
    });
    EXPECT_EQ(asked, 3);  // a failure asks again; Cancel ends
    EXPECT_EQ(caption, "Receiving Mail");
    EXPECT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].caption, "Error While Storing Mailed Report");
    EXPECT_EQ(receive_mailed_report((t / "in.TVZ").string(), nullptr), MailReceipt::kNoWindow);  // no window
}

}  // namespace
}  // namespace tv
