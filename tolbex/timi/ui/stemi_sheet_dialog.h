// The "STEMI Measurements" sheet: a tab per channel ("Channel 1".."Channel 3") over the page
// models of tolbex/timi/stemi_sheet.h. Its changes go straight into the TimiData's STEMI records.
#pragma once
#include <array>
#include <map>

#include <QWidget>

#include "framework/qt/dialog.h"
#include "tolbex/timi/stemi_sheet.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace tv::gui {

// Control ids of a page.
enum StemiControl {
    kStemiTimeTo50 = 1014,
    kStemiTimeTo30 = 1015,
    kStemiTimeTo10 = 1016,
    kStemiBelow30For4h = 1017,
    kStemiInfusionTime = 1018,
    kStemiInfusionTo50 = 1019,
    kStemiInfusionTo30 = 1020,
    kStemiInfusionTo10 = 1021,
    kStemiSlope50 = 1011,
    kStemiSlope30 = 1012,
    kStemiSlope10 = 1013,
    kStemiPeakTime = 1087,
    kStemiBelow50For4h = 1088,
    kStemiPeakValue = 1089,
    kStemiApplyInfusion = 1090,
    kStemiOperatorEdited = 1091,
    kStemiApplyPeak = 1092,
};

class StemiPageWidget : public QWidget {
public:
    StemiPageWidget(StemiPage& page, QWidget* parent = nullptr);

    StemiPage& model() { return page_; }
    // The edit control of an id above; nullptr for another id.
    QLineEdit* edit(int id) const;
    QPushButton* apply_peak_button() const { return apply_peak_; }
    QPushButton* apply_infusion_button() const { return apply_infusion_; }
    QCheckBox* operator_edited_box() const { return operator_edited_; }

    // The controls from the model's texts.
    void fill();

private:
    // The editable texts and the check box into the model.
    void read();
    // After a refused entry the focus goes back into its field; otherwise the controls show the result.
    void finish(StemiEntryError error, QLineEdit* field);

    StemiPage& page_;
    std::map<int, QLineEdit*> edits_;
    QPushButton* apply_peak_ = nullptr;
    QPushButton* apply_infusion_ = nullptr;
    QCheckBox* operator_edited_ = nullptr;
};

class StemiSheetDialog : public fw::Dialog {
public:
    StemiSheetDialog(QWidget* parent, TimiData& data);

    QTabWidget* tabs() const { return tabs_; }
    StemiPageWidget& page(int channel) { return *pages_[channel]; }

private:
    StemiSheet sheet_;
    QTabWidget* tabs_ = nullptr;
    std::array<StemiPageWidget*, 3> pages_{};
};

// Opens the sheet on `data` and returns when the user closes it. Tests drive it through
// fw::Dialog::set_test_hook.
void run_stemi_sheet(QWidget* parent, TimiData& data);

}  // namespace tv::gui
