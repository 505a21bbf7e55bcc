#pragma once

#include <QtTest>

#include "app/MainApp.h"
#include "commands/CommandDispatcher.h"

inline CMainApp *mainApp() { return static_cast<CMainApp *>(QCoreApplication::instance()); }

// A command's reply, waited for.
inline QString dispatchAndWait(const QByteArray &baBody)
{
    QString strReply;
    bool bDone = false;
    mainApp()->dispatcher()->dispatch(baBody, [&](const QString &str) {
        strReply = str;
        bDone = true;
    });
    if (!QTest::qWaitFor([&] { return bDone; }, 30000))
        return "(no reply)";
    return strReply;
}

// The real application object, started, its files in a temporary directory.
#define VEXA_TEST_MAIN_WITH_APP(TestClass)                                    \
    int main(int argc, char *argv[])                                          \
    {                                                                         \
        QTemporaryDir appDir;                                                 \
        CMainApp app(argc, argv, appDir.path());                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                              \
        app.start();                                                          \
        TestClass tc;                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                            \
        return QTest::qExec(&tc, argc, argv);                                 \
    }
