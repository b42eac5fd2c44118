// grid-demo [DAY-LIST] [--grab PNG]: the grid on a TIMI table, set up as the TIMI window sets it.
// The table comes from a day-list file (one day-file path a line) when one is given, else it is a
// generated week of 30-second rows (also when the list cannot be loaded). --grab saves a picture
// of the window and ends, telling on the console what went wrong (exit code 1 when the picture
// could not be saved); without it the window stays until it is closed.
#include <QApplication>
#include <QPixmap>
#include <cstring>
#include <string>

#include "common/ui.h"
#include "framework/qt/qt_ui.h"
#include "tolbex/timi/grid/ui/grid_widget.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/timi_table_source.h"

namespace {

// A week of rows as the analysis system gives them: days, times 30 s apart, varying values.
void fill_week(tv::TimiData& data) {
    constexpr std::int32_t kRows = 7 * 2880;
    data.rows.resize(kRows);
    for (std::int32_t i = 0; i < kRows; ++i) {
        tv::TimiRow& r = data.rows[static_cast<std::size_t>(i)];
        r.use = i % 7 == 0;
        r.day = 1 + i / 2880;
        r.time = tv::TimiDateTime::time_of_day(i % 2880 / 120, i % 120 / 2, i % 2 * 30);
        r.heart_rate = 50 + (i * 37) % 90;
        for (int c = 0; c < tv::kTimiChannels; ++c) {
            tv::TimiChannelValues& v = r.channel[static_cast<std::size_t>(c)];
            v.st_base = 0.1 * c;
            v.j_abs = 0.5;
            v.st_abs = (i % 200) / 100.0 - 1.0;
            v.st_dev = v.st_abs - v.st_base;
            v.slope = 0.01 * (i % 9);
            v.flag = i % 11 == 0;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string list, grab;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--grab") == 0 && i + 1 < argc)
            grab = argv[++i];
        else
            list = argv[i];
    }
    // A grab runs unattended: its messages go to the console instead of waiting in a box.
    tv::fw::QtUi qt_ui;
    if (grab.empty()) tv::set_ui(&qt_ui);
    tv::register_timi_strings();
    tv::TIMITableSource source;
    if (list.empty() || !source.load_day_list(list)) {
        source.data() = tv::TimiData{};
        fill_week(source.data());
    }

    tv::GridWidget widget;
    tv::GridCtrl& grid = widget.grid();
    grid.set_default_data_source(grid.add_data_source(&source));
    grid.set_num_cols(tv::kTimiColumns);
    grid.set_num_rows(source.get_num_rows());
    grid.set_uniform_row_height(true);
    tv::GridCell check;
    check.set_cell_type(tv::kCellTypeCheckBox);
    check.set_cell_type_param(0x1004);
    check.set_alignment(4);
    for (int col : {tv::kColUse, tv::channel_flag_col(0), tv::channel_flag_col(1), tv::channel_flag_col(2)}) {
        grid.set_column_default(col, check);
        grid.set_col_width(col, 40);
    }
    grid.set_highlight_row(true, 1);
    grid.set_multi_select(true);
    grid.goto_cell(0, 0);
    widget.setWindowTitle("TIMI grid");
    widget.resize(1000, 600);
    widget.show();
    widget.refresh();
    widget.setFocus();
    if (grab.empty()) return app.exec();
    QApplication::processEvents();
    return widget.grab().save(QString::fromStdString(grab)) ? 0 : 1;
}
