// The updater link: a close request on UDP 19682 (or the "quit" messenger's) is answered twice to :19681, then the service exits.
#include <QNetworkDatagram>
#include <QtTest>
#include <QUdpSocket>

#include "common/ServiceInstance.h"

class TestUpdateLink : public QObject
{
    Q_OBJECT
private slots:
    void closeRequest_data()
    {
        QTest::addColumn<QList<QByteArray>>("lstRequests"), QTest::addColumn<QByteArray>("baAnswer"); // no request: "quit" asks
        QTest::newRow("CloseApp echoes its time") << QList<QByteArray>{R"({"query":"CloseApp","time":"123"})"} << QByteArray(R"({"query":"CloseApp","check":"123"})");
        QTest::newRow("other queries unanswered, yet the last one's time is sent") << QList<QByteArray>{R"({"query":"Hello","time":"77"})", R"({"query":"closeapp","time":"5"})", "not json",
                                                                    R"({"query":"IsUpdated"})"} << QByteArray(R"({"query":"IsUpdated","check":""})");
        QTest::newRow("long time cut to 158 bytes") << QList<QByteArray>{"{\"query\":\"CloseApp\",\"time\":\"" + QByteArray(200, 'x') + "\"}"}
                                                    << ("{\"query\":\"CloseApp\",\"check\":\"" + QByteArray(200, 'x')).left(158);
        QTest::newRow("quit messenger") << QList<QByteArray>() << QByteArray(R"({"query":"IsUpdated","check":""})");
    }
    void closeRequest()
    {
        QFETCH(QList<QByteArray>, lstRequests);
        QFETCH(QByteArray, baAnswer);
        QUdpSocket answers;
        ServiceInstance service;
        QVERIFY(answers.bind(QHostAddress::LocalHost, 19681) && service.start());
        for (const QByteArray &baRequest : lstRequests)
            QCOMPARE(answers.writeDatagram(baRequest, QHostAddress::LocalHost, 19682), qint64(baRequest.size()));
        QVERIFY(!lstRequests.isEmpty() || QProcess::execute(service.executable(), {QStringLiteral("quit")}) == 0);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(((answers.hasPendingDatagrams() || answers.waitForReadyRead(5000)), answers.receiveDatagram().data()), baAnswer);
        QCOMPARE(service.waitForExit(10000), 0);
        QVERIFY(lstRequests.isEmpty() || (!answers.hasPendingDatagrams() && !answers.waitForReadyRead(200))); // the messenger's two may get two each
    }
};

QTEST_GUILESS_MAIN(TestUpdateLink)
#include "tst_update_link.moc"
