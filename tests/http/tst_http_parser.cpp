// The request framing as a pure function: bytes in, events out, no sockets.
#include <QtTest>

#include "server/HttpRequestParser.h"

static QByteArray post(const QByteArray &baBody, const QByteArray &baLength = QByteArray())
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Length: "
           + (baLength.isNull() ? QByteArray::number(baBody.size()) : baLength) + "\r\n\r\n" + baBody;
}

// Feeds the pieces in turn; events in a compact text form so tables can state whole sequences.
static QStringList feed(const QVector<QByteArray> &lstPieces, qint32 &nContentLength, QByteArray &baRecv)
{
    QStringList lst;
    for (const QByteArray &baPiece : lstPieces) {
        for (const HttpFrameEvent &e : CHttpRequestParser::feed(nContentLength, baRecv, baPiece)) {
            const QString strData = QString::fromUtf8(e.baData), strLimit = e.eLimit == HttpFrameEvent::HeaderSize ? "header" : "body";
            lst << QStringList({"header?", "notpost:" + strData, "body?", "req:" + strData, QStringLiteral("next:%1").arg(e.nValue),
                                QStringLiteral("limit:%1:%2").arg(strLimit).arg(e.nValue)}).at(e.eKind); // in the order of Kind
        }
    }
    return lst;
}

class TestHttpParser : public QObject
{
    Q_OBJECT
private slots:
    void oneRead_data()
    {
        const int nMaxHeader = CHttpRequestParser::kMaxHeaderBytes, nMaxBody = CHttpRequestParser::kMaxBodyBytes;
        const QByteArray baHead = "POST / HTTP/1.1\r\nX: ", baLower = "POST / HTTP/1.1\r\ncontent-length: 7\r\n\r\n{\"a\":1}\r\n\r\n";
        QTest::addColumn<QByteArray>("baInput");
        QTest::addColumn<QStringList>("lstExpected");
        QTest::newRow("two pipelined") << post("{\"a\":1}") + post("{\"b\":22}")
                                       << QStringList{"req:{\"a\":1}", QStringLiteral("next:%1").arg(post("{\"b\":22}").size()), "req:{\"b\":22}"};
        QTest::newRow("GET refused with the buffer") << QByteArray("GET / HTTP/1.1\r\n\r\n") << QStringList{"notpost:GET / HTTP/1.1\r\n\r\n"};
        QTest::newRow("method is case-sensitive") << QByteArray("post / HTTP/1.1\r\n\r\n") << QStringList{"notpost:post / HTTP/1.1\r\n\r\n"};
        QTest::newRow("blanks around the length") << post("abc", "   3") << QStringList{"req:abc"};
        QTest::newRow("no length: empty body") << QByteArray("POST / HTTP/1.1\r\n\r\n") + post("{}")
                                               << QStringList{"req:", QStringLiteral("next:%1").arg(post("{}").size()), "req:{}"};
        QTest::newRow("unparsable length is 0") << post("", "1x") << QStringList{"req:"};
        QTest::newRow("negative length is 0") << post("", "-4") << QStringList{"req:"};
        QTest::newRow("first matching line wins") << post("ab", "2\r\nContent-Length: 5") << QStringList{"req:ab"};
        QTest::newRow("name inside a longer one") << QByteArray("POST / HTTP/1.1\r\nX-Content-Length: 3\r\n\r\nabc") << QStringList{"req:abc"};
        QTest::newRow("lower-case name is not the length") << baLower << QStringList{"req:", "next:11", "notpost:{\"a\":1}\r\n\r\n"};
        QTest::newRow("header ends at the limit") << baHead + QByteArray(nMaxHeader - baHead.size() - 4, 'a') + "\r\n\r\n" << QStringList{"req:"};
        QTest::newRow("header one byte over") << baHead + QByteArray(nMaxHeader - baHead.size() - 3, 'a') + "\r\n\r\n"
                                              << QStringList{QStringLiteral("limit:header:%1").arg(nMaxHeader + 1)};
        QTest::newRow("body at the limit") << post("", QByteArray::number(nMaxBody)) << QStringList{"body?"};
        QTest::newRow("body over") << post("abc", QByteArray::number(nMaxBody + 1)) << QStringList{QStringLiteral("limit:body:%1").arg(nMaxBody + 1)};
        QTest::newRow("64 KiB without a separator") << QByteArray(nMaxHeader, 'z') << QStringList{QStringLiteral("limit:header:%1").arg(nMaxHeader)};
    }
    void oneRead()
    {
        QFETCH(QByteArray, baInput);
        QFETCH(QStringList, lstExpected);
        qint32 nContentLength = 0;
        QByteArray baRecv;
        QCOMPARE(feed({baInput}, nContentLength, baRecv), lstExpected);
        if (!lstExpected.last().endsWith('?')) // nothing is kept after a request, a refusal or a limit
            QCOMPARE(baRecv.size() + nContentLength, 0);
    }

    // However TCP cuts the stream (two cuts anywhere), the same bodies come out in the same order.
    void pipelinedCutAnywhere()
    {
        const QByteArray baChinese = QStringLiteral("{\"Msg\":\"DrinkMsg\",\"content\":\"请送果盘\"}").toUtf8();
        const QByteArray baStream = post("{\"Msg\":\"InfoData\"}") + "POST /x HTTP/1.1\r\nContent-Length:   9\r\n\r\n{\"a\":\"b\"}"
                                    + QByteArray("POST / HTTP/1.1\r\nHost: h\r\n\r\n") + post(baChinese) + post(QByteArray());
        const QStringList lstExpected{"req:{\"Msg\":\"InfoData\"}", "req:{\"a\":\"b\"}", "req:", "req:" + QString::fromUtf8(baChinese), "req:"};
        for (int i = 0; i <= baStream.size(); ++i) {
            for (int j = i; j <= baStream.size(); ++j) {
                qint32 nContentLength = 0;
                QByteArray baRecv;
                const QVector<QByteArray> lstPieces{baStream.left(i), baStream.mid(i, j - i), baStream.mid(j)};
                if (feed(lstPieces, nContentLength, baRecv).filter(QRegularExpression("^req:")) != lstExpected)
                    QFAIL(qPrintable(QStringLiteral("cut at %1 and %2").arg(i).arg(j)));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestHttpParser)
#include "tst_http_parser.moc"
