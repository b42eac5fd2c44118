#include "tools/demo/demo_pages.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/page_items.h"
#include "tools/demo/emf_writer.h"
#include "tools/demo/page_file_builder.h"

namespace tv::demo {

namespace {

// ---- Made-up findings ------------------------------------------------------------------------

struct HourRates {
    int clock = 0;  // hour of day
    int min = 0, mean = 0, max = 0;
};

struct Findings {
    int first_hour = 0;            // hour of day the recording starts
    std::vector<HourRates> hours;  // 24, from the recording start
    int min = 0, mean = 0, max = 0;
    std::string min_time, max_time;
    long beats = 0;
    int ve = 0, couplets = 0, v_runs = 0, v_run_beats = 0, v_run_rate = 0;
    int sve = 0, sv_runs = 0, sv_run_beats = 0, sv_run_rate = 0;
    int pauses = 0, pause_tenths = 0;
    std::string v_run_time, sv_run_time, pause_time;
    int brady_episodes = 0, brady_minutes = 0;
};

std::string clock_text(int hour, int minute, int second = -1) {
    return second < 0 ? format_string("%02d:%02d", hour % 24, minute % 60)
                      : format_string("%02d:%02d:%02d", hour % 24, minute % 60, second % 60);
}

// Tenths as "d.d": "%f" would take a decimal comma from the user's locale.
std::string tenths_text(long tenths) { return format_string("%ld.%ld", tenths / 10, tenths % 10); }

int start_hour(std::int64_t recorded) {
    const time_t t = static_cast<time_t>(recorded);
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    return tm.tm_hour;
}

Findings make_findings(const DemoPatientDetails& p) {
    const int v = p.variant < 0 ? -p.variant : p.variant;
    const int first = start_hour(p.recorded);
    Findings f;
    f.first_hour = first;
    f.min = 999;
    long sum = 0;
    for (int k = 0; k < 24; ++k) {
        HourRates h;
        h.clock = (first + k) % 24;
        // Faster by day, slowest in the small hours.
        const double circadian = std::cos(2 * 3.14159265358979 * (h.clock - 15) / 24.0);
        h.mean = 66 + 3 * (v % 4) + static_cast<int>(std::lround(11 * circadian)) + (k * 37 + v * 11) % 7 - 3;
        h.min = h.mean - 11 - (k * 13 + v) % 6;
        h.max = h.mean + 22 + (k * 29 + v * 7) % 23;
        if (h.min < f.min) f.min = h.min, f.min_time = clock_text(h.clock, (k * 17 + v * 5) % 60);
        if (h.max > f.max) f.max = h.max, f.max_time = clock_text(h.clock, (k * 23 + v * 3) % 60);
        sum += h.mean;
        f.beats += h.mean * 60L;
        f.hours.push_back(h);
    }
    f.mean = static_cast<int>((sum + 12) / 24);
    f.ve = 120 + (v * 53) % 180;
    f.couplets = 3 + v % 7;
    f.v_runs = 1 + v % 2;
    f.v_run_beats = 4 + v % 3;
    f.v_run_rate = 138 + v % 12;
    f.v_run_time = clock_text(first + 2, 20 + v % 30, 14);
    f.sve = 60 + (v * 41) % 150;
    f.sv_runs = 1 + v % 3;
    f.sv_run_beats = 6 + v % 4;
    f.sv_run_rate = 128 + v % 15;
    f.sv_run_time = clock_text(first + 13, 5 + v % 40, 37);
    f.pauses = 1 + v % 3;
    f.pause_tenths = 22 + v % 6;
    f.pause_time = clock_text(first + 18, 18 + v % 30, 52);
    f.brady_episodes = 2 + v % 3;
    f.brady_minutes = 25 + (v * 7) % 40;
    return f;
}

// ---- ECG complexes ---------------------------------------------------------------------------

// Amplitudes in mV of one lead's waves.
struct Lead {
    const char* name;
    double p, q, r, s, t;
};

constexpr Lead kLeadII = {"II", 0.15, 0.05, 1.2, 0.2, 0.35};
constexpr Lead kTwelveLeads[] = {
    {"I", 0.10, 0.05, 0.8, 0.15, 0.25},   {"II", 0.15, 0.05, 1.2, 0.2, 0.35}, {"III", 0.05, 0.05, 0.5, 0.15, 0.1},
    {"aVR", -0.12, 0.0, -0.9, 0.0, -0.3}, {"aVL", 0.05, 0.05, 0.4, 0.1, 0.1}, {"aVF", 0.1, 0.05, 0.85, 0.15, 0.22},
    {"V1", 0.08, 0.0, 0.25, 1.0, 0.1},    {"V2", 0.08, 0.0, 0.5, 1.3, 0.4},   {"V3", 0.08, 0.0, 0.9, 0.8, 0.45},
    {"V4", 0.1, 0.05, 1.5, 0.4, 0.45},    {"V5", 0.1, 0.08, 1.3, 0.2, 0.35},  {"V6", 0.1, 0.08, 1.0, 0.1, 0.28},
};

double bump(double t, double centre, double width) {
    const double z = (t - centre) / width;
    return std::exp(-0.5 * z * z);
}

// One beat in mV, `t` seconds from its R peak; `st` lifts the segment between QRS and T.
double sinus_beat(const Lead& l, double t, double st = 0) {
    return l.p * bump(t, -0.16, 0.025) - l.q * bump(t, -0.028, 0.009) + l.r * bump(t, 0, 0.012) -
           l.s * bump(t, 0.03, 0.012) + l.t * bump(t, 0.25, 0.045) + st * bump(t, 0.15, 0.07);
}

// A ventricular beat: no P wave, a wide QRS and a discordant T wave.
double ventricular_beat(const Lead& l, double t) {
    return 1.4 * l.r * bump(t, 0, 0.04) - 0.5 * l.r * bump(t, 0.09, 0.03) - 0.45 * l.r * bump(t, 0.34, 0.07);
}

struct Beat {
    double at;  // seconds from the strip start
    bool ventricular;
};

double strip_mv(const std::vector<Beat>& beats, const Lead& l, double t) {
    double mv = 0;
    for (const Beat& b : beats)
        if (std::abs(t - b.at) < 0.6) mv += b.ventricular ? ventricular_beat(l, t - b.at) : sinus_beat(l, t - b.at);
    return mv;
}

// Regular beats from `from` to `to` seconds, RR interval `rr`, starting at `first`.
void add_regular(std::vector<Beat>& beats, double first, double to, double rr) {
    for (double t = first; t < to; t += rr) beats.push_back({t, false});
}

// ---- Page files ------------------------------------------------------------------------------

// A page trace step is 172,928 / 65,536 logical units of 32 µm: at 25 mm/s that is about 296
// samples a second. The gain below draws 476 sample steps a millivolt (10 mm/mV), sample 1024
// on the trace's baseline.
constexpr double kTraceSamplesPerSecond = 25.0 / (172928.0 / 65536.0 * 0.032);
constexpr double kTraceStepsPerMv = 10.0 / (1376256.0 / 2097152.0 * 0.032);
constexpr std::int32_t kTraceGain = 1 << 29;
constexpr std::int32_t kTraceBase = 32;
constexpr int kStripSamples = 2000;

constexpr std::int32_t kFiveMm = 156;  // 5 mm in logical units (156.25)

std::vector<std::uint16_t> trace_samples(const std::vector<Beat>& beats, const Lead& lead) {
    std::vector<std::uint16_t> samples;
    for (int i = 0; i < kStripSamples; ++i) {
        const double mv = strip_mv(beats, lead, i / kTraceSamplesPerSecond);
        // Page y grows downwards: a positive wave is a smaller sample.
        const long s = std::lround(1024 - mv * kTraceStepsPerMv);
        samples.push_back(static_cast<std::uint16_t>(std::clamp(s, 0L, 65535L)));
    }
    return samples;
}

// Dotted columns (type 65): the page builder only writes rows.
std::string dot_columns(std::int32_t top, std::int32_t bottom, const std::vector<std::int32_t>& columns) {
    std::string p;
    append_le32(p, 8);
    append_le32(p, 0);
    append_le32(p, static_cast<std::uint32_t>(top * 32));
    append_le32(p, static_cast<std::uint32_t>(bottom * 32));
    append_le32(p, static_cast<std::uint32_t>(columns.size()));
    for (std::int32_t c : columns) append_le32(p, static_cast<std::uint32_t>(c * 32));
    return make_page_record(PageRecordKind::DotColumns, p, 0, 0, 0);
}

// A dotted polyline (type 70); every point must lie inside the page (positive coordinates).
std::string dotted_polyline(const std::vector<fw::Pt>& points) {
    std::string p;
    append_le32(p, static_cast<std::uint32_t>(points.size()));
    for (const fw::Pt& q : points) {
        append_le32(p, static_cast<std::uint32_t>(q.x * 32));
        append_le32(p, static_cast<std::uint32_t>(q.y * 32));
    }
    return make_page_record(PageRecordKind::DottedPolyline, p, 0, 0, 0);
}

// A 5 mm dot grid over the rectangle, dots every 0.5 mm.
void grid(PageFileBuilder& b, std::string& extra, std::int32_t left, std::int32_t top, std::int32_t right,
          std::int32_t bottom) {
    std::vector<std::int32_t> rows, columns;
    for (std::int32_t y = top; y <= bottom; y += kFiveMm) rows.push_back(y);
    for (std::int32_t x = left; x <= right; x += kFiveMm) columns.push_back(x);
    b.dot_rows(8, left, right, rows);
    extra += dot_columns(top, bottom, columns);
}

constexpr int kShownPages = 3;

// Border, title, patient line, rules and footer shared by every page.
void page_frame(PageFileBuilder& b, const char* title, const DemoPatientDetails& p, int page) {
    b.polyline({{0, 0}, {6250, 0}, {6250, 8843}, {0, 8843}, {0, 0}});
    b.text(150, 270, title, kTextLarge);
    b.text(3600, 190, "Patient Name :");
    b.text(4500, 190, p.name);
    b.text(3600, 330, "Patient No :");
    b.text(4500, 330, p.number);
    b.polyline({{31, 420}, {6218, 420}});
    b.polyline({{31, 8600}, {6218, 8600}});
    b.text(150, 8750, p.hospital + "   -   Holter ECG analysis", kTextTiny);
    b.text(5450, 8750, format_string("Page %d of %d", page, kShownPages), kTextTiny);
}

// A table: headings over fixed columns, a rule under them, the rows below; returns the y under
// the last rule.
std::int32_t table(PageFileBuilder& b, std::int32_t y, const std::vector<std::int32_t>& columns,
                   const std::vector<std::vector<std::string>>& rows) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size() && c < columns.size(); ++c)
            b.text(columns[c], y, rows[r][c], kTextSmall);
        if (r == 0) {
            b.polyline({{200, y + 45}, {6050, y + 45}});
            y += 40;
        }
        y += 150;
    }
    b.polyline({{200, y - 105}, {6050, y - 105}});
    return y;
}

