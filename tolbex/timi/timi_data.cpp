#include "tolbex/timi/timi_data.h"

#include <algorithm>
#include <cmath>

#include "common/civil_days.h"
#include "common/number_text.h"
#include "common/text.h"
#include "common/values.h"

namespace tv {

namespace {

int days_in_month(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return kDays[m - 1];
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Reads 1 to `max_digits` digits at `pos`.
bool read_digits(std::string_view text, std::size_t& pos, int max_digits, int& value) {
    if (pos >= text.size() || !is_digit(text[pos])) return false;
    const ParsedInteger n = parse_integer(text.substr(pos, static_cast<std::size_t>(max_digits)));
    value = static_cast<int>(n.value);
    pos += n.end;
    return true;
}

bool parse_time_at(std::string_view text, std::size_t& pos, int& h, int& m, int& s) {
    if (!read_digits(text, pos, 2, h)) return false;
    if (pos >= text.size() || text[pos] != ':') return false;
    ++pos;
    if (!read_digits(text, pos, 2, m)) return false;
    s = 0;
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        if (!read_digits(text, pos, 2, s)) return false;
    }
    return h < 24 && m < 60 && s < 60;
}

constexpr const char* kHeadings[kTimiColumns] = {" Use? ",   " Day ",    " Time ",   " HR ",  " STBase1 ", " JAbs1 ",
                                                 " STAbs1 ", " STDev1 ", " Slope1 ", " Ch1 ", " STBase2 ", " JAbs2 ",
                                                 " STAbs2 ", " STDev2 ", " Slope2 ", " Ch2 ", " STBase3 ", " JAbs3 ",
                                                 " STAbs3 ", " STDev3 ", " Slope3 ", " Ch3 "};

bool valid_row(const std::vector<TimiRow>& rows, std::int64_t r) { return r >= 0 && r < std::int64_t(rows.size()); }

}  // namespace

// --- date-times ---

TimiDateTime TimiDateTime::from_parts(int year, int month, int day, int h, int m, int s) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || h < 0 ||
        h > 23 || m < 0 || m > 59 || s < 0 || s > 59) {
        return {TimiStatus::Invalid, 0};
    }
    return {TimiStatus::Valid, days_from_civil(year, month, day) * 86400 + h * 3600LL + m * 60LL + s};
}

std::int64_t TimiDateTime::day_number() const { return floor_div(seconds, 86400); }

std::int32_t TimiDateTime::second_of_day() const { return static_cast<std::int32_t>(seconds - day_number() * 86400); }

void TimiDateTime::date_parts(int& year, int& month, int& day) const {
    civil_from_days(day_number(), year, month, day);
}

std::string TimiDateTime::time_text() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour(), minute(), second());
    return buffer;
}

std::string TimiDateTime::date_text() const {
    int y = 0, m = 0, d = 0;
    date_parts(y, m, d);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%d", d, m, y);
    return buffer;
}

bool parse_timi_time(std::string_view text, TimiDateTime& out) {
    text = trim_blanks(text);
    std::size_t pos = 0;
    int h = 0, m = 0, s = 0;
    if (!parse_time_at(text, pos, h, m, s) || pos != text.size()) return false;
    out = TimiDateTime::time_of_day(h, m, s);
    return true;
}

bool parse_timi_date_time(std::string_view text, TimiDateTime& out) {
    text = trim_blanks(text);
    std::size_t pos = 0;
    int d = 0, mo = 0, y = 0;
    if (!read_digits(text, pos, 2, d) || pos >= text.size() || text[pos] != '/') return false;
    ++pos;
    if (!read_digits(text, pos, 2, mo) || pos >= text.size() || text[pos] != '/') return false;
    ++pos;
    const std::size_t year_start = pos;
    if (!read_digits(text, pos, 4, y)) return false;
    if (pos - year_start <= 2) y += y < 50 ? 2000 : 1900;
    int h = 0, mi = 0, s = 0;
    if (pos < text.size()) {
        if (text[pos] != ' ') return false;
        while (pos < text.size() && text[pos] == ' ') ++pos;
        if (!parse_time_at(text, pos, h, mi, s) || pos != text.size()) return false;
    }
    const TimiDateTime value = TimiDateTime::from_parts(y, mo, d, h, mi, s);
    if (!value.is_valid()) return false;
    out = value;
    return true;
}

