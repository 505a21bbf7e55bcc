// The logo loader against real local web servers (plain and TLS with a self-signed certificate).
#include <QtTest>
#include <sys/inotify.h>
#include <unistd.h>
#include "LogoServer.h"
#include "log/Log.h"
#include "printing/FileLoader.h"

class TestLogoLoader : public QObject
{
    Q_OBJECT
private slots:
    void loadLogo_data()
    {
        QTest::addColumn<QString>("strUrl");  // {base}: the local server, plain or (with "s") TLS
        QTest::addColumn<bool>("bAnnounceLength");
        QTest::addColumn<QString>("strLine"); // empty: delivered; else logged, nothing kept ({url}, {file})
        const QString strFailed = QStringLiteral("获取商家logo({url})失败"), strBig = QStringLiteral("商家logo({url})超过8MiB，已丢弃");
        QTest::newRow("http") << "{base}/logo.png" << true << QString();
        QTest::newRow("https self-signed") << "{base}s/logo.png" << true << QString();
        QTest::newRow("404") << "{base}/missing.png" << true << strFailed;
        QTest::newRow("unresolvable host") << "http://nonexistent.invalid/logo.png" << true << strFailed;
        QTest::newRow("over the cap, length announced") << "{base}/big.png" << true << strBig;
        QTest::newRow("over the cap, body only grows") << "{base}/big.png" << false << strBig;
        QTest::newRow("image folder is a file") << "{base}/logo.png" << true << QStringLiteral("商家logo文件写失败,{file}");
    }
    void loadLogo()
    {
        QFETCH(QString, strUrl);
        QFETCH(bool, bAnnounceLength);
        QFETCH(QString, strLine);
        QTemporaryDir appDir;
        CLogoServer server;
        server.mapFiles = {{"/logo.png", makeLogoPng()}, {"/big.png", QByteArray(int(FileLoader::kMaxLogoBytes) + 1, 'x')}};
        server.bAnnounceLength = bAnnounceLength;
        server.nReplyDelayMs = 300;
        QVERIFY2(!strUrl.startsWith("{base}s") || server.enableTls(appDir.path()), "openssl could not make a certificate");
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        QVERIFY(strLine.contains("{file}") ? QFile(loader.strImageDir).open(QIODevice::WriteOnly) : QDir().mkpath(loader.strImageDir));
        const int nInotify = inotify_init1(IN_NONBLOCK);
        const auto closeWatch = qScopeGuard([nInotify] { close(nInotify); });
        QVERIFY(inotify_add_watch(nInotify, QFile::encodeName(loader.strImageDir), IN_CREATE | IN_MODIFY | IN_MOVED_TO) >= 0);
        strUrl.replace(QRegularExpression("\\{base\\}s?"), server.baseUrl());
        const QString strName = loader.loadLogo(strUrl), strFile = loader.strImageDir + '/' + strName;
        QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateLoading));
        QCOMPARE(loader.loadLogo(strUrl), strName); // no second download while one runs
        if (!strLine.isEmpty()) { // the state stays missing: the receipt prints without the logo
            strLine.replace("{url}", strUrl).replace("{file}", strFile);
            QTRY_VERIFY_WITH_TIMEOUT(g_printerLog.pendingLines().join('\n').contains(strLine), 10000);
            QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateMissing));
            QCOMPARE(QDir(loader.strImageDir).entryList(QDir::Files), QStringList());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strName), qint32(FileLoader::StatePresent), 10000);
        QFile file(strFile);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == makeLogoPng());
        // The print thread takes "the file exists" for "the logo is whole": the name appears once, linked or
        // renamed from a finished file, and is never written under it.
        alignas(inotify_event) char buffer[64 * 1024];
        QList<quint32> lstEvents;
        for (ssize_t nRead = read(nInotify, buffer, sizeof buffer), i = 0; i < nRead; i += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(buffer + i)->len)
            if (const auto *pEvent = reinterpret_cast<inotify_event *>(buffer + i); pEvent->len > 0 && QFile::decodeName(pEvent->name) == strName)
                lstEvents << pEvent->mask;
        QVERIFY2(lstEvents == QList<quint32>{IN_CREATE} || lstEvents == QList<quint32>{IN_MOVED_TO}, qPrintable(QString::number(lstEvents.value(0))));
        FileLoader loaderLater(appDir.path()); // kept on disk: a later run uses it without a request
        QCOMPARE(loaderLater.fileState(loaderLater.loadLogo(strUrl)), qint32(FileLoader::StatePresent));
        QVERIFY(!QTest::qWaitFor([&] { return server.nRequests != 1; }, 100));
    }
};

QTEST_MAIN(TestLogoLoader)
#include "tst_logoloader.moc"
