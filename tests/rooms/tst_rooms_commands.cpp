// Room command and subtitle sync datagrams, and the monotonic clock behind the registry.
#include <QNetworkDatagram>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include "RoomsHarness.h"
#include "platform/MonotonicClock.h"
#include "rooms/InformationServices.h"
#include "rooms/RoomDatagrams.h"

class TestRoomsCommands : public QObject
{
    Q_OBJECT

private slots:
    // Runs first: nothing in this process has read the clock yet.
    void tickStartsAtZeroAndNeverGoesBack()
    {
        QCOMPARE(Platform::getTickMs(), 0u);
        QThread::msleep(30);
        const quint32 unLater = Platform::getTickMs();
        QVERIFY2(unLater >= 29 && unLater < 2000, qPrintable(QString::number(unLater)));
        QVERIFY(Platform::getTickMs() >= unLater);
    }

    void commandBytesAndTargets_data()
    {
        QTest::addColumn<qint32>("nType");
        QTest::addColumn<QString>("strContent");
        QTest::addColumn<quint32>("unTimes");
        QTest::addColumn<QString>("strIp");
        QTest::addColumn<QStringList>("lstTargets");
        QTest::addColumn<QByteArray>("baExpected");

        QTest::newRow("close one room") << 4 << QString() << 0u << QStringLiteral("192.168.77.30")
            << QStringList({"192.168.77.30:18108", "192.168.77.30:18108"})
            << QByteArray("{\n    \"clientIP\": \"192.168.77.20\",\n    \"content\": \"\",\n"
                          "    \"times\": \"0\",\n    \"type\": \"4\"\n}\n");
        QTest::newRow("fire alarm on") << 5 << QString() << 1u << QString()
            << QStringList({"192.168.77.255:18108", "224.0.0.19:18108"})
            << QByteArray("{\n    \"clientIP\": \"192.168.77.20\",\n    \"content\": \"\",\n"
                          "    \"times\": \"1\",\n    \"type\": \"5\"\n}\n");
        QTest::newRow("drink notice") << -7 << QStringLiteral("两瓶 啤酒") << 0u << QStringLiteral("10.0.0.9")
            << QStringList({"10.0.0.9:18108", "10.0.0.9:18108"})
            << QByteArray("{\n    \"clientIP\": \"192.168.77.20\",\n    \"content\": \"两瓶 啤酒\",\n"
                          "    \"times\": \"0\",\n    \"type\": \"-7\"\n}\n");
        QTest::newRow("subtitle times") << 26 << QStringLiteral("x") << 4294967295u << QString()
            << QStringList({"192.168.77.255:18108", "224.0.0.19:18108"})
            << QByteArray("{\n    \"clientIP\": \"192.168.77.20\",\n    \"content\": \"x\",\n"
                          "    \"times\": \"4294967295\",\n    \"type\": \"26\"\n}\n");
    }

    void commandBytesAndTargets()
    {
        QFETCH(qint32, nType);
        QFETCH(QString, strContent);
        QFETCH(quint32, unTimes);
        QFETCH(QString, strIp);
        QFETCH(QStringList, lstTargets);
        QFETCH(QByteArray, baExpected);
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        services.sendRoomCommand(nType, strContent, unTimes, strIp);
        QStringList lstSeen;
        for (const auto &sent : harness.vecSent) {
            lstSeen << QStringLiteral("%1:%2").arg(sent.strIp).arg(sent.unPort);
            QCOMPARE(sent.baData, baExpected);
        }
        QCOMPARE(lstSeen, lstTargets);
    }

    void noInterfaceSendsEmptyClientIp()
    {
        RoomsHarness harness;
        harness.strLocalIp.clear();
        harness.strBroadcastIp.clear();
        CInformationServices services(nullptr, harness.options());
        qint32 nType = 6;
        services.sendRoomCommand(nType, QString(), 1, QString());
        QCOMPARE(harness.vecSent.size(), 2);
        QCOMPARE(harness.sentObject(0).value("clientIP"), QJsonValue(QString()));
        QCOMPARE(harness.vecSent.at(1).strIp, QStringLiteral("224.0.0.19"));
    }

    void syncIsCutTo2046Bytes_data()
    {
        QTest::addColumn<QString>("strText");
        QTest::addColumn<int>("nBytes");
        QTest::newRow("short") << QStringLiteral("{\"query\":\"subtitle\"}") << 20;
        QTest::newRow("exactly 2046") << QString(2046, QLatin1Char('a')) << 2046;
        QTest::newRow("2047") << QString(2047, QLatin1Char('a')) << 2046;
        QTest::newRow("multi-byte") << QString(1000, QChar(0x5B57)) << 2046; // 3 bytes each in UTF-8
    }

    void syncIsCutTo2046Bytes()
    {
        QFETCH(QString, strText);
        QFETCH(int, nBytes);
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        services.sendSubtitleSync(strText);
        QCOMPARE(harness.vecSent.size(), 2);
        QCOMPARE(harness.vecSent.at(0).strIp, QStringLiteral("192.168.77.255"));
        QCOMPARE(harness.vecSent.at(1).strIp, QStringLiteral("224.0.0.19"));
        QCOMPARE(harness.vecSent.at(0).unPort, quint16(19262));
        QCOMPARE(harness.vecSent.at(0).baData.size(), nBytes);
        QCOMPARE(harness.vecSent.at(0).baData, strText.toUtf8().left(nBytes));
        QCOMPARE(harness.vecSent.at(1).baData, harness.vecSent.at(0).baData);
    }

    // The real socket path: a unicast command reaches the box twice with the same bytes.
    void unicastArrivesTwiceOnTheWire()
    {
        QUdpSocket box;
        QVERIFY(box.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        RoomsHarness harness;
        RoomServiceOptions options = harness.options();
        options.fnSend = nullptr;
        options.unRoomPort = box.localPort();
        CInformationServices services(nullptr, options);
        qint32 nType = 3;
        services.sendRoomCommand(nType, QString(), 0, QStringLiteral("127.0.0.1"));
        QList<QByteArray> lstReceived;
        for (int i = 0; i < 2; ++i) {
            QTRY_VERIFY_WITH_TIMEOUT(box.hasPendingDatagrams(), 5000);
            lstReceived << box.receiveDatagram().data();
        }
        QCOMPARE(lstReceived.at(0), lstReceived.at(1));
        QCOMPARE(QJsonDocument::fromJson(lstReceived.at(0)).object().value("type").toString(), QStringLiteral("3"));
        // Text that is no IPv4 address is dropped without a word.
        services.sendRoomCommand(nType, QString(), 0, QStringLiteral("room-7"));
        QTest::qWait(50);
        QVERIFY(!box.hasPendingDatagrams());
    }
};

QTEST_GUILESS_MAIN(TestRoomsCommands)
#include "tst_rooms_commands.moc"
