// Shared pieces of the window tests: a QApplication, a temporary folder with a settings file, a recorder
// in place of the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/profile_store.h"
#include "tests/support/message_recorder.h"
#include "tests/support/test_support.h"
#include "ui/message_boxes.h"
#include "ui/template_dialog.h"
#include "ui/up_down.h"

namespace qx::test {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Every window test: real widgets, a fresh settings file, no U3 variables, messages recorded.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() : store(dir / "quendrix.ini") {
        App();
        SetMessageBoxService(&recorder);
    }
    ~WindowTest() override { SetMessageBoxService(nullptr); }

    ScopedEnv noDevice{"U3_DEVICE_PATH", nullptr};
    ScopedEnv noDocuments{"U3_DEVICE_DOCUMENT_PATH", nullptr};
    ScratchDir dir;
    ProfileStore store;
    MessageRecorder recorder;
};

}  // namespace qx::test
