// One QApplication for the whole test program (offscreen; CTest sets QT_QPA_PLATFORM), and a
// fresh machine root per test.
#pragma once
#include <QApplication>
#include <cstdlib>

#include "platform/registry.h"
#include "testing/test_root.h"

namespace tv::fw::testing {

inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "framework_tests";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A temporary root with a registry kept in memory.
struct FrameworkRoot {
    platform::testing::TempRoot root;
    std::unique_ptr<platform::Registry> reg = platform::make_memory_registry();
    FrameworkRoot() {
        qt_app();
        platform::set_registry(reg.get());
    }
    ~FrameworkRoot() { platform::set_registry(nullptr); }
};

}  // namespace tv::fw::testing
