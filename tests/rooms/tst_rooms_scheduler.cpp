// Subtitle schedule: add/delete commands, the 3-second pass, "./subtitle.conf" and restarts.
// Both clocks and the wire are injected: nothing waits for a real tick.
#include <QJsonArray>
#include <QUdpSocket>
#include <QtTest>

#include "RoomsHarness.h"
#include "rooms/InformationServices.h"

namespace {
const QString kConf = QStringLiteral("./subtitle.conf");

QJsonObject command(const QByteArray &baJson)
{
    return QJsonDocument::fromJson(baJson).object();
}
}

class TestRoomsScheduler : public QObject
{
    Q_OBJECT

private:
    // One scheduler pass after moving the wall clock; 'S' sent, 'R' removed, '-' neither.
    QChar tick(RoomsHarness &harness, CInformationServices &services, quint32 unAdvance)
    {
        harness.unWallSeconds += unAdvance;
        const int nSentBefore = harness.vecSent.size();
        const int nWritesBefore = harness.nWrites;
        const int nBefore = services.subtitles().size();
        services.onSendMsg();
        const bool bRemoved = services.subtitles().size() < nBefore;
        // The file changes exactly when a record left the list.
        if (bRemoved != (harness.nWrites == nWritesBefore + 1))
            return QLatin1Char('!');
        if (bRemoved)
            return QLatin1Char('R');
        return harness.vecSent.size() > nSentBefore ? QLatin1Char('S') : QLatin1Char('-');
    }

