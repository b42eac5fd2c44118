// One TIMI analysis in memory: 30-second rows of ST measurements over several recording days,
// the header, one STEMI record per channel and the five arrhythmia counts.
#pragma once
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tv {

// The missing-value marks of the tables and files.
inline constexpr double kTimiMissing = -2147483648.0;
inline constexpr std::int32_t kTimiMissingInt = std::numeric_limits<std::int32_t>::min();
inline constexpr int kTimiChannels = 3;
inline constexpr int kTimiColumns = 22;
inline constexpr int kTimiRowSeconds = 30;

inline bool timi_present(double v) { return v != kTimiMissing; }

enum class TimiStatus { Valid, Invalid, Null };

// A date-time on the recording's own calendar (no time zone): seconds since 1970-01-01 00:00:00.
// A time-only value lies in day 0 (0 .. 86399).
struct TimiDateTime {
    TimiStatus status = TimiStatus::Valid;
    std::int64_t seconds = 0;

    static TimiDateTime null_value() { return {TimiStatus::Null, 0}; }
    static TimiDateTime time_of_day(int h, int m, int s) { return {TimiStatus::Valid, h * 3600LL + m * 60LL + s}; }
    // Invalid when the parts do not make a date-time.
    static TimiDateTime from_parts(int year, int month, int day, int h, int m, int s);

    bool is_valid() const { return status == TimiStatus::Valid; }
    std::int64_t day_number() const;     // whole days since 1970-01-01 (floor)
    std::int32_t second_of_day() const;  // 0 .. 86399
    int hour() const { return second_of_day() / 3600; }
    int minute() const { return second_of_day() / 60 % 60; }
    int second() const { return second_of_day() % 60; }
    void date_parts(int& year, int& month, int& day) const;

    std::string time_text() const;  // "%H:%M:%S"
    std::string date_text() const;  // "%d/%m/%Y"
    bool operator==(const TimiDateTime& o) const {
        return status == o.status && (status == TimiStatus::Null || seconds == o.seconds);
    }
};

struct TimiSpan {
    TimiStatus status = TimiStatus::Valid;
    std::int64_t seconds = 0;
    static TimiSpan null_value() { return {TimiStatus::Null, 0}; }
};

// "%H:%M:%S" (hours 0-23, a single hour digit allowed, seconds optional); blanks around allowed.
bool parse_timi_time(std::string_view text, TimiDateTime& out);
// "%d/%m/%Y %H:%M:%S" (time optional, seconds optional; two-digit years are 19xx/20xx).
bool parse_timi_date_time(std::string_view text, TimiDateTime& out);

// "%3d:%02d:%02d": total hours (whole days counted as 24), minutes, seconds.
std::string format_episode_span(const TimiSpan& span);
// "%02d:%02d:%02d" with total hours; "--:--:--" for a null, invalid or negative span.
std::string format_stemi_span(const TimiSpan& span);

struct TimiChannelValues {
    double st_base = kTimiMissing;
    double j_abs = kTimiMissing;
    double st_abs = kTimiMissing;
    double st_dev = kTimiMissing;
    double slope = kTimiMissing;
    bool flag = false;
};

struct TimiRow {
    bool use = false;
    std::int32_t day = 0;
    TimiDateTime time;
    std::int32_t heart_rate = kTimiMissingInt;
    std::array<TimiChannelValues, kTimiChannels> channel;
};

// Slope criterion bits; -1 not read, 0 empty.
inline constexpr std::int32_t kSlopeUp = 1;
inline constexpr std::int32_t kSlopeDown = 2;
inline constexpr std::int32_t kSlopeLevel = 4;
inline constexpr std::int32_t kSlopeNotRead = -1;

// "UP", "DOWN", "LEVEL" joined by ", "; "MISSING" for 0; "INVALID" for -1.
std::string slope_criterion_text(std::int32_t bits);
// The bits of the words found in `text`.
std::int32_t slope_criterion_bits(std::string_view text);

struct TimiHeader {
    std::string patient_id;
    std::string recording_id;
    TimiDateTime start{TimiStatus::Invalid, 0};
    std::string duration;  // "%d hrs %d mins"
    std::int32_t min_hr = std::numeric_limits<std::int32_t>::max();
    std::int32_t max_hr = std::numeric_limits<std::int32_t>::min();
    std::int32_t mean_hr = 0;
    // Running totals for the mean heart rate.
    std::int64_t beat_sum = 0;
    std::int64_t row_count = 0;
    std::array<double, kTimiChannels> elevation{};
    std::array<double, kTimiChannels> depression{};
    std::array<std::int32_t, kTimiChannels> slope{kSlopeNotRead, kSlopeNotRead, kSlopeNotRead};
};

struct StemiMeasurement {
    std::int32_t reserved = 0;
    TimiDateTime peak_time;
    std::int32_t peak_day = 0;
    bool peak_fixed = false;
    std::int32_t fixed_peak_row = 0;
    double peak_value = 0.0;
    std::array<TimiSpan, 3> time_to;        // 50, 30, 10 per cent
    std::array<TimiSpan, 2> time_below_4h;  // 50, 30 per cent for more than four hours
    std::array<double, 3> slope_at{};       // mm/s at 50, 30, 10 per cent
    TimiDateTime infusion_time;
    std::int32_t infusion_day = 0;
    std::array<TimiSpan, 3> infusion_to;  // 50, 30, 10 per cent
    std::string text;

    // Every status null, numbers 0, not fixed, no text.
    void reset();
};

enum ArrhythmiaCountIndex { kCountVtBelow100 = 0, kCountVtAbove100, kCountSvt, kCountBradycardia, kCountPauses };

// Column numbers of the table.
inline constexpr int kColUse = 0;
inline constexpr int kColDay = 1;
inline constexpr int kColTime = 2;
inline constexpr int kColHr = 3;
inline constexpr int channel_first_col(int c) { return 4 + 6 * c; }
inline constexpr int channel_flag_col(int c) { return 9 + 6 * c; }

// Heading and width sample text of a column; empty outside 0..21.
std::string timi_column_heading(int col);
std::string timi_column_sample(int col);

// Reads a numeric field: empty or beyond +-9999.99 is missing; false for text that is no number.
bool read_timi_value(std::string_view text, double& value);
// "%.2f", empty when missing.
std::string timi_value_text(double value);

// Why a data file did not read: its line (from 1; 0 when the file itself could not be read)
// and what was wrong there.
struct TimiFileFault {
    std::int32_t line = 0;
    std::string reason;
};
// "The TIMI data file "<path>" cannot be read: line <n>: <reason>." (no line part for line 0).
std::string timi_data_file_error_text(const std::string& path, const TimiFileFault& fault);

class TimiData {
public:
    TimiData();

    std::vector<TimiRow> rows;
    TimiHeader header;
    std::int32_t day_count = 0;
    std::array<StemiMeasurement, kTimiChannels> stemi;
    std::array<std::int32_t, 5> arrhythmia_counts{};

    std::int32_t row_count() const { return static_cast<std::int32_t>(rows.size()); }
    // The text of one cell as the grid shows it and the data file stores it.
    std::string cell_text(std::int32_t row, int col) const;

    // --- row selection ---
    void set_use(std::int32_t row, bool use);
    void toggle_use(std::int32_t row);
    bool is_used(std::int32_t row) const;
    void select_channel(std::int32_t row, int channel);
    void clear_channel(std::int32_t row, int channel);
    void toggle_channel(std::int32_t row, int channel);

    // --- accessors over rows; ranges a..b are inclusive and clamped into the table ---
    // The row's heart rate; else the nearest row's with one, negated; 0 when none.
    std::int32_t heart_rate_at(std::int64_t row) const;
    std::int32_t max_heart_rate(std::int64_t a, std::int64_t b) const;  // 0 when none
    // Signed value of greatest size over selected channels; 0 when none.
    double max_abs_st_dev(std::int64_t a, std::int64_t b) const;
    double max_abs_st_abs(std::int64_t a, std::int64_t b) const;
    // Mean of all present ST absolute values of the three channels times (b - a + 1) times 30.
    double ischaemic_burden(std::int64_t a, std::int64_t b) const;
    // Heart rate of the first row where a selected channel is depressed by 1 mm or more; -1 when
    // none; a row without heart rate answers -1 too.
    std::int32_t depression_heart_rate(std::int64_t a, std::int64_t b) const;
    // Row of the largest absolute ST absolute value of one channel over [a, end); -1 when none.
    std::int32_t peak_row(int channel, std::int64_t a, std::int64_t end) const;
    // (ST abs at r - ST abs at r-1) / 30 when both are present; else 0.
    double slope_at(int channel, std::int64_t row) const;
    // First row with the channel's flag and the first row after it without; -1 when not found;
    // the end is the row count when the selection runs to the last row.
    void selection_range(int channel, std::int32_t& first, std::int32_t& end) const;
    static TimiSpan duration(std::int64_t a, std::int64_t b) { return {TimiStatus::Valid, (b - a + 1) * 30}; }
    // First row of a run of at least `run` consecutive present rows of [a, end) whose ST absolute
    // value is below `fraction` times `reference`; -1 when none.
    std::int32_t run_search(int channel, std::int64_t a, std::int64_t end, double fraction, double reference,
                            int run) const;
    // Span from (day, time) to the day and time of `row`.
    TimiSpan span_to_row(std::int32_t day, const TimiDateTime& time, std::int32_t row) const;

    // Analysed duration text and mean heart rate from the running totals.
    void finish_totals();

    // --- STEMI ---
    // Fills the three records from the selection ranges [first[c], end[c]); a reset channel
    // gets -1, -1.
    void compute_stemi(std::array<std::int32_t, 3>& first, std::array<std::int32_t, 3>& end);
    // The same for one channel; the other channels' records stay as they are.
    void compute_stemi_channel(int channel, std::int32_t& first, std::int32_t& end);

    // --- files (see the .cpp files for the layouts) ---
    // Rows first..last (inclusive; cut to the table); empty for an empty table.
    std::string data_file_text(std::int32_t first, std::int32_t last) const;
    // Appends to this object; a fresh object is expected. False on any missing or bad line,
    // `fault` (when given) then saying where and why.
    bool read_data_file(const std::string& path, TimiFileFault* fault = nullptr);
    bool read_data_text(std::string_view text, TimiFileFault* fault = nullptr);

    std::string summary_file_text(const std::string& file_name) const;
};

}  // namespace tv
