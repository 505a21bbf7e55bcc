// The updater link: a close request (or the "quit" messenger's) is answered twice, then the service exits.
#include <QNetworkDatagram>
#include <QtTest>
#include <QUdpSocket>

#include "common/ServiceInstance.h"
#include "update/AutoUpdate.h"

class TestUpdateLink : public QObject
{
    Q_OBJECT

private slots:
    void closeRequest_data()
    {
        QTest::addColumn<QList<QByteArray>>("lstRequests"); // none: "quit" asks
        QTest::addColumn<QByteArray>("baAnswer");
        QTest::newRow("others unanswered, the last time is sent")
            << QList<QByteArray>{R"({"query":"Hi","time":"7"})", R"({"query":"closeapp","time":"5"})", "no json",
                                 R"({"query":"IsUpdated"})"}
            << CAutoUpdate::buildAnswer("IsUpdated", "");
        const QByteArray baTime(200, 'x');
        QTest::newRow("CloseApp echoes its time, cut")
            << QList<QByteArray>{"{\"query\":\"CloseApp\",\"time\":\"" + baTime + "\"}"}
            << CAutoUpdate::buildAnswer("CloseApp", baTime);
        QTest::newRow("quit messenger") << QList<QByteArray>() << CAutoUpdate::buildAnswer("IsUpdated", "");
    }
    void closeRequest()
    {
        QFETCH(QList<QByteArray>, lstRequests);
        QFETCH(QByteArray, baAnswer);
        QVERIFY(baAnswer.size() <= CAutoUpdate::kMaxAnswerBytes);
        QUdpSocket answers;
        QVERIFY(answers.bind(QHostAddress::LocalHost, CAutoUpdate::kAnswerPort));
        ServiceInstance service;
        QVERIFY(service.start());
        for (const QByteArray &baRequest : lstRequests)
            QVERIFY(answers.writeDatagram(baRequest, QHostAddress::LocalHost, CAutoUpdate::kListenPort) > 0);
        if (lstRequests.isEmpty())
            QCOMPARE(runToEnd(service.executable(), {"quit"}), 0);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(answers.hasPendingDatagrams() || answers.waitForReadyRead(5000));
            QCOMPARE(answers.receiveDatagram().data(), baAnswer);
        }
        QCOMPARE(service.waitForExit(10000), 0);
        if (!lstRequests.isEmpty()) // the messenger's two requests may get two answers each
            QVERIFY(!answers.hasPendingDatagrams() && !answers.waitForReadyRead(200));
    }
};

QTEST_GUILESS_MAIN(TestUpdateLink)
#include "tst_update_link.moc"
