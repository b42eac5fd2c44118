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
#include "tolbex/timi/timi_sample_week.h"
#include "tolbex/timi/timi_table_source.h"

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
        tv::fill_timi_sample_week(source.data());
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
