// The logo loader against real local web servers (plain and TLS with a self-signed certificate).
#include <QDir>
#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

#include "LogoServer.h"
#include "log/Log.h"
#include "printing/FileLoader.h"

namespace {
const quint32 kFileEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO;

// What inotify reported so far for one name in a directory: the masks of its events, in order.
QList<quint32> namedEvents(int nInotify, const QString &strName)
{
    QList<quint32> lstMasks;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t nRead; (nRead = read(nInotify, buffer, sizeof buffer)) > 0;) {
        for (char *p = buffer; p < buffer + nRead;) {
            const auto *pEvent = reinterpret_cast<const inotify_event *>(p);
            if (pEvent->len > 0 && QFile::decodeName(pEvent->name) == strName)
                lstMasks << pEvent->mask;
            p += sizeof(inotify_event) + pEvent->len;
        }
    }
    return lstMasks;
}
}

class TestLogoLoader : public QObject
{
    Q_OBJECT

private:
    static bool logged(const QString &strText)
    {
        for (const QString &strLine : g_printerLog.pendingLines()) {
            if (strLine.contains(strText))
                return true;
        }
        return false;
    }
    static QByteArray readFile(const QString &strPath)
    {
        QFile file(strPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray baPng = makeLogoPng();

private slots:
    void fileNameIsMd5OfAddress()
    {
        QCOMPARE(FileLoader::fileNameFor(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e.png"));
        QCOMPARE(FileLoader::fileNameFor(QStringLiteral("http://a/logo.png")),
                 FileLoader::fileNameFor(QStringLiteral("http://a/logo.png")));
        QVERIFY(FileLoader::fileNameFor(QStringLiteral("http://a/logo.png"))
                != FileLoader::fileNameFor(QStringLiteral("http://a/logo2.png")));
    }

    void tlsIsAvailable() { QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend: HTTPS logos cannot load"); }

    void deliversOverHttpAndHttps_data()
    {
        QTest::addColumn<bool>("bTls");
        QTest::newRow("http") << false;
        QTest::newRow("https self-signed") << true;
    }
    void deliversOverHttpAndHttps()
    {
        QFETCH(bool, bTls);
        QTemporaryDir appDir;
        CLogoServer server;
        if (bTls)
            QVERIFY2(server.enableTls(appDir.path()), "openssl could not make a certificate");
        server.setFile("/shop/logo.png", baPng);
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        const QString strUrl = server.baseUrl() + QStringLiteral("/shop/logo.png");
        QVERIFY(QDir(appDir.path()).mkdir(QStringLiteral("image")));
        const int nInotify = inotify_init1(IN_NONBLOCK);
        QVERIFY(inotify_add_watch(nInotify, QFile::encodeName(loader.strImageDir).constData(), kFileEvents) >= 0);

        const QString strName = loader.loadLogo(strUrl);
        QCOMPARE(strName, FileLoader::fileNameFor(strUrl));
        QCOMPARE(loader.strImageDir, appDir.path() + QStringLiteral("/image"));
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strName), qint32(FileLoader::StatePresent), 10000);
        QCOMPARE(readFile(loader.strImageDir + QLatin1Char('/') + strName), baPng);
        QCOMPARE(server.requestCount(), 1);
        // The print thread takes "the file exists" for "the logo is whole": the name appears once,
        // linked or renamed from a finished file, and is never written under it.
        const QList<quint32> lstEvents = namedEvents(nInotify, strName);
        QCOMPARE(lstEvents.size(), 1);
        QVERIFY(lstEvents.first() == IN_CREATE || lstEvents.first() == IN_MOVED_TO);
        close(nInotify);
        QCOMPARE(QDir(loader.strImageDir).entryList(QDir::Files), QStringList{strName});

        // Kept on disk and reused, also by a loader of a later run: no second request.
        FileLoader loaderLater(appDir.path());
        QCOMPARE(loaderLater.loadLogo(strUrl), strName);
        QCOMPARE(loaderLater.fileState(strName), qint32(FileLoader::StatePresent));
        QTest::qWait(100);
        QCOMPARE(server.requestCount(), 1);
    }

    void failureLogsAndLeavesNoFile_data()
    {
        QTest::addColumn<QString>("strPath");
        QTest::addColumn<bool>("bLocal");
        QTest::newRow("404") << QStringLiteral("/missing.png") << true;
        QTest::newRow("unresolvable host") << QStringLiteral("http://nonexistent.invalid/logo.png") << false;
    }
    void failureLogsAndLeavesNoFile()
    {
        QFETCH(QString, strPath);
        QFETCH(bool, bLocal);
        QTemporaryDir appDir;
        CLogoServer server;
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        const QString strUrl = bLocal ? server.baseUrl() + strPath : strPath;
        const QString strLine = QStringLiteral("获取商家logo(%1)失败").arg(strUrl);

        const QString strName = loader.loadLogo(strUrl);
        QTRY_VERIFY_WITH_TIMEOUT(logged(strLine), 10000);
        QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateMissing));
        QVERIFY(!QFile::exists(loader.strImageDir + QLatin1Char('/') + strName));
        if (bLocal) {
            // A failed address is tried again on the next receipt.
            loader.loadLogo(strUrl);
            QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 2, 5000);
        }
    }

