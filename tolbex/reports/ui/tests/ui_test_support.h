// Shared pieces of the window tests: one offscreen QApplication, a fresh machine root with the
// scripted prompter, and the analysis-system peer as a child process. Kept with the lowest window
// layer, so that the browser's and the application's window tests both see it.
#pragma once
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QApplication>

#include <gtest/gtest.h>

#include "testing/app_test_root.h"
#include "testing/analysis_peer.h"
#include "testing/test_files.h"
#include "tolbex/app/tolbex_strings.h"

namespace tv::uitest {

inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "tolbex_ui_tests";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Lets queued events (posted commands, deferred closes, layout) run.
inline void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

using testing::read_file;
using testing::write_file;

class UiRootTest : public testing_root::RootTest {
protected:
    UiRootTest() : RootTest(TmpDir::Inside) { qt_app(); }
    void SetUp() override {
        register_tolbex_strings();
        RootTest::SetUp();
    }
};

using Peer = testing::AnalysisPeer;

}  // namespace tv::uitest