    void addFromCashier(CInformationServices &services, const QJsonValue &value)
    {
        bool bFromNetwork = false;
        services.handleSubtitle(value, bFromNetwork);
    }

private slots:
    void schedulePattern_data()
    {
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QString>("strPattern"); // one letter per tick, 3 s apart

        QTest::newRow("count 3 every 10 s") << QByteArray(R"({"remark":"a","count":3,"intervalTime":10})")
                                           << QStringLiteral("S---S---SR");
        QTest::newRow("count 1") << QByteArray(R"({"remark":"a","count":1})") << QStringLiteral("SR");
        QTest::newRow("count 2 every 4 s") << QByteArray(R"({"remark":"a","count":2,"intervalTime":4})")
                                           << QStringLiteral("S-SR");
        QTest::newRow("-99 until end") << QByteArray(R"({"remark":"a","count":-99,"intervalTime":3,
                                              "cashier_push_id":4,"end_time":"1700000007"})")
                                       << QStringLiteral("SSSR");
        QTest::newRow("-99 already expired") << QByteArray(R"({"remark":"a","count":-99,"cashier_push_id":4,
                                                    "end_time":1699999999})")
                                             << QStringLiteral("R");
        QTest::newRow("-99 without push id ignored") << QByteArray(R"({"remark":"a","count":-99,"end_time":1800000000})")
                                                     << QStringLiteral("---");
        QTest::newRow("count 0 with push id") << QByteArray(R"({"remark":"a","cashier_push_id":8})")
                                              << QStringLiteral("R-");
        QTest::newRow("negative interval never due") << QByteArray(R"({"remark":"a","count":2,"intervalTime":-1})")
                                                     << QStringLiteral("----");
    }

    void schedulePattern()
    {
        QFETCH(QByteArray, baCommand);
        QFETCH(QString, strPattern);
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, command(baCommand));
        QString strSeen;
        for (int i = 0; i < strPattern.size(); ++i)
            strSeen += tick(harness, services, i == 0 ? 0 : 3);
        QCOMPARE(strSeen, strPattern);
    }

    void dueSendCarriesTypeRemarkAndTime()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        const int nLogBefore = countLogLines(g_printerLog, QStringLiteral("字幕消息，发送内容:欢迎 光临, nCount:2, accounts:"));
        addFromCashier(services, command(R"({"remark":"欢迎 光临","count":2,"time":"42"})"));
        services.onSendMsg();
        QCOMPARE(harness.vecSent.size(), 2);
        QCOMPARE(harness.vecSent.at(0).strIp, QStringLiteral("192.168.77.255"));
        QCOMPARE(harness.vecSent.at(1).strIp, QStringLiteral("224.0.0.19"));
        QCOMPARE(harness.vecSent.at(1).unPort, quint16(18108));
        const QJsonObject obj = harness.sentObject(0);
        QCOMPARE(obj.value("type").toString(), QStringLiteral("26"));
        QCOMPARE(obj.value("content").toString(), QStringLiteral("欢迎 光临"));
        QCOMPARE(obj.value("times").toString(), QStringLiteral("42"));
        QCOMPARE(countLogLines(g_printerLog, QStringLiteral("字幕消息，发送内容:欢迎 光临, nCount:2, accounts:")),
                 nLogBefore + 1);
        QCOMPARE(services.subtitles().at(0).count, 1);
    }

    void removalIsLogged()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, command(R"({"remark":"old","count":-99,"cashier_push_id":3,"end_time":5})"));
        services.onSendMsg();
        QCOMPARE(countLogLines(g_printerLog, QStringLiteral("字幕消息，删除: old nCount: -99, EndTime: 5")), 1);
    }

    void pushIdRepeatFilter()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        const QJsonObject push = command(R"({"remark":"p","count":1,"cashier_push_id":7,"time":100})");
        addFromCashier(services, push);
        bool bFromNetwork = true;
        services.handleSubtitle(push, bFromNetwork); // the relay of the same push
        QCOMPARE(services.subtitles().size(), 1);
        QCOMPARE(harness.nWrites, 1);

        addFromCashier(services, command(R"({"remark":"p2","count":1,"cashier_push_id":7,"time":101})"));
        QCOMPARE(services.subtitles().size(), 2);
        QCOMPARE(services.subtitles().at(0).remark, QStringLiteral("p"));
        QCOMPARE(harness.nWrites, 2);
        // The filter remembers only the latest time of a push id.
        addFromCashier(services, push);
        QCOMPARE(services.subtitles().size(), 3);
        QVERIFY(harness.vecSent.isEmpty()); // adds are never relayed
    }

    void deleteByPushIdZero()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, command(R"({"remark":"a","count":1})"));
        addFromCashier(services, command(R"({"remark":"b","count":1,"cashier_push_id":5})"));
        addFromCashier(services, command(R"({"remark":"c","count":1})"));
        addFromCashier(services, command(R"({"delete":1,"cashier_push_id":0})"));
        QCOMPARE(services.subtitles().size(), 1);
        QCOMPARE(services.subtitles().at(0).remark, QStringLiteral("b"));
        const QJsonArray arrList = harness.mapFiles.value(kConf).value("list").toArray();
        QCOMPARE(arrList.size(), 1);
        QCOMPARE(arrList.at(0).toObject().value("cashier_push_id").toString(), QStringLiteral("5"));
    }

    void deleteAllSyncsBeforeEmptying()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, command(R"({"remark":"a","count":1})"));
        harness.lstEvents.clear();
        const QJsonObject del = command(R"({"delete":2,"zz_unread":[1,"x"]})");
        addFromCashier(services, del);
        QCOMPARE(harness.lstEvents, QStringList({QStringLiteral("send 192.168.77.255:19262"),
                                                 QStringLiteral("send 224.0.0.19:19262"),
                                                 QStringLiteral("write ./subtitle.conf")}));
        QCOMPARE(harness.vecSent.at(0).baData, QByteArray(R"({"data":{"delete":2,"zz_unread":[1,"x"]},"query":"subtitle"})"));
        QCOMPARE(harness.vecSent.at(1).baData, harness.vecSent.at(0).baData);
        QVERIFY(services.subtitles().isEmpty());
        QCOMPARE(QJsonDocument(harness.mapFiles.value(kConf)).toJson(QJsonDocument::Compact), QByteArray(R"({"list":[]})"));
    }

    void relayedDeleteIsNotSentOnButWritten()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        bool bFromNetwork = true;
        services.handleSubtitle(command(R"({"delete":1,"cashier_push_id":99})"), bFromNetwork);
        QVERIFY(harness.vecSent.isEmpty());
        QCOMPARE(harness.nWrites, 1); // written even though nothing matched
    }

    void writesOnlyWhenMembershipChanges()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, command(R"({"remark":"a","count":2})"));
        QCOMPARE(harness.nWrites, 0);
        services.onSendMsg();
        QCOMPARE(harness.vecSent.size(), 2);
        QCOMPARE(harness.nWrites, 0); // a plain send only decrements
        addFromCashier(services, command(R"({"remark":"b","count":5,"cashier_push_id":1,"start_time":9,"end_time":10})"));
        QCOMPARE(harness.nWrites, 1);
        // The write holds the whole list, the record without push id included, in list order.
        const QByteArray baExpected =
            R"({"list":[{"accountIds":"","cashier_push_id":"0","count":"1","end_time":"0","intervalTime":"0",)"
            R"("remark":"a","start_time":"0","time":"0"},{"accountIds":"","cashier_push_id":"1","count":"5",)"
            R"("end_time":"10","intervalTime":"0","remark":"b","start_time":"9","time":"0"}]})";
        QCOMPARE(QJsonDocument(harness.mapFiles.value(kConf)).toJson(QJsonDocument::Compact), baExpected);
    }

    void countAsTextInCommandVersusFile()
    {
        RoomsHarness harness;
        harness.mapFiles.insert(kConf, command(R"({"list":[{"remark":"f","count":"3","intervalTime":"6",
            "cashier_push_id":"-4","time":7,"end_time":"12","accountIds":""},{"remark":"n","count":2}]})"));
        CInformationServices services(nullptr, harness.options());
        QCOMPARE(services.subtitles().size(), 2);
        const Subtitle loaded = services.subtitles().at(0);
        QCOMPARE(loaded.count, 3);
        QCOMPARE(loaded.intervalTime, 6);
        QCOMPARE(loaded.cashier_push_id, -4);
        QCOMPARE(loaded.time, 7u);
        QCOMPARE(loaded.end_time, 12u);
        QCOMPARE(services.subtitles().at(1).count, 2);

        addFromCashier(services, command(R"({"remark":"c","count":"3"})"));
        QCOMPARE(services.subtitles().size(), 2); // "3" as text reads as 0: not added
    }

    void restartResumesSchedule()
    {
        RoomsHarness harness;
        const QJsonObject push = command(R"({"remark":"r","count":3,"intervalTime":60,"cashier_push_id":2,"time":1})");
        {
            CInformationServices before(nullptr, harness.options());
            addFromCashier(before, push);
            addFromCashier(before, command(R"({"remark":"x","count":1,"cashier_push_id":6})"));
            before.onSendMsg(); // r: 3 -> 2, x: 1 -> 0
            harness.unWallSeconds += 3;
            before.onSendMsg(); // x removed: the file now says r has 2 left
        }
        harness.vecSent.clear();
        harness.unWallSeconds += 3; // far less than the interval
        CInformationServices after(nullptr, harness.options());
        QCOMPARE(after.subtitles().size(), 1);
        QCOMPARE(after.subtitles().at(0).count, 2);
        after.onSendMsg();
        QCOMPARE(harness.vecSent.size(), 2); // the last send time is not kept across a restart
        addFromCashier(after, push);         // nor is the repeat filter
        QCOMPARE(after.subtitles().size(), 2);
    }

    void fileWithoutListLeavesScheduleEmpty_data()
    {
        QTest::addColumn<QByteArray>("baFile");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("list is object") << QByteArray(R"({"list":{"remark":"a","count":1}})");
        QTest::newRow("other key") << QByteArray(R"({"List":[{"remark":"a","count":1}]})");
    }

    void fileWithoutListLeavesScheduleEmpty()
    {
        QFETCH(QByteArray, baFile);
        RoomsHarness harness;
        if (!baFile.isEmpty())
            harness.mapFiles.insert(kConf, command(baFile));
        CInformationServices services(nullptr, harness.options());
        QVERIFY(services.subtitles().isEmpty());
        QCOMPARE(harness.nWrites, 0);
    }

    void commandThatIsNotAnObjectAddsNothing_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("undefined") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("string") << QJsonValue(QStringLiteral("{\"remark\":\"a\",\"count\":1}"));
        QTest::newRow("array") << QJsonValue(QJsonArray({1, 2}));
        QTest::newRow("number") << QJsonValue(2);
    }

    void commandThatIsNotAnObjectAddsNothing()
    {
        QFETCH(QJsonValue, value);
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        addFromCashier(services, value);
        QVERIFY(services.subtitles().isEmpty());
        QCOMPARE(harness.nWrites, 0);
        QVERIFY(harness.vecSent.isEmpty());
    }

    void accountIdsWithEmptyPart()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        auto announce = [&](const QString &strFrom, const QByteArray &baStatus) {
            QUdpSocket sender;
            QVERIFY(sender.bind(QHostAddress(strFrom), 0));
            sender.writeDatagram(baStatus, QHostAddress::LocalHost, services.listenPort());
        };
        announce(QStringLiteral("127.0.0.11"), R"({"query":"stbInfo","account":11})");
        announce(QStringLiteral("127.0.0.12"), R"({"query":"stbInfo","account":"12"})");
        QTRY_COMPARE_WITH_TIMEOUT(services.stbInfos().size(), 2, 5000);

        addFromCashier(services, command(R"({"remark":"a","count":2,"accountIds":"11,,12,404"})"));
        services.onSendMsg();
        QStringList lstTargets;
        for (const auto &sent : harness.vecSent)
            lstTargets << sent.strIp;
        QCOMPARE(lstTargets, QStringList({"127.0.0.11", "127.0.0.11", "127.0.0.12", "127.0.0.12"}));
        QCOMPARE(harness.vecSent.at(0).baData, harness.vecSent.at(1).baData);

        // A box registered under account 0 is what an empty part addresses.
        announce(QStringLiteral("127.0.0.13"), R"({"query":"stbInfo","roomName":"no account"})");
        QTRY_COMPARE_WITH_TIMEOUT(services.stbInfos().size(), 3, 5000);
        harness.vecSent.clear();
        harness.unWallSeconds += 3;
        services.onSendMsg();
        lstTargets.clear();
        for (const auto &sent : harness.vecSent)
            lstTargets << sent.strIp;
        QCOMPARE(lstTargets, QStringList({"127.0.0.11", "127.0.0.11", "127.0.0.13", "127.0.0.13", "127.0.0.12",
                                          "127.0.0.12"}));
    }

    void relayedSubtitleDatagramIsApplied()
    {
        RoomsHarness harness;
        CInformationServices services(nullptr, harness.options());
        QUdpSocket peer;
        const QByteArray baRelay = R"({"data":{"remark":"relayed","count":1,"cashier_push_id":12,"time":3},"query":"subtitle"})";
        peer.writeDatagram(baRelay, QHostAddress::LocalHost, services.listenPort());
        peer.writeDatagram(R"({"data":"not an object","query":"subtitle"})", QHostAddress::LocalHost,
                           services.listenPort());
        QTRY_COMPARE_WITH_TIMEOUT(countLogLines(g_printerLog, QStringLiteral("字幕消息，从打印控件接收:")), 2, 5000);
        QCOMPARE(countLogLines(g_printerLog, QStringLiteral("字幕消息，从打印控件接收:") + QString::fromUtf8(baRelay)), 1);
        QCOMPARE(services.subtitles().size(), 1);
        QCOMPARE(services.subtitles().at(0).remark, QStringLiteral("relayed"));
        QCOMPARE(harness.nWrites, 1);
        QVERIFY(harness.vecSent.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRoomsScheduler)
#include "tst_rooms_scheduler.moc"
