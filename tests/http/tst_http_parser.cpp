// The request framing as a pure function, bytes in, events out: however TCP cuts a stream, the same
// bodies come out.
#include <QtTest>

#include "server/HttpRequestParser.h"

namespace {
QByteArray post(const QByteArray &baBody, const QByteArray &baLength = QByteArray())
{
    const QByteArray baAnnounced = baLength.isNull() ? QByteArray::number(baBody.size()) : baLength;
    return "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: " + baAnnounced + "\r\n\r\n" + baBody;
}

QString describe(const HttpFrameEvent &event)
{
    static const char *const apKinds[] = {"header?", "notpost:", "body?", "req:", "limit:"};
    QString strText = QLatin1String(apKinds[event.eKind]) + QString::fromUtf8(event.baData);
    if (event.eKind == HttpFrameEvent::LimitExceeded)
        strText += QLatin1String(event.eLimit == HttpFrameEvent::HeaderSize ? "header:" : "body:");
    return event.eKind == HttpFrameEvent::LimitExceeded ? strText + QString::number(event.nValue) : strText;
}

// Frames the pieces as a connection receives them, keeping unconsumed bytes between reads; the
// events joined by '|', then "kept" while bytes or a body are still awaited.
QString feed(const QVector<QByteArray> &vecPieces)
{
    QStringList lstEvents;
    QByteArray baRecv;
    qint32 nContentLength = 0;
    for (const QByteArray &baPiece : vecPieces) {
        baRecv += baPiece;
        int nPos = 0;
        HttpFrameEvent event;
        do {
            event = CHttpRequestParser::next(nContentLength, baRecv, nPos);
            lstEvents << describe(event);
        } while (event.eKind == HttpFrameEvent::Request && nPos < baRecv.size());
        baRecv.remove(0, nPos);
    }
    if (!baRecv.isEmpty() || nContentLength > 0)
        lstEvents << QStringLiteral("kept");
    return lstEvents.join('|');
}
}

class TestHttpParser : public QObject
{
    Q_OBJECT
private slots:
    void oneRead_data()
    {
        const int nMaxHeader = CHttpRequestParser::kMaxHeaderBytes;
        const int nMaxBody = CHttpRequestParser::kMaxBodyBytes;
        const QByteArray baFill = "POST / HTTP/1.1\r\n" + QByteArray(nMaxHeader - 21, 'a');
        QTest::addColumn<QByteArray>("baInput");
        QTest::addColumn<QString>("strExpected");
        QTest::newRow("method is case-sensitive") << QByteArray("post / HTTP/1.1\r\n\r\n")
                                                  << "notpost:post / HTTP/1.1\r\n\r\n";
        QTest::newRow("lower-case name is not the length")
            << QByteArray("POST / HTTP/1.1\r\ncontent-length: 2\r\n\r\n{}") << "req:|header?|kept";
        QTest::newRow("header at the limit, then GET")
            << baFill + "\r\n\r\nGET / HTTP/1.1\r\n\r\n" << "req:|notpost:GET / HTTP/1.1\r\n\r\n";
        QTest::newRow("header one byte over")
            << baFill + "a\r\n\r\n" << QStringLiteral("limit:header:%1").arg(nMaxHeader + 1);
        QTest::newRow("no separator within the limit")
            << QByteArray(nMaxHeader, 'z') << QStringLiteral("limit:header:%1").arg(nMaxHeader);
        QTest::newRow("body at the limit") << post("", QByteArray::number(nMaxBody)) << "body?|kept";
        QTest::newRow("body over")
            << post("abc", QByteArray::number(nMaxBody + 1)) << QStringLiteral("limit:body:%1").arg(nMaxBody + 1);
    }
    void oneRead()
    {
        QFETCH(QByteArray, baInput);
        QFETCH(QString, strExpected);
        QCOMPARE(feed({baInput}), strExpected);
    }

    // Pipelined requests with odd lengths, cut into three reads at every pair of places.
    void pipelinedCutAnywhere()
    {
        const QByteArray baChinese = QStringLiteral("{\"content\":\"请送果盘\"}").toUtf8();
        QByteArray baStream = post("{\"Msg\":\"InfoData\"}");
        baStream += "POST /x HTTP/1.1\r\nContent-Length:   9\r\n\r\n{\"a\":\"b\"}";
        baStream += "POST / HTTP/1.1\r\nHost: h\r\n\r\n";
        baStream += post(baChinese) + post("", "1x") + post("", "-4");
        baStream += post("ab", "2\r\nContent-Length: 5");
        baStream += "POST / HTTP/1.1\r\nX-Content-Length: 3\r\n\r\nabc" + post(QByteArray());
        const QStringList lstBodies = {"{\"Msg\":\"InfoData\"}", "{\"a\":\"b\"}", "", QString::fromUtf8(baChinese),
                                       "", "", "ab", "abc", ""};
        const QString strExpected = "req:" + lstBodies.join("|req:");
        const QRegularExpression reRequest(QStringLiteral("^req:"));
        for (int i = 0; i <= baStream.size(); ++i) {
            for (int j = i; j <= baStream.size(); ++j) {
                const QString strEvents = feed({baStream.left(i), baStream.mid(i, j - i), baStream.mid(j)});
                if (strEvents.split('|').filter(reRequest).join('|') != strExpected)
                    QFAIL(qPrintable(QStringLiteral("cut at %1 and %2: %3").arg(i).arg(j).arg(strEvents)));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestHttpParser)
#include "tst_http_parser.moc"
