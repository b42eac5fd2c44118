#include "tools/demo/demo_timi.h"

#include <algorithm>
#include <vector>

#include "platform/fs.h"
#include "tools/demo/timi_day_files.h"
#include "tools/demo/timi_sample_week.h"

namespace tv::demo {

namespace {

constexpr std::int32_t kRowsPerDay = 2880;
constexpr std::int32_t kRate = 128;  // samples a second

// Event type codes of arrhevnt.dat.
enum : std::int32_t {
    kPause = 1,
    kVtFast = 2,
    kSvt = 3,
    kVtSlow = 5,
    kBradycardia = 6,
    kCouplet = 11,
    kSingleVe = 13,
    kSve = 14,
    kAf = 148,
};

// An event of `seconds` from `start_second`; an AF episode's length is its samples, any other's
// the beats given.
TimiArrhEvent event(std::int32_t type, std::int32_t start_second, std::int32_t seconds, std::int32_t beats,
                    std::int32_t peak = kTimiMissingInt) {
    TimiArrhEvent e;
    e.field[4] = type;
    e.field[6] = start_second * kRate;
    e.field[7] = (start_second + seconds) * kRate;
    e.field[8] = type == kAf ? seconds * kRate : beats;
    e.field[9] = peak;
    e.field[10] = peak == kTimiMissingInt ? kTimiMissingInt : (start_second + seconds / 2) * kRate;
    return e;
}

// The events of one day report in time order, seconds from the start of its recording.
std::vector<TimiArrhEvent> day_events(int day) {
    std::vector<TimiArrhEvent> events;
    for (int i = 0; i < 1 + day % 3; ++i) events.push_back(event(kPause, 3600 * (2 + 5 * i) + 97 * day, 2 + i % 2, 2));
    events.push_back(event(kCouplet, 5 * 3600 + 311 * day, 1, 2));
    events.push_back(event(kSve, 6 * 3600 + 173 * day, 1, 1));
    if (day % 4 != 0) events.push_back(event(kVtFast, 9 * 3600 + 421 * day, 6, 11, 148 + 3 * day));
    if (day % 2 == 0) events.push_back(event(kVtSlow, 11 * 3600 + 59 * day, 8, 9, 92));
    events.push_back(event(kSvt, 13 * 3600 + 211 * day, 5, 14, 162));
    if (day == 2 || day == 3 || day == 6) events.push_back(event(kAf, 15 * 3600, 600 + 300 * day, 0));
    events.push_back(event(kBradycardia, 19 * 3600 + 17 * day, 30, 24, 41));
    events.push_back(event(kSingleVe, 21 * 3600 + 7 * day, 1, 1));
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
           platform::atomic_write_file(staging + "arrhevnt.txt",
                                       arrhevnt_text(events, week.header.start.second_of_day()));
}

}  // namespace tv::demo
