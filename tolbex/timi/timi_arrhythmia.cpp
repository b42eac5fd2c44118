#include "tolbex/timi/timi_arrhythmia.h"

#include <cerrno>
#include <cstring>

#include "common/report_files.h"
#include "common/audit_log.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/timi/timi_files.h"
#include "tolbex/timi/timi_strings.h"
#include "common/text.h"

namespace tv {

namespace {

constexpr const char* kNl = "\r\n";
constexpr std::int32_t kNoValue = kTimiMissingInt;

struct EventType {
    std::int32_t code;
    const char* name;
    int index;  // into the day counts
    bool serious;
};

constexpr EventType kEventTypes[] = {
    {0, "dropped beat", 8, false},
    {1, "pause", 10, true},
    {2, "VT > 100bpm", 4, true},
    {3, "SVT", 11, true},
    {4, "premature single VE", 6, false},
    {5, "VT < 100bpm", 3, true},
    {6, "bradycardia", 9, false},
    {9, "bigeminy", 0, false},
    {10, "triplet", 2, false},
    {11, "couplet", 1, false},
    {13, "single VE", 5, false},
    {14, "SVE", 7, false},
    {148, "operator AF event", 12, false},
};

const EventType* find_type(std::int32_t code) {
    for (const auto& t : kEventTypes) {
        if (t.code == code) return &t;
    }
    return nullptr;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

void show(const std::string& text) { ui().message_box(text, std::string(), MsgIcon::Error, MsgButtons::Ok); }

}  // namespace

TimiArrhData::TimiArrhData() = default;

void TimiArrhData::set_archive_folder(const std::string& folder) {
    archive_folder_ = folder;
    archive_folder_ = platform::strip_trailing_slashes(std::move(archive_folder_));
}

bool TimiArrhData::is_accepted_event_type(std::int32_t code) { return find_type(code) != nullptr; }

std::string TimiArrhData::event_type_name(std::int32_t code) {
    const EventType* t = find_type(code);
    return t ? t->name : "";
}

std::string TimiArrhData::format_day_time(int day_index, std::int64_t seconds) {
    // Every whole day is carried into the day shown, however far the moment lies.
    const std::int64_t days = floor_div(seconds, 86400);
    const std::int64_t s = seconds - days * 86400;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "(%lld)%02d:%02d:%02d", static_cast<long long>(day_index + 1 + days),
                  static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buffer;
}

std::string TimiArrhData::event_time_text(int day_index, std::int32_t samples) const {
    return format_day_time(day_index, samples / 128 + static_cast<std::int64_t>(start_second_));
}

bool TimiArrhData::calc_timi_arrh_data(const ArrhythmiaListPath& arrhythmia_list, const TimiDayListPath& day_list) {
    // The counting goes on with whatever part of the table loaded: the day loader has told the
    // user what went wrong, and the events do not depend on the table.
    table_.load_day_list(day_list.path);
    const TimiData& data = table_.data();
    start_second_ = data.rows.empty() ? 0 : data.rows.front().time.second_of_day();
    day_counts_ = {};
    serious_.clear();
    all_.clear();

    const auto text = read_report_file(arrhythmia_list.path, ReportFileKind::TimiDay);
    if (!text) {
        show(format_resource_string(kStrTimiArrhCalcError, std::strerror(errno)));
        return false;
    }
    const auto lines = split_lines(*text);
    for (int d = 0; d < kArrhDays && d < static_cast<int>(lines.size()); ++d) {
        if (!read_arrhevnt_file(d, std::string(lines[d]))) return false;
    }
    count_events();
    return true;
}

bool TimiArrhData::read_arrhevnt_file(int day_index, const std::string& path) {
    std::string file = path;
    if (const auto found = platform::find_name_ci(get_path_folder(path), get_path_file_name(path))) file = *found;
    const auto bytes = read_report_file(file, ReportFileKind::ArrhythmiaEvents);
    if (!bytes) {
        show(format_resource_string(kStrTimiArrhCalcError, std::strerror(errno)));
        return false;
    }
    if (static_cast<std::int64_t>(bytes->size()) < kArrhFileSize) {
        show(format_resource_string(kStrTimiArrhCalcError,
                                    format_resource_string(kStrTimiArrhShortFile, path.c_str()).c_str()));
        return false;
    }
    tables_.resize(static_cast<std::size_t>(kArrhFields) * kArrhEntries);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes->data());
    for (std::size_t i = 0; i < tables_.size(); ++i, p += 4) tables_[i] = static_cast<std::int32_t>(load_le32(p));
    const auto at = [&](int field, std::int32_t entry) {
        return tables_[static_cast<std::size_t>(field) * kArrhEntries + entry];
    };
    const auto in_range = [](std::int32_t entry) { return entry >= 0 && entry < kArrhEntries; };
    // A link outside the tables ends the list, and no list is longer than the tables: a damaged
    // file can neither run off the tables nor loop.
    std::int32_t cur = at(0, 0);
    for (int steps = 0; steps < kArrhEntries && in_range(cur) && at(0, cur) != -1; ++steps) {
        if (at(6, cur) > kSamplesPerDay) break;  // events after the first 24 hours are not taken
        if (is_accepted_event_type(at(4, cur)) && (at(11, cur) & 8) == 0) {
            TimiArrhEvent e;
            for (int f = 0; f < kArrhFields; ++f) e.field[f] = at(f, cur);
            e.field[14] = day_index;
            all_.push_back(e);
        }
        cur = at(0, cur);
    }
    return true;
}

void TimiArrhData::count_events() {
    day_counts_ = {};
    serious_.clear();
    for (const auto& e : all_) {
        const EventType* t = find_type(e.type());
        if (!t) continue;
        const std::int64_t end_second = e.end() / 128;
        const std::int64_t row = floor_div(std::int64_t(e.day_index()) * 86400 + start_second_ + end_second, 86400);
        // A serious event is listed with its own times even when its day has no row to count it in.
        if (t->serious) serious_.push_back(e);
        if (row < 0 || row >= kArrhDays) continue;  // outside the eight calendar days of the table
        TimiArrhDayCounts& counts = day_counts_[row];
        if (t->code == 148) {
            // An AF episode counts only up to the 24-hour mark of its day report.
            std::int64_t samples = e.length();
            if (end_second > 86400) {
                const std::int64_t left = (86400 - std::int64_t(e.start() / 128)) * 128;
                samples = left > 0 ? left : 0;
            }
            if (samples != kNoValue && samples > 0) counts[12] += samples;
            continue;
        }
        ++counts[t->index];
    }
}

std::string TimiArrhData::summary_text(const std::string& file_name) const {
    const TimiData& data = table_.data();
    const TimiHeader& h = data.header;
    const std::string start_time = data.rows.empty() ? std::string("00:00:00") : data.rows.front().time.time_text();
    std::string out = std::string("Quorril TIMI arrhythmia summary file") + kNl;
    out += "Filename: " + file_name + kNl + kNl;
    out += "Patient ID #: " + h.patient_id + kNl;
    out += "Tape (recording) ID #: " + h.recording_id + kNl;
    out += "Start time: " + start_time + " " + h.start.date_text() + kNl;
    out += "Analyzed Duration: " + h.duration + kNl;
    out += "Min HR (bpm): " + std::to_string(h.min_hr) + kNl;
    out += "Max HR (bpm): " + std::to_string(h.max_hr) + kNl;
    out += "Mean HR (bpm): " + std::to_string(h.mean_hr) + kNl + kNl;
    out += std::string("Arrhythmia Events") + kNl + kNl;
    out += std::string(
               "Day,Bigem,Coup,Trip,VT <100,VT >100,Single VE,Prem Single VE,SVE,Dropped beat,Brady,Pause,"
               "SVT,AFsec") +
           kNl + kNl;
    for (int r = 0; r < kArrhDays; ++r) {
        out += std::to_string(r + 1);
        // Appended piece by piece: gcc 12 at -O3 takes "," + to_string() for an overlapping copy.
        for (int i = 0; i < 12; ++i) {
            out += ',';
            out += std::to_string(day_counts_[r][i]);
        }
        out += ',';
        out += std::to_string((day_counts_[r][12] + 64) / 128);
        out += kNl;
    }
    out += std::string(kNl) + "Serious arrhythmia events" + kNl + kNl;
    out +=
        std::string("Event,Start Time,End Time,Length (beats or samples),Peak Rate (bpm),Peak Rate Time") + kNl + kNl;
    const auto number = [](std::int32_t v) { return v == kNoValue ? std::string() : std::to_string(v); };
    for (const auto& e : serious_) {
        const int d = e.day_index();
        out += event_type_name(e.type()) + ", " + event_time_text(d, e.start()) + "," + event_time_text(d, e.end()) +
               "," + number(e.length()) + "," + number(e.peak_rate()) + "," +
               (e.peak_time() == kNoValue ? std::string() : event_time_text(d, e.peak_time())) + kNl;
    }
    return out;
}

bool TimiArrhData::write_timi_arrh_summary(const std::string& path) const {
    if (platform::atomic_write_file(path, summary_text(path))) return true;
    show(format_resource_string(kStrTimiArrhWriteError, std::strerror(errno ? errno : EIO)));
    return false;
}

bool TimiArrhData::save_timi_arrh_summary() {
    stored_folder_.clear();
    const std::int64_t report_time = platform::system().now();
    const TempFolder temp_folder;  // removed on every path
    if (temp_folder.path().empty()) {
        show(format_resource_string(kStrTimiArrhWriteError, std::strerror(errno ? errno : EIO)));
        return false;
    }
    const std::string temp = platform::strip_trailing_slashes(temp_folder.path());

    const std::string file = join_path(temp, kTimiArrhythmiaFileName);
    if (!write_timi_arrh_summary(file)) return false;  // never store a missing or partial file
    const std::int32_t size = get_file_size(file);

    AuditTrail* const audit = audit_;
    if (!audit || !audit->open(join_path(archive_folder_, "dummy.img"))) {
        ui().message_box(load_resource_string(kStrTimiArrhNoLog), std::string(), MsgIcon::None, MsgButtons::Ok);
        if (audit) audit->close();
        return false;
    }
    std::string stored;
    const int result = store_report_in_archive(archive_folder_, temp, report_name_, size, report_time,
                                               kReportTimiArrhythmia, &stored, nullptr, true);
    if (result != kStoreOk) {
        audit->close();
        show(format_resource_string(kStrTimiArrhStoreFailed, result));
        return false;
    }
    // The text names where it is kept, not the temporary folder it was made in.
    const std::string written =
        platform::find_name_ci(stored, kTimiArrhythmiaFileName).value_or(join_path(stored, kTimiArrhythmiaFileName));
    update_listed_report(stored, nullptr, [&](std::string& message) {
        errno = 0;
        if (platform::atomic_write_file(written, summary_text(written))) return true;
        message = format_resource_string(kStrTimiArrhWriteError, std::strerror(errno ? errno : EIO));
        return false;
    });
    set_read_only(written);
    audit->write(kAuditTimiSaveArrhythmiaSummary, report_name_, stored, std::string());
    audit->close();
    stored_folder_ = stored;
    if (reload_) reload_();
    return true;
}

}  // namespace tv
