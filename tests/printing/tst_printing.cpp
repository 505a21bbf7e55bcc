// The print queue's worker, and the logo loader against local web servers (plain and TLS).
#include <QtTest>

#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

#include "LogoServer.h"
#include "common/TestFiles.h"
#include "log/Log.h"
#include "printing/FileLoader.h"
#include "printing/PrinterQueue.h"

class TestPrinting : public QObject
{
    Q_OBJECT

    QTemporaryDir dirLogos;

    void add(CPrinterQueue &queue, const QString &strContent, const QString &strLogo = "present.png")
    {
        PrintJob job;
        job.strContent = strContent;
        if (!strLogo.isEmpty())
            job.strLogo = dirLogos.filePath(strLogo);
        job.llQueuedMs = QDateTime::currentMSecsSinceEpoch();
        queue.addPrintJob(job);
    }

private slots:
    void initTestCase() { QVERIFY(QFile(dirLogos.filePath("present.png")).open(QIODevice::WriteOnly)); }

    // One at a time, in order; closing finishes the receipt in print and drops the rest.
    void inOrderOneAtATimeUntilClosed()
    {
        QStringList lstEvents; // counts, each print's start (+) and end (-)
        QSemaphore semStarted;
        QSemaphore semRelease;
        auto pQueue = std::make_unique<CPrinterQueue>();
        const auto note = [&](int n) { lstEvents << QString::number(n); };
        connect(pQueue.get(), &CPrinterQueue::quantityChanged, this, note, Qt::DirectConnection);
        const auto releaseOnFailure = qScopeGuard([&semRelease] { semRelease.release(10); });
        pQueue->setPrintFunction([&](PrintJob &job) {
            lstEvents << '+' + job.strContent;
            semStarted.release();
            semRelease.acquire();
            lstEvents << '-' + job.strContent;
        });
        for (const char *pContent : {"a", "b", "c"})
            add(*pQueue, pContent);
        pQueue->start(); // not idle priority: it would starve while other tests run
        semRelease.release();
        QVERIFY(semStarted.tryAcquire(2, 5000)); // "b" is in print
        std::thread releaser([&semRelease] {
            QThread::msleep(300);
            semRelease.release(2); // a "c" printed wrongly shows instead of hanging
        });
        pQueue.reset();
        releaser.join();
        QCOMPARE(lstEvents.join(' '), QString("1 2 3 +a -a 2 +b -b 1"));
    }

    void logoWait_data()
    {
        QTest::addColumn<QString>("strLogo");
        QTest::addColumn<int>("nWaitMs"); // 1500: gave up, printed without it and said so
        QTest::newRow("logo there") << "present.png" << 0;
        QTest::newRow("logo arrives late") << "late.png" << 700;
        QTest::newRow("logo never arrives") << "never.png" << 1500;
        QTest::newRow("no logo") << QString() << 1500;
    }
    void logoWait()
    {
        QFETCH(QString, strLogo);
        QFETCH(int, nWaitMs);
        const QString strPath = dirLogos.filePath(strLogo);
        if (nWaitMs > 0 && nWaitMs < 1500)
            QTimer::singleShot(nWaitMs, this, [strPath] { QFile(strPath).open(QFile::WriteOnly); });
        std::atomic<qint64> llWaitedMs{-1};
        CPrinterQueue queue;
        const auto print = [&](PrintJob &job) { llWaitedMs = QDateTime::currentMSecsSinceEpoch() - job.llQueuedMs; };
        queue.setPrintFunction(print);
        add(queue, "x", strLogo);
        queue.start();
        QTRY_VERIFY(llWaitedMs >= nWaitMs);
        QVERIFY2(llWaitedMs < nWaitMs + 800, qPrintable(QString::number(llWaitedMs)));
        const QString strLine = "商家logo文件超时，现直接打印(" + strLogo + ')';
        QCOMPARE(g_printerLog.pendingLines().filter(strLine).size(), int(nWaitMs >= 1500));
    }