std::string format_episode_span(const TimiSpan& span) {
    const std::int64_t t = span.seconds < 0 ? 0 : span.seconds;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%3lld:%02d:%02d", static_cast<long long>(t / 3600),
                  static_cast<int>(t / 60 % 60), static_cast<int>(t % 60));
    return buffer;
}

std::string format_stemi_span(const TimiSpan& span) {
    if (span.status != TimiStatus::Valid || span.seconds < 0) return "--:--:--";
    const std::int64_t t = span.seconds;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02d:%02d", static_cast<long long>(t / 3600),
                  static_cast<int>(t / 60 % 60), static_cast<int>(t % 60));
    return buffer;
}

// --- texts ---

std::string slope_criterion_text(std::int32_t bits) {
    if (bits == -1) return "INVALID";
    std::string text;
    const auto add = [&](const char* word) {
        if (!text.empty()) text += ", ";
        text += word;
    };
    if (bits > 0) {
        if (bits & kSlopeUp) add("UP");
        if (bits & kSlopeDown) add("DOWN");
        if (bits & kSlopeLevel) add("LEVEL");
    }
    return text.empty() ? "MISSING" : text;
}

std::int32_t slope_criterion_bits(std::string_view text) {
    std::int32_t bits = 0;
    if (text.find("UP") != std::string_view::npos) bits |= kSlopeUp;
    if (text.find("DOWN") != std::string_view::npos) bits |= kSlopeDown;
    if (text.find("LEVEL") != std::string_view::npos) bits |= kSlopeLevel;
    return bits;
}

std::string timi_column_heading(int col) { return col >= 0 && col < kTimiColumns ? kHeadings[col] : std::string(); }

std::string timi_column_sample(int col) {
    if (col < 0 || col >= kTimiColumns) return {};
    if (col == kColUse || col == 9 || col == 15 || col == 21) return "X";
    if (col == kColDay) return " 9";
    if (col == kColTime) return " 99:99:99 ";
    if (col == kColHr) return " 999 ";
    return " -99.99";
}

bool read_timi_value(std::string_view text, double& value) {
    text = trim_blanks(text);
    if (text.empty()) {
        value = kTimiMissing;
        return true;
    }
    double v = 0.0;
    if (!parse_double_field(text, v)) return false;
    // Anything beyond the measuring range is no measurement (never a fabricated 0).
    value = (v < -9999.99 || v > 9999.99) ? kTimiMissing : v;
    return true;
}

std::string timi_value_text(double value) { return timi_present(value) ? format_fixed(value, 2) : std::string(); }

// --- STEMI record ---

void StemiMeasurement::reset() {
    reserved = 0;
    peak_time = TimiDateTime::null_value();
    peak_day = 0;
    peak_fixed = false;
    fixed_peak_row = 0;
    peak_value = 0.0;
    for (auto& s : time_to) s = TimiSpan::null_value();
    for (auto& s : time_below_4h) s = TimiSpan::null_value();
    slope_at = {};
    infusion_time = TimiDateTime::null_value();
    infusion_day = 0;
    for (auto& s : infusion_to) s = TimiSpan::null_value();
    text.clear();
}

// --- data ---

TimiData::TimiData() {
    rows.reserve(10000);
    for (auto& s : stemi) {
        s.peak_fixed = false;
        s.infusion_time = TimiDateTime::null_value();
        for (auto& span : s.infusion_to) span = TimiSpan::null_value();
    }
}

