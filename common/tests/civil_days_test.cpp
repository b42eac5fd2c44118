#include <gtest/gtest.h>

#include "common/civil_days.h"

namespace tv {
namespace {

TEST(CivilDays, KnownDaysAndEveryDayBackAgain) {
    struct Case {
        std::int64_t year;
        int month, day;
        std::int64_t days;
    };
    // The epoch, the card clock's and the spreadsheet day 0, leap days, and years below zero.
    for (const Case& c : {Case{1970, 1, 1, 0},
                          {2000, 1, 1, 10957},
                          {1899, 12, 30, -25569},
                          {2000, 2, 29, 11016},
                          {1900, 3, 1, -25508},
                          {2100, 3, 1, 47541},
                          {0, 3, 1, -719468},
                          {-1, 12, 31, -719529}}) {
        EXPECT_EQ(days_from_civil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month << "-" << c.day;
        int y = 0, m = 0, d = 0;
        civil_from_days(c.days, y, m, d);
        EXPECT_EQ(std::int64_t{y}, c.year);
        EXPECT_EQ(m, c.month);
        EXPECT_EQ(d, c.day);
    }
    for (std::int64_t n = -800000; n <= 800000; n += 37) {
        int y = 0, m = 0, d = 0;
        civil_from_days(n, y, m, d);
        ASSERT_EQ(days_from_civil(y, m, d), n);
        ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31) << n;
    }
}

}  // namespace
}  // namespace tv