    void loadLogo_data()
    {
        QTest::addColumn<QString>("strPath"); // "s" first: over TLS
        QTest::addColumn<bool>("bAnnounceLength");
        QTest::addColumn<QString>("strLine"); // empty: delivered; else logged, nothing kept
        const QString strBig = "商家logo({url})超过8MiB，已丢弃";
        QTest::newRow("http") << "/logo.png" << true << "";
        QTest::newRow("https self-signed") << "s/logo.png" << true << "";
        QTest::newRow("404") << "/missing.png" << true << "获取商家logo({url})失败";
        QTest::newRow("over the cap, length announced") << "/big.png" << true << strBig;
        QTest::newRow("over the cap, body only grows") << "/big.png" << false << strBig;
        QTest::newRow("image folder is a file") << "/logo.png" << true << "商家logo文件写失败,{file}";
    }
    void loadLogo()
    {
        QFETCH(QString, strPath);
        QFETCH(bool, bAnnounceLength);
        QFETCH(QString, strLine);
        QTemporaryDir appDir;
        CLogoServer server;
        server.setFile("/logo.png", makeLogoPng());
        server.setFile("/big.png", QByteArray(int(FileLoader::kMaxLogoBytes) + 1, 'x'));
        server.bAnnounceLength = bAnnounceLength;
        server.nReplyDelayMs = 300;
        if (strPath.startsWith('s'))
            QVERIFY2(server.enableTls(appDir.path()), "openssl could not make a certificate");
        QVERIFY(server.listenLocal());
        FileLoader loader(appDir.path());
        const bool bFolderIsFile = strLine.contains("{file}");
        QVERIFY(bFolderIsFile ? QFile(loader.strImageDir).open(QFile::WriteOnly) : QDir().mkpath(loader.strImageDir));
        const int nInotify = inotify_init1(IN_NONBLOCK);
        const auto closeWatch = qScopeGuard([nInotify] { close(nInotify); });
        inotify_add_watch(nInotify, QFile::encodeName(loader.strImageDir), IN_CREATE | IN_MODIFY | IN_MOVED_TO);
        const QString strUrl = server.baseUrl() + strPath.mid(strPath.startsWith('s'));
        const QString strName = loader.loadLogo(strUrl);
        const QString strFile = loader.strImageDir + '/' + strName;
        QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateLoading));
        QCOMPARE(loader.loadLogo(strUrl), strName); // no second download while one runs
        if (!strLine.isEmpty()) { // the receipt prints without it
            strLine.replace("{url}", strUrl).replace("{file}", strFile);
            QTRY_VERIFY_WITH_TIMEOUT(g_printerLog.pendingLines().join('\n').contains(strLine), 10000);
            QCOMPARE(loader.fileState(strName), qint32(FileLoader::StateMissing));
            QCOMPARE(QDir(loader.strImageDir).entryList(QDir::Files), QStringList());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(loader.fileState(strName), qint32(FileLoader::StatePresent), 10000);
        QCOMPARE(readFile(strFile), makeLogoPng());
        // The print thread takes "the file exists" for "the logo is whole".
        alignas(inotify_event) char buffer[64 * 1024];
        const ssize_t nRead = read(nInotify, buffer, sizeof buffer);
        QList<quint32> lstEvents;
        for (ssize_t i = 0; i < nRead;) {
            const auto *pEvent = reinterpret_cast<inotify_event *>(buffer + i);
            if (pEvent->len > 0 && QFile::decodeName(pEvent->name) == strName)
                lstEvents << pEvent->mask;
            i += sizeof(inotify_event) + pEvent->len;
        }
        QVERIFY(lstEvents == QList<quint32>{IN_CREATE} || lstEvents == QList<quint32>{IN_MOVED_TO});
        FileLoader loaderLater(appDir.path()); // a later run uses it without a request
        QCOMPARE(loaderLater.fileState(loaderLater.loadLogo(strUrl)), qint32(FileLoader::StatePresent));
        QVERIFY(!QTest::qWaitFor([&] { return server.nRequests != 1; }, 100));
    }
};

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
