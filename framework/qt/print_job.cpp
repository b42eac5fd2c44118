#include "framework/qt/print_job.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPageLayout>
#include <QPointer>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>

#include "common/files.h"
#include "common/text.h"
#include "framework/qt/painter_draw_context.h"
#include "framework/qt/qt_text.h"

namespace tv::fw {

namespace {

constexpr std::size_t kJobNameMax = 31;

PrintDialogHook& dialog_hook() {
    static PrintDialogHook hook;
    return hook;
}

std::string cut_job_name(const std::string& name) {
    return name.size() > kJobNameMax ? name.substr(0, kJobNameMax) : name;
}

// The print dialog proposes a PDF file named after the document (the name before its last dot,
// with ".pdf"): the document's whole name made a file name. A machine with no printer but the PDF
// one gets the proposal even where the dialog makes none.
void propose_pdf_file(QPrinter& printer, const PrintJobOptions& o) {
    const QString name = to_qstring(file_name_from_text(o.document_name) + ".pdf");
    printer.setDocName(name);
    if (QPrinterInfo::availablePrinterNames().isEmpty()) printer.setOutputFileName(QDir::home().filePath(name));
}

void set_up_printer(QPrinter& printer, const PrintJobOptions& o) {
    printer.setDocName(to_qstring(cut_job_name(o.document_name)));
    printer.setPageOrientation(print_setup().orientation == PageOrientation::Landscape ? QPageLayout::Landscape
                                                                                       : QPageLayout::Portrait);
}

PrintOutcome failed(std::string error) {
    PrintOutcome out;
    out.result = PrintResult::Failed;
    out.error = std::move(error);
    return out;
}

// Draws one page of the source on the painter's current page.
void draw_page(QPainter& painter, PageSource& source, int number, DrawContext::Kind kind) {
    PainterDrawContext dc(painter, kind);
    dc.set_map_mode(MapMode::Text);
    const Sz size = dc.device_size();
    source.print_page(dc, number, Rc{0, 0, size.cx, size.cy});
}

}  // namespace

void set_print_dialog_hook(PrintDialogHook hook) { dialog_hook() = std::move(hook); }

PrintOutcome run_print_job(PageSource& source, const PrintJobOptions& o) {
    QPrinter printer(QPrinter::HighResolution);
    set_up_printer(printer, o);
    if (!o.output_file.empty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(qstring_from_path(o.output_file));
    } else if (!o.printer_name.empty()) {
        const QPrinterInfo info = QPrinterInfo::printerInfo(to_qstring(o.printer_name));
        if (info.isNull()) return failed(kPrintFailedToStart);
        printer.setPrinterName(info.printerName());
    } else if (!o.show_dialog && QPrinterInfo::defaultPrinter().isNull()) {
        return failed(kNoPrinterSetUp);
    }

    // The source usually belongs to the parent window: once that is gone, nothing more is drawn.
    const QPointer<QWidget> parent_alive(o.parent);
    const int count = source.page_count();
    int first = o.first_page, last = o.last_page;
    if (o.show_dialog) {
        const int max_page = count > 0 ? count : 1;
        printer.setFromTo(0, 0);
        if (o.output_file.empty()) propose_pdf_file(printer, o);
        bool accepted = false;
        if (dialog_hook()) {
            accepted = dialog_hook()(printer, 1, max_page);
        } else {
            // On the heap: a window that goes away while the dialog is up takes the dialog along.
            QPointer<QPrintDialog> dialog = new QPrintDialog(&printer, o.parent);
            dialog->setMinMax(1, max_page);
            // A source that finds its length only while printing offers no page range.
            dialog->setOption(QAbstractPrintDialog::PrintPageRange, count > 0);
            accepted = dialog->exec() == QDialog::Accepted && dialog;
            delete dialog.data();
        }
        if (!accepted || (o.parent && !parent_alive)) {
            PrintOutcome out;
            out.result = PrintResult::Cancelled;
            return out;
        }
        printer.setDocName(to_qstring(cut_job_name(o.document_name)));
        if (printer.printRange() == QPrinter::PageRange) {
            if (first <= 0) first = printer.fromPage();
            if (last <= 0) last = printer.toPage();
        }
    }
    const PageSequence sequence = make_page_sequence(first, last, o.duplicate_limit, count);
    // Printers that cannot make copies themselves (a PDF file) get whole passes from here.
    int passes = 1;
    if (!printer.supportsMultipleCopies()) passes = std::max(printer.copyCount(), 1);

    source.begin_printing(false);
    if (!source.continue_printing(sequence.next(0))) {
        // Nothing to print: no empty document is started.
        source.end_printing();
        PrintOutcome out;
        out.result = PrintResult::Printed;
        return out;
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        source.end_printing();
        if (!o.output_file.empty()) ::unlink(o.output_file.c_str());
        return failed(kPrintFailedToStart);
    }

    QPointer<QProgressDialog> progress;
    const std::string job_name = cut_job_name(o.document_name);
    std::string where =
        from_qstring(printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName());
    if (o.show_progress && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        progress = new QProgressDialog(o.parent);
        progress->setWindowTitle(QStringLiteral("Printing"));
        progress->setCancelButtonText(QStringLiteral("Cancel"));
        progress->setRange(0, 0);
        progress->setMinimumDuration(0);
        progress->setWindowModality(Qt::ApplicationModal);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        progress->show();
    }
    const bool pumping = !progress.isNull();

    PrintOutcome out;
    out.result = PrintResult::Printed;
    bool first_sheet = true;
    for (int pass = 0; pass < passes && out.result == PrintResult::Printed; ++pass) {
        if (pass > 0) source.begin_printing(false);
        for (int page = sequence.next(0); page != 0 && out.result == PrintResult::Printed; page = sequence.next(page)) {
            if (!source.continue_printing(page)) break;
            for (int copy = 0; copy < sequence.copies(page); ++copy) {
                if (pumping) {
                    if (progress)
                        progress->setLabelText(
                            to_qstring(job_name + "\non " + where + "\n\n" + format_string(kPrintingPageText, page)));
                    QCoreApplication::processEvents();
                    if (!progress || progress->wasCanceled() || (o.parent && !parent_alive)) {
                        out.result = PrintResult::Cancelled;
                        break;
                    }
                }
                if (!first_sheet && !printer.newPage()) {
                    out.result = PrintResult::Failed;
                    out.error = format_string("Page %d could not be started.", page);
                    break;
                }
                first_sheet = false;
                draw_page(painter, source, page, DrawContext::Kind::Printer);
                ++out.pages;
            }
        }
    }
    if (out.result == PrintResult::Printed) {
        if (!painter.end()) out = failed("The printer did not take the document.");
    } else {
        // A cancelled or failed job is aborted, never ended.
        printer.abort();
        painter.end();
    }
    if (out.result != PrintResult::Printed && !o.output_file.empty()) ::unlink(o.output_file.c_str());
    delete progress.data();
    if (!o.parent || parent_alive) source.end_printing();
    return out;
}

int run_print_preview(PageSource& source, const PrintJobOptions& o) {
    QPrinter printer(QPrinter::HighResolution);
    set_up_printer(printer, o);
    // On the heap: a window that goes away while the preview is up takes the preview along, and
    // with it the last use of the source.
    QPointer<QPrintPreviewDialog> dialog = new QPrintPreviewDialog(&printer, o.parent);
    // The window shows the whole name; only a print job's name is short.
    dialog->setWindowTitle(to_qstring(o.document_name));
    int drawn = 0;
    QObject::connect(dialog.data(), &QPrintPreviewDialog::paintRequested, dialog.data(), [&](QPrinter* target) {
        QPainter painter(target);
        if (!painter.isActive()) return;
        drawn = 0;
        source.begin_printing(true);
        for (int page = 1; source.continue_printing(page); ++page) {
            if (page > 1 && !target->newPage()) break;
            draw_page(painter, source, page, DrawContext::Kind::Preview);
            ++drawn;
        }
        source.end_printing();
    });
    // Printing from the preview would pass by the caller's checks: it is taken away here.
    for (QAction* action : dialog->findChildren<QAction*>())
        if (action->text().remove('&') == QStringLiteral("Print")) action->setVisible(false);
    if (o.preview_shown)
        o.preview_shown([dialog] {
            if (dialog) dialog->reject();
        });
    dialog->exec();
    delete dialog.data();
    if (o.preview_shown) o.preview_shown({});
    return drawn;
}

}  // namespace tv::fw
