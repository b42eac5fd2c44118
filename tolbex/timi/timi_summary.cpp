// TIMI_SUMMARY.TXT: the readable result of an analysis, one line per ST episode (a run of rows in
// use), the TIMI 28 measurement texts and the arrhythmia counts. CR LF line ends.
#include <cstdlib>

#include "platform/fs.h"
#include "tolbex/timi/timi_data.h"
#include "tolbex/timi/timi_files.h"
#include "common/number_text.h"

namespace tv {

namespace {

constexpr const char* kNl = "\r\n";

// "%c%4d" of a heart rate taken from the nearest row: '*' when it was not the row's own.
std::string marked_rate(std::int32_t rate) {
    std::string out(1, rate < 0 ? '*' : ' ');
    return out + format_int(std::llabs(rate), 4);
}

std::string episode_line(const TimiData& d, std::int32_t a, std::int32_t b) {
    const TimiRow& ra = d.rows[a];
    const TimiRow& rb = d.rows[b];
    int channel = 0;
    for (int c = 0; c < kTimiChannels; ++c) {
        if (ra.channel[c].flag) {
            channel = c + 1;
            break;
        }
    }
    std::string out = format_int(channel, 4) + "  " + format_int(ra.day, 2) + "  " + ra.time.time_text() + "  " +
                      format_int(rb.day, 2) + "  " + rb.time.time_text() + " " +
                      format_episode_span(TimiData::duration(a, b)) + "   " +
                      format_int(d.depression_heart_rate(a, b), 4);
    for (std::int64_t before : {20, 10, 2, 0}) out += "  " + marked_rate(d.heart_rate_at(a - before));
    out += "   " + format_int(d.max_heart_rate(a, b), 4) + " " + format_fixed(d.max_abs_st_abs(a, b), 1, 10) + " " +
           format_fixed(d.max_abs_st_dev(a, b), 1, 10) + " " + format_fixed(d.ischaemic_burden(a, b), 0, 10) + kNl;
    return out;
}

std::string zero_episode_line() {
    std::string out = format_int(0, 4) + "  " + format_int(0, 2) + "  00:00:00  " + format_int(0, 2) + "  00:00:00 " +
                      format_episode_span({}) + "   " + format_int(0, 4);
    for (int i = 0; i < 4; ++i) out += "  " + marked_rate(0);
    out += "   " + format_int(0, 4) + " " + format_fixed(0.0, 1, 10) + " " + format_fixed(0.0, 1, 10) + " " +
           format_fixed(0.0, 0, 10) + kNl;
    return out;
}

}  // namespace

std::string TimiData::summary_file_text(const std::string& file_name) const {
    std::string out;
    if (!rows.empty()) {
        out += std::string("Quorril TIMI summary file") + kNl;
        out += "Filename: " + file_name + kNl + kNl;
        out += timi_header_block(*this, rows.front().time.time_text());
        out += std::string(
                   "                                            ---------------Heart Rates--------------"
                   "       STAbs      STDev      Isch") +
               kNl;
        out += std::string(
                   "  Ch   Onset         End          Duration  -1.0mm   -10     -5     -1   Onset   Max"
                   "        Max        Max      Burden") +
               kNl;
        out += std::string(118, '-') + kNl;
    }
    bool any_episode = false;
    const std::int32_t n = row_count();
    for (std::int32_t r = 0; r < n;) {
        if (!rows[r].use) {
            ++r;
            continue;
        }
        std::int32_t b = r;
        while (b + 1 < n && rows[b + 1].use) ++b;
        out += episode_line(*this, r, b);
        any_episode = true;
        r = b + 1;
    }
    if (!any_episode) out += zero_episode_line();
    if (!stemi[0].text.empty() || !stemi[1].text.empty() || !stemi[2].text.empty()) {
        out += std::string(kNl) + kNl + "------------------------------" + kNl + "TIMI 28 / Clarity Measurements" +
               kNl + "------------------------------" + kNl + kNl;
        for (const auto& s : stemi) {
            // The texts carry bare line feeds; the file has CR LF throughout.
            for (char ch : s.text) {
                if (ch == '\r') continue;
                if (ch == '\n') {
                    out += kNl;
                } else {
                    out += ch;
                }
            }
        }
    }
    out += std::string(kNl) + "-----------------------" + kNl + "Arrhythmia Event Counts" + kNl +
           "-----------------------" + kNl + kNl;
    out += timi_count_lines(*this);
    return out;
}

}  // namespace tv
