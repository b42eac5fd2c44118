// A group filled only the way a site fills one: the demo root, then every kind of report tolbex
// itself stores, each through the built programs or, where a flow has no program of its own, the
// library code the program runs. BRACKMOR, told to remove and delete whatever it finds wrong and
// answered Yes throughout, must find nothing wrong in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "common/files.h"
#include "common/registry.h"
#include "common/text.h"
#include "platform/fs.h"
#include "testing/app_test_root.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/timi_days.h"
#include "tolbex/intake/intake.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/mail/mail.h"
#include "tolbex/timi/timi_arrhythmia.h"
#include "tolbex/timi/timi_grid_wnd.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/timi/timi_strings.h"
#include "tools/demo/demo_signing.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::CapturedRun;

class TolbexGroupTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        register_timi_strings();
        const CapturedRun demo = program({TV_DEMO_PROGRAM});
        ASSERT_EQ(demo.code, 0) << demo.err;
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
        // The first group it names holds the TIMI week and a 12-lead report.
        const auto at = demo.out.find("\n  ");
        ASSERT_NE(at, std::string::npos) << demo.out;
        group = demo.out.substr(at + 3, demo.out.find('\n', at + 3) - at - 3);
        ASSERT_FALSE(find_group_index(group).empty()) << group;
    }
    void TearDown() override {
        set_intake_windowing({});
        RootTest::TearDown();
    }

    // Runs a program as a site does: the test's root, no display, stdin from `input` when given.
    CapturedRun program(std::vector<std::string> argv, const std::string& input = {}) {
        std::vector<std::string> env = {"TORVANE_ROOT=" + root.path(), "TMPDIR=" + root.tmp(), "TZ=UTC", "LC_ALL=C",
                                        "HOME=" + t.string(),          "PATH=/usr/bin:/bin"};
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        if (!input.empty()) {
            const std::string in = (t / "stdin.txt").string();
            std::ofstream(in, std::ios::binary) << input;
            argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" < '" + in + "'"});
        }
        return platform::testing::run_captured(argv, env, t.string(), 300);
    }
    CapturedRun tolbex(std::vector<std::string> args) {
        args.insert(args.begin(), TOLBEX_PROGRAM);
        return program(args);
    }

    ReportArchive* archive(const std::string& name) {
        groups.push_back(std::make_unique<ArchiveGroup>(find_group_index(group)));
        const std::int32_t a = groups.back()->find_archive_by_name(name);
        return a < 0 ? nullptr : groups.back()->get_archive(a);
    }
    // The folders of an archive's reports of `type` (any type: kReportUnknown), as listed.
    std::vector<std::string> reports(const std::string& archive_name, ReportType type = kReportUnknown) {
        std::vector<std::string> out;
        if (ReportArchive* a = archive(archive_name))
            for (std::int32_t i = 0; i < a->get_count(); ++i)
                if (type == kReportUnknown || a->get_record(i)->get_type() == type)
                    out.push_back(a->get_record(i)->get_folder_path());
        return out;
    }

    // Every record as tolbex lists it (folder name up to case), then every report folder with its
    // files; a line each.
    std::string listing() {
        std::vector<std::string> lines;
        ArchiveGroup g(find_group_index(group));
        for (std::int32_t a = 0; a < g.get_count(); ++a) {
            const ReportArchive* arc = g.get_archive(a);
            for (std::int32_t i = 0; i < arc->get_count(); ++i) {
                const ReportRecord* r = arc->get_record(i);
                lines.push_back(format_string("%s | %s | %s | %lld | %d | %d | %s", arc->get_name().c_str(),
                                              to_upper_copy(r->get_name()).c_str(), r->get_description().c_str(),
                                              static_cast<long long>(r->get_time()), r->get_size(), r->get_type(),
                                              r->is_confirmed() ? "C" : "-"));
            }
            std::vector<std::string> folders;
            for (const auto& e : fs::directory_iterator(arc->get_path())) {
                if (!e.is_directory()) continue;
                std::string line = arc->get_name() + "/" + e.path().filename().string() + ":";
                std::vector<std::string> files;
                for (const auto& f : fs::recursive_directory_iterator(e.path()))
                    files.push_back(" " + fs::relative(f.path(), e.path()).string() +
                                    (f.is_regular_file() ? "=" + std::to_string(f.file_size()) : "/"));
                std::sort(files.begin(), files.end());
                for (const auto& f : files) line += f;
                folders.push_back(line);
            }
            std::sort(folders.begin(), folders.end());
            lines.insert(lines.end(), folders.begin(), folders.end());
        }
        std::string text;
        for (const auto& l : lines) text += l + "\n";
        return text;
    }
    static std::string to_upper_copy(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }

    // The card intake's Patient Details dialog and archive choice, as an operator answers them.
    void card_intake_into(const std::string& archive_name, bool compress, const std::string& description) {
        ASSERT_EQ(program({TV_DEMO_PROGRAM, "--media"}).code, 0);  // a fresh, unread card
        const std::string target = archive(archive_name)->get_path();
        IntakeWindowing w;
        w.patient_details = [=](PatientDetails& d) {
            d.description = description;
            d.compress = compress;
            d.level = 4;
            return true;
        };
        w.choose_archive = [=](const std::string&) { return target; };
        set_intake_windowing(std::move(w));
        set_cef_archive_store(store_intake_cef);
        MailServices mail;
        card_intake(0, mail);
    }

    // "/export" of a report to a transfer file, "/store" of that file: the new report's folder.
    std::string send_and_store(const std::string& report_folder, const std::string& archive_name) {
        const std::string tvz = (t / (get_path_file_name(report_folder) + ".TVZ")).string();
        const CapturedRun sent = tolbex({"/export", "TVZ", report_folder, tvz});
        EXPECT_EQ(sent.code, 0) << sent.err;
        const std::vector<std::string> old_folders = reports(archive_name);
        const CapturedRun stored = tolbex({"/store", tvz, group, archive_name});
        EXPECT_EQ(stored.code, 0) << stored.err;
        for (const auto& f : reports(archive_name))
            if (std::find(old_folders.begin(), old_folders.end(), f) == old_folders.end()) return f;
        return {};
    }

    std::string group;
    std::vector<std::unique_ptr<ArchiveGroup>> groups;
};

