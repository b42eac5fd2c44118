// grid-demo [DAY-LIST] [--grab PNG]: the TIMI window's grid on its own, made as the window makes it.
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
#include "tools/demo/timi_sample_week.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/ui/timi_grid_widget.h"

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

    tv::TIMIGridWidget widget;
    tv::TIMIGridWindow& grid = widget.timi_grid();
    if (list.empty() || !grid.load_day_list(list)) {
        tv::TimiData week;
        tv::fill_timi_sample_week(week);
        grid.show_table(std::move(week));
    }
    widget.setWindowTitle("TIMI grid");
    widget.resize(1000, 600);
    widget.show();
    widget.refresh();
    widget.setFocus();
    if (grab.empty()) return app.exec();
    QApplication::processEvents();
    return widget.grab().save(QString::fromStdString(grab)) ? 0 : 1;
}