std::string per_hour(int count) {
    const long tenths = (count * 10L + 12) / 24;
    return count > 0 && tenths == 0 ? std::string("< 0.1") : tenths_text(tenths);
}

std::string summary_page(const DemoPatientDetails& p, const Findings& f) {
    PageFileBuilder b;
    std::string extra;
    page_frame(b, "24-Hour Holter Report", p, 1);

    // Patient block: two label/value column pairs.
    const std::string recorded = [&] {
        const time_t t = static_cast<time_t>(p.recorded);
        struct tm tm {};
        ::gmtime_r(&t, &tm);
        return format_string("%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                             tm.tm_min);
    }();
    const std::pair<std::string, std::string> left[] = {{"Patient Name :", p.name},
                                                        {"Date of Birth :", p.birth_date},
                                                        {"Recorded :", recorded},
                                                        {"Physician :", p.physician}};
    const std::pair<std::string, std::string> right[] = {{"Patient No :", p.number},
                                                         {"Sex / Age :",
                                                          format_string("%s, %d years", p.sex.c_str(), p.age)},
                                                         {"Duration :", "24 h 00 min"},
                                                         {"Hospital :", p.hospital}};
    for (int r = 0; r < 4; ++r) {
        const std::int32_t y = 620 + r * 150;
        b.text(150, y, left[r].first);
        b.text(1250, y, left[r].second);
        b.text(3300, y, right[r].first);
        b.text(4400, y, right[r].second);
    }
    b.polyline({{31, 1140}, {6218, 1140}});

    b.text(150, 1400, "Analysis summary", kTextMedium);
    const std::string bpm = " bpm";
    table(b, 1590, {250, 2600, 3700},
          {{"Measurement", "Value", "Time"},
           {"Heart rate, minimum", std::to_string(f.min) + bpm, f.min_time},
           {"Heart rate, mean", std::to_string(f.mean) + bpm, ""},
           {"Heart rate, maximum", std::to_string(f.max) + bpm, f.max_time},
           {"Total beats", std::to_string(f.beats), ""},
           {"Ventricular ectopics", std::to_string(f.ve + 2 * f.couplets + f.v_runs * f.v_run_beats), ""},
           {"Supraventricular ectopics", std::to_string(f.sve + f.sv_runs * f.sv_run_beats), ""},
           {"Pauses over 2.0 s", std::to_string(f.pauses), "longest " + tenths_text(f.pause_tenths) + " s"}});

    // Hourly trend: 40 to 160 bpm over 1600 units, one column of 5200 / 24 units per hour.
    b.text(150, 3000, "Hourly heart rate", kTextMedium);
    const std::int32_t gl = 700, gr = 5900, gt = 3150, gb = 4750;
    auto y_of = [&](int rate) { return gb - (std::clamp(rate, 20, 160) - 20) * (gb - gt) / 140; };
    auto x_of = [&](int k, bool centre) { return gl + (2 * k + (centre ? 1 : 0)) * (gr - gl) / 48; };
    std::vector<std::int32_t> rate_rows;
    for (int rate = 40; rate < 160; rate += 20) rate_rows.push_back(y_of(rate));
    b.dot_rows(16, gl, gr, rate_rows);
    b.polyline({{gl, gt}, {gl, gb}, {gr, gb}});
    for (int rate = 20; rate <= 160; rate += 20) {
        b.text(380, y_of(rate) + 35, std::to_string(rate), kTextTiny);
        b.polyline({{gl - 50, y_of(rate)}, {gl, y_of(rate)}});
    }
    b.text(380, gt - 80, "bpm", kTextTiny);
    for (int k = 0; k <= 24; ++k) {
        b.polyline({{x_of(k, false), gb}, {x_of(k, false), gb + (k % 3 ? 30 : 60)}});
        if (k % 3 == 0) b.text(x_of(k, false) - 110, gb + 170, clock_text(f.hours[0].clock + k, 0), kTextTiny);
    }
    std::vector<fw::Pt> mean, lo, hi;
    for (int k = 0; k < 24; ++k) {
        const HourRates& h = f.hours[static_cast<std::size_t>(k)];
        mean.push_back({x_of(k, true), y_of(h.mean)});
        lo.push_back({x_of(k, true), y_of(h.min)});
        hi.push_back({x_of(k, true), y_of(h.max)});
    }
    b.polyline(mean);
    extra += dotted_polyline(lo);
    extra += dotted_polyline(hi);
    b.polyline({{2200, 5080}, {2500, 5080}});
    b.text(2560, 5110, "mean", kTextTiny);
    extra += dotted_polyline({{3200, 5080}, {3500, 5080}});
    b.text(3560, 5110, "minimum and maximum", kTextTiny);

    b.text(150, 5400, "Arrhythmia summary", kTextMedium);
    const std::string none = "-";
    const std::int32_t after = table(b, 5590, {250, 2600, 3500, 4400},
                                     {{"Event", "Count", "Per hour", "Longest / fastest"},
                                      {"Ventricular ectopics, isolated", std::to_string(f.ve), per_hour(f.ve), none},
                                      {"Ventricular couplets", std::to_string(f.couplets), per_hour(f.couplets), none},
                                      {"Ventricular runs", std::to_string(f.v_runs), per_hour(f.v_runs),
                                       format_string("%d beats, %d bpm", f.v_run_beats, f.v_run_rate)},
                                      {"Supraventricular ectopics", std::to_string(f.sve), per_hour(f.sve), none},
                                      {"Supraventricular runs", std::to_string(f.sv_runs), per_hour(f.sv_runs),
                                       format_string("%d beats, %d bpm", f.sv_run_beats, f.sv_run_rate)},
                                      {"Pauses over 2.0 s", std::to_string(f.pauses), per_hour(f.pauses),
                                       tenths_text(f.pause_tenths) + " s at " + f.pause_time.substr(0, 5)},
                                      {"Bradycardia under 50 bpm", format_string("%d episodes", f.brady_episodes), none,
                                       format_string("%d min in all", f.brady_minutes)},
                                      {"Atrial fibrillation", "0", none, none}});
    b.text(250, after + 120, "Predominant rhythm :");
    b.text(2600, after + 120, "Sinus rhythm");
    b.text(250, after + 270, "ST segment :");
    b.text(2600, after + 270, "No significant changes");
    return b.bytes() + extra;
}

struct Strip {
    std::string time;
    int channel;
    std::string event;
    std::vector<Beat> beats;
};

std::vector<Strip> event_strips(const Findings& f) {
    const double seconds = kStripSamples / kTraceSamplesPerSecond;
    const double rr = 60.0 / f.mean;
    std::vector<Strip> strips(4);
    strips[0] = {clock_text(f.first_hour + 5, 42, 6), 1, "Sinus rhythm, " + std::to_string(f.mean) + " bpm", {}};
    add_regular(strips[0].beats, 0.3, seconds, rr);

    strips[1] = {f.v_run_time, 1, format_string("Ventricular run, %d beats", f.v_run_beats), {}};
    add_regular(strips[1].beats, 0.3, 2.0, rr);
    double t = strips[1].beats.back().at + 0.45;
    const double v_rr = 60.0 / f.v_run_rate;
    for (int n = 0; n < f.v_run_beats; ++n, t += v_rr) strips[1].beats.push_back({t, true});
    add_regular(strips[1].beats, t + 0.5, seconds, rr);

    strips[2] = {f.pause_time, 2, "Pause " + tenths_text(f.pause_tenths) + " s", {}};
    add_regular(strips[2].beats, 0.4, 2.0, rr * 1.15);
    t = strips[2].beats.back().at + f.pause_tenths / 10.0;
    add_regular(strips[2].beats, t, seconds, rr * 1.15);

    strips[3] = {f.sv_run_time, 1, format_string("Supraventricular run, %d beats", f.sv_run_beats), {}};
    add_regular(strips[3].beats, 0.3, 1.8, rr);
    t = strips[3].beats.back().at + 0.48;
    const double sv_rr = 60.0 / f.sv_run_rate;
    for (int n = 0; n < f.sv_run_beats; ++n, t += sv_rr) strips[3].beats.push_back({t, false});
    add_regular(strips[3].beats, t + 0.3, seconds, rr);
    return strips;
}

std::string strips_page(const DemoPatientDetails& p, const Findings& f) {
    PageFileBuilder b;
    std::string extra;
    page_frame(b, "Event Strips", p, 2);
    const std::int32_t x0 = 400;
    const std::int32_t x1 = x0 + static_cast<std::int32_t>(kStripSamples * 172928LL / 65536);
    int top = 750;
    for (const Strip& s : event_strips(f)) {
        b.text(150, top, s.time + "     Channel " + std::to_string(s.channel) + "     " + s.event, kTextSmall);
        const std::int32_t grid_top = top + 80, grid_bottom = grid_top + 6 * kFiveMm;
        grid(b, extra, x0, grid_top, x1, grid_bottom);
        const std::int32_t baseline = grid_top + 4 * kFiveMm;
        // 1 mV calibration pulse before the trace.
        b.polyline({{180, baseline},
                    {230, baseline},
                    {230, baseline - 312},
                    {330, baseline - 312},
                    {330, baseline},
                    {380, baseline}});
        b.trace(x0, baseline, kTraceBase, kTraceGain, trace_samples(s.beats, kLeadII));
        b.text(x0, grid_bottom + 130, "25 mm/s   10 mm/mV", kTextTiny);
        top += 1900;
    }
    return b.bytes() + extra;
}

std::string conclusion_page(const DemoPatientDetails& p, const Findings& f) {
    PageFileBuilder b;
    page_frame(b, "Conclusion", p, 3);
    const std::string lines[] = {
        format_string("Sinus rhythm throughout, mean rate %d bpm (range %d to %d bpm).", f.mean, f.min, f.max),
        format_string("%d isolated ventricular ectopics, %d couplets and %d run%s of up to %d beats.", f.ve, f.couplets,
                      f.v_runs, f.v_runs > 1 ? "s" : "", f.v_run_beats),
        format_string("%d supraventricular ectopics; %d short supraventricular run%s, fastest %d bpm.", f.sve,
                      f.sv_runs, f.sv_runs > 1 ? "s" : "", f.sv_run_rate),
        format_string("%d pause%s over 2.0 s, the longest %s s at night.", f.pauses, f.pauses > 1 ? "s" : "",
                      tenths_text(f.pause_tenths).c_str()),
        "No atrial fibrillation. No ST changes of note.",
    };
    std::int32_t y = 900;
    for (const auto& l : lines) b.text(300, y, l), y += 200;
    b.text(300, y + 600, "Reported by :");
    b.polyline({{1400, y + 620}, {3600, y + 620}});
    b.text(300, y + 850, "Date :");
    b.polyline({{1400, y + 870}, {3600, y + 870}});
    return b.bytes();
}

// ---- 12-lead metafiles -----------------------------------------------------------------------

// Pixels of the 300 dpi reference device.
constexpr double kPxPerMm = 300.0 / 25.4;
constexpr fw::Rgb kBlack{0, 0, 0};
constexpr fw::Rgb kGridPink{240, 170, 170};

int mm(double v) { return static_cast<int>(std::lround(v * kPxPerMm)); }

void emf_grid(EmfWriter& w, int left, int top, int right, int bottom) {
    w.pen(fw::PenStyle::Solid, kGridPink, 1);
    for (double x = left; x <= right; x += mm(5))
        w.polyline({{static_cast<int>(x), top}, {static_cast<int>(x), bottom}});
    for (double y = top; y <= bottom; y += mm(5))
        w.polyline({{left, static_cast<int>(y)}, {right, static_cast<int>(y)}});
}

// A trace of `mv(t)` from x0 over `width` pixels at `mm_s` mm/s and `mm_mv` mm/mV.
template <typename F>
void emf_trace(EmfWriter& w, int x0, int baseline, int width, double mm_s, double mm_mv, double t0, F mv) {
    std::vector<fw::Pt> pts;
    for (int i = 0; i <= width; ++i) {
        const double t = t0 + i / (mm_s * kPxPerMm);
        pts.push_back({x0 + i, baseline - static_cast<int>(std::lround(mv(t) * mm_mv * kPxPerMm))});
    }
    w.pen(fw::PenStyle::Solid, kBlack, 2);
    w.polyline(pts);
}

// Group 1: seven seconds of all twelve leads, one row each; the chest leads at half gain so that
// their deep S and tall R waves stay in their rows.
std::string rhythm_strips(double rr) {
    const fw::Sz size{mm(191), mm(237.8)};
    EmfWriter w(size);
    emf_grid(w, mm(10), mm(3), size.cx - mm(2), size.cy - mm(12));
    w.text_colour(kBlack);
    std::vector<Beat> beats;
    add_regular(beats, 0.35, 8, rr);
    const double row = (size.cy - mm(15)) / 12.0;
    for (int n = 0; n < 12; ++n) {
        const Lead& l = kTwelveLeads[n];
        const int baseline = mm(3) + static_cast<int>(row * n + row * 0.62);
        w.font(mm(3.2), 700);
        w.text({mm(1), baseline - mm(6)}, l.name);
        const double gain = n < 6 ? 10 : 5;
        emf_trace(w, mm(10), baseline, size.cx - mm(12), 25, gain, 0, [&](double t) { return strip_mv(beats, l, t); });
    }
    w.font(mm(3));
    w.text({mm(10), size.cy - mm(4)}, "25 mm/s     limb leads 10 mm/mV, chest leads 5 mm/mV     0.05 - 150 Hz");
    return w.finish();
}

// Group 2: the global intervals, a median beat with its fiducial marks, and values per lead.
std::string interval_measurements(int rate) {
    const fw::Sz size{mm(191.5), mm(231.4)};
    EmfWriter w(size);
    w.text_colour(kBlack);
    w.font(mm(4.5), 700);
    w.text({mm(4), mm(8)}, "Interval measurements");
    const int qt = 400, qtc = static_cast<int>(std::lround(qt / std::sqrt(60.0 / rate)));
    const std::pair<std::string, std::string> globals[] = {
        {"Heart rate", std::to_string(rate) + " bpm"},
        {"PR interval", "158 ms"},
        {"QRS duration", "92 ms"},
        {"QT / QTc", format_string("%d / %d ms", qt, qtc)},
        {"Axis P / QRS / T", "54 / 38 / 41 deg"},
    };
    w.font(mm(3.2));
    for (int n = 0; n < 5; ++n) {
        w.text({mm(6), mm(18 + 6 * n)}, globals[n].first);
        w.text({mm(50), mm(18 + 6 * n)}, globals[n].second);
    }
    // Median beat of lead II at 50 mm/s and 20 mm/mV.
    const int left = mm(6), top = mm(52), right = left + mm(60), bottom = mm(112);
    emf_grid(w, left, top, right, bottom);
    const int baseline = top + mm(42);
    const double t0 = -0.35;
    emf_trace(w, left, baseline, right - left, 50, 20, t0, [](double t) { return sinus_beat(kLeadII, t); });
    w.font(mm(3.2));
    w.text({right + mm(8), top + mm(12)}, "Median beat, lead II");
    w.text({right + mm(8), top + mm(18)}, "50 mm/s   20 mm/mV");
    w.text({right + mm(8), top + mm(30)}, "P onset to Q onset: PR");
    w.text({right + mm(8), top + mm(36)}, "Q onset to J point: QRS");
    w.text({right + mm(8), top + mm(42)}, "Q onset to T end: QT");
    const std::pair<double, const char*> marks[] = {{-0.20, "P"}, {-0.042, "Q"}, {0.05, "J"}, {0.36, "T end"}};
    w.font(mm(3));
    for (const auto& [at, name] : marks) {
        const int x = left + mm((at - t0) * 50);
        w.pen(fw::PenStyle::Dash, kBlack, 1);
        w.polyline({{x, top + mm(4)}, {x, bottom - mm(2)}});
        w.text({x + mm(1), top + mm(8)}, name);
    }
    // Values per lead under fixed columns.
    const int columns[] = {mm(8), mm(35), mm(65), mm(95), mm(125), mm(155)};
    const char* headings[] = {"Lead", "R (mV)", "S (mV)", "QRS (ms)", "ST (mV)", "T (mV)"};
    w.font(mm(3.2), 700);
    int y = mm(124);
    for (int c = 0; c < 6; ++c) w.text({columns[c], y}, headings[c]);
    w.pen(fw::PenStyle::Solid, kBlack, 1);
    w.polyline({{mm(6), y + mm(1.5)}, {size.cx - mm(6), y + mm(1.5)}});
    w.font(mm(3.2));
    auto mv_text = [](double v) {
        const long h = std::lround(v * 100);
        return format_string("%s%ld.%02ld", h < 0 ? "-" : "", std::abs(h) / 100, std::abs(h) % 100);
    };
    for (int n = 0; n < 12; ++n) {
        const Lead& l = kTwelveLeads[n];
        y += mm(7.5);
        const std::string cells[] = {l.name,
                                     mv_text(std::max(l.r, 0.0)),
                                     mv_text(l.r < 0 ? l.r : -l.s),
                                     std::to_string(86 + (n * 7) % 13),
                                     mv_text(((n * 5) % 7 - 3) * 0.01),
                                     mv_text(l.t)};
        for (int c = 0; c < 6; ++c) w.text({columns[c], y}, cells[c]);
    }
    return w.finish();
}

// Group 3 column sizes: a slot of 4000 / 20000 of the page width by 24178 / 29700 of its height;
// the legend's slot is 2500 wide.
constexpr double kColumnHeightMm = 233.3;
constexpr int kCellsPerColumn = 3;

int cell_top(int n) { return mm(2) + n * mm(kColumnHeightMm / kCellsPerColumn); }

// Group 3: the averaged complexes of three leads at 50 mm/s with their ST values.
std::string st_column(int first_lead) {
    const fw::Sz size{mm(40.07), mm(kColumnHeightMm)};
    EmfWriter w(size);
    w.text_colour(kBlack);
    for (int n = 0; n < kCellsPerColumn; ++n) {
        const int index = first_lead + n;
        const Lead& l = kTwelveLeads[index];
        const double st = ((index * 5) % 7 - 3) * 0.01;
        const int top = cell_top(n), box_top = top + mm(7), box_bottom = top + mm(58);
        w.font(mm(3.5), 700);
        w.text({mm(2), top + mm(5)}, l.name);
        emf_grid(w, mm(1.5), box_top, size.cx - mm(1.5), box_bottom);
        w.pen(fw::PenStyle::Solid, kBlack, 1);
        w.null_brush();
        w.rectangle({mm(1.5), box_top, size.cx - mm(1.5), box_bottom});
        const int baseline = box_top + mm(33);
        const double t0 = -0.25;
        w.pen(fw::PenStyle::Dot, kBlack, 1);
        w.polyline({{mm(2), baseline}, {size.cx - mm(2), baseline}});
        for (double mark : {0.04, 0.10}) {
            const int x = mm(2) + mm((mark - t0) * 50);
            w.pen(fw::PenStyle::Dash, kBlack, 1);
            w.polyline({{x, baseline - mm(8)}, {x, baseline + mm(8)}});
        }
        emf_trace(w, mm(2), baseline, size.cx - mm(4), 50, 10, t0, [&](double t) { return sinus_beat(l, t, st); });
        w.font(mm(3));
        const long hundredths = std::lround(st * 100);
        w.text({mm(3), box_bottom + mm(6)},
               format_string("%s0.%02ld mV", hundredths < 0 ? "-" : "+", std::abs(hundredths)));
        const int slope = (index * 7 + 3) % 9 - 3;  // half mV/s
        w.text({mm(3), box_bottom + mm(11)}, format_string("%+d.%d mV/s", slope / 2, std::abs(slope % 2) * 5));
    }
    return w.finish();
}

// The legend strip beside the ST columns: what each cell shows, and a 1 mV calibration.
std::string st_legend() {
    const fw::Sz size{mm(25.04), mm(kColumnHeightMm)};
    EmfWriter w(size);
    w.text_colour(kBlack);
    for (int n = 0; n < kCellsPerColumn; ++n) {
        const int top = cell_top(n), box_top = top + mm(7), box_bottom = top + mm(58);
        const int baseline = box_top + mm(33);
        w.font(mm(3.5), 700);
        w.text({mm(1), top + mm(5)}, "Lead");
        w.pen(fw::PenStyle::Solid, kBlack, 2);
        w.polyline({{mm(2), baseline},
                    {mm(5), baseline},
                    {mm(5), baseline - mm(10)},
                    {mm(10), baseline - mm(10)},
                    {mm(10), baseline},
                    {mm(13), baseline}});
        w.font(mm(2.8));
        w.text({mm(11), baseline - mm(11)}, "1 mV");
        w.text({mm(1), box_bottom - mm(10)}, "50 mm/s");
        w.text({mm(1), box_bottom - mm(5)}, "10 mm/mV");
        w.font(mm(3));
        w.text({mm(1), box_bottom + mm(6)}, "ST level");
        w.text({mm(1), box_bottom + mm(11)}, "ST slope");
    }
    return w.finish();
}

std::string emf_list(const DemoPatientDetails& p, const std::vector<std::pair<std::string, std::string>>& entries) {
    const time_t t = static_cast<time_t>(p.recorded);
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    std::string f(64, '\0');
    f[19] = static_cast<char>(tm.tm_sec);
    f[20] = static_cast<char>(tm.tm_min);
    f[21] = static_cast<char>(tm.tm_hour);
    f[22] = static_cast<char>(tm.tm_mday);
    f[23] = static_cast<char>(tm.tm_mon + 1);
    f[24] = static_cast<char>(tm.tm_year - 100);
    store_le16(reinterpret_cast<std::uint8_t*>(f.data() + 25), static_cast<std::uint16_t>(entries.size()));
    for (const auto& [name, description] : entries) {
        append_le16(f, static_cast<std::uint16_t>(name.size()));
        f += name;
        append_le16(f, static_cast<std::uint16_t>(description.size()));
        f += description;
    }
    return f;
}

}  // namespace