    void droppedLogoLeavesNoFile_data()
    {
        QTest::addColumn<QByteArray>("baBody");
        QTest::addColumn<bool>("bAnnounceLength");
        QTest::addColumn<bool>("bImageDirBlocked");
        const QByteArray baOversized(int(FileLoader::kMaxLogoBytes) + 1, 'x');
        QTest::newRow("over the cap, length announced") << baOversized << true << false;
        QTest::newRow("over the cap, body only grows") << baOversized << false << false;
        QTest::newRow("image folder is a file") << baPng << true << true;
    }
    // Not held and not kept: the state stays missing, so the receipt prints without the logo.
    void droppedLogoLeavesNoFile()
    {
        QFETCH(QByteArray, baBody);
        QFETCH(bool, bAnnounceLength);
        QFETCH(bool, bImageDirBlocked);
        QTemporaryDir appDir;
        CLogoServer server;
        server.setFile("/big.png", baBody);
        server.setAnnounceLength(bAnnounceLength);
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        if (bImageDirBlocked)
            QVERIFY(QFile(loader.strImageDir).open(QIODevice::WriteOnly));
        const QString strUrl = server.baseUrl() + QStringLiteral("/big.png");
        const QString strName = loader.loadLogo(strUrl);
        const QString strPath = loader.strImageDir + QLatin1Char('/') + strName;
        const QString strLine = bImageDirBlocked ? QStringLiteral("商家logo文件写失败,%1").arg(strPath)
                                                 : QStringLiteral("商家logo(%1)超过8MiB，已丢弃").arg(strUrl);

        QTRY_VERIFY_WITH_TIMEOUT(logged(strLine), 5000);
        QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateMissing));
        QVERIFY(!QFile::exists(strPath));
        if (!bImageDirBlocked)
            QCOMPARE(QDir(loader.strImageDir).entryList(QDir::Files), QStringList());
    }

    void emptyAddressStillGetsANameAndFails()
    {
        QTemporaryDir appDir;
        FileLoader loader(appDir.path());
        QCOMPARE(loader.loadLogo(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e.png"));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("获取商家logo()失败")), 5000);
    }

    void oneDownloadPerFileAtATime()
    {
        QTemporaryDir appDir;
        CLogoServer server;
        server.setFile("/slow.png", baPng);
        server.setReplyDelayMs(400);
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        const QString strUrl = server.baseUrl() + QStringLiteral("/slow.png");

        const QString strFirst = loader.loadLogo(strUrl);
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 5000);
        QCOMPARE(loader.fileState(strFirst), qint32(FileLoader::StateLoading));
        QCOMPARE(loader.loadLogo(strUrl), strFirst);
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strFirst), qint32(FileLoader::StatePresent), 5000);
        QCOMPARE(server.requestCount(), 1);
    }

    void fileAlreadyThereIsUsedWithoutRequest()
    {
        QTemporaryDir appDir;
        CLogoServer server;
        QVERIFY(server.listenLocal());
        const QString strUrl = server.baseUrl() + QStringLiteral("/old.png");
        QDir(appDir.path()).mkpath(QStringLiteral("image"));
        QFile file(appDir.path() + QStringLiteral("/image/") + FileLoader::fileNameFor(strUrl));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(baPng);
        file.close();

        FileLoader loader(appDir.path());
        QCOMPARE(loader.fileState(loader.loadLogo(strUrl)), qint32(FileLoader::StatePresent));
        QTest::qWait(100);
        QCOMPARE(server.requestCount(), 0);
    }

    void imageDirectoryIsRecreated()
    {
        QTemporaryDir appDir;
        CLogoServer server;
        server.setFile("/a.png", baPng);
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        loader.loadLogo(server.baseUrl() + QStringLiteral("/a.png"));
        QVERIFY(QDir(loader.strImageDir).exists());
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(QDir(loader.strImageDir).count() > 2, 5000);

        QVERIFY(QDir(loader.strImageDir).removeRecursively());
        const QString strName = loader.loadLogo(server.baseUrl() + QStringLiteral("/a.png"));
        QVERIFY(QDir(loader.strImageDir).exists());
        // The old file went with the directory, so it is fetched again.
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strName), qint32(FileLoader::StatePresent), 5000);
        QCOMPARE(server.requestCount(), 2);
    }
};

QTEST_MAIN(TestLogoLoader)
#include "tst_logoloader.moc"
