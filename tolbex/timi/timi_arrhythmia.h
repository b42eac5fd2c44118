// The TIMI arrhythmia summary: per-day event counts and the serious events of up to eight day
// reports, read from each report's arrhevnt.dat, written as TIMI_ARRH.TXT and stored as a
// "TIMI Arrhythmia Summary" report.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tolbex/timi/timi_table_source.h"

namespace tv {

class AuditTrail;

// The two list files the browser writes; distinct types so that they cannot be swapped.
struct ArrhythmiaListPath {
    explicit ArrhythmiaListPath(std::string p) : path(std::move(p)) {}
    std::string path;  // one arrhevnt.dat path a line, day order
};
struct TimiDayListPath {
    explicit TimiDayListPath(std::string p) : path(std::move(p)) {}
    std::string path;  // one day-file path a line, day order
};

// arrhevnt.dat: 14 arrays of 59,000 little-endian int32, array i holding field i of every entry.
inline constexpr int kArrhFields = 14;
inline constexpr int kArrhEntries = 59000;
inline constexpr std::int64_t kArrhFileSize = std::int64_t(kArrhFields) * kArrhEntries * 4;  // 3,304,000
inline constexpr std::int32_t kSamplesPerDay = 11059200;  // 24 h at 128 samples a second
inline constexpr int kArrhDays = 8;

// Field 0 link, 4 type, 6 start, 7 end (samples), 8 length, 9 peak rate, 10 peak-rate time,
// 11 flags; 14 the day index (not from the file).
struct TimiArrhEvent {
    std::array<std::int32_t, 15> field{};
    std::int32_t type() const { return field[4]; }
    std::int32_t start() const { return field[6]; }
    std::int32_t end() const { return field[7]; }
    std::int32_t length() const { return field[8]; }
    std::int32_t peak_rate() const { return field[9]; }
    std::int32_t peak_time() const { return field[10]; }
    std::int32_t day_index() const { return field[14]; }
};

// Indexes 0..11 count events (Bigem, Coup, Trip, VT <100, VT >100, Single VE, Prem Single VE, SVE,
// Dropped beat, Brady, Pause, SVT); 12 sums AF samples.
using TimiArrhDayCounts = std::array<std::int64_t, 13>;

class TimiArrhData {
public:
    TimiArrhData();

    // A trailing separator is removed.
    void set_archive_folder(const std::string& folder);
    const std::string& archive_folder() const { return archive_folder_; }
    void set_report_name(const std::string& name) { report_name_ = name; }
    const std::string& report_name() const { return report_name_; }
    // Where the save leaves its audit entry; without a trail the save is refused.
    void set_audit(AuditTrail* audit) { audit_ = audit; }
    // Called after a report was stored (reloads the open archive documents).
    void set_reload_hook(std::function<void()> hook) { reload_ = std::move(hook); }

    // Loads the TIMI table from the day list, then reads at most eight event files of the
    // arrhythmia list and counts their events. False after a file error (the user was told).
    bool calc_timi_arrh_data(const ArrhythmiaListPath& arrhythmia_list, const TimiDayListPath& day_list);
    // Reads one event file as day `day_index`; false (with the message) when it cannot be read.
    bool read_arrhevnt_file(int day_index, const std::string& path);
    // Fills the day counts and the serious events from all events. An event whose calendar day
    // lies outside the eight rows counts nowhere; a serious one is still listed.
    void count_events();

    std::string summary_text(const std::string& file_name) const;
    // False (with the message shown) when the file could not be written.
    bool write_timi_arrh_summary(const std::string& path) const;
    // Writes TIMI_ARRH.TXT into a fresh temporary folder and stores it as a new report. Every
    // failure is reported to the user; the temporary folder never stays. True when stored.
    bool save_timi_arrh_summary();
    const std::string& stored_folder() const { return stored_folder_; }

    static bool is_accepted_event_type(std::int32_t code);
    static std::string event_type_name(std::int32_t code);
    // "(d)hh:mm:ss" of a moment `seconds` after midnight of day report `day_index`'s first day.
    static std::string format_day_time(int day_index, std::int64_t seconds);
    // The same for a sample count of an event of day report `day_index`.
    std::string event_time_text(int day_index, std::int32_t samples) const;

    const std::array<TimiArrhDayCounts, kArrhDays>& day_counts() const { return day_counts_; }
    const std::vector<TimiArrhEvent>& serious_events() const { return serious_; }
    const std::vector<TimiArrhEvent>& all_events() const { return all_; }
    TIMITableSource& table() { return table_; }
    const TIMITableSource& table() const { return table_; }
    std::int32_t start_second() const { return start_second_; }

private:
    std::string archive_folder_, report_name_, stored_folder_;
    std::array<TimiArrhDayCounts, kArrhDays> day_counts_{};
    std::vector<TimiArrhEvent> serious_, all_;
    TIMITableSource table_;
    std::int32_t start_second_ = 0;
    std::vector<std::int32_t> tables_;  // scratch: the 14 arrays of the last event file read
    AuditTrail* audit_ = nullptr;
    std::function<void()> reload_;
};

}  // namespace tv
