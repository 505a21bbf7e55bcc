// The window and the tray on a real X server (Xvfb) with a tray host (trayer), in this process.
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTextLayout>
#include <QtTest>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "app/MainApp.h"
#include "app/WindowContext.h"

namespace {
QString run(const QStringList &lstArgv)
{
    QProcess process;
    process.start(lstArgv.first(), lstArgv.mid(1));
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The tray icon: a window of this program nested below trayer's panel, deeper than a top level.
QString trayIconId()
{
    const QString strName = QStringLiteral("\"%1\": (\"%1\"").arg(QCoreApplication::applicationName());
    for (const QString &strLine : run({"xwininfo", "-root", "-tree"}).split(QLatin1Char('\n'))) {
        if (strLine.contains(strName) && strLine.indexOf(QLatin1String("0x")) > 6)
            return strLine.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return QString();
}
}

class TestWindow : public QObject
{
    Q_OBJECT

    QProcess trayer;

private slots:
    void initTestCase()
    {
        trayer.start(QStringLiteral("trayer"), {"--expand", "false", "--widthtype", "request"});
        QTRY_VERIFY_WITH_TIMEOUT(run({"xwininfo", "-root", "-tree"}).contains(QStringLiteral("(\"panel\" \"trayer\")")), 10000);
    }
    void cleanupTestCase()
    {
        trayer.kill();
        trayer.waitForFinished();
    }

    void windowAndTray()
    {
        CMainApp *pApp = static_cast<CMainApp *>(qApp);
        QQmlApplicationEngine engine;
        exposeToWindow(engine.rootContext(), pApp);
        engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        auto *pWindow = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(pWindow && QTest::qWaitForWindowExposed(pWindow));
        QVERIFY(pWindow->findChild<QObject *>(QStringLiteral("trayIcon"))->property("available").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!trayIconId().isEmpty(), 5000);

        // The count is published from a worker thread, as the print queue does, and drawn in red.
        auto *pText = pWindow->findChild<QQuickItem *>(QStringLiteral("waitingText"));
        std::thread([pApp] { pApp->setPrintQuantity(3); }).join();
        QTRY_COMPARE(pText->property("text").toString(), QStringLiteral("正在运行，等待打印：<font color=\"red\">3"));
        // The Chinese text has a real glyph for every character (no empty boxes), and it is drawn.
        QTextLayout layout(QStringLiteral("正在运行，等待打印"), pText->property("font").value<QFont>());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &glyphRun : layout.glyphRuns())
            QVERIFY2(!glyphRun.glyphIndexes().contains(0), qPrintable(glyphRun.rawFont().familyName()));
        const QImage image = pWindow->grabWindow();
        const QRect rectText = pText->mapRectToScene(QRectF(0, 0, pText->width(), pText->height())).toRect();
        int nDark = 0, nRed = 0;
        for (int y = rectText.top(); y <= rectText.bottom(); ++y) {
            for (int x = rectText.left(); x <= rectText.right(); ++x) {
                const QColor color = image.pixelColor(x, y);
                nDark += qGray(color.rgb()) < 100;
                nRed += color.red() > 200 && color.green() < 80 && color.blue() < 80;
            }
        }
        QVERIFY2(nDark > 300 && nRed > 20, qPrintable(QStringLiteral("%1 dark, %2 red").arg(nDark).arg(nRed)));

        // The close button only hides the window; clicking the tray icon shows it again.
        QVERIFY(!pWindow->close());
        QTRY_VERIFY(!pWindow->isVisible());
        run({"xdotool", "mousemove", "--window", trayIconId(), "5", "5", "click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(pWindow->isVisible(), 5000);

        // As in main(): nothing but the spy listens, so the test's own event loop is left alone.
        QObject::disconnect(&engine, &QQmlEngine::quit, nullptr, nullptr);
        QSignalSpy quitSpy(&engine, &QQmlEngine::quit);
        QMetaObject::invokeMethod(pWindow->findChild<QObject *>(QStringLiteral("quitItem")), "triggered");
        QCOMPARE(quitSpy.count(), 1);
    }
};

// Xvfb, started before the application object connects to it, takes the first free display itself
// (-displayfd), so tests running in parallel never collide.
int main(int argc, char *argv[])
{
    int fds[2];
    if (pipe(fds) != 0)
        return 2;
    const pid_t pidXvfb = fork();
    if (pidXvfb == 0) {
        dup2(fds[1], STDOUT_FILENO);
        execlp("Xvfb", "Xvfb", "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", nullptr);
        _exit(127);
    }
    char szDisplay[16] = {':'};
    pollfd pfd{fds[0], POLLIN, 0};
    if (poll(&pfd, 1, 10000) <= 0 || read(fds[0], szDisplay + 1, sizeof szDisplay - 2) <= 0)
        qFatal("Xvfb could not be started");
    qputenv("DISPLAY", QByteArray(szDisplay).trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int nResult = 2;
    {
        QTemporaryDir appDir;
        CMainApp app(argc, argv, appDir.path());
        TestWindow tc;
        QTEST_SET_MAIN_SOURCE_PATH
        nResult = QTest::qExec(&tc, argc, argv);
    }
    kill(pidXvfb, SIGTERM);
    waitpid(pidXvfb, nullptr, 0);
    return nResult;
}

#include "tst_Window.moc"