bool write_demo_pages(const std::string& staging, const DemoPatientDetails& patient) {
    const Findings f = make_findings(patient);
    std::vector<std::string> pages(1 + kShownPages);
    {
        PageFileBuilder b;
        b.label("summary");
        pages[0] = b.bytes();
    }
    pages[1] = summary_page(patient, f);
    pages[2] = strips_page(patient, f);
    pages[3] = conclusion_page(patient, f);
    for (std::size_t n = 0; n < pages.size(); ++n)
        if (!platform::atomic_write_file(staging + "PAGE." + std::to_string(n), pages[n])) return false;
    return true;
}

bool write_demo_twelve_lead(const std::string& staging, const DemoPatientDetails& patient) {
    const int rate = 68 + (patient.variant < 0 ? -patient.variant : patient.variant) % 12;
    // Ten minutes into the recording, at 128 samples a second.
    const std::string sample = format_string("%07d", 600 * 128);
    const std::string st_names[] = {"STA-" + sample + "-64.emf", "STB-" + sample + "-64.emf",
                                    "STC-" + sample + "-64.emf", "STD-" + sample + "-64.emf"};
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"RHY-" + sample + "-60.emf", "Rhythm strips, 12 leads"},
        {"INT-" + sample + "-62.emf", "Interval measurements"},
        {st_names[0], "ST measurements I, II, III"},
        {st_names[1], "ST measurements aVR, aVL, aVF"},
        {st_names[2], "ST measurements V1, V2, V3"},
        {st_names[3], "ST measurements V4, V5, V6"},
    };
    std::vector<std::pair<std::string, std::string>> files = {
        {entries[0].first, rhythm_strips(60.0 / rate)},
        {entries[1].first, interval_measurements(rate)},
        // The four-picture page plays the legend named after its first picture.
        {"STA-" + sample + "-63.emf", st_legend()},
    };
    for (int n = 0; n < 4; ++n) files.push_back({st_names[n], st_column(3 * n)});
    files.push_back({"emflist.dat", emf_list(patient, entries)});
    for (const auto& [name, bytes] : files)
        if (!platform::atomic_write_file(staging + name, bytes)) return false;
    return true;
}

