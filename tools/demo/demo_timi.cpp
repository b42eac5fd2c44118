#include "tools/demo/demo_timi.h"

#include <algorithm>
#include <vector>

#include "platform/fs.h"
#include "tolbex/timi/timi_day_files.h"
#include "tolbex/timi/timi_sample_week.h"

namespace tv::demo {

namespace {

constexpr std::int32_t kRowsPerDay = 2880;
constexpr std::int32_t kRate = 128;  // samples a second

TimiArrhEvent event(std::int32_t type, std::int32_t start_second, std::int32_t seconds, std::int32_t length,
                    std::int32_t peak = kTimiMissingInt) {
    TimiArrhEvent e;
    e.field[4] = type;
    e.field[6] = start_second * kRate;
    e.field[7] = (start_second + seconds) * kRate;
    e.field[8] = length;
    e.field[9] = peak;
    e.field[10] = peak == kTimiMissingInt ? kTimiMissingInt : (start_second + seconds / 2) * kRate;
    e.field[11] = 0;
    return e;
}

// The events of one day report in time order, seconds from the start of its recording.
std::vector<TimiArrhEvent> day_events(int day) {
    std::vector<TimiArrhEvent> events;
    const int pauses = 1 + day % 3;
    for (int i = 0; i < pauses; ++i) events.push_back(event(1, 3600 * (2 + 5 * i) + 97 * day, 2 + i % 2, 2));
    events.push_back(event(11, 5 * 3600 + 311 * day, 1, 2));   // couplet
    events.push_back(event(14, 6 * 3600 + 173 * day, 1, 1));   // SVE
    if (day % 4 != 0) events.push_back(event(2, 9 * 3600 + 421 * day, 6, 11, 148 + 3 * day));  // VT > 100
    if (day % 2 == 0) events.push_back(event(5, 11 * 3600 + 59 * day, 8, 9, 92));             // VT < 100
    events.push_back(event(3, 13 * 3600 + 211 * day, 5, 14, 162));                            // SVT
    if (day == 2 || day == 3 || day == 6) events.push_back(event(148, 15 * 3600, 600 + 300 * day, 0));  // AF
    events.push_back(event(6, 19 * 3600 + 17 * day, 30, 24, 41));                             // bradycardia
    events.push_back(event(13, 21 * 3600 + 7 * day, 1, 1));                                  // single VE
    for (TimiArrhEvent& e : events)
        if (e.type() == 148) e.field[8] = e.end() - e.start();  // AF: its length in samples
    std::sort(events.begin(), events.end(),
              [](const TimiArrhEvent& a, const TimiArrhEvent& b) { return a.start() < b.start(); });
    return events;
}

}  // namespace

TimiData demo_timi_week(const std::string& patient_number, const std::string& recording_id, std::int64_t start) {
    TimiData week;
    fill_timi_sample_week(week, static_cast<std::int32_t>(start % 86400));
    TimiHeader& h = week.header;
    h.patient_id = patient_number;
    h.recording_id = recording_id;
    h.start = {TimiStatus::Valid, start};
    for (int c = 0; c < kTimiChannels; ++c) {
        h.elevation[c] = 1.0;
        h.depression[c] = -1.0;
        h.slope[c] = kSlopeUp;
    }
    return week;
}

bool write_demo_timi_day(const std::string& staging, const TimiData& week, int day) {
    const std::vector<TimiArrhEvent> events = day_events(day);
    return platform::atomic_write_file(staging + timi_day_file_name(week.header.patient_id, day),
                                       timi_day_file_text(week, day, kRowsPerDay)) &&
           platform::atomic_write_file(staging + "arrhevnt.dat", arrhevnt_file_bytes(events)) &&
           platform::atomic_write_file(staging + "arrhevnt.txt", arrhevnt_text(events));
}

}  // namespace tv::demo
