// Equivalence run (benchmarks/stress/run.sh, not part of the test suite): the request path's faster
// forms against the plain ones they replaced, a log line built piecewise with a cached time stamp and
// the Content-Length scan that no longer splits the header into lines; then both forms timed.
#include <QDateTime>
#include <QtTest>

#include "log/Log.h"
#include "server/HttpRequestParser.h"

namespace {
QString referenceLine(const QString &strMessage, const char *pFile, int nLine)
{
    const QString strTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return QStringLiteral("[%1] %2 (%3:%4)\n").arg(strTime, strMessage, QString::fromUtf8(pFile), QString::number(nLine));
}

qint32 referenceContentLength(const QByteArray &baHeader)
{
    for (const QByteArray &baLine : baHeader.split('\n')) {
        if (!baLine.contains("Content-Length:"))
            continue;
        bool bOk = false;
        const qint32 nValue = baLine.split(':').value(1).trimmed().toInt(&bOk, 10);
        return bOk ? nValue : 0;
    }
    return 0;
}
}

class TestPerfEquivalence : public QObject
{
    Q_OBJECT
private slots:
    void logLine_data();
    void logLine();
    void logTimeFollowsClock();
    void contentLength_data();
    void contentLength();
    void speed_data();
    void speed();
};

void TestPerfEquivalence::logLine_data()
{
    QTest::addColumn<QString>("strMessage");
    QTest::addColumn<QByteArray>("baFile");
    QTest::addColumn<int>("nLine");
    QTest::newRow("plain") << QStringLiteral("本机IP:192.168.1.5") << QByteArray("MainApp.cpp") << 42;
    QTest::newRow("markers in message") << QStringLiteral("%1 %2 %3 %4 %%") << QByteArray("HttpHandlers.cpp") << 7;
    QTest::newRow("empty message") << QString() << QByteArray("a.cpp") << 1;
    QTest::newRow("line feed inside") << QStringLiteral("a\nb\r\n") << QByteArray("x.cpp") << 123456;
    QTest::newRow("non-ASCII file name") << QStringLiteral("m") << QByteArray("日志.cpp") << 9;
}

void TestPerfEquivalence::logLine()
{
    QFETCH(QString, strMessage);
    QFETCH(QByteArray, baFile);
    QFETCH(int, nLine);
    // The clock may tick between the two builds: one of the references around it must match.
    const QString strBefore = referenceLine(strMessage, baFile.constData(), nLine);
    const QString strLine = CBackupFiles::buildLine(strMessage, baFile.constData(), nLine);
    const QString strAfter = referenceLine(strMessage, baFile.constData(), nLine);
    QVERIFY2(strLine == strBefore || strLine == strAfter, qPrintable(strLine));
}

// The cached stamp is renewed when the second changes.
void TestPerfEquivalence::logTimeFollowsClock()
{
    const QString strFirst = CBackupFiles::buildLine(QStringLiteral("m"), "f.cpp", 1);
    QTest::qWait(1100);
    const QString strSecond = CBackupFiles::buildLine(QStringLiteral("m"), "f.cpp", 1);
    QVERIFY(strFirst != strSecond);
    QCOMPARE(strSecond.mid(1, 19), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

void TestPerfEquivalence::contentLength_data()
{
    QTest::addColumn<QByteArray>("baHeader");
    QTest::newRow("usual") << QByteArray("POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 18\r\nX: y");
    QTest::newRow("blanks and CR") << QByteArray("POST /\r\nContent-Length:   57\r");
    QTest::newRow("first line only") << QByteArray("POST /\nContent-Length: 5\nContent-Length: 9");
    QTest::newRow("name mid-line") << QByteArray("POST /\nX-Content-Length: 12\n");
    QTest::newRow("colon before name") << QByteArray("POST /\nX: Content-Length: 12\n");
    QTest::newRow("second colon") << QByteArray("POST /\nContent-Length: 12:34\n");
    QTest::newRow("on the first line") << QByteArray("POST Content-Length: 3");
    QTest::newRow("no value") << QByteArray("POST /\nContent-Length:");
    QTest::newRow("negative") << QByteArray("POST /\nContent-Length: -4\n");
    QTest::newRow("overflow") << QByteArray("POST /\nContent-Length: 99999999999\n");
    QTest::newRow("lower case") << QByteArray("POST /\ncontent-length: 4\n");
    QTest::newRow("tab and junk") << QByteArray("POST /\nContent-Length:\t7x\n");
}

void TestPerfEquivalence::contentLength()
{
    QFETCH(QByteArray, baHeader);
    QCOMPARE(CHttpRequestParser::contentLength(baHeader), referenceContentLength(baHeader));
}

void TestPerfEquivalence::speed_data()
{
    QTest::addColumn<bool>("bReference");
    QTest::newRow("log line, in use") << false;
    QTest::newRow("log line, reference") << true;
    QTest::newRow("Content-Length, in use") << false;
    QTest::newRow("Content-Length, reference") << true;
}

void TestPerfEquivalence::speed()
{
    QFETCH(bool, bReference);
    const QByteArray baHeader("POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Type: text/plain\r\nContent-Length: 18");
    const bool bLogLine = QByteArray(QTest::currentDataTag()).startsWith("log");
    qint64 llSink = 0;
    QBENCHMARK {
        if (bLogLine)
            llSink += (bReference ? referenceLine(QStringLiteral("本机IP:192.168.1.5"), "MainApp.cpp", 42)
                                  : CBackupFiles::buildLine(QStringLiteral("本机IP:192.168.1.5"), "MainApp.cpp", 42)).size();
        else
            llSink += bReference ? referenceContentLength(baHeader) : CHttpRequestParser::contentLength(baHeader);
    }
    QVERIFY(llSink > 0);
}

QTEST_GUILESS_MAIN(TestPerfEquivalence)
#include "stress_equivalence.moc"
