#include "tolbex/timi/ui/stemi_sheet_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "framework/qt/qt_text.h"

namespace tv::gui {

namespace {

// The model's text behind each edit control.
std::string* field_of(StemiPageTexts& t, int id) {
    switch (id) {
        case kStemiPeakTime: return &t.peak_time;
        case kStemiPeakValue: return &t.peak_value;
        case kStemiTimeTo50: return &t.time_to[0];
        case kStemiTimeTo30: return &t.time_to[1];
        case kStemiTimeTo10: return &t.time_to[2];
        case kStemiBelow50For4h: return &t.below_4h[0];
        case kStemiBelow30For4h: return &t.below_4h[1];
        case kStemiSlope50: return &t.slope[0];
        case kStemiSlope30: return &t.slope[1];
        case kStemiSlope10: return &t.slope[2];
        case kStemiInfusionTime: return &t.infusion_time;
        case kStemiInfusionTo50: return &t.infusion_to[0];
        case kStemiInfusionTo30: return &t.infusion_to[1];
        case kStemiInfusionTo10: return &t.infusion_to[2];
        default: return nullptr;
    }
}

QGroupBox* group(const char* title) { return new QGroupBox(QString::fromLatin1(title)); }

}  // namespace

StemiPageWidget::StemiPageWidget(StemiPage& page, QWidget* parent) : QWidget(parent), page_(page) {
    const auto make_edit = [this](int id) {
        auto* e = new QLineEdit;
        e->setObjectName(QStringLiteral("edit_%1").arg(id));
        e->setReadOnly(id != kStemiInfusionTime);
        e->setFixedWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("-00.0000 mm/s")) + 12);
        edits_[id] = e;
        return e;
    };
    // One labelled edit per row of a group's grid.
    const auto add_row = [&](QGridLayout* grid, const char* label, int id) {
        const int row = grid->rowCount();
        grid->addWidget(new QLabel(QString::fromLatin1(label)), row, 0);
        grid->addWidget(make_edit(id), row, 1);
    };

    auto* peak = group("Peak ST elevation");
    auto* peak_grid = new QGridLayout(peak);
    peak_grid->addWidget(new QLabel(QStringLiteral("Absolute time of peak ST elevation")), 0, 0);
    peak_grid->addWidget(make_edit(kStemiPeakTime), 0, 1);
    apply_peak_ = new QPushButton(QStringLiteral("Apply"));
    apply_peak_->setObjectName(QStringLiteral("button_%1").arg(kStemiApplyPeak));
    peak_grid->addWidget(apply_peak_, 0, 2);
    operator_edited_ = new QCheckBox(QStringLiteral("Operator edited peak ST time"));
    operator_edited_->setObjectName(QStringLiteral("check_%1").arg(kStemiOperatorEdited));
    peak_grid->addWidget(operator_edited_, 1, 1, 1, 2);
    peak_grid->addWidget(new QLabel(QStringLiteral("Value of peak ST elevation")), 2, 0);
    peak_grid->addWidget(make_edit(kStemiPeakValue), 2, 1);

    auto* from_peak = group("Measurements from time of peak ST elevation");
    auto* from_peak_box = new QVBoxLayout(from_peak);
    auto* to_grid = new QGridLayout;
    add_row(to_grid, "Time to 50% of peak value", kStemiTimeTo50);
    add_row(to_grid, "Time to 30% of peak value", kStemiTimeTo30);
    add_row(to_grid, "Time to 10% of peak value", kStemiTimeTo10);
    from_peak_box->addLayout(to_grid);
    auto* below = group("Time from peak, where less than value for > 4hrs");
    auto* below_grid = new QGridLayout(below);
    add_row(below_grid, "<50% of peak value", kStemiBelow50For4h);
    add_row(below_grid, "<30% of peak value", kStemiBelow30For4h);
    from_peak_box->addWidget(below);
    auto* slopes = group("Slope of ST graph");
    auto* slope_grid = new QGridLayout(slopes);
    add_row(slope_grid, "At 50% of peak value", kStemiSlope50);
    add_row(slope_grid, "At 30% of peak value", kStemiSlope30);
    add_row(slope_grid, "At 10% of peak value", kStemiSlope10);
    from_peak_box->addWidget(slopes);

    auto* infusion = group("Measurements from time of drug infusion");
    auto* infusion_grid = new QGridLayout(infusion);
    infusion_grid->addWidget(new QLabel(QStringLiteral("Absolute time of drug infusion")), 0, 0);
    infusion_grid->addWidget(make_edit(kStemiInfusionTime), 0, 1);
    apply_infusion_ = new QPushButton(QStringLiteral("Apply"));
    apply_infusion_->setObjectName(QStringLiteral("button_%1").arg(kStemiApplyInfusion));
    infusion_grid->addWidget(apply_infusion_, 0, 2);
    add_row(infusion_grid, "Time to 50% of peak value", kStemiInfusionTo50);
    add_row(infusion_grid, "Time to 30% of peak value", kStemiInfusionTo30);
    add_row(infusion_grid, "Time to 10% of peak value", kStemiInfusionTo10);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(peak);
    layout->addWidget(from_peak);
    layout->addWidget(infusion);
    layout->addStretch();

    QObject::connect(apply_peak_, &QPushButton::clicked, this, [this] {
        read();
        finish(page_.apply_peak_time(), edit(kStemiPeakTime));
    });
    QObject::connect(apply_infusion_, &QPushButton::clicked, this, [this] {
        read();
        finish(page_.apply_infusion_time(), edit(kStemiInfusionTime));
    });
    QObject::connect(operator_edited_, &QCheckBox::clicked, this, [this] {
        read();
        const bool checked = page_.operator_edited;
        edit(kStemiPeakTime)->setReadOnly(!checked);
        apply_peak_->setEnabled(checked);
        finish(page_.operator_edited_clicked(), edit(kStemiPeakTime));
    });
    fill();
}

QLineEdit* StemiPageWidget::edit(int id) const {
    const auto it = edits_.find(id);
    return it == edits_.end() ? nullptr : it->second;
}

void StemiPageWidget::fill() {
    for (const auto& [id, e] : edits_) e->setText(to_qstring(*field_of(page_.texts, id)));
    operator_edited_->setChecked(page_.operator_edited);
    edit(kStemiPeakTime)->setReadOnly(!page_.operator_edited);
    apply_peak_->setEnabled(page_.operator_edited);
}

void StemiPageWidget::read() {
    page_.texts.peak_time = from_qstring(edit(kStemiPeakTime)->text());
    page_.texts.infusion_time = from_qstring(edit(kStemiInfusionTime)->text());
    page_.operator_edited = operator_edited_->isChecked();
}

void StemiPageWidget::finish(StemiEntryError error, QLineEdit* field) {
    if (error == StemiEntryError::None) {
        fill();
        return;
    }
    field->setFocus();
    field->selectAll();
}

StemiSheetDialog::StemiSheetDialog(QWidget* parent, TimiData& data) : fw::Dialog(parent), sheet_(data) {
    setWindowTitle(QStringLiteral("STEMI Measurements"));
    tabs_ = new QTabWidget;
    for (int c = 0; c < kTimiChannels; ++c) {
        pages_[c] = new StemiPageWidget(sheet_.page(c));
        tabs_->addTab(pages_[c], QStringLiteral("Channel %1").arg(c + 1));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
}

void run_stemi_sheet(QWidget* parent, TimiData& data) {
    StemiSheetDialog sheet(parent, data);
    sheet.exec_modal();
}

}  // namespace tv::gui
