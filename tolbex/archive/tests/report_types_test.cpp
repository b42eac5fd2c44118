#include "tolbex/archive/report_types.h"

#include "common/text.h"
#include "platform/system.h"
#include "testing/test_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace tv {
namespace {

class ReportTypesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void write(const std::string& name, const std::string& bytes) {
        std::FILE* f = std::fopen((root_ + "/" + name).c_str(), "wbe");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    platform::testing::TempRoot temp_{platform::testing::TmpDir::Root};
    const std::string root_ = temp_.path();
};

TEST(ReportTypes, TypeFromPathFollowsTheExtensionWithoutCase) {
    EXPECT_EQ(report_type_from_path("/A/X1Y2Z3W4.ful"), kReportFull);
    EXPECT_EQ(report_type_from_path("/x/ABC.IMG"), kReportFormatted);  // never 520
    EXPECT_EQ(report_type_from_path("a.prt"), kReportPartial);
    EXPECT_EQ(report_type_from_path("a.Raw"), kReportRawEcg);
    EXPECT_EQ(report_type_from_path("a.OSB"), kReportOstrabel);
    EXPECT_EQ(report_type_from_path("a.cfr"), kReportOstrabelCf);
    EXPECT_EQ(report_type_from_path("a.cef"), kReportCef);
    EXPECT_EQ(report_type_from_path("a.nos"), kReportNoske);
    EXPECT_EQ(report_type_from_path("a.qds"), kReportGavrille);
    EXPECT_EQ(report_type_from_path("a.rr"), kReportVarUdiri);
    EXPECT_EQ(report_type_from_path("a.sgn"), kReportSigned);
    EXPECT_EQ(report_type_from_path("a.tim"), kReportTimiData);
    EXPECT_EQ(report_type_from_path("a.sum"), kReportTimiSummary);
    EXPECT_EQ(report_type_from_path("a.o12"), kReportFullOstrabel12);
    EXPECT_EQ(report_type_from_path("a.arr"), kReportTimiArrhythmia);
    // No extension, an unknown one, a dot in a folder only, a long tail, a partial match.
    EXPECT_EQ(report_type_from_path("/G/ARCH/NOEXT"), kReportUnknown);
    EXPECT_EQ(report_type_from_path("a.TXT"), kReportUnknown);
    EXPECT_EQ(report_type_from_path("/G/A.FUL/X"), kReportUnknown);
    EXPECT_EQ(report_type_from_path("a.FULLLLLLL"), kReportUnknown);
    EXPECT_EQ(report_type_from_path("a.FU"), kReportUnknown);
    EXPECT_EQ(report_type_from_path(""), kReportUnknown);
}

TEST(ReportTypes, TableTexts) {
    EXPECT_EQ(report_type_name(kReportFullOstrabel12), "Full Ostrabel12");
    EXPECT_EQ(report_type_store_name(kReportFullOstrabel12), "Full Ostrabel 12");
    EXPECT_EQ(report_type_extension(kReportFormatted520), ".IMG");
    EXPECT_EQ(report_type_name(kReportFormatted520), "Formatted");
    EXPECT_EQ(report_type_extension(kReportUntyped), "");
    EXPECT_EQ(report_type_name(kReportUntyped), "");
    EXPECT_EQ(report_type_description(kReportUntyped), "Unknown");
    EXPECT_EQ(report_type_name(kReportUnknown), "");
    EXPECT_EQ(report_type_description(kReportUnknown), "Unknown");
    EXPECT_EQ(report_type_description(9999), "Unknown");
    EXPECT_EQ(report_type_description(kReportFull), "With recording");
    EXPECT_EQ(report_type_name(kReportTimiArrhythmia), "TIMI Arrhythmia Summary");
    EXPECT_TRUE(is_formatted_type(519));
    EXPECT_TRUE(is_formatted_type(520));
    EXPECT_FALSE(is_formatted_type(510));
    // Every known type's extension leads back to it, except that .IMG always reads as 519.
    for (ReportType t = 510; t <= 526; ++t) {
        if (t == kReportUntyped) continue;
        EXPECT_EQ(report_type_from_path(std::string("X").append(report_type_extension(t))), t == 520 ? 519 : t) << t;
    }
}

TEST(ReportTypes, ConfirmedSizeText) {
    EXPECT_TRUE(is_confirmed_size_text("1234C"));
    EXPECT_TRUE(is_confirmed_size_text(" 12C"));
    EXPECT_TRUE(is_confirmed_size_text("0C"));
    EXPECT_FALSE(is_confirmed_size_text("1234"));
    EXPECT_FALSE(is_confirmed_size_text("C"));  // a mark needs a size before it
    EXPECT_FALSE(is_confirmed_size_text(" C"));
    EXPECT_FALSE(is_confirmed_size_text(""));
    EXPECT_FALSE(is_confirmed_size_text("  345 C"));
    EXPECT_FALSE(is_confirmed_size_text("12c"));
}

TEST(ReportTypes, RecordFromIndexLines) {
    ReportRecord a("ignored", "0C", "Wed Jan 02 02:03:55 1980", "X.FUL", "/G/A", "desc");
    EXPECT_EQ(a.get_type(), kReportFull);
    EXPECT_EQ(a.get_size(), 0);
    EXPECT_TRUE(a.is_confirmed());  // the mark is read whatever the type
    EXPECT_EQ(a.get_file_date_text(), "Wed Jan 02 02:03:55 1980");
    EXPECT_EQ(a.get_confirmed_text(), "");

    ReportRecord b("Full", "  345 C", "Wed Jan 02 02:03:55 1980", "Y.IMG", "/G/A", "d");
    EXPECT_EQ(b.get_size(), 345);
    EXPECT_FALSE(b.is_confirmed());
    EXPECT_EQ(b.get_type(), kReportFormatted);  // never from the stored type name
    EXPECT_EQ(b.get_confirmed_text(), "No");
    b.set_confirmed(true);
    EXPECT_EQ(b.get_confirmed_text(), "Yes");

    // No digits give 0; an oversized number is clamped.
    EXPECT_EQ(ReportRecord("", "abc", "", "Z", "/", "").get_size(), 0);
    EXPECT_EQ(ReportRecord("", "99999999999", "", "Z", "/", "").get_size(), 2147483647);

    ReportRecord u("", "1", "Wed Jan 02 02:03:55 1980", "NOEXT", "/G/A", "d");
    EXPECT_EQ(u.get_type(), kReportUnknown);
    EXPECT_EQ(u.get_type_name(), "");
    EXPECT_EQ(u.get_type_description(), "Unknown");
    EXPECT_EQ(u.get_confirmed_text(), "");
}

TEST(ReportTypes, DateTextsReadBothFormsAndWriteZeroPaddedDay) {
    // Space-padded day (the C library's form) and the repair tool's short form both read.
    ReportRecord a("", "1", "Wed Jan  2 02:03:55 1980", "A.FUL", "/", "");
    EXPECT_EQ(a.get_file_date_text(), "Wed Jan 02 02:03:55 1980");
    ReportRecord b("", "1", "03/12/07 14:05:09", "A.FUL", "/", "");
    EXPECT_EQ(b.get_time(), 1196690709);  // yy below 90 is 20yy; the seconds are kept
    EXPECT_EQ(ReportRecord("", "1", "03/12/95 14:05", "A.FUL", "/", "").get_file_date_text(),
              "Sun Dec 03 14:05:00 1995");
    ReportRecord c("", "1", "03/12/07 14:05", "A.FUL", "/", "");
    EXPECT_EQ(c.get_file_date_text(), "Mon Dec 03 14:05:00 2007");
    EXPECT_EQ(format_file_date_text(1196690709), "Mon Dec 03 14:05:09 2007");
    // Past 2038.
    EXPECT_EQ(format_file_date_text(4102444800LL), "Fri Jan 01 00:00:00 2100");
}

class PinnedClock : public platform::RealSystem {
public:
    std::int64_t now() override { return 1'000'000'123; }
};

TEST(ReportTypes, IndexDatesReadNumericAndAsctimeFormsAndUnreadableAsNow) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    PinnedClock clock;
    platform::set_system(&clock);
    EXPECT_EQ(parse_index_date_text("05/03/07 14:30"), 1173105000);
    EXPECT_EQ(parse_index_date_text("05/03/95 14:30"), 794413800);
    EXPECT_EQ(parse_index_date_text("05/03/89 14:30"), 3760871400LL);  // yy < 90 is 20yy
    EXPECT_EQ(parse_index_date_text("Mon Mar  5 14:30:00 2001"), 983802600);
    EXPECT_EQ(parse_index_date_text("Mon Dec  3 14:05:09 2007\n"), 1196690709);
    EXPECT_EQ(parse_index_date_text("Sat Jan  1 00:00:00 2100"), 4102444800LL);  // beyond 2038 stays exact
    for (const char* bad : {"", "05/0", "05/03/07 14:3", "Mon Mar  5 14:30:00 200", "Mon Xyz  5 14:30:00 2001",
                            "Mon anF  5 14:30:00 2001", "Mon mar  5 14:30:00 2001", "05/x3/07 14:30", "05/03/07 ab:30",
                            "Mon Mar  5 14:30:00 ----", "Thu Jan  1 00:00:00 1970"})
        EXPECT_EQ(parse_index_date_text(bad), 1'000'000'123) << '"' << bad << '"';
    platform::set_system(nullptr);
}

// The index reader's date conversion (with its per-day cache) reads back every text it writes,
// also across clock changes, including a half-hour one.
TEST(ReportTypes, IndexDatesRoundTripAcrossClockChanges) {
    for (const char* zone : {"Europe/Berlin", "Australia/Lord_Howe", "America/Sao_Paulo", "UTC"}) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        ScopedDateCache cache;
        ScopedDateCache nested;
        for (std::int64_t t = 1205000000; t < 1205000000 + 400LL * 86400; t += 1800 + 7) {
            const std::string text = format_file_date_text(t);
            // A repeated hour may read as either of its two times; both write the same text.
            EXPECT_EQ(format_file_date_text(parse_index_date_text(text)), text) << zone;
            if (std::string(zone) == "UTC") {
                EXPECT_EQ(parse_index_date_text(text), t) << text;  // no repeated hours
            }
        }
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

// The day cache reads every text as the plain conversion does: around clock changes forward and
// back, at midnight (Sao Paulo), by half an hour (Lord Howe), over a skipped day (Apia), for
// times the clock skipped or showed twice, and for day numbers beyond the month.
TEST(ReportTypes, IndexDatesReadTheSameWithTheDayCacheAsWithout) {
    struct Change {
        const char* zone;
        std::int64_t at;  // a time near a clock change
    };
    static constexpr Change kChanges[] = {
        {"Europe/Berlin", 1206838800},        // 2008-03-30 forward
        {"Europe/Berlin", 1224982800},        // 2008-10-26 back
        {"America/New_York", 1173596400},     // 2007-03-11 forward
        {"America/New_York", 1194156000},     // 2007-11-04 back
        {"America/Sao_Paulo", 1224385200},    // 2008-10-19 forward at midnight
        {"America/Sao_Paulo", 1203213600},    // 2008-02-17 back at midnight
        {"Australia/Lord_Howe", 1207407600},  // 2008-04-06 back half an hour
        {"Australia/Lord_Howe", 1223134200},  // 2008-10-05 forward half an hour
        {"Pacific/Apia", 1325239200},         // 2011-12-30 skipped
        {"UTC", 1205000000},
    };
    for (const Change& c : kChanges) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        std::vector<std::string> texts;
        for (std::int64_t t = c.at - 3 * 86400; t < c.at + 3 * 86400; t += 900 + 7) {
            // Texts of the clock's times, shifted by an hour each way to hit skipped and repeated ones.
            for (const std::int64_t shift : {0, 3600, -3600}) {
                std::tm tm{};
                const std::time_t at = static_cast<std::time_t>(t);
                ASSERT_NE(::localtime_r(&at, &tm), nullptr);
                tm.tm_hour = (tm.tm_hour + 24 + static_cast<int>(shift / 3600)) % 24;
                texts.push_back(format_string("%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                                              tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec));
            }
            texts.push_back(format_file_date_text(t));
        }
        for (const char* odd : {"31/02/08 10:00", "00/03/08 10:00", "32/01/08 10:00", "Sun Feb 31 10:00:00 2008"})
            texts.push_back(odd);
        std::vector<std::int64_t> plain;
        for (const std::string& text : texts) plain.push_back(parse_index_date_text(text));
        ScopedDateCache cache;
        for (std::size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(parse_index_date_text(texts[i]), plain[i]) << c.zone << " " << texts[i];
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

TEST(ReportTypes, UnbreakableTimeGivesEmptyDisplayTextAndNoCalendar) {
    const std::int64_t huge = INT64_MAX;
    EXPECT_EQ(format_display_date_text(huge), "");
    EXPECT_EQ(format_file_date_text(huge).size(), 24u);  // still a readable index line
    const std::string shown = format_display_date_text(1196690709);
    EXPECT_FALSE(shown.empty());
    EXPECT_LE(shown.size(), 64u);
    EXPECT_EQ(shown.find(":09"), std::string::npos);  // no seconds
}

TEST(ReportTypes, DescriptionsAreSanitized) {
    EXPECT_EQ(sanitize_description(""), "<Name>");
    EXPECT_EQ(sanitize_description(" \t "), "<Name>");
    EXPECT_EQ(sanitize_description("a\r\nb"), "a  b");
    EXPECT_EQ(sanitize_description(std::string("a\0b", 3)), "a b");
    EXPECT_EQ(sanitize_description(" lead"), " lead");
    EXPECT_EQ(sanitize_description(std::string(300, 'x')).size(), 255u);
    ReportRecord r("", "1", "", "A.FUL", "/", "old");
    r.set_description(std::string(300, 'y') + "\n");
    EXPECT_EQ(r.get_description(), std::string(255, 'y'));
    r.set_description("");
    EXPECT_EQ(r.get_description(), "<Name>");
}

TEST(ReportTypes, RecordNamesThatAreNotPlainComponentsHaveNoFolder) {
    for (const char* bad : {"..", ".", "/abs", "X:", "a/b", "a\\b"}) {
        ReportRecord r("", "1", "", bad, "/G/A", "d");
        EXPECT_FALSE(r.has_safe_name()) << bad;
        EXPECT_EQ(r.get_folder_path(), "") << bad;
    }
    ReportRecord ok("", "1", "", "ABC.FUL", "/G/A", "d");
    EXPECT_EQ(ok.get_folder_path(), "/G/A/ABC.FUL");
    ok.set_name("ABC.PRT");
    EXPECT_EQ(ok.get_type(), kReportPartial);
}

TEST_F(ReportTypesTest, SourceProductFromVersionTxt) {
    EXPECT_EQ(*get_report_source_product(root_), 0);  // no file
    write("VERSION.TXT", "V8.006\r\nGavrille\r\n");
    EXPECT_EQ(*get_report_source_product(root_), 1);  // found without regard to case, CR LF
    write("VERSION.TXT", "V8.006\nQuorril \n");
    EXPECT_EQ(*get_report_source_product(root_), 0);
    write("VERSION.TXT", "V8.006\nGavrille");
    EXPECT_EQ(*get_report_source_product(root_), 1);
    write("VERSION.TXT", "V8.006\ngavrille\n");
    EXPECT_EQ(*get_report_source_product(root_), 0);
    write("VERSION.TXT", "only one line");
    EXPECT_EQ(*get_report_source_product(root_), 0);
}

}  // namespace
}  // namespace tv
