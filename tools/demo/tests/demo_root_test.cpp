#include "tools/demo/demo_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "common/registry.h"
#include "common/ui.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/profile.h"
#include "testing/app_test_root.h"

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
        for (std::int32_t row = 0; row < doc.get_row_count(); ++row) {
            const std::string folder = doc.get_report_folder(row);
            ASSERT_TRUE(fs::is_directory(folder)) << folder;
            PatientTxt p;
            EXPECT_TRUE(p.read_folder(folder)) << folder;
            EXPECT_FALSE(p.m_name.empty());
            AnalysisData data(folder);
            EXPECT_TRUE(data.is_field_present(data.get_field_number("HR.mean")));
            EXPECT_NE(doc.get_details_text(row).find("Patient Name: \t" + p.m_name + "\n"), std::string::npos)
                << folder;
            types.insert(doc.get_record_type(row));
            ++reports;
        }
    }
    types_seen = static_cast<int>(types.size());
    EXPECT_EQ(reports, summary.reports);
    EXPECT_GE(types_seen, 4);
    EXPECT_EQ(archive_groups_to_reopen(config.get_path(0)).size(), 3u);
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
            // Checked against the stored code: a transfer name of another clinic reads as none.
            const std::string name = read_transfer_name(doc.get_report_folder(row));
            EXPECT_EQ(name.substr(0, 4), kDemoClinicCode) << doc.get_report_folder(row);
            named += !name.empty();
        }
    }
    EXPECT_GE(named, 20);
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

}  // namespace
}  // namespace tv::demo
