#include "tools/demo/demo_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "common/bytes.h"
#include "common/files.h"
#include "common/profile.h"
#include "common/registry.h"
#include "common/ui.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/last_groups.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/report_page.h"
#include "platform/fs.h"
#include "testing/app_test_root.h"
#include "testing/test_root.h"
#include "tolbex/letters/create_letter.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/timi/timi_arrhythmia.h"
#include "tools/demo/timi_day_files.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/timi_table_source.h"
#include "platform/drives.h"
#include "tools/demo/demo_pages.h"
#include "tools/demo/demo_recordings.h"
#include "tools/demo/demo_signing.h"
#include "tools/demo/demo_timi.h"

namespace tv::demo {
namespace {

namespace fs = std::filesystem;

class DemoRootTest : public testing_root::RootTest {};

TEST_F(DemoRootTest, EveryReportLoadsWithItsPatientDetails) {
    EXPECT_FALSE(demo_root_exists());
    DemoSummary summary;
    std::string error;
    ASSERT_TRUE(make_demo_root(&summary, &error)) << error;
    EXPECT_GE(summary.reports, 20);
    EXPECT_TRUE(demo_root_exists());
    EXPECT_FALSE(make_demo_root(nullptr, &error));

    ArchiveConfigList config;
    ASSERT_TRUE(config.load(device_dat_path()));
    ASSERT_EQ(config.get_count(), 2);
    int reports = 0, types_seen = 0;
    std::set<ReportType> types;
    for (int g = 0; g < config.get_count(); ++g) {
        const std::string index = find_group_index(config.get_path(g));
        EXPECT_EQ(get_profile_string("Archives", "Archive " + std::to_string(g), ""), index);
        ArchiveGroup group(index);
        EXPECT_GE(group.get_count(), 3);
        EXPECT_GE(group.find_archive_by_name(kDeletedArchiveName), 0);
        BrowserListCore doc;
        ASSERT_TRUE(doc.open_document(index));
        int signed_reports = 0;
        for (std::int32_t row = 0; row < doc.get_row_count(); ++row) {
            const std::string folder = doc.get_report_folder(row);
            ASSERT_TRUE(fs::is_directory(folder)) << folder;
            types.insert(doc.get_record_type(row));
            ++reports;
            // A signed report holds only its signed file; its patient is inside.
            if (doc.get_record_type(row) == kReportSigned) {
                auto restored = signing::verify_signed_report(join_path(folder, signing::kSignedFileName));
                ASSERT_TRUE(restored) << folder << ": " << restored.error().message;
                EXPECT_EQ(restored->kind(), signing::SignedReportKind::Formatted);
                EXPECT_EQ(restored->signers().front().issued_to, kDemoSignerName);
                // The demo clinic's authority, in the demo's trust store, vouches for the signer.
                EXPECT_TRUE(restored->signers().front().verified) << restored->signers().front().problem;
                EXPECT_EQ(restored->signers().front().issued_by, kDemoAuthorityName);
                PatientTxt p;
                EXPECT_TRUE(p.read_folder(restored->folder()));
                EXPECT_NE(doc.get_record(row)->get_description().find(p.m_name), std::string::npos);
                ++signed_reports;
                continue;
            }
            PatientTxt p;
            EXPECT_TRUE(p.read_folder(folder)) << folder;
            EXPECT_FALSE(p.m_name.empty());
            AnalysisData data(folder);
            EXPECT_TRUE(data.is_field_present(data.get_field_number("HR.mean")));
            EXPECT_NE(doc.get_details_text(row).find("Patient Name: \t" + p.m_name + "\n"), std::string::npos)
                << folder;
        }
        EXPECT_EQ(signed_reports, 1) << index;
    }
    types_seen = static_cast<int>(types.size());
    // The demo signer's certificate is in the store, ready for the Sign command.
    const auto certificates = signing::Crypto().list_certificates();
    ASSERT_EQ(certificates.size(), 1u);
    EXPECT_EQ(certificates[0].issued_to, kDemoSignerName);
    EXPECT_TRUE(certificates[0].certificate.has_private_key());
    EXPECT_EQ(summary.signed_reports.size(), 2u);
    EXPECT_EQ(reports, summary.reports);
    EXPECT_GE(types_seen, 4);
    EXPECT_EQ(archive_groups_to_reopen(config.get_path(0)).size(), 3u);
}

// The TIMI week as the browser's TIMI commands take it: seven Full reports of one recorder and
// patient on consecutive days, each with its day file and events. Their day files load as one
// table of a week's rows, and the arrhythmia summary over them has pauses, VT and AF to show.
TEST_F(DemoRootTest, TimiWeekLoadsAsOneTableWithItsArrhythmiaSummary) {
    register_timi_strings();
    DemoSummary summary;
    std::string error;
    ASSERT_TRUE(make_demo_root(&summary, &error)) << error;
    ASSERT_EQ(summary.timi_days.size(), std::size_t(kDemoTimiDays));
    std::string day_list, event_list;
    PatientTxt first;
    ASSERT_TRUE(first.read_folder(summary.timi_days[0]));
    for (int day = 1; day <= kDemoTimiDays; ++day) {
        const std::string& folder = summary.timi_days[static_cast<std::size_t>(day - 1)];
        SCOPED_TRACE(folder);
        EXPECT_EQ(report_type_from_path(folder), kReportFull);
        PatientTxt p;
        ASSERT_TRUE(p.read_folder(folder));
        EXPECT_EQ(p.m_recorder_id, first.m_recorder_id);
        EXPECT_EQ(p.m_patient_number, first.m_patient_number);
        const std::tm expected = [&] {
            std::tm tm{};
            tm.tm_year = first.m_recording_date.year - 1900;
            tm.tm_mon = first.m_recording_date.month - 1;
            tm.tm_mday = first.m_recording_date.day + day - 1;
            ::timegm(&tm);
            return tm;
        }();
        EXPECT_EQ(p.m_recording_date.day, expected.tm_mday);
        EXPECT_EQ(p.m_recording_date.month, expected.tm_mon + 1);
        const std::string day_file = folder + "/" + timi_day_file_name(p.m_patient_number, day);
        ASSERT_TRUE(fs::is_regular_file(day_file));
        EXPECT_EQ(fs::file_size(folder + "/arrhevnt.dat"), 3304000u);
        day_list += day_file + "\r\n";
        event_list += folder + "/arrhevnt.dat\r\n";
    }
    const std::string days = (t / "week.TIMI").string(), events = (t / "week.ARRH").string();
    ASSERT_TRUE(platform::atomic_write_file(days, day_list));
    ASSERT_TRUE(platform::atomic_write_file(events, event_list));

    TIMITableSource table;
    ASSERT_TRUE(table.load_day_list(days));
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    EXPECT_EQ(table.data().row_count(), 20160);
    EXPECT_EQ(table.data().day_count, kDemoTimiDays);
    EXPECT_EQ(table.data().header.patient_id, first.m_patient_number);

    TimiArrhData arrhythmia;
    ASSERT_TRUE(arrhythmia.calc_timi_arrh_data(ArrhythmiaListPath(events), TimiDayListPath(days)));
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    std::int64_t pauses = 0, vt = 0, af = 0;
    for (const auto& counts : arrhythmia.day_counts()) {
        pauses += counts[10];
        vt += counts[3] + counts[4];
        af += counts[12];
    }
    EXPECT_GE(pauses, kDemoTimiDays);
    EXPECT_GE(vt, kDemoTimiDays);
    EXPECT_GT(af, 0);
    const std::string text = arrhythmia.summary_text("TIMI_ARRH.TXT");
    for (const char* part : {"pause, (1)", "VT > 100bpm, (", "VT < 100bpm, (", "SVT, (", "\r\n8,"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST_F(DemoRootTest, SetsTheClinicCodeItsReportsAreNamedBy) {
    EXPECT_EQ(get_default_clinic_code(), "");
    std::string error;
    ASSERT_TRUE(make_demo_root(nullptr, &error)) << error;
    EXPECT_EQ(get_default_clinic_code(), kDemoClinicCode);
    ArchiveConfigList config;
    ASSERT_TRUE(config.load(device_dat_path()));
    int named = 0;
    for (int g = 0; g < config.get_count(); ++g) {
        BrowserListCore doc;
        ASSERT_TRUE(doc.open_document(find_group_index(config.get_path(g))));
        for (std::int32_t row = 0; row < doc.get_row_count(); ++row) {
            if (doc.get_record_type(row) == kReportSigned) continue;  // its patient file is signed inside
            // Checked against the stored code: a transfer name of another clinic reads as none.
            const std::string name = read_transfer_name(doc.get_report_folder(row));
            EXPECT_EQ(name.substr(0, 4), kDemoClinicCode) << doc.get_report_folder(row);
            named += !name.empty();
        }
    }
    EXPECT_GE(named, 20);
}

TEST_F(DemoRootTest, RecorderCardAndDiskAreInTheDriveMap) {
    std::string error;
    ASSERT_TRUE(make_demo_root(nullptr, &error)) << error;
    const auto card = platform::mapped_drive(kDemoCardDrive), disk = platform::mapped_drive(kDemoDiskDrive);
    ASSERT_TRUE(card && disk);
    EXPECT_EQ(card->label, "QUX_CFR");
    EXPECT_EQ(disk->label, "QUX_FCG");
    for (const char* name : {"config.dat", "cnav.dat", "patient.wav"})
        EXPECT_TRUE(fs::exists(fs::path(card->folder) / name));
    EXPECT_EQ(fs::file_size(fs::path(card->folder) / "ecg.dat"), 1802u * 512u);  // start, 30 minutes, end
    // A card as large as its files: reconditioned, its ecg.dat fills what they leave.
    EXPECT_EQ(card->capacity, 512u + 1024u + 65536u + 1802u * 512u);
    EXPECT_TRUE(fs::exists(fs::path(disk->folder) / "ROZAVEZ.EVT"));
    platform::unmap_drive(kDemoCardDrive);
    platform::unmap_drive(kDemoDiskDrive);
}

// Every formatted report opens as a document: the Holter ones with their three pages, the 12-lead
// one with its contents page, one page each for its strips and intervals and one four-picture
// page, headed by the patient's name and number. Some are confirmed ('C' and CONFIRM.TXT), some not.
TEST_F(DemoRootTest, FormattedReportsOpenWithTheirPages) {
    std::string error;
    ASSERT_TRUE(make_demo_root(nullptr, &error)) << error;
    ArchiveConfigList config;
    ASSERT_TRUE(config.load(device_dat_path()));
    int holter = 0, twelve_lead = 0, confirmed = 0, unconfirmed = 0;
    for (int g = 0; g < config.get_count(); ++g) {
        ArchiveGroup group(find_group_index(config.get_path(g)));
        for (std::int32_t a = 0; a < group.get_count(); ++a) {
            const ReportArchive* archive = group.get_archive(a);
            for (std::int32_t r = 0; r < archive->get_count(); ++r) {
                const ReportRecord* record = archive->get_record(r);
                if (!record || !is_formatted_type(record->get_type())) continue;
                const std::string folder = record->get_folder_path();
                EXPECT_EQ(record->is_confirmed(), fs::exists(folder + "/CONFIRM.TXT")) << folder;
                (record->is_confirmed() ? confirmed : unconfirmed) += 1;
                ReportDocument doc;
                ASSERT_TRUE(doc.load(folder, {}, &error)) << folder << ": " << error;
                PatientTxt patient;
                ASSERT_TRUE(patient.read_folder(folder));
                if (fs::exists(folder + "/emflist.dat")) {
                    ++twelve_lead;
                    ASSERT_EQ(doc.page_count(), 4) << folder;
                    EXPECT_EQ(doc.page(0)->picture_count(), 0u);
                    EXPECT_FALSE(doc.page(0)->is_picture_page());
                    EXPECT_TRUE(doc.page(1)->is_picture_page());
                    EXPECT_TRUE(doc.page(2)->is_picture_page());
                    EXPECT_EQ(doc.page(3)->picture_count(), 4u);
                    EXPECT_EQ(doc.patient_name(), patient.m_name);
                    EXPECT_FALSE(doc.patient_number().empty());
                    for (const auto& picture : doc.page(3)->picture_names())
                        EXPECT_TRUE(fs::exists(picture)) << picture;
                    EXPECT_TRUE(fs::exists(legend_file_name(doc.page(3)->picture_names()[0])));
                } else {
                    ++holter;
                    EXPECT_EQ(doc.page_count(), 3) << folder;
                }
            }
        }
    }
    EXPECT_GE(holter, 5);
    EXPECT_EQ(twelve_lead, 1);
    EXPECT_GE(confirmed, 1);
    EXPECT_GE(unconfirmed, 1);
}

// The pages hold what a reader looks for: the summary's tables and trend, captions over the
// strips, and ECG traces long enough to show several beats.
TEST(DemoPages, SummaryAndStripsHoldTheirParts) {
    platform::testing::TempRoot root;
    const std::string folder = root / "R.IMG";
    ASSERT_TRUE(create_folder_path(folder));
    ASSERT_TRUE(platform::atomic_write_file(folder + "/VERSION.TXT", "V8.006\r\n"));
    ASSERT_TRUE(write_demo_pages(folder + "/", DemoPatientDetails{}));
    ReportDocument doc;
    ASSERT_TRUE(doc.load(folder, {}));
    ASSERT_EQ(doc.page_count(), 3);
    auto texts = [&](int page) {
        std::string all;
        for (const auto& item : doc.page(page)->items())
            if (auto t = item->text()) all += t->text + "\n";
        return all;
    };
    const std::string summary = texts(0);
    for (const char* part : {"Analysis summary", "Hourly heart rate", "Arrhythmia summary", "Heart rate, minimum",
                             "Total beats", "Ventricular couplets", "Pauses over 2.0 s", "Alder, Mira", "09:00"})
        EXPECT_NE(summary.find(part), std::string::npos) << part;
    const std::string strips = texts(1);
    EXPECT_NE(strips.find("Channel 1     Ventricular run"), std::string::npos);
    int traces = 0;
    for (const auto& item : doc.page(1)->items()) traces += item->kind() == PageRecordKind::Trace;
    EXPECT_EQ(traces, 4);
}

// Every report folder of every kind as complete as the analysis system leaves it: the archive
// check, run as a site runs it with its warnings off, finds nothing to drop or to add.
TEST_F(DemoRootTest, TheArchiveCheckKeepsEveryReport) {
    DemoSummary summary;
    std::string error;
    ASSERT_TRUE(make_demo_root(&summary, &error)) << error;
    auto rows = [](const std::string& group) {
        BrowserListCore doc;
        return doc.open_document(find_group_index(group)) ? doc.get_row_count() : -1;
    };
    int recordings = 0;
    for (const std::string& g : summary.group_folders) {
        SCOPED_TRACE(g);
        const int before = rows(g);
        const std::string out = (t / "brackmor.out").string();
        const std::string cmd =
            "cd '" + t.string() + "' && '" + BRACKMOR_PROGRAM + "' '" + g + "' /NW < /dev/null > '" + out + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const std::string said = *platform::read_whole_file(out);
        EXPECT_NE(said.find("#Reports  added:      0\n#Reports  removed:    0\n"), std::string::npos) << said;
        EXPECT_EQ(rows(g), before);

        BrowserListCore doc;
        ASSERT_TRUE(doc.open_document(find_group_index(g)));
        for (std::int32_t row = 0; row < doc.get_row_count(); ++row) {
            const ReportType type = doc.get_record_type(row);
            if (type != kReportFull && type != kReportRawEcg) continue;
            const std::string folder = doc.get_report_folder(row);
            EXPECT_EQ(platform::read_whole_file(folder + "/PATIENT.WAV"), demo_patient_sound()) << folder;
            for (const char* channel : {"RAWECG1.DAT", "RAWECG2.DAT", "RAWECG3.DAT"})
                EXPECT_EQ(fs::file_size(folder + "/" + channel), kDemoRecordingSeconds * 128u * 2) << folder;
            ++recordings;
        }
    }
    EXPECT_GE(recordings, 6);
}

TEST(DemoRecording, ChannelAndSoundFiles) {
    const std::string wav = demo_patient_sound();
    // RIFF size, "fmt " of PCM mono 8000 Hz 16-bit, then the data chunk of 0.8 s.
    const std::string header(
        "RIFF\x24\x32\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00"
        "data\x00\x32\x00\x00",
        44);
    ASSERT_EQ(wav.size(), 44u + 12800u);
    EXPECT_EQ(wav.substr(0, 44), header);
    EXPECT_EQ(load_le16(reinterpret_cast<const std::uint8_t*>(wav.data()) + 44), 0);  // no click at the start

    platform::testing::TempRoot root;
    const std::string folder = root / "R.FUL/";
    ASSERT_TRUE(create_folder_path(folder));
    ASSERT_TRUE(write_demo_channels(folder, DemoPatientDetails{}));
    for (const char* name : {"RAWECG1.DAT", "RAWECG2.DAT", "RAWECG3.DAT"}) {
        SCOPED_TRACE(name);
        const std::string bytes = *platform::read_whole_file(folder + name);
        ASSERT_EQ(bytes.size(), kDemoRecordingSeconds * 128u * 2);
        int low = 4096, high = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            const int word = load_le16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i);
            ASSERT_GT(word, 0) << i;     // 0 would mean no data
            ASSERT_LT(word, 4096) << i;  // no flag bits
            low = std::min(low, word), high = std::max(high, word);
        }
        EXPECT_GT(high - low, 150);  // QRS complexes, not a flat line
    }
}

// Create Letter needs no set-up on the demo root: the template is named and used without asking,
// and the letter stays with its report (the walk through tolbex's windows fills it).
TEST_F(DemoRootTest, LetterSettingsNameTheTemplate) {
    std::string error;
    ASSERT_TRUE(make_demo_root(nullptr, &error)) << error;
    const letters::LetterOptions options = letters::read_letter_options();
    EXPECT_FALSE(options.prompt_for_template);
    EXPECT_TRUE(options.save_with_report);
    ASSERT_TRUE(fs::is_regular_file(options.template_name)) << options.template_name;
    EXPECT_EQ(platform::read_whole_file(options.template_name)->rfind("{\\rtf1", 0), 0u);
}

TEST_F(DemoRootTest, ProgramMakesTheRootOnce) {
    const std::string cmd = std::string(TV_DEMO_PROGRAM) + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(demo_root_exists());
    const std::string dev = device_dat_path();
    const auto stamp = fs::last_write_time(dev);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(fs::last_write_time(dev), stamp);
}

// A reader's new terminal has no TORVANE_ROOT: "tvdemo --media" then writes run-demo's default root,
// never the machine's own state.
TEST_F(DemoRootTest, ProgramWithoutARootTakesRunDemosDefault) {
    const fs::path home = t / "home";
    fs::create_directories(home);
    const std::string cmd = "env -u TORVANE_ROOT HOME='" + home.string() + "' '" + TV_DEMO_PROGRAM + "' --media > '" +
                            (t / "media.log").string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const fs::path root = home / ".local" / "share" / "torvane-demo";
    EXPECT_TRUE(fs::exists(root / "demo" / "tape.trace"));
    EXPECT_TRUE(fs::exists(root / "drives" / "K.drive"));
    EXPECT_EQ(std::system(
                  ("env -u TORVANE_ROOT -u HOME '" + std::string(TV_DEMO_PROGRAM) + "' >/dev/null 2>&1").c_str()),
              2 << 8);
}

// The README gives operators umask 002; a root made under it or under 022 signs its sample reports
// with an authority its trust store counts (only the owner may write there).
TEST_F(DemoRootTest, ProgramMakesAWorkingRootUnderEitherUmask) {
    for (const char* mask : {"002", "022"}) {
        SCOPED_TRACE(mask);
        const std::string own = (t / (std::string("umask") + mask)).string();
        fs::create_directories(own);
        const std::string cmd = std::string("umask ") + mask + " && TORVANE_ROOT='" + own + "' '" + TV_DEMO_PROGRAM +
                                "' > '" + own + ".log' 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const fs::path trust = fs::path(own) / "trust";
        EXPECT_EQ(fs::status(trust).permissions() & fs::perms::all, fs::perms(0755));
        for (const auto& e : fs::directory_iterator(trust))
            EXPECT_EQ(fs::status(e).permissions() & fs::perms::all, fs::perms(0644)) << e.path();
    }
}

}  // namespace
}  // namespace tv::demo
