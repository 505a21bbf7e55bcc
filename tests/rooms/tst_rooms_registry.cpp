// Box registry: status datagrams over a real loopback socket, the "InfoData" list and its online rule.
#include <QUdpSocket>
#include <QtTest>

#include "RoomsHarness.h"
#include "rooms/InformationServices.h"

class TestRoomsRegistry : public QObject
{
    Q_OBJECT

private:
    RoomsHarness harness;
    CInformationServices *pServices = nullptr;

    // Sends from a chosen loopback address and waits until the datagram was handled.
    void announce(const QByteArray &baDatagram, const QString &strFrom = QStringLiteral("127.0.0.2"))
    {
        const int nBefore = countLogLines(g_vodLog, QStringLiteral("机顶盒状态信息更新"));
        sendRaw(baDatagram, strFrom);
        QTRY_COMPARE_WITH_TIMEOUT(countLogLines(g_vodLog, QStringLiteral("机顶盒状态信息更新")), nBefore + 1, 5000);
    }

    void sendRaw(const QByteArray &baDatagram, const QString &strFrom = QStringLiteral("127.0.0.2"))
    {
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(strFrom), 0));
        QCOMPARE(sender.writeDatagram(baDatagram, QHostAddress::LocalHost, pServices->listenPort()),
                 qint64(baDatagram.size()));
    }

    QStringList accountsInOrder()
    {
        QStringList lstAccounts;
        for (const StbInfo &stbInfo : pServices->stbInfos())
            lstAccounts << QString::number(stbInfo.unAccount);
        return lstAccounts;
    }

