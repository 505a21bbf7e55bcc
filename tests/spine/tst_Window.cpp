// The window, in this process. On a real X server with a tray host: tests/package/install_desktop.sh.
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTcpServer>
#include <QtTest>

#include <thread>

#include "app/MainApp.h"
#include "app/WindowContext.h"
#include "server/HttpServer.h"

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowAndTray()
    {
        auto *pApp = static_cast<CMainApp *>(qApp);
        QQmlApplicationEngine engine;
        exposeToWindow(engine.rootContext(), pApp);
        engine.load(QUrl("qrc:/qml/main.qml"));
        auto *pWindow = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(pWindow);
        QVERIFY(QTest::qWaitForWindowExposed(pWindow));
        QObject *pTrayIcon = pWindow->findChild<QObject *>("trayIcon");
        QVERIFY(pTrayIcon && pTrayIcon->property("visible").toBool());

        // From a worker thread, as the print queue does.
        auto *pText = pWindow->findChild<QQuickItem *>("waitingText");
        std::thread([pApp] { pApp->setPrintQuantity(3); }).join();
        const QString strWaiting = "正在运行，等待打印：<font color=\"red\">3";
        QTRY_COMPARE(pText->property("text").toString(), strWaiting);

        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::Any, CHttpServer::kDefaultPort));
        QVERIFY(!pApp->httpServer()->start());
        auto *pHint = pWindow->findChild<QQuickItem *>("hintText");
        const QString strHint = QString("端口%1无法监听(").arg(CHttpServer::kDefaultPort);
        QTRY_VERIFY(pHint->property("text").toString().startsWith(strHint));
        QCOMPARE(pHint->property("color").value<QColor>(), QColor(Qt::red));

        QVERIFY(!pWindow->close());
        QTRY_VERIFY(!pWindow->isVisible());
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir appDir;
    CMainApp app(argc, argv, appDir.path()); // not started: the test holds the HTTP port
    TestWindow tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_Window.moc"