std::string TimiData::cell_text(std::int32_t row, int col) const {
    if (!valid_row(rows, row) || col < 0 || col >= kTimiColumns) return {};
    const TimiRow& r = rows[row];
    switch (col) {
        case kColUse: return r.use ? "Y" : "N";
        case kColDay: return std::to_string(r.day);
        case kColTime: return r.time.time_text();
        case kColHr: return r.heart_rate == kTimiMissingInt ? std::string() : std::to_string(r.heart_rate);
        default: break;
    }
    const int c = (col - 4) / 6;
    const TimiChannelValues& v = r.channel[c];
    switch ((col - 4) % 6) {
        case 0: return timi_value_text(v.st_base);
        case 1: return timi_value_text(v.j_abs);
        case 2: return timi_value_text(v.st_abs);
        case 3: return timi_value_text(v.st_dev);
        case 4: return timi_value_text(v.slope);
        default: return v.flag ? "Y" : "N";
    }
}

void TimiData::set_use(std::int32_t row, bool use) {
    if (!valid_row(rows, row)) return;
    TimiRow& r = rows[row];
    r.use = use;
    if (!use) {
        for (auto& c : r.channel) c.flag = false;
    } else if (!r.channel[0].flag && !r.channel[1].flag && !r.channel[2].flag) {
        r.channel[0].flag = true;
    }
}

void TimiData::toggle_use(std::int32_t row) {
    if (valid_row(rows, row)) set_use(row, !rows[row].use);
}

bool TimiData::is_used(std::int32_t row) const { return valid_row(rows, row) && rows[row].use; }

void TimiData::select_channel(std::int32_t row, int channel) {
    if (!valid_row(rows, row) || channel < 0 || channel >= kTimiChannels) return;
    TimiRow& r = rows[row];
    for (auto& c : r.channel) c.flag = false;
    r.channel[channel].flag = true;
    r.use = true;
}

void TimiData::clear_channel(std::int32_t row, int channel) {
    if (!valid_row(rows, row) || channel < 0 || channel >= kTimiChannels) return;
    TimiRow& r = rows[row];
    r.channel[channel].flag = false;
    if (!r.channel[0].flag && !r.channel[1].flag && !r.channel[2].flag) r.use = false;
}

void TimiData::toggle_channel(std::int32_t row, int channel) {
    if (!valid_row(rows, row) || channel < 0 || channel >= kTimiChannels) return;
    if (rows[row].channel[channel].flag) {
        clear_channel(row, channel);
    } else {
        select_channel(row, channel);
    }
}

std::int32_t TimiData::heart_rate_at(std::int64_t row) const {
    const std::int64_t n = row_count();
    if (n == 0) return 0;
    const auto has_rate = [&](std::int64_t r) {
        const std::int32_t hr = rows[r].heart_rate;
        return hr != kTimiMissingInt && hr != 0;
    };
    if (row >= 0 && row < n && has_rate(row)) return rows[row].heart_rate;
    const std::int64_t c = std::clamp<std::int64_t>(row, 0, n - 1);
    for (std::int64_t d = 0; d < n; ++d) {
        if (c - d >= 0 && has_rate(c - d)) return -rows[c - d].heart_rate;
        if (d > 0 && c + d < n && has_rate(c + d)) return -rows[c + d].heart_rate;
        if (c - d < 0 && c + d >= n) break;
    }
    return 0;
}

std::int32_t TimiData::max_heart_rate(std::int64_t a, std::int64_t b) const {
    a = std::max<std::int64_t>(a, 0);
    b = std::min<std::int64_t>(b, row_count() - 1);
    bool any = false;
    std::int32_t best = 0;
    for (std::int64_t r = a; r <= b; ++r) {
        const std::int32_t hr = rows[r].heart_rate;
        if (hr == kTimiMissingInt) continue;
        if (!any || hr > best) best = hr;
        any = true;
    }
    return any ? best : 0;
}