private slots:
    void init()
    {
        harness.unTickMs = 1000;
        pServices = new CInformationServices(nullptr, harness.options());
    }

    void cleanup()
    {
        delete pServices;
        pServices = nullptr;
    }

    void emptyRegistry()
    {
        QCOMPARE(pServices->getStbList(), QStringLiteral("{\"code\":180,\"data\":[]}"));
    }

    void oneBoxReportedExactly()
    {
        announce(R"({"query":"stbInfo","account":5,"roomName":"Room 1 A","cprtQrCode":"q r","isServer":0,
                     "isCloseRoom":1,"cprtSigned":-2,"cprtPayStatus":3,"cprtTime":"77"})");
        QCOMPARE(countLogLines(g_vodLog, QStringLiteral("机顶盒状态信息更新:ip:127.0.0.2 room:Room 1 A 云账号:5")), 1);
        harness.unTickMs = 1200;
        QCOMPARE(pServices->getStbList(),
                 QStringLiteral("{\"code\":180,\"data\":[{\"cprtPayStatus\":3,\"cprtQrCode\":\"qr\",\"cprtSigned\":-2,"
                                "\"cprtTime\":\"77\",\"isCloseRoom\":1,\"isServer\":0,\"roomName\":\"Room1A\","
                                "\"strIp\":\"127.0.0.2\",\"unAccount\":\"5\",\"unTime\":\"1000\"}]}"));
    }

    void chineseRoomNameUnchanged()
    {
        announce(R"({"query":"stbInfo","account":6,"roomName":"豪华 包厢"})");
        harness.unTickMs += 1;
        QVERIFY(pServices->getStbList().contains(QStringLiteral("\"roomName\":\"豪华包厢\"")));
    }

    void sameAccountFromTwoAddresses()
    {
        announce(R"({"query":"stbInfo","account":9,"roomName":"a"})", QStringLiteral("127.0.0.2"));
        announce(R"({"query":"stbInfo","account":9,"roomName":"b"})", QStringLiteral("127.0.0.3"));
        const QVector<StbInfo> vecStb = pServices->stbInfos();
        QCOMPARE(vecStb.size(), 1);
        QCOMPARE(vecStb.at(0).strIp, QStringLiteral("127.0.0.3"));
        QCOMPARE(vecStb.at(0).roomName, QStringLiteral("b"));
    }

    void serverGoesToFrontAndOrderNeverChanges()
    {
        announce(R"({"query":"stbInfo","account":1})");
        announce(R"({"query":"stbInfo","account":2})");
        announce(R"({"query":"stbInfo","account":3,"isServer":1})");
        QCOMPARE(accountsInOrder(), QStringList({"3", "1", "2"}));
        announce(R"({"query":"stbInfo","account":3,"isServer":0})");
        announce(R"({"query":"stbInfo","account":2,"isServer":1})");
        QCOMPARE(accountsInOrder(), QStringList({"3", "1", "2"}));
        QCOMPARE(pServices->stbInfos().at(2).isServer, 1);
    }

    void accountForms_data()
    {
        QTest::addColumn<QByteArray>("baAccount");
        QTest::newRow("digits") << QByteArray("\"4000000001\"");
        QTest::newRow("number") << QByteArray("4000000001");
        QTest::newRow("rounded number") << QByteArray("4000000000.6");
    }

    void accountForms()
    {
        QFETCH(QByteArray, baAccount);
        announce(R"({"query":"stbInfo","account":4000000001,"roomName":"first"})");
        announce(R"({"query":"stbInfo","roomName":"second","account":)" + baAccount + "}");
        QCOMPARE(pServices->stbInfos().size(), 1);
        QCOMPARE(pServices->stbInfos().at(0).unAccount, 4000000001u);
        QCOMPARE(pServices->stbInfos().at(0).roomName, QStringLiteral("second"));
        QVERIFY(pServices->findStb(4000000001u));
        QVERIFY(!pServices->findStb(0));
    }

    void onlineWindow_data()
    {
        QTest::addColumn<quint32>("unNow");
        QTest::addColumn<bool>("bOnline");
        QTest::newRow("same millisecond") << 1000u << false;
        QTest::newRow("one ms later") << 1001u << true;
        QTest::newRow("exactly 15000 ms") << 16000u << true;
        QTest::newRow("15001 ms") << 16001u << false;
        QTest::newRow("clock behind the record") << 999u << false;
    }

    void onlineWindow()
    {
        QFETCH(quint32, unNow);
        QFETCH(bool, bOnline);
        announce(R"({"query":"stbInfo","account":21,"roomName":"R 8"})");
        harness.unTickMs = unNow;
        const QString strOffline = QStringLiteral("机顶盒离线：ip:127.0.0.2,room:R 8, 离线时间:%1").arg(unNow - 1000u);
        const int nBefore = countLogLines(g_vodLog, strOffline);
        const QString strList = pServices->getStbList();
        QCOMPARE(strList.contains(QStringLiteral("\"unAccount\":\"21\"")), bOnline);
        QCOMPARE(countLogLines(g_vodLog, strOffline), nBefore + (bOnline ? 0 : 1));
        // The record stays and is reported again once it announces itself anew.
        QCOMPARE(pServices->stbInfos().size(), 1);
    }

    void queryIsCaseSensitive_data()
    {
        QTest::addColumn<QByteArray>("baQuery");
        QTest::newRow("upper") << QByteArray("STBINFO");
        QTest::newRow("lower") << QByteArray("stbinfo");
        QTest::newRow("capital") << QByteArray("StbInfo");
        QTest::newRow("number") << QByteArray("7");
    }

    void queryIsCaseSensitive()
    {
        QFETCH(QByteArray, baQuery);
        sendRaw(R"({"query":")" + baQuery + R"(","account":77})");
        announce(R"({"query":"stbInfo","account":78})"); // handled after the one before it
        QCOMPARE(accountsInOrder(), QStringList({"78"}));
    }

    void badInputNeverStopsTheLoop()
    {
        const QList<QByteArray> lstBad = {
            QByteArray("not json at all"),
            QByteArray(R"({"query":"stbInfo","account":1)"),              // truncated
            QByteArray(R"(["stbInfo",1])"),
            QByteArray(R"({"query":"reboot","account":2})"),
            QByteArray(R"({"account":3})"),
            QByteArray(),
            QByteArray(R"({"query":"subtitle","data":{"remark":"x","count":"1"}})"),
        };
        for (const QByteArray &baBad : lstBad)
            sendRaw(baBad);
        // Wrong types read as 0 or empty text; a trailing zero byte ends the text.
        announce(QByteArray(R"({"query":"stbInfo","account":true,"roomName":5,"isServer":"1","cprtTime":"9",)"
                            R"("cprtSigned":1.5,"cprtQrCode":[1]})") + QByteArray(1, '\0'));
        const QVector<StbInfo> vecStb = pServices->stbInfos();
        QCOMPARE(vecStb.size(), 1);
        QCOMPARE(vecStb.at(0).unAccount, 0u);
        QCOMPARE(vecStb.at(0).roomName, QString());
        QCOMPARE(vecStb.at(0).isServer, 0);
        QCOMPARE(vecStb.at(0).cprtSigned, 0);
        QCOMPARE(vecStb.at(0).cprtTime, 9u);
        QCOMPARE(vecStb.at(0).cprtQrCode, QString());
        QVERIFY(pServices->subtitles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRoomsRegistry)
#include "tst_rooms_registry.moc"
