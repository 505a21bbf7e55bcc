// The updater link of the running service over loopback UDP: a close request on port 19682 (or the
// one the "quit" messenger sends) is answered twice to 127.0.0.1:19681, then the service exits.
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include "common/ServiceInstance.h"

class TestUpdateLink : public QObject
{
    Q_OBJECT

private slots:
    void closeRequest_data();
    void closeRequest();
};

void TestUpdateLink::closeRequest_data()
{
    QTest::addColumn<QList<QByteArray>>("lstRequests"); // none: a second start with "quit" asks
    QTest::addColumn<QByteArray>("baAnswer");

    QTest::newRow("CloseApp echoes its time") << QList<QByteArray>{R"({"query":"CloseApp","time":"123"})"}
                                              << QByteArray(R"({"query":"CloseApp","check":"123"})");
    // Other queries get no answer, yet each one stores its time: the last request's empty one is sent.
    QTest::newRow("other queries ignored")
        << QList<QByteArray>{R"({"query":"Hello","time":"77"})", R"({"query":"closeapp","time":"5"})", "not json",
                             R"({"query":"IsUpdated"})"}
        << QByteArray(R"({"query":"IsUpdated","check":""})");
    QTest::newRow("long time cut to 158 bytes")
        << QList<QByteArray>{R"({"query":"CloseApp","time":")" + QByteArray(200, 'x') + "\"}"}
        << QByteArray(R"({"query":"CloseApp","check":")" + QByteArray(200, 'x')).left(158);
    QTest::newRow("quit messenger") << QList<QByteArray>() << QByteArray(R"({"query":"IsUpdated","check":""})");
}

void TestUpdateLink::closeRequest()
{
    QFETCH(QList<QByteArray>, lstRequests);
    QFETCH(QByteArray, baAnswer);
    QUdpSocket answers;
    QVERIFY(answers.bind(QHostAddress::LocalHost, 19681));
    ServiceInstance service;
    QVERIFY(service.start());

    for (const QByteArray &baRequest : lstRequests)
        QCOMPARE(answers.writeDatagram(baRequest, QHostAddress::LocalHost, 19682), qint64(baRequest.size()));
    if (lstRequests.isEmpty())
        QCOMPARE(QProcess::execute(service.executable(), {QStringLiteral("quit")}), 0);
    for (int i = 0; i < 2; ++i) {
        QVERIFY(answers.hasPendingDatagrams() || answers.waitForReadyRead(5000));
        QCOMPARE(answers.receiveDatagram().data(), baAnswer);
    }
    QCOMPARE(service.waitForExit(10000), 0);
    // Once per request (the messenger sends its own twice, and may get both answered).
    QVERIFY(lstRequests.isEmpty() || (!answers.hasPendingDatagrams() && !answers.waitForReadyRead(200)));
}

QTEST_GUILESS_MAIN(TestUpdateLink)
#include "tst_update_link.moc"
