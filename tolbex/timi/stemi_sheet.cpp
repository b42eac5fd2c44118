#include "tolbex/timi/stemi_sheet.h"

#include <algorithm>
#include <cstdio>

#include "common/ui.h"
#include "common/number_text.h"

namespace tv {

namespace {

constexpr char kNotAvailable[] = "--:--:--";
constexpr char kBeforeStartText[] = "You must enter a time that is after the start of the recording.";
constexpr char kAfterEndText[] = "You must enter a time that is before the end of the recording.";
constexpr char kInvalidTimeText[] =
    "You have entered an invalid time.\nPlease enter a time in the format (d)hh:mm:ss\nThe seconds must be a "
    "multiple of 30.";

// Rows within which a channel's selection counts as the same episode as the first channel's.
constexpr std::int32_t kReconcileRows = 21;

std::string formatted(const char* format, const std::string& value) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += value;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

std::int64_t stemi_row_moment(const TimiRow& row) {
    return static_cast<std::int64_t>(row.day) * 86400 + row.time.second_of_day();
}

StemiEntryError read_stemi_entry(const TimiData& data, std::string_view text, StemiEntry& entry) {
    if (text.size() < 3 || text[0] != '(' || text[1] < '0' || text[1] > '9' || text[2] != ')') {
        return StemiEntryError::Invalid;
    }
    TimiDateTime time;
    if (!parse_timi_time(text.substr(3), time) || time.second() % 30 != 0) return StemiEntryError::Invalid;
    if (data.rows.empty()) return StemiEntryError::Invalid;
    StemiEntry e;
    e.day = text[1] - '0';
    e.time = time;
    e.moment = static_cast<std::int64_t>(e.day) * 86400 + time.second_of_day();
    e.text = std::string(text.substr(0, 3)) + time.time_text();
    if (e.moment < stemi_row_moment(data.rows.front())) return StemiEntryError::BeforeStart;
    if (e.moment > stemi_row_moment(data.rows.back())) return StemiEntryError::AfterEnd;
    entry = std::move(e);
    return StemiEntryError::None;
}

std::string stemi_entry_message(StemiEntryError error) {
    switch (error) {
        case StemiEntryError::None: return {};
        case StemiEntryError::BeforeStart: return kBeforeStartText;
        case StemiEntryError::AfterEnd: return kAfterEndText;
        case StemiEntryError::Invalid: break;
    }
    return kInvalidTimeText;
}

void reconcile_stemi_ranges(std::array<std::int32_t, 3>& first, std::array<std::int32_t, 3>& end) {
    int ref = 0;
    for (int c = 0; c < kTimiChannels; ++c) {
        if (first[c] >= 0 && (first[ref] < 0 || first[c] < first[ref])) ref = c;
    }
    for (int c = 0; c < kTimiChannels; ++c) {
        if (c == ref) continue;
        const bool inside = first[c] > first[ref] && first[c] < end[ref] && first[c] - first[ref] < kReconcileRows;
        if (!inside) {
            first[c] = -1;
            end[c] = -1;
        }
    }
}

std::string stemi_time_text(std::int32_t day, const TimiDateTime& time) {
    if (time.status == TimiStatus::Null) return kNotAvailable;
    // Appended, not "(" + temporary: GCC 12 at -O3 takes that for an overlapping copy (GCC bug 105651).
    std::string text = "(";
    text += std::to_string(day);
    text += ')';
    return text + time.time_text();
}

StemiPageTexts stemi_page_texts(const StemiMeasurement& m) {
    StemiPageTexts t;
    t.peak_time = stemi_time_text(m.peak_day, m.peak_time);
    t.peak_value = format_fixed(m.peak_value, 2) + " mm";
    for (int k = 0; k < 3; ++k) {
        t.time_to[k] = format_stemi_span(m.time_to[k]);
        t.slope[k] = format_fixed(m.slope_at[k], 4) + " mm/s";
        t.infusion_to[k] = format_stemi_span(m.infusion_to[k]);
    }
    for (int k = 0; k < 2; ++k) t.below_4h[k] = format_stemi_span(m.time_below_4h[k]);
    t.infusion_time = stemi_time_text(m.infusion_day, m.infusion_time);
    return t;
}

std::string stemi_measurement_text(int channel, bool peak_fixed, const StemiPageTexts& t) {
    std::string out = "Channel " + std::to_string(channel + 1) + "\n---------\n\n";
    out += formatted(peak_fixed ? "Absolute time of peak ST deviation : %s (operator edited)\n"
                                : "Absolute time of peak ST deviation : %s\n",
                     t.peak_time);
    out += formatted("Value of peak ST deviation : %s\n", t.peak_value);
    out += formatted("Time from peak ST deviation to 50% of peak : %s\n", t.time_to[0]);
    out += formatted("Time from peak ST deviation to 30% of peak : %s\n", t.time_to[1]);
    out += formatted("Time from peak ST deviation to 10% of peak : %s\n", t.time_to[2]);
    out += formatted("Time from peak to < 50% of peak, for > 4hrs : %s\n", t.below_4h[0]);
    out += formatted("Time from peak to < 30% of peak, for > 4hrs : %s\n", t.below_4h[1]);
    out += formatted("Slope at 50% of peak : %s\n", t.slope[0]);
    out += formatted("Slope at 30% of peak : %s\n", t.slope[1]);
    out += formatted("Slope at 10% of peak : %s\n", t.slope[2]);
    out += formatted("Absolute time of drug infusion : %s\n", t.infusion_time);
    out += formatted("Time from drug infusion to 50% of peak : %s\n", t.infusion_to[0]);
    out += formatted("Time from drug infusion to 30% of peak : %s\n", t.infusion_to[1]);
    out += formatted("Time from drug infusion to 10% of peak : %s\n\n", t.infusion_to[2]);
    return out;
}

// --- page ---

StemiPage::StemiPage(TimiData& data, int channel) : data_(data), channel_(channel) {
    data_.selection_range(channel_, first_, end_);
}

void StemiPage::refresh() {
    StemiMeasurement& m = data_.stemi[channel_];
    operator_edited = m.peak_fixed;
    texts = stemi_page_texts(m);
    m.text = stemi_measurement_text(channel_, m.peak_fixed, texts);
}

StemiEntryError StemiPage::read_entry(const std::string& text, StemiEntry& entry) const {
    const StemiEntryError error = read_stemi_entry(data_, text, entry);
    if (error != StemiEntryError::None) {
        ui().message_box(stemi_entry_message(error), std::string(), MsgIcon::None, MsgButtons::Ok);
    }
    return error;
}

void StemiPage::recompute() {
    // Only this channel: the others keep their records (texts and infusion times included).
    std::int32_t first = first_, end = end_;
    data_.compute_stemi_channel(channel_, first, end);
    refresh();
}

StemiEntryError StemiPage::apply_peak_time() {
    StemiEntry entry;
    const StemiEntryError error = read_entry(texts.peak_time, entry);
    if (error != StemiEntryError::None) return error;
    texts.peak_time = entry.text;
    StemiMeasurement& m = data_.stemi[channel_];
    const std::int64_t row = (entry.moment - stemi_row_moment(data_.rows.front())) / kTimiRowSeconds;
    m.fixed_peak_row = static_cast<std::int32_t>(std::clamp<std::int64_t>(row, 0, data_.row_count() - 1));
    m.peak_time = entry.time;
    m.peak_day = entry.day;
    recompute();
    return StemiEntryError::None;
}

StemiEntryError StemiPage::apply_infusion_time() {
    StemiEntry entry;
    const StemiEntryError error = read_entry(texts.infusion_time, entry);
    if (error != StemiEntryError::None) return error;
    texts.infusion_time = entry.text;
    StemiMeasurement& m = data_.stemi[channel_];
    m.infusion_time = entry.time;
    m.infusion_day = entry.day;
    recompute();
    return StemiEntryError::None;
}

StemiEntryError StemiPage::operator_edited_clicked() {
    data_.stemi[channel_].peak_fixed = operator_edited;
    return apply_peak_time();
}

// --- sheet ---

StemiSheet::StemiSheet(TimiData& data)
    : data_(data), pages_{StemiPage(data, 0), StemiPage(data, 1), StemiPage(data, 2)} {
    std::array<std::int32_t, 3> first{}, end{};
    for (int c = 0; c < kTimiChannels; ++c) {
        first[c] = pages_[c].first_row();
        end[c] = pages_[c].end_row();
    }
    reconcile_stemi_ranges(first, end);
    data_.compute_stemi(first, end);
    for (auto& p : pages_) p.refresh();
}

}  // namespace tv
