// The STEMI measurements sheet without its windows: one page model per channel holding the texts
// of its controls, the "(d)hh:mm:ss" entry of the peak and drug-infusion times, and the
// measurement text each page stores in its channel's record for the summary file. The pages
// change the TimiData's STEMI records directly; nothing here writes a file or marks a document
// modified.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tolbex/timi/timi_data.h"

namespace tv {

// A time entry "(d)hh:mm:ss": day digit in parentheses, then a 24-hour time whose seconds are a
// multiple of 30.
struct StemiEntry {
    std::int32_t day = 0;
    TimiDateTime time;        // time of day
    std::int64_t moment = 0;  // ((hours + 24 d) x 60 + minutes) x 60 + seconds
    std::string text;         // the entry rewritten: "(d)" and "%H:%M:%S"
};

enum class StemiEntryError { None, BeforeStart, AfterEnd, Invalid };

// Parses `text` and checks it against the first and last row of `data`; a table without rows
// takes no entry (Invalid).
StemiEntryError read_stemi_entry(const TimiData& data, std::string_view text, StemiEntry& entry);
// The message of an error; empty for None.
std::string stemi_entry_message(StemiEntryError error);
// The moment of a row in the entries' measure: day x 86400 + second of the day.
std::int64_t stemi_row_moment(const TimiRow& row);

// Keeps a channel's range only when it starts strictly inside the range of the channel that
// starts first, less than 21 rows (10.5 minutes) after it; every other range becomes -1, -1.
void reconcile_stemi_ranges(std::array<std::int32_t, 3>& first, std::array<std::int32_t, 3>& end);

// The texts of a page's controls.
struct StemiPageTexts {
    std::string peak_time;                   // "(d)hh:mm:ss"
    std::string peak_value;                  // "%.2f mm"
    std::array<std::string, 3> time_to;      // 50, 30, 10 per cent
    std::array<std::string, 2> below_4h;     // 50, 30 per cent for more than four hours
    std::array<std::string, 3> slope;        // "%.4f mm/s"
    std::string infusion_time;               // "(d)hh:mm:ss"
    std::array<std::string, 3> infusion_to;  // 50, 30, 10 per cent
};

// "--:--:--" for a null time, else "(day)%H:%M:%S".
std::string stemi_time_text(std::int32_t day, const TimiDateTime& time);
StemiPageTexts stemi_page_texts(const StemiMeasurement& m);
// The block the summary file carries under "TIMI 28 / Clarity Measurements" for channel 0..2.
std::string stemi_measurement_text(int channel, bool peak_fixed, const StemiPageTexts& t);

// One page: the channel's own selection range and its controls' texts. The window copies the
// edited texts and the check box into the model before it calls an operation and shows the
// texts after it.
class StemiPage {
public:
    StemiPage(TimiData& data, int channel);

    int channel() const { return channel_; }
    std::int32_t first_row() const { return first_; }
    std::int32_t end_row() const { return end_; }

    bool operator_edited = false;
    StemiPageTexts texts;

    // Texts and check box from the record; stores the measurement text in the record.
    void refresh();
    // Each answers the entry's error (the message has been shown; nothing changed) or None.
    StemiEntryError apply_peak_time();
    StemiEntryError apply_infusion_time();
    // The check box: the record's peak-fixed flag follows `operator_edited`, then the peak time
    // is applied.
    StemiEntryError operator_edited_clicked();

private:
    // Computes this channel alone over the page's range, then refreshes.
    void recompute();
    StemiEntryError read_entry(const std::string& text, StemiEntry& entry) const;

    TimiData& data_;
    int channel_;
    std::int32_t first_ = -1;
    std::int32_t end_ = -1;
};

// The sheet when it opens: every page takes its channel's selection, the ranges are reconciled,
// all three channels are computed with them and every page is refreshed.
class StemiSheet {
public:
    explicit StemiSheet(TimiData& data);
    StemiPage& page(int channel) { return pages_[channel]; }
    TimiData& data() { return data_; }

private:
    TimiData& data_;
    std::array<StemiPage, 3> pages_;
};

}  // namespace tv