double TimiData::max_abs_st_dev(std::int64_t a, std::int64_t b) const {
    a = std::max<std::int64_t>(a, 0);
    b = std::min<std::int64_t>(b, row_count() - 1);
    double best = 0.0;
    for (std::int64_t r = a; r <= b; ++r) {
        for (const auto& c : rows[r].channel) {
            if (!c.flag || !timi_present(c.st_abs) || !timi_present(c.st_base)) continue;
            const double v = c.st_abs - c.st_base;
            if (std::fabs(v) > std::fabs(best)) best = v;
        }
    }
    return best;
}

double TimiData::max_abs_st_abs(std::int64_t a, std::int64_t b) const {
    a = std::max<std::int64_t>(a, 0);
    b = std::min<std::int64_t>(b, row_count() - 1);
    double best = 0.0;
    for (std::int64_t r = a; r <= b; ++r) {
        for (const auto& c : rows[r].channel) {
            if (!c.flag || !timi_present(c.st_abs)) continue;
            if (std::fabs(c.st_abs) > std::fabs(best)) best = c.st_abs;
        }
    }
    return best;
}

double TimiData::ischaemic_burden(std::int64_t a, std::int64_t b) const {
    const std::int64_t lo = std::max<std::int64_t>(a, 0);
    const std::int64_t hi = std::min<std::int64_t>(b, row_count() - 1);
    double sum = 0.0;
    std::int64_t count = 0;
    for (std::int64_t r = lo; r <= hi; ++r) {
        for (const auto& c : rows[r].channel) {
            if (!timi_present(c.st_abs)) continue;
            sum += c.st_abs;
            ++count;
        }
    }
    if (count == 0) return 0.0;
    return sum / static_cast<double>(count) * static_cast<double>(b - a + 1) * kTimiRowSeconds;
}

std::int32_t TimiData::depression_heart_rate(std::int64_t a, std::int64_t b) const {
    a = std::max<std::int64_t>(a, 0);
    b = std::min<std::int64_t>(b, row_count() - 1);
    for (std::int64_t r = a; r <= b; ++r) {
        for (const auto& c : rows[r].channel) {
            if (!c.flag || !timi_present(c.st_abs) || !timi_present(c.st_base)) continue;
            if (c.st_abs - c.st_base <= -1.0) {
                const std::int32_t hr = rows[r].heart_rate;
                return hr == kTimiMissingInt ? -1 : hr;
            }
        }
    }
    return -1;
}

std::int32_t TimiData::peak_row(int channel, std::int64_t a, std::int64_t end) const {
    a = std::max<std::int64_t>(a, 0);
    end = std::min<std::int64_t>(end, row_count());
    std::int32_t best_row = -1;
    double best = 0.0;
    for (std::int64_t r = a; r < end; ++r) {
        const double v = rows[r].channel[channel].st_abs;
        if (!timi_present(v)) continue;
        if (best_row < 0 || std::fabs(v) > std::fabs(best)) {
            best = v;
            best_row = static_cast<std::int32_t>(r);
        }
    }
    return best_row;
}

double TimiData::slope_at(int channel, std::int64_t row) const {
    if (row < 1 || row >= row_count()) return 0.0;
    const double now = rows[row].channel[channel].st_abs;
    const double before = rows[row - 1].channel[channel].st_abs;
    if (!timi_present(now) || !timi_present(before)) return 0.0;
    return (now - before) / kTimiRowSeconds;
}

void TimiData::selection_range(int channel, std::int32_t& first, std::int32_t& end) const {
    first = -1;
    end = -1;
    const std::int32_t n = row_count();
    for (std::int32_t r = 0; r < n; ++r) {
        if (rows[r].channel[channel].flag) {
            first = r;
            break;
        }
    }
    if (first < 0) return;
    end = n;
    for (std::int32_t r = first + 1; r < n; ++r) {
        if (!rows[r].channel[channel].flag) {
            end = r;
            break;
        }
    }
}

