// The window and the tray on a real X server (Xvfb) with a tray host (trayer), in this process.
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTextLayout>
#include <QtTest>

#include <cstdio>
#include <thread>

#include "app/MainApp.h"
#include "app/WindowContext.h"
#include "server/HttpServer.h"

class TestWindow : public QObject
{
    Q_OBJECT

    QProcess trayer;

private slots:
    void initTestCase()
    {
        trayer.start(QStringLiteral("trayer"), {"--expand", "false", "--widthtype", "request"});
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }
    void cleanupTestCase() { trayer.kill(); trayer.waitForFinished(); }

    void windowAndTray()
    {
        CMainApp *pApp = static_cast<CMainApp *>(qApp);
        QQmlApplicationEngine engine;
        exposeToWindow(engine.rootContext(), pApp);
        engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        auto *pWindow = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(pWindow && QTest::qWaitForWindowExposed(pWindow));
        QVERIFY(pWindow->findChild<QObject *>(QStringLiteral("trayIcon"))->property("available").toBool());

        // The count is published from a worker thread, as the print queue does, and drawn in red.
        auto *pText = pWindow->findChild<QQuickItem *>(QStringLiteral("waitingText"));
        std::thread([pApp] { pApp->setPrintQuantity(3); }).join();
        QTRY_COMPARE(pText->property("text").toString(), QStringLiteral("正在运行，等待打印：<font color=\"red\">3"));
        // Every Chinese character has a real glyph (no empty boxes), and the text is drawn.
        QTextLayout layout(QStringLiteral("正在运行，等待打印"), pText->property("font").value<QFont>());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun &glyphRun : layout.glyphRuns())
            QVERIFY2(!glyphRun.glyphIndexes().contains(0), qPrintable(glyphRun.rawFont().familyName()));
        const QImage image = pWindow->grabWindow().copy(pText->mapRectToScene(pText->boundingRect()).toRect());
        int nDark = 0, nRed = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb rgb = image.pixel(x, y);
                nDark += qGray(rgb) < 100;
                nRed += qRed(rgb) > 200 && qGreen(rgb) < 80 && qBlue(rgb) < 80;
            }
        }
        QVERIFY2(nDark > 300 && nRed > 20, qPrintable(QStringLiteral("%1 dark, %2 red").arg(nDark).arg(nRed)));

        // A port that another program holds is said in the hint line, in red.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, CHttpServer::kDefaultPort) && !pApp->httpServer()->start());
        auto *pHint = pWindow->findChild<QQuickItem *>(QStringLiteral("hintText"));
        QTRY_VERIFY(pHint->property("text").toString().startsWith(QStringLiteral("端口12380无法监听(")));
        QCOMPARE(pHint->property("color").value<QColor>(), QColor(Qt::red));

        // The close button only hides the window; the service stays in the tray.
        QVERIFY(!pWindow->close());
        QTRY_VERIFY(!pWindow->isVisible());
    }
};

// Xvfb picks a free display itself (-displayfd), so tests running in parallel never collide, and it
// ends with its last client, this process (-terminate).
int main(int argc, char *argv[])
{
    FILE *pXvfb = popen("exec Xvfb -terminate -displayfd 1 -screen 0 800x600x24 -nolisten tcp", "re");
    char szDisplay[16] = {':'};
    if (!pXvfb || !fgets(szDisplay + 1, sizeof szDisplay - 1, pXvfb))
        qFatal("Xvfb could not be started");
    qputenv("DISPLAY", QByteArray(szDisplay).trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path());
    TestWindow tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_Window.moc"
