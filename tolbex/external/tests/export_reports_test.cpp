// Export of reports as transfer files: names, REPINFO.TXT, hostile descriptions, and transfer
// files that tolbex's own import reads back.
#include "tolbex/external/export_reports.h"

#include <sys/stat.h>

#include <filesystem>

#include "common/audit_log.h"
#include "common/files.h"
#include "formats/transfer_file.h"
#include "testing/app_test_root.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_folder.h"
#include "platform/fs.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using testing_root::write_file;

// Keeps every entry; refuses to open while `refuse` is set.
class RecordingTrail : public AuditTrail {
public:
    bool open(const std::string&) override {
        ++opens;
        return !refuse;
    }
    bool write(const char* format, const std::string& text1, const std::string& text2, const std::string&) override {
        entries.push_back(std::string(format) + "|" + text1 + "|" + text2);
        return true;
    }
    void close() override { ++closes; }

    bool refuse = false;
    int opens = 0, closes = 0;
    std::vector<std::string> entries;
};

std::string read_text(const fs::path& p) {
    std::vector<std::uint8_t> bytes;
    if (!tv::platform::read_whole_file(p.string(), bytes)) return {};
    return std::string(bytes.begin(), bytes.end());
}

// PATIENT.TXT with a transfer name on line 8 (empty: none).
std::string patient_txt(const std::string& transfer_name) {
    return "8\r\nAlder\r\nMira\r\n\r\n\r\n\r\n\r\n" + transfer_name + "\r\n";
}

class ExportTest : public testing_root::RootTest {
protected:
    ExportTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        out = t / "out";
        fs::create_directories(out);
    }
    // A report folder with a few files; `transfer_name` goes into PATIENT.TXT.
    SelectedReport report(const std::string& folder_name, const std::string& description,
                          const std::string& transfer_name = "", ReportType type = kReportFull) {
        const fs::path folder = t / "arch" / folder_name;
        write_file(folder / "PATIENT.TXT", patient_txt(transfer_name));
        write_file(folder / "DATA.BIN", std::string(3000, 'x') + folder_name);
        write_file(folder / "Smith John 2007-12-03.doc", "letter of " + description);
        return SelectedReport{folder.string(), description, type, 4321, 1196690709};
    }
    fs::path out;
    RecordingTrail audit;
};

TEST_F(ExportTest, BaseNameDropsEveryCharacterThatCouldLeaveTheFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"Mira Alder", "Mira Alder"},         {"A/B", "AB"},
        {"..\\..\\etc\\passwd", "etcpasswd"}, {"...", kExportFallbackName},
        {"  \t ", kExportFallbackName},       {"a:b*c?d<e>f|g\"h", "abcdefgh"},
        {"line\r\nbreak\x01", "linebreak"},   {"Caf\xE9", "Caf\xE9"},
    };
    for (const auto& [text, name] : cases) EXPECT_EQ(export_base_name(text), name) << text;
}

TEST_F(ExportTest, NamesCountUpAndTellTheUserWhenTheyDifferFromTheDescription) {
    const SelectedReport r = report("R1.FUL", "Mira Alder");
    scripted.answers = {MsgResult::Ok};
    EXPECT_EQ(make_export_file_name(out.string(), r), (out / "Mira Alder.TVZ").string());
    // The transfer name was not valid: the description was taken after the question.
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Invalid Transfer Filename");
    EXPECT_EQ(scripted.shown[0].text,
              "The transfer filename for the report\n\n\t\"Mira Alder\"\n\nis mssing or not valid.\n\nThe report's "
              "description will be used as the filename instead.\n\n\nDo you want to proceed?");
    EXPECT_EQ(scripted.shown[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(scripted.shown[0].default_button, MsgResult::Cancel);

    write_file(out / "Mira Alder.TVZ", "x");
    write_file(out / "Mira Alder 001.TVZ", "x");
    scripted.shown.clear();
    scripted.answers = {MsgResult::Ok};
    EXPECT_EQ(make_export_file_name(out.string(), r), (out / "Mira Alder 002.TVZ").string());
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].caption, "Warning: Report filename changed");
    EXPECT_EQ(scripted.shown[1].text,
              "The report with description \"Mira Alder\"\nhas been exported as \"Mira Alder 002\".");

    // A valid transfer name is used as it stands, with no question.
    scripted.shown.clear();
    const SelectedReport named = report("R2.FUL", "Other", "ABCD1234566");
    EXPECT_EQ(make_export_file_name(out.string(), named), (out / "ABCD1234566.TVZ").string());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "The report with description \"Other\"\nhas been exported as \"ABCD1234566\".");
}

