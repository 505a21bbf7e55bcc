// The request framing as a pure function, bytes in, events out: however TCP cuts a stream, the same bodies come out.
#include <QtTest>

#include "server/HttpRequestParser.h"

static QByteArray post(const QByteArray &baBody, const QByteArray &baLength = QByteArray())
{
    return "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: " + (baLength.isNull() ? QByteArray::number(baBody.size()) : baLength) + "\r\n\r\n" + baBody;
}

// Feeds the pieces in turn; the events as text, '|' between them, and "kept" if bytes are still held.
static QString feed(const QVector<QByteArray> &lstPieces)
{
    QStringList lst;
    QByteArray baRecv;
    qint32 nContentLength = 0;
    for (const QByteArray &baPiece : lstPieces)
        for (const HttpFrameEvent &e : CHttpRequestParser::feed(nContentLength, baRecv, baPiece))
            lst << QStringList({"header?", "notpost:" + QString::fromUtf8(e.baData), "body?", "req:" + QString::fromUtf8(e.baData), QStringLiteral("next:%1").arg(e.nValue),
                                QStringLiteral("limit:%1:%2").arg(e.eLimit == HttpFrameEvent::HeaderSize ? "header" : "body").arg(e.nValue)}).at(e.eKind);
    return (baRecv.size() + nContentLength ? lst << "kept" : lst).join('|');
}

class TestHttpParser : public QObject
{
    Q_OBJECT
private slots:
    void oneRead_data()
    {
        const int nMaxHeader = CHttpRequestParser::kMaxHeaderBytes, nMaxBody = CHttpRequestParser::kMaxBodyBytes;
        QTest::addColumn<QByteArray>("baInput"), QTest::addColumn<QString>("strExpected");
        QTest::newRow("method is case-sensitive") << QByteArray("post / HTTP/1.1\r\n\r\n") << "notpost:post / HTTP/1.1\r\n\r\n";
        QTest::newRow("lower-case name is not the length") << QByteArray("POST / HTTP/1.1\r\ncontent-length: 2\r\n\r\n{}") << "req:|next:2|header?|kept";
        QTest::newRow("header at the limit, GET") << "POST / HTTP/1.1\r\n" + QByteArray(nMaxHeader - 21, 'a') + "\r\n\r\nGET / HTTP/1.1\r\n\r\n" << "req:|next:18|notpost:GET / HTTP/1.1\r\n\r\n";
        QTest::newRow("header one byte over") << "POST / HTTP/1.1\r\n" + QByteArray(nMaxHeader - 20, 'a') + "\r\n\r\n" << QStringLiteral("limit:header:%1").arg(nMaxHeader + 1);
        QTest::newRow("64 KiB without a separator") << QByteArray(nMaxHeader, 'z') << QStringLiteral("limit:header:%1").arg(nMaxHeader);
        QTest::newRow("body at the limit") << post("", QByteArray::number(nMaxBody)) << "body?|kept";
        QTest::newRow("body over") << post("abc", QByteArray::number(nMaxBody + 1)) << QStringLiteral("limit:body:%1").arg(nMaxBody + 1);
    }
    void oneRead() { QFETCH(QByteArray, baInput); QFETCH(QString, strExpected); QCOMPARE(feed({baInput}), strExpected); }

    void pipelinedCutAnywhere()
    {
        const QByteArray baChinese = QStringLiteral("{\"content\":\"请送果盘\"}").toUtf8(), baStream = post("{\"Msg\":\"InfoData\"}")
            + "POST /x HTTP/1.1\r\nContent-Length:   9\r\n\r\n{\"a\":\"b\"}POST / HTTP/1.1\r\nHost: h\r\n\r\n" + post(baChinese) + post("", "1x") + post("", "-4")
            + post("ab", "2\r\nContent-Length: 5") + "POST / HTTP/1.1\r\nX-Content-Length: 3\r\n\r\nabc" + post(QByteArray());
        const QString strExpected = "req:{\"Msg\":\"InfoData\"}|req:{\"a\":\"b\"}|req:|req:" + QString::fromUtf8(baChinese) + "|req:|req:|req:ab|req:abc|req:";
        for (int i = 0; i <= baStream.size(); ++i)
            for (int j = i; j <= baStream.size(); ++j)
                if (feed({baStream.left(i), baStream.mid(i, j - i), baStream.mid(j)}).split('|').filter(QRegularExpression("^req:")).join('|') != strExpected)
                    QFAIL(qPrintable(QStringLiteral("cut at %1 and %2").arg(i).arg(j)));
    }
};

QTEST_APPLESS_MAIN(TestHttpParser)
#include "tst_http_parser.moc"
