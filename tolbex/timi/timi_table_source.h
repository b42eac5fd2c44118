// The TIMI table as a grid data source, and the loading of the analysis system's day files into
// it.
#pragma once
#include <string>
#include <vector>

#include "tolbex/timi/grid/grid_data_source.h"
#include "tolbex/timi/timi_data.h"

namespace tv {

// Result codes of reading one day file.
enum TimiDayCode {
    kDayOk = 0,
    kDayNotFound = 1,
    kDayNoData = 2,
    kDayFileError = 3,
    kDayShortRow = 4,
    kDayNoOverlap = 5,
    kDayBadValue = 6,
    kDayRowsMissing = 7,
    kDayBadVersion = 8,
    kDayHeaderMismatch = 9,
    kDayHeaderMissing = 10,
};

// The message of a result code (string table).
std::string timi_day_code_message(int code);

class TIMITableSource : public GridDataSource {
public:
    TIMITableSource() = default;

    TimiData& data() { return data_; }
    const TimiData& data() const { return data_; }

    std::int32_t get_num_rows() override { return data_.row_count(); }
    std::int32_t get_num_cols() override { return kTimiColumns; }
    // Corner "#", row headings the row number in the user's digit grouping, column headings,
    // check-box columns as bools and every other column as its text. Editing keeps the base
    // behaviour: the grid window toggles flags itself, so set_cell is deliberately not here.
    int get_cell(std::int32_t col, std::int32_t row, GridCell& cell) override;

    void set_use(std::int32_t row, bool use) { data_.set_use(row, use); }
    void toggle_use(std::int32_t row) { data_.toggle_use(row); }
    bool is_used(std::int32_t row) const { return data_.is_used(row); }
    void select_channel(std::int32_t row, int channel) { data_.select_channel(row, channel); }
    void clear_channel(std::int32_t row, int channel) { data_.clear_channel(row, channel); }
    void toggle_channel(std::int32_t row, int channel) { data_.toggle_channel(row, channel); }

    // Loads every day named in the day-list file (one path a line, day 1 first), then the
    // arrhythmia counts of arrhevnt.txt beside each day file. False when a day was not taken in
    // (the user was told why) or the list could not be read.
    bool load_day_list(const std::string& list_path);
    bool load_day_paths(const std::vector<std::string>& paths);
    // One day: asks when it holds no data, reads it and reports a failure. False ends the load.
    bool load_day(const std::string& path);
    // Reads one day file into the table; a TimiDayCode.
    int read_day_file(const std::string& path);
    // The file has a row of 18 fields after its header with all three ST values.
    static bool day_file_has_data(const std::string& path);
    // Recounts the five arrhythmia counts from arrhevnt.txt beside each day file.
    void read_arrhythmia_counts(const std::vector<std::string>& paths);

private:
    int read_day_header(const std::vector<std::string_view>& lines, std::size_t& next, std::int64_t& day_rows,
                        std::int64_t& day_beats);

    TimiData data_;
};

}  // namespace tv