TEST_F(ExportTest, DecliningTheTransferNameQuestionExportsNothing) {
    const SelectedReport r = report("R1.FUL", "Mira Alder");
    scripted.answers = {MsgResult::Cancel};
    EXPECT_EQ(export_reports_to_folder({r}, out.string(), "", audit), 0);
    EXPECT_TRUE(sorted_names(out).empty());
    EXPECT_TRUE(audit.entries.empty());
}

TEST_F(ExportTest, HostileDescriptionsStayInTheChosenFolder) {
    const fs::path outside = t / "evil";
    const char* descriptions[] = {"../evil/x", "..\\evil\\x", "/tmp/../evil", "..", ".", "a\nb"};
    for (const char* d : descriptions) {
        scripted.answers = {MsgResult::Ok};
        ASSERT_EQ(export_reports_to_folder({report("R1.FUL", d)}, out.string(), "", audit), 1) << d;
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(sorted_names(out), (std::vector<std::string>{"Brisco Torvane Report 001.TVZ", "Brisco Torvane Report.TVZ",
                                                           "ab.TVZ", "evilx 001.TVZ", "evilx.TVZ", "tmpevil.TVZ"}));
    // A given file name must be a plain name too.
    EXPECT_EQ(export_reports_to_folder({report("R1.FUL", "Mira")}, out.string(), "../evil.TVZ", audit), 0);
    EXPECT_FALSE(fs::exists(t / "evil.TVZ"));
}

TEST_F(ExportTest, RepInfoIsWrittenFromTheSelectionEntryAndTheTemporaryFolderGoes) {
    const SelectedReport r = report("R1.FUL", "Mira\r\nAlder", "ABCD1234566");
    ASSERT_EQ(export_reports_to_folder({r}, out.string(), "", audit), 1);
    const fs::path unpacked = t / "unpacked";
    fs::create_directories(unpacked);
    ASSERT_EQ(unpack_transfer_file((out / "ABCD1234566.TVZ").string(), unpacked.string()), kUnpackOk);
    EXPECT_EQ(read_text(unpacked / "REPINFO.TXT"), "Mira  Alder\r\n510\r\n1196690709\r\n4321\r\n");
    EXPECT_EQ(sorted_names(unpacked),
              (std::vector<std::string>{"DATA.BIN", "PATIENT.TXT", "REPINFO.TXT", "Smith John 2007-12-03.doc"}));
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
    EXPECT_EQ(audit.entries, std::vector<std::string>{std::string(kAuditExport) + "|Mira\r\nAlder|" + r.folder});
    EXPECT_EQ(audit.opens, audit.closes);
}

TEST_F(ExportTest, TheReportsOwnRepInfoTravelsOnce) {
    const SelectedReport r = report("R1.FUL", "Mira", "ABCD1234566");
    write_file(fs::path(r.folder) / "repinfo.txt", "Own\r\n519\r\n1\r\n2\r\n");
    ASSERT_EQ(export_reports_to_folder({r}, out.string(), "X.TVZ", audit), 1);
    // Walk the headers: one REPINFO entry.
    const std::string bytes = read_text(out / "X.TVZ");
    int repinfos = 0;
    for (std::size_t at = 0; at + kPackedFileHeaderSize <= bytes.size();) {
        const PackedFileHeader h = PackedFileHeader::from_bytes(reinterpret_cast<const std::uint8_t*>(&bytes[at]));
        repinfos += h.stored_name() == "REPINFO.TXT";
        at += kPackedFileHeaderSize + h.packed_size;
    }
    EXPECT_EQ(repinfos, 1);
}

TEST_F(ExportTest, AGivenFileNameReplacesAnExistingFile) {
    write_file(out / "X.TVZ", "old");
    ASSERT_EQ(export_reports_to_folder({report("R1.FUL", "Mira", "ABCD1234566")}, out.string(), "X.TVZ", audit), 1);
    EXPECT_GT(fs::file_size(out / "X.TVZ"), 3u);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(ExportTest, ARefusedLogStopsTheExportWithItsMessage) {
    audit.refuse = true;
    EXPECT_EQ(export_reports_to_folder({report("R1.FUL", "ABCD1234566", "ABCD1234566")}, out.string(), "", audit), 0);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "The report cannot be exported, because the logfile cannot be opened.\n\nPlease attempt the operation "
              "again.");
    EXPECT_TRUE(sorted_names(out).empty());
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(ExportTest, AFailedPackLeavesNoTransferFileAndStopsAtThatReport) {
    const SelectedReport good = report("R1.FUL", "ABCD1234566", "ABCD1234566");
    const SelectedReport bad = report("R2.FUL", "ABCD1234566", "ABCD1234566");
    // A link in the report refuses the pack before the target is begun, and the message names it.
    fs::create_symlink(t / "nowhere", fs::path(bad.folder) / "GONE.BIN");
    EXPECT_EQ(export_reports_to_folder({good, bad, good}, out.string(), "", audit), 0);
    EXPECT_EQ(sorted_names(out), std::vector<std::string>{"ABCD1234566.TVZ"});
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text,
              "The report folder contains \"GONE.BIN\", which is not a plain file, so it cannot be packed.");
    EXPECT_EQ(scripted.shown.back().caption, "File Compression Error");
    EXPECT_EQ(audit.entries.size(), 1u);
    EXPECT_EQ(audit.opens, audit.closes);
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(ExportTest, ThreeExportedReportsImportBackIntoAnArchive) {
    const std::vector<SelectedReport> reports = {report("R1.FUL", "Mira Alder", "ABCD1234566", kReportFull),
                                                 report("R2.PRT", "Jon Beck", "", kReportPartial),
                                                 report("R3.IMG", "Ann Cole", "", kReportFormatted)};
    // Whole reports of their types, so that the store takes them back.
    for (const SelectedReport& r : reports)
        for (const std::string& name : report_file_sets(r.type).front())
            write_file(fs::path(r.folder) / name, "part of the report");
    scripted.answers = {MsgResult::Ok, MsgResult::Ok, MsgResult::Ok, MsgResult::Ok};
    ASSERT_EQ(export_reports_to_folder(reports, out.string(), "", audit), 1);
    EXPECT_EQ(sorted_names(out), (std::vector<std::string>{"ABCD1234566.TVZ", "Ann Cole.TVZ", "Jon Beck.TVZ"}));
    EXPECT_EQ(audit.entries.size(), 3u);

    const fs::path archive = t / "G" / "A";
    fs::create_directories(archive);
    const char* files[] = {"ABCD1234566.TVZ", "Jon Beck.TVZ", "Ann Cole.TVZ"};
    for (std::size_t i = 0; i < 3; ++i) {
        std::string stored;
        ASSERT_EQ(import_transfer_file((out / files[i]).string(), archive.string(), false, &stored), kImportStored)
            << files[i];
        for (const char* name : {"DATA.BIN", "PATIENT.TXT", "Smith John 2007-12-03.doc"})
            EXPECT_EQ(read_text(fs::path(stored) / name), read_text(fs::path(reports[i].folder) / name)) << name;
    }
    ReportArchive index(archive.string(), "");
    ASSERT_EQ(index.get_count(), 3);
    for (std::int32_t i = 0; i < 3; ++i) {
        const ReportRecord* r = index.get_record(i);
        EXPECT_EQ(r->get_description(), reports[i].name);
        EXPECT_EQ(r->get_type(), reports[i].type);
        EXPECT_EQ(r->get_time(), reports[i].time);
        EXPECT_EQ(r->get_size(), 4321);
    }
}

}  // namespace
}  // namespace tv
