#include "tolbex/app/tolbex_settings.h"

#include <gtest/gtest.h>

namespace tv {
namespace {

// What reaches a report document and its printing from each part of the settings.
TEST(TolbexSettingsTest, ReportsSeeTheirFlagsAndPrintSettingsOnly) {
    struct Row {
        void (*change)(TolbexSettings&);
        ReportDocumentMode mode;
        bool true_scale;
    };
    const Row rows[] = {
        {[](TolbexSettings&) {}, {false, false, false}, false},
        {[](TolbexSettings& s) { s.flags.preview = true; }, {true, false, false}, false},
        {[](TolbexSettings& s) { s.flags.read_only = true; }, {false, true, false}, false},
        {[](TolbexSettings& s) { s.flags.confirm_cnav = true; }, {false, false, true}, false},
        {[](TolbexSettings& s) { s.profile.ecg_scaling = true; }, {false, false, false}, true},
        // Neither the other flags nor the switches change what a report does.
        {[](TolbexSettings& s) {
             s.flags.from_gui = s.flags.auto_delete = true;
             s.switches.timi_enabled = s.switches.logging_enabled = true;
         },
         {false, false, false},
         false},
    };
    for (const Row& row : rows) {
        TolbexSettings settings;
        settings.profile.margins = {1, 2, 3, 4};
        settings.profile.pdf_printer_name = "PDF";
        settings.profile.pdf_output_folder = "/out";
        row.change(settings);
        const ReportDocumentMode mode = report_mode_of(settings);
        EXPECT_EQ(mode.preview, row.mode.preview);
        EXPECT_EQ(mode.read_only, row.mode.read_only);
        EXPECT_EQ(mode.confirm_cnav, row.mode.confirm_cnav);
        const PrintSettings print = print_settings_of(settings);
        EXPECT_EQ(print.true_scale, row.true_scale);
        EXPECT_EQ(print.margins.left, 1);
        EXPECT_EQ(print.margins.bottom, 4);
        EXPECT_EQ(print.pdf_printer_name, "PDF");
        EXPECT_EQ(print.pdf_output_folder, "/out");
    }
}

}  // namespace
}  // namespace tv
