// The request framing as a pure function: bytes in, events out, no sockets.
#include <QtTest>

#include "server/HttpRequestParser.h"

namespace {
QByteArray post(const QByteArray &baBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Length: " + QByteArray::number(baBody.size())
           + "\r\n\r\n" + baBody;
}

// Compact text form of events so tables can state whole sequences.
QStringList describe(const QList<HttpFrameEvent> &lstEvents)
{
    QStringList lst;
    for (const HttpFrameEvent &event : lstEvents) {
        switch (event.eKind) {
        case HttpFrameEvent::HeaderIncomplete: lst << QStringLiteral("header?"); break;
        case HttpFrameEvent::BodyIncomplete: lst << QStringLiteral("body?"); break;
        case HttpFrameEvent::NotPost: lst << QStringLiteral("notpost:") + QString::fromUtf8(event.baData); break;
        case HttpFrameEvent::Request: lst << QStringLiteral("req:") + QString::fromUtf8(event.baData); break;
        case HttpFrameEvent::NextRequest: lst << QStringLiteral("next:%1").arg(event.nValue); break;
        case HttpFrameEvent::LimitExceeded:
            lst << QStringLiteral("limit:%1:%2")
                       .arg(event.eLimit == HttpFrameEvent::HeaderSize ? "header" : "body")
                       .arg(event.nValue);
            break;
        }
    }
    return lst;
}

// Feeds the stream in the given pieces and returns the bodies dispatched, in order.
QList<QByteArray> bodiesOf(const QList<QByteArray> &lstPieces)
{
    qint32 nContentLength = 0;
    QByteArray baRecv;
    QList<QByteArray> lstBodies;
    for (const QByteArray &baPiece : lstPieces) {
        for (const HttpFrameEvent &event : CHttpRequestParser::feed(nContentLength, baRecv, baPiece)) {
            if (event.eKind == HttpFrameEvent::Request)
                lstBodies << event.baData;
        }
    }
    return lstBodies;
}
}

class TestHttpParser : public QObject
{
    Q_OBJECT
private slots:
    void oneRead_data();
    void oneRead();
    void pipelinedCutAnywhere();
    void splitStatesAreReported();
    void headerLimit();
    void bodyLimit();
    void stateAfterRefusalIsEmpty();
};

void TestHttpParser::oneRead_data()
{
    QTest::addColumn<QByteArray>("baInput");
    QTest::addColumn<QStringList>("lstExpected");

    QTest::newRow("complete") << post("{\"Msg\":\"InfoData\"}") << QStringList{"req:{\"Msg\":\"InfoData\"}"};
    QTest::newRow("two pipelined") << post("{\"a\":1}") + post("{\"b\":22}")
                                   << QStringList{"req:{\"a\":1}", "next:" + QString::number(post("{\"b\":22}").size()),
                                                  "req:{\"b\":22}"};
    QTest::newRow("GET refused with the buffer")
        << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << QStringList{"notpost:GET / HTTP/1.1\r\nHost: x\r\n\r\n"};
    QTest::newRow("OPTIONS pre-flight refused") << QByteArray("OPTIONS / HTTP/1.1\r\n\r\n")
                                                << QStringList{"notpost:OPTIONS / HTTP/1.1\r\n\r\n"};
    QTest::newRow("method is case-sensitive") << QByteArray("post / HTTP/1.1\r\n\r\n")
                                              << QStringList{"notpost:post / HTTP/1.1\r\n\r\n"};
    QTest::newRow("blanks and CR around the length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length:   57\r\n\r\n") + QByteArray(57, 'x')
        << QStringList{"req:" + QString(57, 'x')};
    QTest::newRow("no length: empty body, rest is next request")
        << QByteArray("POST / HTTP/1.1\r\nHost: x\r\n\r\n") + post("{}")
        << QStringList{"req:", "next:" + QString::number(post("{}").size()), "req:{}"};
    QTest::newRow("length 0") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QStringList{"req:"};
    QTest::newRow("unparsable length is 0") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n")
                                            << QStringList{"req:"};
    QTest::newRow("negative length is an empty body") << QByteArray("POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n")
                                                      << QStringList{"req:"};
    QTest::newRow("first matching line wins")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\nab")
        << QStringList{"req:ab"};
    QTest::newRow("name may be embedded in a longer one")
        << QByteArray("POST / HTTP/1.1\r\nX-Content-Length: 3\r\n\r\nabc") << QStringList{"req:abc"};
    const QByteArray baLower = "POST / HTTP/1.1\r\ncontent-length: 7\r\n\r\n{\"a\":1}";
    QTest::newRow("lower-case name is not the length")
        << baLower + post("{}")
        << QStringList{"req:", "next:" + QString::number(7 + post("{}").size()),
                       "notpost:{\"a\":1}" + QString::fromLatin1(post("{}"))};
    QTest::newRow("partial header") << QByteArray("POST / HTTP/1.1\r\nContent-") << QStringList{"header?"};
    QTest::newRow("partial body") << post("{\"a\":1}").chopped(2) << QStringList{"body?"};
    QTest::newRow("complete then partial") << post("{}") + "POST /"
                                           << QStringList{"req:{}", "next:6", "header?"};
}

