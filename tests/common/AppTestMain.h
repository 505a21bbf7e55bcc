#pragma once

#include <QTemporaryDir>
#include <QtTest>

#include "app/MainApp.h"

// For tests that need the real application object: it is the QApplication of the test process,
// with its files in a fresh temporary directory (tests run in their own network namespace).
#define VEXA_TEST_MAIN_WITH_APP(TestClass)                                    \
    int main(int argc, char *argv[])                                          \
    {                                                                         \
        QTemporaryDir appDir;                                                 \
        CMainApp app(argc, argv, appDir.path());                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                              \
        TestClass tc;                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                            \
        return QTest::qExec(&tc, argc, argv);                                 \
    }
