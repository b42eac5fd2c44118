// The wait dialogs: small windows that say a long operation is running. Most only show a text
// while the caller works; ExternalProgramWaitDlg waits for another program and may be
// abandoned; WorkerWaitDlg runs a function on a worker thread and closes when it has ended.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QDialog>
#include <QPointer>

#include "common/runner.h"

class QLabel;

namespace tv::fw {
class Timer;
}  // namespace tv::fw

namespace tv {

inline constexpr int kWaitTickMs = 500;

inline constexpr const char* kStopWaitingQuestion =
    "The \"Stop Waiting\"  option is intended for use when the\n external program appears to have stopped "
    "working.\nUse of this option may result in erratic system behaviour.\n\nDo you really want to stop waiting?";
inline constexpr const char* kNotepadWaitText = "Please exit from Notepad before returning\nto Calvera.";
inline constexpr const char* kNotepadFailedText =
    "Calvera could not open Notepad to view the TIMI summary.\nPlease make sure that notepad.exe is correctly "
    "installed.";

// Disables the application's main window for its lifetime and then puts back the enabled state
// it found, so a wait inside another wait leaves the outer one's window disabled.
class MainWindowDisabler {
public:
    MainWindowDisabler();
    ~MainWindowDisabler();
    MainWindowDisabler(const MainWindowDisabler&) = delete;
    MainWindowDisabler& operator=(const MainWindowDisabler&) = delete;

private:
    QPointer<QWidget> window_;
    bool was_enabled_ = true;
};

class TextWaitDlg;
// Tests: told of every text a modeless wait dialog puts on screen, when it does, so that what a
// long operation showed can be checked without racing it. The first text is told while the
// dialog is being made (only its caption and visibility are set). An empty function stops it.
using WaitTextObserver = std::function<void(const TextWaitDlg& dialog, const std::string& text)>;
void set_wait_text_observer(WaitTextObserver observer);

// A modeless dialog with a fixed text, shown (and painted) as soon as it is made.
class TextWaitDlg : public QDialog {
public:
    TextWaitDlg(const std::string& caption, const std::string& text, QWidget* parent, bool centred = false);
    ~TextWaitDlg() override;
    std::string text() const;

protected:
    void set_shown_text(const std::string& text);
    // Puts `text` into `label` and paints it at once: the caller keeps the event loop busy.
    void show_in(QLabel* label, const std::string& text);
    QLabel* label_ = nullptr;
};

class PleaseWaitDlg : public TextWaitDlg {
public:
    explicit PleaseWaitDlg(const std::string& text, QWidget* parent = nullptr);
    ~PleaseWaitDlg() override;
    void set_text(const std::string& text) { set_shown_text(text); }

private:
    std::unique_ptr<MainWindowDisabler> disabler_;
};

// The fixed heading stays; the report being moved or copied is named on a line of its own.
class MoveCopyWaitDlg : public TextWaitDlg {
public:
    explicit MoveCopyWaitDlg(QWidget* parent = nullptr);
    ~MoveCopyWaitDlg() override;
    void set_report_text(const std::string& text);
    std::string report_text() const;

private:
    QLabel* report_label_ = nullptr;
    std::unique_ptr<MainWindowDisabler> disabler_;
};

class ExportWaitDlg : public TextWaitDlg {
public:
    explicit ExportWaitDlg(QWidget* parent = nullptr);
};
class LoadingReportDlg : public TextWaitDlg {
public:
    explicit LoadingReportDlg(QWidget* parent = nullptr);
};
class SearchingArchivesDlg : public TextWaitDlg {
public:
    explicit SearchingArchivesDlg(QWidget* parent = nullptr);
};
class ReceivingMailDlg : public TextWaitDlg {
public:
    explicit ReceivingMailDlg(QWidget* parent = nullptr);
};
class CompressWaitDlg : public TextWaitDlg {
public:
    explicit CompressWaitDlg(QWidget* parent = nullptr);
};

// Waits for an external program's run, polling every 500 ms. The program is never killed here.
class ExternalProgramWaitDlg : public QDialog {
public:
    explicit ExternalProgramWaitDlg(QWidget* parent = nullptr);
    ~ExternalProgramWaitDlg() override;
    // The wait lasts while `running` answers true; without it the dialog closes at its first tick.
    void set_running(std::function<bool()> running) { running_ = std::move(running); }
    int run();  // modal; QDialog::Accepted when it ends
    bool stopped_by_user() const { return stopped_by_user_; }
    // What "Stop Waiting" does: asks through ui(), No as the default.
    void on_stop_waiting();
    void on_tick();

protected:
    // Escape and the close button ask the same question: the wait ends only through it.
    void reject() override;

private:
    std::unique_ptr<fw::Timer> timer_;
    bool question_open_ = false;
    bool stopped_by_user_ = false;
    std::function<bool()> running_;
};

// Runs `work` on a worker thread behind a modal, buttonless dialog; the end is noticed at the
// next 500 ms tick. `work` must not touch any window; it reports through what it captured.
class WorkerWaitDlg : public QDialog {
public:
    WorkerWaitDlg(const std::string& text, std::function<unsigned()> work, QWidget* parent = nullptr);
    ~WorkerWaitDlg() override;
    int run();  // starts the worker and returns once it has ended
    unsigned result() const { return result_; }
    bool worker_finished() const { return finished_.load(); }
    void on_tick();

protected:
    void reject() override;  // no early end: Escape does nothing

private:
    std::function<unsigned()> work_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    unsigned result_ = 0;
    std::unique_ptr<fw::Timer> timer_;
};

// The text viewer, found like any program the system names ("notepad.exe"): a site provides one
// that returns when the user has closed the file.
inline constexpr const char* kTextViewerProgram = "notepad";
// Shows a text file in the text viewer and waits until it ends, behind WorkerWaitDlg; started with
// an argument vector, no shell. False, with the message shown, when it could not be started.
bool view_text_file_and_wait(const std::string& path, QWidget* parent = nullptr);

}  // namespace tv