void TestHttpParser::oneRead()
{
    QFETCH(QByteArray, baInput);
    QFETCH(QStringList, lstExpected);
    qint32 nContentLength = 0;
    QByteArray baRecv;
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baInput)), lstExpected);
}

// However TCP cuts the stream, the same bodies come out in the same order.
void TestHttpParser::pipelinedCutAnywhere()
{
    const QByteArray baChinese = QStringLiteral("{\"Msg\":\"DrinkMsg\",\"content\":\"请送果盘\"}").toUtf8();
    const QByteArray baStream = post("{\"Msg\":\"InfoData\"}") + "POST /x HTTP/1.1\r\nContent-Length:   9\r\n\r\n{\"a\":\"b\"}"
                                + QByteArray("POST / HTTP/1.1\r\nHost: h\r\n\r\n") + post(baChinese) + post(QByteArray());
    const QList<QByteArray> lstExpected{"{\"Msg\":\"InfoData\"}", "{\"a\":\"b\"}", "", baChinese, ""};
    QCOMPARE(bodiesOf({baStream}), lstExpected);

    QList<QByteArray> lstBytes;
    for (char c : baStream)
        lstBytes << QByteArray(1, c);
    QCOMPARE(bodiesOf(lstBytes), lstExpected);

    for (int i = 0; i <= baStream.size(); ++i) {
        for (int j = i; j <= baStream.size(); ++j) {
            const QList<QByteArray> lstPieces{baStream.left(i), baStream.mid(i, j - i), baStream.mid(j)};
            if (bodiesOf(lstPieces) != lstExpected)
                QFAIL(qPrintable(QStringLiteral("cut at %1 and %2").arg(i).arg(j)));
        }
    }
}

void TestHttpParser::splitStatesAreReported()
{
    const QByteArray baRequest = post("{\"a\":1}");
    const int nHeaderEnd = baRequest.indexOf("\r\n\r\n") + 4;
    qint32 nContentLength = 0;
    QByteArray baRecv;
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baRequest.left(10))), QStringList{"header?"});
    QCOMPARE(nContentLength, 0);
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baRequest.mid(10, nHeaderEnd - 8))),
             QStringList{"body?"});
    QCOMPARE(nContentLength, 7);
    QCOMPARE(baRecv, QByteArray("{\""));  // header already gone, body waits
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baRequest.mid(nHeaderEnd + 2))),
             QStringList{"req:{\"a\":1}"});
    QCOMPARE(nContentLength, 0);
    QVERIFY(baRecv.isEmpty());
}

void TestHttpParser::headerLimit()
{
    const int nMax = CHttpRequestParser::kMaxHeaderBytes;
    // Separator ending exactly at the limit is still accepted.
    const QByteArray baPrefix = "POST / HTTP/1.1\r\nX: ";
    QByteArray baFits = baPrefix + QByteArray(nMax - baPrefix.size() - 4, 'a') + "\r\n\r\n";
    QCOMPARE(baFits.size(), nMax);
    qint32 nContentLength = 0;
    QByteArray baRecv;
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baFits)), QStringList{"req:"});

    QByteArray baTooLong = baPrefix + QByteArray(nMax - baPrefix.size() - 3, 'a') + "\r\n\r\n";
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baTooLong)),
             QStringList{QStringLiteral("limit:header:%1").arg(nMax + 1)});

    // Without any separator the limit trips as soon as 64 KiB are buffered, fed in small pieces.
    QStringList lstLast;
    for (int i = 0; i < nMax / 1024; ++i)
        lstLast = describe(CHttpRequestParser::feed(nContentLength, baRecv, QByteArray(1024, 'z')));
    QCOMPARE(lstLast, QStringList{QStringLiteral("limit:header:%1").arg(nMax)});
    QVERIFY(baRecv.isEmpty());
}

void TestHttpParser::bodyLimit()
{
    const qint32 nMax = CHttpRequestParser::kMaxBodyBytes;
    qint32 nContentLength = 0;
    QByteArray baRecv;
    const QByteArray baAtLimit = "POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(nMax) + "\r\n\r\n";
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, baAtLimit)), QStringList{"body?"});
    QCOMPARE(nContentLength, nMax);

    nContentLength = 0;
    baRecv.clear();
    const QByteArray baOver = "POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(nMax + 1) + "\r\n\r\nabc";
    QCOMPARE(describe(CHttpRequestParser::feed(nContentLength, baRecv, post("{}") + baOver)),
             (QStringList{"req:{}", "next:" + QString::number(baOver.size()),
                          QStringLiteral("limit:body:%1").arg(nMax + 1)}));
    QCOMPARE(nContentLength, 0);
    QVERIFY(baRecv.isEmpty());
}

void TestHttpParser::stateAfterRefusalIsEmpty()
{
    qint32 nContentLength = 0;
    QByteArray baRecv;
    CHttpRequestParser::feed(nContentLength, baRecv, "GET / HTTP/1.1\r\n\r\n" + post("{}"));
    QVERIFY(baRecv.isEmpty());
    QCOMPARE(nContentLength, 0);
}

QTEST_APPLESS_MAIN(TestHttpParser)
#include "tst_http_parser.moc"
