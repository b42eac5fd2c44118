#include "tools/demo/timi_sample_week.h"

namespace tv {

void fill_timi_sample_week(TimiData& data, std::int32_t first_second) {
    data.rows.resize(kTimiSampleWeekRows);
    for (std::int32_t i = 0; i < kTimiSampleWeekRows; ++i) {
        TimiRow& r = data.rows[static_cast<std::size_t>(i)];
        r.use = i % 7 == 0;
        const std::int32_t second = first_second + i * kTimiRowSeconds;
        r.day = 1 + second / 86400;
        r.time = TimiDateTime::time_of_day(second % 86400 / 3600, second % 3600 / 60, second % 60);
        r.heart_rate = 50 + (i * 37) % 90;
        for (int c = 0; c < kTimiChannels; ++c) {
            TimiChannelValues& v = r.channel[static_cast<std::size_t>(c)];
            // Values as a file's two decimals read back, so that no "-0.00" deviation appears.
            v.st_base = c / 10.0;
            v.j_abs = 0.5;
            v.st_abs = (i % 200 - 100) / 100.0;
            v.st_dev = v.st_abs - v.st_base;
            v.slope = 0.01 * (i % 9);
            v.flag = i % 11 == 0;
        }
    }
}

}  // namespace tv