// The demo's 12-lead report shares its base name with the reports made in the same second; with
// a full report of that base beside it (as the analysis system leaves one), its ECG files go and
// it becomes a full report under a fresh name, listed as such, while the other full report keeps
// its folder and files.
TEST_F(TolbexGroupTest, DeletingTheDemoTwelveLeadEcgTakesAFreshFullName) {
    const auto twelve = reports("STANDARD", kReportFullOstrabel12);
    ASSERT_FALSE(twelve.empty());
    const std::string folder = twelve[0];
    const std::string twin = folder.substr(0, folder.size() - 3) + "FUL";
    if (!fs::exists(twin)) {
        fs::create_directories(twin);
        std::ofstream(twin + "/ANALSUM.TXT", std::ios::binary) << "same second\r\n";
    }
    const std::string before = listing();
    const auto full_before = reports("STANDARD", kReportFull);
    // The demo's 12-lead report has ECG files for the command to remove.
    ASSERT_TRUE(platform::find_name_ci(folder, "os12ecg1.dat"));
    ASSERT_TRUE(platform::find_name_ci(folder, "os12pac.dat"));

    const CapturedRun turned = tolbex({"/delete_os12_ecg", folder, "x"});
    ASSERT_EQ(turned.code, 0) << turned.err;
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(reports("STANDARD", kReportFullOstrabel12).empty());
    std::vector<std::string> added;
    for (const auto& f : reports("STANDARD", kReportFull))
        if (std::find(full_before.begin(), full_before.end(), f) == full_before.end()) added.push_back(f);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(get_extension_upper(added[0]), "FUL");
    EXPECT_TRUE(fs::is_directory(added[0]));
    EXPECT_FALSE(platform::find_name_ci(added[0], "os12ecg1.dat"));
    EXPECT_TRUE(platform::find_name_ci(added[0], "PATIENT.TXT"));
    // The twin is as it was.
    const auto twin_lines = [&](const std::string& text) {
        const std::string key = "/" + get_path_file_name(twin) + ":";
        const auto at = text.find(key);
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    EXPECT_FALSE(twin_lines(before).empty());
    EXPECT_EQ(twin_lines(listing()), twin_lines(before));
}

TEST_F(TolbexGroupTest, EveryReportTolbexStoresSurvivesRemoveAndDeleteAnsweredYes) {
    // Recorder card: compressed (stored unpacked as a CEF report) and as the card program writes it.
    card_intake_into("STANDARD", true, "Card compressed");
    card_intake_into("STANDARD", false, "Card as read");

    // Recorder disk straight into an archive.
    {
        const std::string target = archive("Cardiology")->get_path();
        IntakeWindowing w;
        w.choose_archive = [=](const std::string&) { return target; };
        set_intake_windowing(std::move(w));
        store_disk_recording();
    }

    // A card recording compressed by "/compresscf" and stored by "/store".
    {
        ASSERT_EQ(program({TV_DEMO_PROGRAM, "--media"}).code, 0);
        const std::string rec = (t / "REC").string();
        ASSERT_TRUE(create_folder_path(rec));
        bool twelve_lead = false;
        ASSERT_TRUE(read_card_recording(rec, false, twelve_lead));
        CardSummary card;
        const auto summary = platform::find_name_ci(rec, "PATSUMM.DAT");
        ASSERT_TRUE(summary && read_card_summary(*summary, card));
        const std::string profile = (t / "request.ini").string();
        std::ofstream(profile, std::ios::binary) << "[Patient Details]\r\nPatientName=" << card.name
                                                 << "\r\nPatientId=" << card.id << "\r\nRecordingID=ABCD1234566\r\n";
        ASSERT_EQ(tolbex({"/compresscf", rec, profile, "4", "y"}).code, 0);
        const CapturedRun stored = tolbex({"/store", rec + "/ABCD1234566.CEF", group, "STANDARD"});
        ASSERT_EQ(stored.code, 0) << stored.err;
    }

    // Reports sent as transfer files and stored again elsewhere: a formatted one, and a 12-lead one
    // whose ECG files are then deleted (the .O12 folder becomes a full report), as are those of the
    // demo's own 12-lead report, stored in the same second as a full report.
    const auto formatted = reports("STANDARD", kReportFormatted), twelve = reports("STANDARD", kReportFullOstrabel12);
    ASSERT_FALSE(formatted.empty());
    ASSERT_FALSE(twelve.empty());
    ASSERT_FALSE(send_and_store(formatted[0], "Sleep Clinic").empty());
    const std::string received = send_and_store(twelve[0], "Sleep Clinic");
    ASSERT_EQ(get_extension_upper(received), "O12");
    for (const std::string& folder : {received, twelve[0]}) {
        const CapturedRun turned = tolbex({"/delete_os12_ecg", folder, "x"});
        ASSERT_EQ(turned.code, 0) << folder << "\n" << turned.err;
    }

    // TIMI over the demo week: TIMI Data, TIMI Summary and the arrhythmia summary.
    {
        std::vector<TimiDaySource> sources;
        ReportArchive* cardiology = archive("Cardiology");
        ASSERT_NE(cardiology, nullptr);
        for (std::int32_t i = 0; i < cardiology->get_count(); ++i) {
            const ReportRecord* r = cardiology->get_record(i);
            if (platform::find_name_ci(r->get_folder_path(), kArrhevntDatName))
                sources.push_back({r->get_description(), r->get_folder_path()});
        }
        std::vector<TimiDayReport> days;
        ASSERT_TRUE(collect_timi_days(sources, true, days));
        ASSERT_TRUE(check_timi_days(days));
        const std::string day_list = write_timi_list_file(kTimiDayListExtension, timi_day_list_text(days));
        const std::string arrh_list =
            write_timi_list_file(kTimiArrhythmiaListExtension, timi_arrhythmia_list_text(days));
        AuditLogTrail audit("tolbex");
        TIMIGridWnd grid;
        grid.created();
        ASSERT_TRUE(grid.load_day_list(day_list));
        TimiStore store;
        store.set_data(&grid.data());
        store.set_data_folder(cardiology->get_path());
        store.set_display_name(days.front().description);
        store.set_data_file_id(timi_series_id(days.front().day_file_name));
        store.set_audit(&audit);
        ASSERT_TRUE(store.save_timi_data(TimiRowRange::whole_table(), true));
        ASSERT_EQ(store.save_timi_summary(), TimiStore::SummaryResult::Stored);
        TimiArrhData arrhythmia;
        arrhythmia.set_audit(&audit);
        arrhythmia.set_archive_folder(cardiology->get_path());
        arrhythmia.set_report_name(days.front().description);
        ASSERT_TRUE(arrhythmia.calc_timi_arrh_data(ArrhythmiaListPath(arrh_list), TimiDayListPath(day_list)));
        ASSERT_TRUE(arrhythmia.save_timi_arrh_summary());
        ::unlink(day_list.c_str());
        ::unlink(arrh_list.c_str());

        // The stored TIMI Data report signed as well (the demo root signed a formatted one).
        const auto timi = reports("Cardiology", kReportTimiData);
        ASSERT_EQ(timi.size(), 1u);
        // By a signer the site trusts: signing refuses any other.
        const auto certificate = demo::make_demo_certificate();
        ASSERT_TRUE(certificate);
        ASSERT_TRUE(demo::sign_demo_report(*certificate, timi[0], "TIMI signed"));
    }

    // A letter kept beside a full report.
    {
        const auto full = reports("Cardiology", kReportFull);
        ASSERT_FALSE(full.empty());
        letters::LetterHooks hooks;
        hooks.choose_template = [](const std::string& given) { return std::optional<std::string>(given); };
        hooks.start_word_processor = [] { return std::make_unique<letters::TextWordProcessor>(); };
        ASSERT_TRUE(letters::create_letter(full[0], "Referral", hooks, scripted));
    }
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown[0].text;

    const std::string before = listing();
    for (ReportType type : {kReportCef, kReportOstrabelCf, kReportOstrabel, kReportFormatted, kReportSigned,
                            kReportTimiData, kReportTimiSummary, kReportTimiArrhythmia})
        EXPECT_NE(before.find(format_string(" | %d | ", type)), std::string::npos) << "no report of type " << type;

    std::string yes;
    for (int i = 0; i < 2000; ++i) yes += "Y\n";
    const CapturedRun check = program({BRACKMOR_PROGRAM, group, "/DR", "/DA", "/RE"}, yes);
    EXPECT_EQ(check.code, 0) << check.err;
    std::string missing;
    for (const char* line : {"#Reports  removed:    0\n", "#Reports  deleted:    0\n", "#Archives deleted:    0\n"})
        if (check.out.find(line) == std::string::npos) missing += line;
    EXPECT_EQ(missing, "") << check.out;
    EXPECT_EQ(listing(), before);
}

}  // namespace
}  // namespace tv
