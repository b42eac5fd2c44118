// The TIMI print commands to PDF (checked with the poppler tools; the pages are laid out in the fonts
// the tests bring), the settings in the profile and the dialogs that change them. The first page of
// the entire table is compared with a reference picture in data/; TV_REGENERATE_REFERENCE_IMAGES=1
// writes it anew (review it before committing).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPrinter>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/tests/qt_test_app.h"
#include "testing/app_test_root.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tolbex/timi/ui/timi_print_text.h"
#include "tolbex/timi/ui/timi_print_ui.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

std::string command_output(const std::string& command) {
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

int pdf_pages(const std::string& pdf) {
    const std::string info = command_output("pdfinfo '" + pdf + "' 2>/dev/null");
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

bool pdf_landscape(const std::string& pdf) {
    const std::string info = command_output("pdfinfo '" + pdf + "' 2>/dev/null");
    double w = 0, h = 0;
    const std::size_t at = info.find("Page size:");
    return at != std::string::npos && std::sscanf(info.c_str() + at + 10, "%lf x %lf", &w, &h) == 2 && w > h;
}

// 200 rows from 10:00:00, 30 s apart, used on rows 100-119 and 150-155, patient "P1".
TimiData event_table() {
    TimiData d;
    d.header.patient_id = "P1";
    for (int i = 0; i < 200; ++i) {
        TimiRow r;
        r.day = 1;
        r.time = TimiDateTime::time_of_day(10 + i / 120, i / 2 % 60, i % 2 * 30);
        r.heart_rate = 60 + i % 30;
        for (int c = 0; c < kTimiChannels; ++c) {
            r.channel[c].st_base = 0.1 * c;
            r.channel[c].j_abs = 0.5;
            r.channel[c].st_abs = (i % 20) / 10.0 - 1.0;
            r.channel[c].st_dev = r.channel[c].st_abs - r.channel[c].st_base;
            r.channel[c].slope = 0.01 * (i % 9);
        }
        d.rows.push_back(r);
    }
    for (int i = 100; i <= 119; ++i) d.set_use(i, true);
    for (int i = 150; i <= 155; ++i) d.set_use(i, true);
    return d;
}

class TimiPrintUiTest : public testing_root::RootTest {
protected:
    TimiPrintUiTest() : RootTest(TmpDir::Inside) { fw::testing::qt_app(); }
    void SetUp() override {
        RootTest::SetUp();
        pdf = (t / "timi.pdf").string();
        fw::set_print_dialog_hook([this](QPrinter& printer, int, int) {
            ++dialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(to_qstring(pdf));
            return true;
        });
    }
    void TearDown() override {
        fw::set_print_dialog_hook({});
        fw::Dialog::set_test_hook({});
        gui::set_timi_font_dialog_hook({});
        fw::print_setup().orientation = fw::PageOrientation::Portrait;
        RootTest::TearDown();
    }
    // Prints to the PDF; returns its text.
    std::string print(TimiPrintRequest request) {
        fs::remove(pdf);
        const fw::PrintOutcome out = gui::run_timi_print(nullptr, data, settings, request);
        EXPECT_EQ(out.result, fw::PrintResult::Printed) << out.error;
        return command_output("pdftotext -layout '" + pdf + "' - 2>/dev/null");
    }

    std::string pdf;
    int dialogs = 0;
    TimiData data = event_table();
    TimiPrintSettings settings;
};

TEST_F(TimiPrintUiTest, TheThreeCommandsPrintToPdf) {
    // Events only: rows 80-139, a gap and 140-175 are 97 lines; in 10 points of the narrow face 48
    // fit on a landscape page, so row 175 goes on a third page, and there is no fourth.
    std::string text = print(TimiPrintRequest::events_only());
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(pdf_pages(pdf), 3);
    EXPECT_TRUE(pdf_landscape(pdf));
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Portrait) << "put back";
    for (const char* present : {"Page 1", "Page 3", "Subject ID: P1", "Use?", "Ch3", "10:40:00", "11:27:30"})
        EXPECT_NE(text.find(present), std::string::npos) << present;
    for (const char* absent : {"10:39:30", "11:28:00", "Page 4"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
    // In the narrow face the tests bring, the headings bold: not in whatever the machine has.
    const std::string fonts = command_output("pdffonts '" + pdf + "' 2>/dev/null");
    for (const char* face : {"LiberationSansNarrow ", "LiberationSansNarrow-Bold "})
        EXPECT_NE(fonts.find(face), std::string::npos) << fonts;

    // Selected rows 0..4: from row 0, the last row too.
    text = print(TimiPrintRequest::selected(0, 4));
    EXPECT_EQ(pdf_pages(pdf), 1);
    EXPECT_NE(text.find("10:02:00"), std::string::npos);
    EXPECT_EQ(text.find("10:02:30"), std::string::npos);

    // The entire table afterwards is not narrowed by that selection; portrait once toggled off.
    ASSERT_FALSE(gui::toggle_landscape(settings));
    text = print(TimiPrintRequest::entire_table());
    EXPECT_FALSE(pdf_landscape(pdf));
    const int pages = pdf_pages(pdf);
    EXPECT_GE(pages, 2);  // 200 rows and 4 gaps
    EXPECT_NE(text.find("Page " + std::to_string(pages)), std::string::npos);
    EXPECT_EQ(text.find("Page " + std::to_string(pages + 1)), std::string::npos);
    EXPECT_NE(text.find("11:39:30"), std::string::npos);  // row 199
}

TEST_F(TimiPrintUiTest, PreviewShowsThePagesWithoutTheDialog) {
    QTimer::singleShot(100, [] {
        if (QWidget* preview = QApplication::activeModalWidget()) preview->close();
    });
    const fw::PrintOutcome out = gui::run_timi_print(nullptr, data, settings, TimiPrintRequest::events_only(), true);
    EXPECT_EQ(out.pages, 3);
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(TimiPrintUiTest, FirstPageMatchesTheReferencePicture) {
    print(TimiPrintRequest::entire_table());
    const std::string stem = (t / "page").string();
    command_output("pdftoppm -r 40 -gray -png -f 1 -l 1 -singlefile '" + pdf + "' '" + stem + "' 2>/dev/null");
    QImage rendered(to_qstring(stem + ".png"));
    ASSERT_FALSE(rendered.isNull()) << "pdftoppm";
    const std::string reference_path = tv::testing::test_data_path(__FILE__, "timi_entire_table_page1.png");
    if (std::getenv("TV_REGENERATE_REFERENCE_IMAGES")) {
        ASSERT_TRUE(rendered.save(to_qstring(reference_path)));
        GTEST_SKIP() << "written " << reference_path;
    }
    const QImage reference(to_qstring(reference_path));
    ASSERT_FALSE(reference.isNull()) << reference_path;
    ASSERT_EQ(rendered.size(), reference.size());
    long long differing = 0, inked = 0;
    for (int y = 0; y < rendered.height(); ++y)
        for (int x = 0; x < rendered.width(); ++x) {
            const int a = qGray(rendered.pixel(x, y)), b = qGray(reference.pixel(x, y));
            inked += b < 128;
            differing += std::abs(a - b) > 96;
        }
    EXPECT_GT(inked, 1000);  // a table, not a blank page
    // Font rasterisation may move a few pixels; a layout change moves thousands.
    EXPECT_LE(differing, rendered.width() * rendered.height() / 200) << differing;
}

// The glyph cache the print command draws through must not change a pixel: every page of each
// run, printed through it and through the plain page source, rendered at 100 dpi.
TEST_F(TimiPrintUiTest, TheGlyphCacheDrawsThePagesOfThePlainPrinter) {
    const auto render = [&](fw::PageSource& source, const std::string& name) {
        const std::string file = (t / (name + ".pdf")).string();
        fw::PrintJobOptions options;
        options.show_dialog = false;
        options.show_progress = false;
        options.output_file = file;
        const fw::PrintOutcome out = fw::run_print_job(source, options);
        EXPECT_EQ(out.result, fw::PrintResult::Printed) << out.error;
        const std::string stem = (t / name).string();
        command_output("pdftoppm -r 100 -gray -png '" + file + "' '" + stem + "' 2>/dev/null");
        std::vector<QImage> pages;
        for (int n = 1; n <= out.pages; ++n) pages.emplace_back(to_qstring(stem + "-" + std::to_string(n) + ".png"));
        return pages;
    };
    const struct {
        TimiPrintRequest request;
        bool landscape;
    } runs[] = {{TimiPrintRequest::events_only(), true}, {TimiPrintRequest::entire_table(), false}};
    for (const auto& run : runs) {
        fw::print_setup().orientation = run.landscape ? fw::PageOrientation::Landscape : fw::PageOrientation::Portrait;
        TimiTablePrinter plain(data, settings, run.request);
        gui::TimiQtTablePrinter cached(data, settings, run.request);
        const std::vector<QImage> want = render(plain, "plain"), got = render(cached, "cached");
        ASSERT_EQ(got.size(), want.size());
        ASSERT_GE(want.size(), 2u);
        for (std::size_t n = 0; n < want.size(); ++n) {
            ASSERT_FALSE(want[n].isNull()) << "pdftoppm";
            EXPECT_TRUE(got[n] == want[n]) << "page " << n + 1 << (run.landscape ? " landscape" : " portrait");
        }
    }
}

TEST_F(TimiPrintUiTest, SettingsRoundTripThroughTheProfile) {
    const TimiPrintSettings defaults = gui::load_timi_print_settings();
    EXPECT_EQ(defaults, TimiPrintSettings{});
    EXPECT_TRUE(defaults.landscape);
    EXPECT_EQ(defaults.pre_time, 20);
    EXPECT_EQ(defaults.head_font.weight, 700);
    EXPECT_EQ(defaults.body_font.face, "Arial Narrow");

    TimiPrintSettings s = defaults;
    EXPECT_FALSE(gui::toggle_landscape(s));
    fw::Dialog::set_test_hook([](fw::Dialog& d) {
        auto& dlg = dynamic_cast<gui::DlgTIMIPrePostMins&>(d);
        dlg.pre_edit()->setText(QStringLiteral("5"));
        dlg.post_edit()->setText(QStringLiteral("1000"));
        dlg.on_ok();
        return dlg.result();
    });
    ASSERT_TRUE(gui::edit_timi_pre_post(nullptr, s));
    EXPECT_EQ(s.pre_time, 10);
    EXPECT_EQ(s.post_time, 2000);
    gui::set_timi_font_dialog_hook([](QFont& f) {
        f = QFont(QStringLiteral("DejaVu Sans"));
        f.setPointSize(12);
        f.setItalic(true);
        return true;
    });
    ASSERT_TRUE(gui::choose_timi_font(nullptr, s, gui::TimiFontKind::Body));
    EXPECT_EQ(s.body_font.height, 120);
    EXPECT_EQ(s.body_font.face, "DejaVu Sans");
    EXPECT_TRUE(s.body_font.italic);
    EXPECT_EQ(s.head_font, TimiPrintSettings{}.head_font);

    EXPECT_EQ(gui::load_timi_print_settings(), s);
    EXPECT_EQ(get_profile_int("TIMI Print", "Event Post Time", 0), 2000);
    EXPECT_EQ(get_profile_int("TIMI Print", "Landscape", 1), 0);
    EXPECT_EQ(get_profile_int("TIMI Print\\Body Font", "height", 0), 120);
    EXPECT_EQ(get_profile_string("TIMI Print\\Body Font", "typeface", ""), "DejaVu Sans");
}

TEST_F(TimiPrintUiTest, PrePostDialogShowsMinutesAndChecksTheRange) {
    struct Case {
        const char* pre;
        const char* post;
        bool accepted;
    };
    for (const Case& c : {Case{"0", "1000", true}, Case{"1001", "5", false}, Case{"5", "-1", false},
                          Case{"x", "5", false}, Case{"", "5", false}}) {
        settings.pre_time = 41;  // 20 minutes and a half: shown as 20
        settings.post_time = 6;
        scripted.shown.clear();
        std::string shown_pre, shown_post;
        fw::Dialog::set_test_hook([&](fw::Dialog& d) {
            auto& dlg = dynamic_cast<gui::DlgTIMIPrePostMins&>(d);
            EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Pre and Post Event Times"));
            shown_pre = from_qstring(dlg.pre_edit()->text());
            shown_post = from_qstring(dlg.post_edit()->text());
            dlg.pre_edit()->setText(QString::fromLatin1(c.pre));
            dlg.post_edit()->setText(QString::fromLatin1(c.post));
            dlg.on_ok();
            return dlg.result();
        });
        EXPECT_EQ(gui::edit_timi_pre_post(nullptr, settings), c.accepted) << c.pre << "/" << c.post;
        EXPECT_EQ(shown_pre, "20");
        EXPECT_EQ(shown_post, "3");
        if (c.accepted) {
            EXPECT_EQ(settings.pre_time, 0);
            EXPECT_EQ(settings.post_time, 2000);
            EXPECT_TRUE(scripted.shown.empty());
        } else {
            EXPECT_EQ(settings.pre_time, 41) << "unchanged";
            ASSERT_EQ(scripted.shown.size(), 1u) << c.pre << "/" << c.post;
            EXPECT_NE(scripted.shown[0].text.find("between 0 and 1000"), std::string::npos) << scripted.shown[0].text;
        }
    }
}

TEST_F(TimiPrintUiTest, FontDialogOpensOnTheStoredFontInScreenPixels) {
    settings.head_font.height = 125;  // whole points only: 12
    QFont seen;
    gui::set_timi_font_dialog_hook([&](QFont& f) {
        seen = f;
        return false;
    });
    EXPECT_FALSE(gui::choose_timi_font(nullptr, settings, gui::TimiFontKind::Heading));
    const int dpi = static_cast<int>(QGuiApplication::primaryScreen()->logicalDotsPerInchY() + 0.5);
    EXPECT_EQ(seen.pixelSize(), -timi_font_dialog_pixels(125, dpi));
    EXPECT_EQ(seen.pixelSize(), (12 * dpi + 36) / 72);
    EXPECT_EQ(seen.family(), QStringLiteral("Arial Narrow"));
    EXPECT_EQ(seen.weight(), QFont::Bold);
    EXPECT_EQ(settings.head_font.height, 125) << "cancel keeps the font";
    EXPECT_EQ(get_profile_int("TIMI Print\\Head Font", "height", -1), -1);
}

}  // namespace
}  // namespace tv
