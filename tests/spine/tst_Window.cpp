#include <QFontDatabase>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <thread>

#include "XSession.h"
#include "app/MainApp.h"

// The window and tray on a real X server (Xvfb) with a tray host (trayer), in this process.
class TestWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QQmlApplicationEngine> pEngine;
    QQuickWindow *pWindow = nullptr;
    QObject *pTray = nullptr;

    static CMainApp *app() { return static_cast<CMainApp *>(qApp); }
    QString winId() const { return QString::number(pWindow->winId()); }
    QString trayId() const { return QString::number(XSession::trayedWindow(QCoreApplication::applicationName())); }
    QObject *find(const char *pName) const { return pWindow->findChild<QObject *>(QLatin1String(pName)); }

private slots:
    void initTestCase()
    {
        pEngine = std::make_unique<QQmlApplicationEngine>();
        pEngine->rootContext()->setContextProperty(QStringLiteral("mainwindow"), app());
        pEngine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        QCOMPARE(pEngine->rootObjects().size(), 1);
        pWindow = qobject_cast<QQuickWindow *>(pEngine->rootObjects().first());
        QVERIFY(pWindow);
        pTray = find("trayIcon");
        QVERIFY(pTray);
        QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    }
    void cleanupTestCase() { pEngine.reset(); }

    void fixedSize()
    {
        QCOMPARE(pWindow->size(), QSize(500, 300));
        QCOMPARE(pWindow->minimumSize(), QSize(500, 300));
        QCOMPARE(pWindow->maximumSize(), QSize(500, 300));
        // A window manager reads these hints and refuses border drags; Xvfb alone has none.
        const QString strHints = XSession::run({"xprop", "-id", winId(), "WM_NORMAL_HINTS"});
        QVERIFY2(strHints.contains(QStringLiteral("program specified minimum size: 500 by 300")), qPrintable(strHints));
        QVERIFY2(strHints.contains(QStringLiteral("program specified maximum size: 500 by 300")), qPrintable(strHints));
        const QString strGeometry = XSession::run({"xdotool", "getwindowgeometry", winId()});
        QVERIFY2(strGeometry.contains(QStringLiteral("Geometry: 500x300")), qPrintable(strGeometry));
    }

    void titleOnTheServer()
    {
        QCOMPARE(XSession::run({"xdotool", "getwindowname", winId()}).trimmed(),
                 QStringLiteral("Corvel打印控件 V1.2.29  ( : 12380)"));
    }

    void autoStartBoxHidden()
    {
        QObject *pBox = find("powerBootBox");
        QVERIFY(pBox);
        QCOMPARE(pBox->property("visible").toBool(), false);
    }

    // The count is published from a worker thread, as the print queue does, and drawn in red.
    void countFollowsPrintQuantity()
    {
        QObject *pText = find("waitingText");
        QVERIFY(pText);
        QCOMPARE(pText->property("text").toString(), QStringLiteral("正在运行，等待打印：<font color=\"red\">0"));
        std::thread worker([] { app()->setPrintQuantity(3); });
        worker.join();
        QTRY_COMPARE(pText->property("text").toString(), QStringLiteral("正在运行，等待打印：<font color=\"red\">3"));

        QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
        QSignalSpy frames(pWindow, &QQuickWindow::frameSwapped);
        pWindow->update();
        QVERIFY(frames.wait(3000));
        QTest::qWait(100);
        const QString strShot = QStringLiteral(VEXA_SPINE_BUILD_DIR "/window.png");
        XSession::run({"import", "-window", "root", strShot});
        const QImage image(strShot);
        QVERIFY(!image.isNull());
        int nRed = 0;
        for (int y = 170; y < 215; ++y) {
            for (int x = 0; x < 500; ++x) {
                const QColor color = image.pixelColor(x, y);
                nRed += color.red() > 200 && color.green() < 80 && color.blue() < 80;
            }
        }
        QVERIFY2(nRed > 20, "the red count is not on the screen");
    }

    void trayIconAvailable()
    {
        QVERIFY(pTray->property("available").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(trayId() != QLatin1String("0"), 5000);
    }

    // The close button only hides the window; the tray icon brings it back at the same size.
    void closeHidesAndTrayShows()
    {
        QVERIFY(XSession::sendDeleteWindow(pWindow->winId()));
        QTRY_VERIFY(!pWindow->isVisible());
        QTRY_VERIFY(!XSession::isViewable(pWindow->winId()));
        QVERIFY(trayId() != QLatin1String("0"));

        XSession::run({"xdotool", "mousemove", "--window", trayId(), "5", "5", "click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(pWindow->isVisible(), 5000);
        QTRY_VERIFY(XSession::isViewable(pWindow->winId()));
        QCOMPARE(pWindow->size(), QSize(500, 300));
    }

    void menuItems()
    {
        QObject *pShow = find("showItem");
        QObject *pHide = find("hideItem");
        QObject *pQuit = find("quitItem");
        QVERIFY(pShow && pHide && pQuit);
        QCOMPARE(pShow->property("text").toString(), QStringLiteral("打开主界面"));
        QCOMPARE(pHide->property("text").toString(), QStringLiteral("隐藏窗口"));
        QCOMPARE(pQuit->property("text").toString(), QStringLiteral("关闭程序"));

        QMetaObject::invokeMethod(pHide, "triggered");
        QVERIFY(!pWindow->isVisible());
        QMetaObject::invokeMethod(pShow, "triggered");
        QVERIFY(pWindow->isVisible());
        // As in main(): nothing but the spy listens, so the test's own event loop is left alone.
        QObject::disconnect(pEngine.get(), &QQmlEngine::quit, nullptr, nullptr);
        QSignalSpy quitSpy(pEngine.get(), &QQmlEngine::quit);
        QMetaObject::invokeMethod(pQuit, "triggered");
        QCOMPARE(quitSpy.count(), 1);
    }
};

int main(int argc, char *argv[])
{
    XSession x;
    if (!x.start()) {
        std::fprintf(stderr, "Xvfb or trayer could not be started\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path());
    TestWindow tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_Window.moc"