bool write_demo_channels(const std::string& staging, const DemoPatientDetails& patient) {
    constexpr int kRate = 128;
    constexpr double kStepsPerMv = 200;
    const double rr = 60.0 / make_findings(patient).mean;
    std::vector<Beat> beats;
    add_regular(beats, 0.4, kDemoRecordingSeconds, rr);
    // A premature ventricular beat, a third of the way in, before a compensatory pause.
    Beat& early = beats[beats.size() / 3];
    early = {early.at - 0.35 * rr, true};
    const Lead* const channels[] = {&kTwelveLeads[10], &kTwelveLeads[6], &kTwelveLeads[5]};
    for (int c = 0; c < 3; ++c) {
        std::string words;
        words.reserve(kDemoRecordingSeconds * kRate * 2);
        for (int i = 0; i < kDemoRecordingSeconds * kRate; ++i) {
            const long v = std::lround(2048 + strip_mv(beats, *channels[c], double(i) / kRate) * kStepsPerMv);
            append_le16(words, static_cast<std::uint16_t>(std::clamp(v, 1L, 4095L)));
        }
        if (!platform::atomic_write_file(staging + "RAWECG" + std::to_string(c + 1) + ".DAT", words)) return false;
    }
    return true;
}

std::string demo_patient_sound() {
    constexpr std::uint32_t kRate = 8000;
    constexpr int kSamples = kRate * 8 / 10;
    constexpr double kNote = 0.4;  // seconds each
    std::string data;
    for (int i = 0; i < kSamples; ++i) {
        const double t = double(i) / kRate;
        const double in_note = std::fmod(t, kNote);
        const double hz = t < kNote ? 659.25 : 523.25;
        // A 10 ms rise and a bell-like decay: no click at either end.
        const double envelope = std::min(1.0, in_note / 0.01) * std::exp(-6 * in_note) * (1 - in_note / kNote);
        const long v = std::lround(8000 * envelope * std::sin(2 * 3.14159265358979 * hz * t));
        append_le16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    std::string wav = "RIFF";
    append_le32(wav, static_cast<std::uint32_t>(36 + data.size()));
    wav += "WAVEfmt ";
    append_le32(wav, 16);  // format chunk size
    append_le16(wav, 1);   // PCM
    append_le16(wav, 1);   // mono
    append_le32(wav, kRate);
    append_le32(wav, kRate * 2);  // bytes a second
    append_le16(wav, 2);          // bytes a sample frame
    append_le16(wav, 16);         // bits a sample
    wav += "data";
    append_le32(wav, static_cast<std::uint32_t>(data.size()));
    return wav + data;
}

}  // namespace tv::demo
