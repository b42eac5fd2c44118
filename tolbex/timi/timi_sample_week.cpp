#include "tolbex/timi/timi_sample_week.h"

namespace tv {

void fill_timi_sample_week(TimiData& data) {
    data.rows.resize(kTimiSampleWeekRows);
    for (std::int32_t i = 0; i < kTimiSampleWeekRows; ++i) {
        TimiRow& r = data.rows[static_cast<std::size_t>(i)];
        r.use = i % 7 == 0;
        r.day = 1 + i / 2880;
        r.time = TimiDateTime::time_of_day(i % 2880 / 120, i % 120 / 2, i % 2 * 30);
        r.heart_rate = 50 + (i * 37) % 90;
        for (int c = 0; c < kTimiChannels; ++c) {
            TimiChannelValues& v = r.channel[static_cast<std::size_t>(c)];
            v.st_base = 0.1 * c;
            v.j_abs = 0.5;
            v.st_abs = (i % 200) / 100.0 - 1.0;
            v.st_dev = v.st_abs - v.st_base;
            v.slope = 0.01 * (i % 9);
            v.flag = i % 11 == 0;
        }
    }
}

}  // namespace tv