std::int32_t TimiData::run_search(int channel, std::int64_t a, std::int64_t end, double fraction, double reference,
                                  int run) const {
    a = std::max<std::int64_t>(a, 0);
    end = std::min<std::int64_t>(end, row_count());
    const double limit = fraction * reference;
    std::int64_t start = -1;
    int length = 0;
    for (std::int64_t r = a; r < end; ++r) {
        const double v = rows[r].channel[channel].st_abs;
        if (!timi_present(v)) continue;  // neither counts nor breaks the run
        if (v < limit) {
            if (length == 0) start = r;
            if (++length >= run) return static_cast<std::int32_t>(start);
        } else {
            length = 0;
        }
    }
    return -1;
}

TimiSpan TimiData::span_to_row(std::int32_t day, const TimiDateTime& time, std::int32_t row) const {
    if (!valid_row(rows, row)) return TimiSpan::null_value();
    const TimiDateTime& t = rows[row].time;
    if (time.status == TimiStatus::Null || t.status == TimiStatus::Null) return TimiSpan::null_value();
    if (time.status == TimiStatus::Invalid || t.status == TimiStatus::Invalid) return {TimiStatus::Invalid, 0};
    return {TimiStatus::Valid,
            (static_cast<std::int64_t>(rows[row].day) - day) * 86400 + (t.second_of_day() - time.second_of_day())};
}

void TimiData::finish_totals() {
    std::int64_t with_base = 0;
    for (const auto& r : rows) with_base += timi_present(r.channel[0].st_base) ? 1 : 0;
    const std::int64_t minutes = with_base / 2;
    header.duration = std::to_string(minutes / 60) + " hrs " + std::to_string(minutes % 60) + " mins";
    const std::int64_t half = header.row_count / 2;
    const std::int64_t mean = half == 0 ? 0 : header.beat_sum / half;
    header.mean_hr = clamp32(mean);
}

void TimiData::compute_stemi(std::array<std::int32_t, 3>& first, std::array<std::int32_t, 3>& end) {
    for (int c = 0; c < kTimiChannels; ++c) compute_stemi_channel(c, first[c], end[c]);
}

void TimiData::compute_stemi_channel(int c, std::int32_t& first, std::int32_t& end) {
    static constexpr double kFractions[3] = {0.5, 0.3, 0.1};
    static constexpr int kSustainedRows = 480;
    if (c < 0 || c >= kTimiChannels) return;
    StemiMeasurement& m = stemi[c];
    if (first < 0 || end < 0 || first >= row_count()) {
        m.reset();
        return;
    }
    const std::int32_t e = std::min(end, row_count());
    const std::int32_t peak = m.peak_fixed ? m.fixed_peak_row : peak_row(c, first, e);
    if (!valid_row(rows, peak) || !timi_present(rows[peak].channel[c].st_abs) || rows[peak].channel[c].st_abs < 0) {
        m.reset();
        first = -1;
        end = -1;
        return;
    }
    const TimiRow& p = rows[peak];
    m.peak_time = p.time;
    m.peak_day = p.day;
    m.peak_value = p.channel[c].st_abs;
    for (int k = 0; k < 3; ++k) {
        const std::int32_t r = run_search(c, peak, e, kFractions[k], m.peak_value, 1);
        if (r < 0) {
            m.time_to[k] = TimiSpan::null_value();
            m.slope_at[k] = 0.0;
        } else {
            m.time_to[k] = span_to_row(m.peak_day, m.peak_time, r);
            m.slope_at[k] = slope_at(c, r);
        }
    }
    for (int k = 0; k < 2; ++k) {
        const std::int32_t r = run_search(c, peak, e, kFractions[k], m.peak_value, kSustainedRows);
        m.time_below_4h[k] = r < 0 ? TimiSpan::null_value() : span_to_row(m.peak_day, m.peak_time, r);
    }
    for (int k = 0; k < 3; ++k) {
        if (m.infusion_time.status == TimiStatus::Null) {
            m.infusion_to[k] = TimiSpan::null_value();
            continue;
        }
        const std::int32_t r = run_search(c, peak, e, kFractions[k], m.peak_value, 1);
        m.infusion_to[k] = r < 0 ? TimiSpan::null_value() : span_to_row(m.infusion_day, m.infusion_time, r);
    }
}

}  // namespace tv
