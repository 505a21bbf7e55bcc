#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <climits>
#include <csignal>

#include "XSession.h"
#include "common/ServiceInstance.h"

// The real executable: messenger path, single instance (also after a crash), worker thread
// priorities, a missing window document, and quitting from the tray menu.
class TestProcess : public QObject
{
    Q_OBJECT

private:
    struct Segment {
        int nSize;
        qint64 llCreatorPid;
        int nAttached;
    };

    // System V segments of this IPC namespace; the instance marker is the only one-byte segment.
    static QList<Segment> markerSegments()
    {
        QFile file(QStringLiteral("/proc/sysvipc/shm"));
        QList<Segment> lstSegments;
        if (!file.open(QIODevice::ReadOnly))
            return lstSegments;
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> lstFields = file.readLine().simplified().split(' ');
            if (lstFields.size() > 6 && lstFields.at(3).toInt() == 1)
                lstSegments.append({1, lstFields.at(4).toLongLong(), lstFields.at(6).toInt()});
        }
        return lstSegments;
    }
    static bool holdsMarker(qint64 llPid)
    {
        const QList<Segment> lstSegments = markerSegments();
        return lstSegments.size() == 1 && lstSegments.first().llCreatorPid == llPid && lstSegments.first().nAttached == 1;
    }
    static int runToExit(const QString &strProgram, const QStringList &lstArgs, QByteArray *pStderr = nullptr)
    {
        QProcess proc;
        proc.start(strProgram, lstArgs);
        if (!proc.waitForFinished(15000) || proc.exitStatus() != QProcess::NormalExit)
            return INT_MIN;
        if (pStderr)
            *pStderr = proc.readAllStandardError();
        return proc.exitCode();
    }
    // Scheduling policy of each thread with the given name (5 = SCHED_IDLE on Linux).
    static QList<int> threadPolicies(qint64 llPid, const QByteArray &baName)
    {
        QList<int> lstPolicies;
        const QString strTasks = QStringLiteral("/proc/%1/task").arg(llPid);
        for (const QString &strTid : QDir(strTasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(strTasks + QLatin1Char('/') + strTid + QStringLiteral("/comm"));
            QFile stat(strTasks + QLatin1Char('/') + strTid + QStringLiteral("/stat"));
            if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != baName || !stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray baStat = stat.readAll();
            // Fields after the parenthesised name start with field 3; the policy is field 41.
            const QList<QByteArray> lstFields = baStat.mid(baStat.lastIndexOf(')') + 2).split(' ');
            lstPolicies.append(lstFields.value(41 - 3).toInt());
        }
        return lstPolicies;
    }

private slots:
    void messengerSendsTwoCloseRequests_data()
    {
        QTest::addColumn<QString>("strArg");
        QTest::newRow("quit") << "quit";
        QTest::newRow("noquit") << "noquit";
        QTest::newRow("quitnow") << "quitnow";
        QTest::newRow("-quit") << "-quit";
    }
    void messengerSendsTwoCloseRequests()
    {
        QFETCH(QString, strArg);
        QUdpSocket updater;
        QVERIFY(updater.bind(QHostAddress(QStringLiteral("127.0.0.1")), 19682));
        ServiceInstance instance;

        QCOMPARE(runToExit(instance.executable(), {strArg}), 0);

        QList<QByteArray> lstDatagrams;
        while (updater.hasPendingDatagrams() || updater.waitForReadyRead(200))
            lstDatagrams.append(updater.receiveDatagram().data());
        QCOMPARE(lstDatagrams, (QList<QByteArray>{"{\"query\":\"IsUpdated\"}", "{\"query\":\"IsUpdated\"}"}));
        QCOMPARE(lstDatagrams.first().size(), 21);
        // No application object: no log directory, no configuration, nothing but the executable.
        QCOMPARE(QDir(instance.dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"VexaPrinter"});
        QVERIFY(markerSegments().isEmpty());
    }

    void upperCaseQuitStartsService()
    {
        ServiceInstance instance;
        QVERIFY(instance.start({QStringLiteral("QUIT")}));
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(instance.process().processId()), 10000);
        QVERIFY(instance.waitForLog(QStringLiteral("SSL支持状态:")));
    }

    void secondStartExitsWhileFirstRuns()
    {
        ServiceInstance first;
        QVERIFY(first.start());
        const qint64 llFirstPid = first.process().processId();
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(llFirstPid), 10000);

        ServiceInstance second;
        QCOMPARE(runToExit(second.executable(), {}), 0);

        QCOMPARE(first.process().state(), QProcess::Running);
        QVERIFY(holdsMarker(llFirstPid));
        QTcpSocket client;
        client.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        QVERIFY(client.waitForConnected(3000));
    }

    // The semaphore serialises the marker check: of two simultaneous starts exactly one stays.
    void simultaneousStartsLeaveOne()
    {
        ServiceInstance a;
        ServiceInstance b;
        a.process().start(a.executable(), QStringList());
        b.process().start(b.executable(), QStringList());
        QVERIFY(a.process().waitForStarted() && b.process().waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(a.process().state() == QProcess::NotRunning || b.process().state() == QProcess::NotRunning,
                                 15000);
        ServiceInstance &ended = a.process().state() == QProcess::NotRunning ? a : b;
        ServiceInstance &running = &ended == &a ? b : a;
        QCOMPARE(ended.waitForExit(0), 0);
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(running.process().processId()), 10000);
        QCOMPARE(running.process().state(), QProcess::Running);
    }

    void logWritersRunAtIdlePriority()
    {
        ServiceInstance instance;
        QVERIFY(instance.start());
        QVERIFY(instance.waitForLog(QStringLiteral("SSL支持状态:")));
        // Each writer names itself once it first runs, which at idle priority may take a moment.
        QTRY_COMPARE_WITH_TIMEOUT(threadPolicies(instance.process().processId(), "CBackupFiles"), (QList<int>{5, 5}), 10000);
    }

    // On Linux the marker segment survives a SIGKILL; the next start must clear it and take over.
    void startAfterKill9Succeeds()
    {
        ServiceInstance crashed;
        QVERIFY(crashed.start());
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(crashed.process().processId()), 10000);
        crashed.kill();
        QCOMPARE(markerSegments().size(), 1);
        QCOMPARE(markerSegments().first().nAttached, 0);

        ServiceInstance next;
        QVERIFY(next.start());
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(next.process().processId()), 10000);
        QCOMPARE(next.process().state(), QProcess::Running);
        ServiceInstance third;
        QCOMPARE(runToExit(third.executable(), {}), 0);
    }

    // Built from the same main routine without the compiled-in window documents.
    void missingWindowDocumentExitsMinusOne()
    {
        const QString strBinary = qEnvironmentVariable("VEXA_NOQML_BIN");
        QVERIFY(QFileInfo::exists(strBinary));
        QTemporaryDir dir;
        const QString strCopy = dir.path() + QStringLiteral("/VexaPrinter");
        QVERIFY(QFile::copy(strBinary, strCopy));

        QByteArray baStderr;
        QCOMPARE(runToExit(strCopy, {}, &baStderr), 255);
        QVERIFY2(!baStderr.contains("QThread: Destroyed while thread"), baStderr.constData());
        // The marker object was destroyed (and with it the segment), so the next start is not refused.
        QVERIFY(markerSegments().isEmpty());
        ServiceInstance next;
        QVERIFY(next.start());
        QTRY_VERIFY_WITH_TIMEOUT(holdsMarker(next.process().processId()), 10000);
    }

    void trayQuitEndsProcessWithZero()
    {
        XSession x;
        QVERIFY2(x.start(), "Xvfb and trayer are needed");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        ServiceInstance instance;
        QVERIFY(instance.start({}, env));

        QTRY_VERIFY_WITH_TIMEOUT(XSession::trayedWindow(QStringLiteral("VexaPrinter")) != 0, 10000);
        const QString strTray = QString::number(XSession::trayedWindow(QStringLiteral("VexaPrinter")));
        QString strMain;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(strMain = XSession::run({"xdotool", "search", "--onlyvisible", "--name", "V1\\.2\\.29"}).trimmed()).isEmpty(),
            5000);
        QCOMPARE(XSession::run({"xdotool", "getwindowname", strMain}).trimmed(),
                 QStringLiteral("Corvel打印控件 V1.2.29  ( : 12380)"));

        // The title-bar close only hides the window; the tray icon shows it again.
        QVERIFY(XSession::sendDeleteWindow(strMain.toULong()));
        QTRY_VERIFY_WITH_TIMEOUT(!XSession::isViewable(strMain.toULong()), 5000);
        QTest::qWait(300);
        QCOMPARE(instance.process().state(), QProcess::Running);
        XSession::run({"xdotool", "mousemove", "--window", strTray, "5", "5", "click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(XSession::isViewable(strMain.toULong()), 5000);

        XSession::run({"xdotool", "mousemove", "--window", strTray, "5", "5", "click", "3"});
        QString strMenu;
        QTRY_VERIFY_WITH_TIMEOUT(!(strMenu = popupWindow({strTray, strMain})).isEmpty(), 5000);
        const QString strGeometry = XSession::run({"xdotool", "getwindowgeometry", "--shell", strMenu});
        const int nWidth = strGeometry.section(QStringLiteral("WIDTH="), 1).section(QLatin1Char('\n'), 0, 0).toInt();
        const int nHeight = strGeometry.section(QStringLiteral("HEIGHT="), 1).section(QLatin1Char('\n'), 0, 0).toInt();
        QVERIFY(nHeight > 0);
        XSession::run({"import", "-window", "root", QStringLiteral(VEXA_SPINE_BUILD_DIR "/tray-menu.png")});
        // Three items of equal height: the last one is "关闭程序".
        XSession::run({"xdotool", "mousemove", "--window", strMenu, QString::number(nWidth / 2),
                       QString::number(nHeight * 5 / 6), "click", "1"});
        QCOMPARE(instance.waitForExit(5000), 0);
    }

private:
    // A mapped window of the service other than the given ones: the tray menu once it pops up.
    static QString popupWindow(const QStringList &lstKnown)
    {
        const QStringList lstVisible =
            XSession::run({"xdotool", "search", "--onlyvisible", "--class", "VexaPrinter"}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &strId : lstVisible) {
            if (!lstKnown.contains(strId))
                return strId;
        }
        return QString();
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"
