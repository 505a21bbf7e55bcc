// The logo loader against real local web servers (plain and TLS with a self-signed certificate).
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

#include "LogoServer.h"
#include "log/Log.h"
#include "printing/FileLoader.h"

namespace {
// The masks of what inotify reported so far for one name in a directory, in order; closes the watch.
QList<quint32> namedEvents(int nInotify, const QString &strName)
{
    QList<quint32> lstMasks;
    alignas(inotify_event) char buffer[64 * 1024];
    const ssize_t nRead = read(nInotify, buffer, sizeof buffer); // a few events: one read takes them all
    for (char *p = buffer; p < buffer + nRead; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len) {
        const auto *pEvent = reinterpret_cast<const inotify_event *>(p);
        if (pEvent->len > 0 && QFile::decodeName(pEvent->name) == strName)
            lstMasks << pEvent->mask;
    }
    close(nInotify);
    return lstMasks;
}
}

class TestLogoLoader : public QObject
{
    Q_OBJECT

private slots:
    void deliversOncePerFile_data()
    {
        QTest::addColumn<bool>("bTls");
        QTest::newRow("http") << false;
        QTest::newRow("https self-signed") << true;
    }
    void deliversOncePerFile()
    {
        QFETCH(bool, bTls);
        QTemporaryDir appDir;
        CLogoServer server;
        QVERIFY2(!bTls || server.enableTls(appDir.path()), "openssl could not make a certificate");
        server.setFile("/shop/logo.png", makeLogoPng());
        server.nReplyDelayMs = 300;
        QVERIFY(server.listenLocal());
        const QString strUrl = server.baseUrl() + "/shop/logo.png";
        FileLoader loader(appDir.path());
        QVERIFY(QDir(appDir.path()).mkdir("image"));
        const int nInotify = inotify_init1(IN_NONBLOCK);
        QVERIFY(inotify_add_watch(nInotify, QFile::encodeName(loader.strImageDir), IN_CREATE | IN_MODIFY | IN_MOVED_TO) >= 0);

        const QString strName = loader.loadLogo(strUrl);
        QTRY_COMPARE_WITH_TIMEOUT(server.nRequests, 1, 5000);
        QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateLoading));
        QCOMPARE(loader.loadLogo(strUrl), strName); // no second download while one runs
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strName), qint32(FileLoader::StatePresent), 10000);
        QFile file(loader.strImageDir + '/' + strName);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == makeLogoPng());
        // The print thread takes "the file exists" for "the logo is whole": the name appears once,
        // linked or renamed from a finished file, and is never written under it.
        const QList<quint32> lstEvents = namedEvents(nInotify, strName);
        QVERIFY2(lstEvents.size() == 1 && (lstEvents[0] == IN_CREATE || lstEvents[0] == IN_MOVED_TO), qPrintable(QString::number(lstEvents.value(0))));
        // Kept on disk and used by a loader of a later run without a request.
        FileLoader loaderLater(appDir.path());
        QCOMPARE(loaderLater.fileState(loaderLater.loadLogo(strUrl)), qint32(FileLoader::StatePresent));
        QVERIFY(!QTest::qWaitFor([&] { return server.nRequests > 1; }, 100));
    }

    void failedLogoLeavesNoFile_data()
    {
        QTest::addColumn<QString>("strUrl"); // {base}: the local server
        QTest::addColumn<bool>("bAnnounceLength");
        QTest::addColumn<QString>("strLine"); // {url}, {file}: the logo's address and file
        const QString strFailed = QStringLiteral("获取商家logo({url})失败"), strBig = QStringLiteral("商家logo({url})超过8MiB，已丢弃");
        QTest::newRow("404") << "{base}/missing.png" << true << strFailed;
        QTest::newRow("unresolvable host") << "http://nonexistent.invalid/logo.png" << true << strFailed;
        QTest::newRow("over the cap, length announced") << "{base}/big.png" << true << strBig;
        QTest::newRow("over the cap, body only grows") << "{base}/big.png" << false << strBig;
        QTest::newRow("image folder is a file") << "{base}/logo.png" << true << QStringLiteral("商家logo文件写失败,{file}");
    }
    // Not held and not kept: the state stays missing, so the receipt prints without the logo.
    void failedLogoLeavesNoFile()
    {
        QFETCH(QString, strUrl);
        QFETCH(bool, bAnnounceLength);
        QFETCH(QString, strLine);
        QTemporaryDir appDir;
        CLogoServer server;
        server.setFile("/big.png", QByteArray(int(FileLoader::kMaxLogoBytes) + 1, 'x'));
        server.setFile("/logo.png", makeLogoPng());
        server.bAnnounceLength = bAnnounceLength;
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        if (strLine.contains("{file}"))
            QVERIFY(QFile(loader.strImageDir).open(QIODevice::WriteOnly));
        strUrl.replace("{base}", server.baseUrl());
        const QString strPath = loader.strImageDir + '/' + loader.loadLogo(strUrl);
        strLine.replace("{url}", strUrl).replace("{file}", strPath);
        QTRY_VERIFY_WITH_TIMEOUT(g_printerLog.pendingLines().join('\n').contains(strLine), 10000);
        QCOMPARE(loader.fileState(QFileInfo(strPath).fileName()), qint32(FileLoader::StateMissing));
        QVERIFY(!QFile::exists(strPath));
        QCOMPARE(QDir(loader.strImageDir).entryList(QDir::Files), QStringList());
    }
};

QTEST_MAIN(TestLogoLoader)
#include "tst_logoloader.moc"
