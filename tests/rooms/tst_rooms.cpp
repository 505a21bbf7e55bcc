// Room rules with both clocks, the JSON store, the own addresses and the wire injected: the box
// registry (status datagrams over loopback), room command datagrams and the subtitle schedule.
#include <QJsonArray>
#include <QJsonDocument>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

#include "log/Log.h"
#include "rooms/InformationServices.h"

namespace {
const QString kConf = QStringLiteral("./subtitle.conf");
const QStringList kToAllRooms = {"192.168.77.255:18108", "224.0.0.19:18108"}; // subnet broadcast, room group

QJsonObject json(const QByteArray &baJson)
{
    return QJsonDocument::fromJson(baJson).object();
}

// The writer threads do not run here, so every line stays pending.
int logLines(CBackupFiles &channel, const QString &strText)
{
    return channel.pendingLines().filter(strText).size();
}

// Everything the services take from outside; nothing sleeps, the tests move the clocks.
struct Harness
{
    quint32 unWallSeconds = 1700000000;
    quint32 unTickMs = 1000;
    QString strLocalIp = QStringLiteral("192.168.77.20");
    QString strBroadcastIp = QStringLiteral("192.168.77.255");
    QMap<QString, QJsonObject> mapFiles;
    QStringList lstEvents;         // "<ip>:<port>" per datagram and "write" per file write, in order
    QList<QByteArray> lstPayloads; // the bytes of each datagram

    RoomServiceOptions options()
    {
        RoomServiceOptions opts;
        opts.unListenPort = 0;
        opts.nTickMs = 0;
        opts.fnTickMs = [this] { return unTickMs; };
        opts.fnWallSeconds = [this] { return unWallSeconds; };
        opts.fnLocalIp = [this] { return strLocalIp; };
        opts.fnBroadcastIp = [this] { return strBroadcastIp; };
        opts.fnReadJson = [this](const QString &strName) { return mapFiles.value(strName); };
        opts.fnWriteJson = [this](const QJsonObject &obj, const QString &strName) {
            mapFiles.insert(strName, obj);
            lstEvents << QStringLiteral("write");
            return true;
        };
        opts.fnSend = [this](const QByteArray &baData, const QString &strIp, quint16 unPort) {
            lstPayloads << baData;
            lstEvents << QStringLiteral("%1:%2").arg(strIp).arg(unPort);
        };
        return opts;
    }
    QStringList sends() const { return lstEvents.filter(QStringLiteral(":")); }
    int writes() const { return lstEvents.count(QStringLiteral("write")); }
};
}

class TestRooms : public QObject
{
    Q_OBJECT

    Harness h;
    std::unique_ptr<CInformationServices> pServices;

    void restart()
    {
        pServices.reset();
        pServices = std::make_unique<CInformationServices>(nullptr, h.options());
        pServices->start();
    }
    void add(const QByteArray &baCommand, bool bFromNetwork = false)
    {
        pServices->handleSubtitle(json(baCommand), bFromNetwork);
    }
    void sendRaw(const QByteArray &baDatagram, const QString &strFrom = QStringLiteral("127.0.0.2"))
    {
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(strFrom), 0));
        sender.writeDatagram(baDatagram, QHostAddress::LocalHost, pServices->listenPort());
    }
    // Sends a status datagram from a loopback address and waits until it was handled.
    void announce(const QByteArray &baStatus, const QString &strFrom = QStringLiteral("127.0.0.2"))
    {
        const int nBefore = logLines(g_vodLog, QStringLiteral("机顶盒状态信息更新"));
        sendRaw(baStatus, strFrom);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(g_vodLog, QStringLiteral("机顶盒状态信息更新")), nBefore + 1, 5000);
    }
    QStringList accounts()
    {
        QStringList lstAccounts;
        for (const StbInfo &stbInfo : pServices->stbInfos())
            lstAccounts << QString::number(stbInfo.unAccount);
        return lstAccounts;
    }
    QStringList remarks()
    {
        QStringList lstRemarks;
        for (const Subtitle &subtitle : pServices->subtitles())
            lstRemarks << subtitle.remark;
        return lstRemarks;
    }
    // One scheduler pass after moving the wall clock: 'S' sent, 'R' removed (and the file written), '-' neither.
    QChar tick(quint32 unAdvance)
    {
        h.unWallSeconds += unAdvance;
        const int nSent = h.lstPayloads.size(), nWrites = h.writes(), nBefore = pServices->subtitles().size();
        pServices->onSendMsg();
        const bool bRemoved = pServices->subtitles().size() < nBefore;
        if (bRemoved != (h.writes() == nWrites + 1))
            return QLatin1Char('!');
        return bRemoved ? QLatin1Char('R') : h.lstPayloads.size() > nSent ? QLatin1Char('S') : QLatin1Char('-');
    }

private slots:
    void init()
    {
        pServices.reset();
        h = Harness();
        restart();
    }

    void listReportsBoxWithoutBlanks()
    {
        QCOMPARE(pServices->getStbList(), QStringLiteral("{\"code\":180,\"data\":[]}"));
        announce(R"({"query":"stbInfo","account":5,"roomName":"Room 1 A","cprtQrCode":"q r","isServer":0,
                     "isCloseRoom":1,"cprtSigned":-2,"cprtPayStatus":3,"cprtTime":"77"})");
        QCOMPARE(logLines(g_vodLog, QStringLiteral("机顶盒状态信息更新:ip:127.0.0.2 room:Room 1 A 云账号:5")), 1);
        h.unTickMs = 1200;
        QCOMPARE(pServices->getStbList(),
                 QStringLiteral("{\"code\":180,\"data\":[{\"cprtPayStatus\":3,\"cprtQrCode\":\"qr\",\"cprtSigned\":-2,"
                                "\"cprtTime\":\"77\",\"isCloseRoom\":1,\"isServer\":0,\"roomName\":\"Room1A\","
                                "\"strIp\":\"127.0.0.2\",\"unAccount\":\"5\",\"unTime\":\"1000\"}]}"));
    }

    // A new server goes to the front; a known account (as a number, digits or a rounded number)
    // is overwritten in place, from any address. Other queries (case counts) and broken text are ignored.
    void serverFirstAndOrderKept()
    {
        for (const char *pIgnored : {R"({"query":"STBINFO","account":77})", R"({"query":7,"account":77})",
                                     R"({"query":"stbInfo","account":77)", "not json"})
            sendRaw(pIgnored);
        announce(R"({"query":"stbInfo","account":1})"); // handled after the ones before it
        announce(R"({"query":"stbInfo","account":4000000001})");
        announce(R"({"query":"stbInfo","account":3,"isServer":1})");
        QCOMPARE(accounts(), QStringList({"3", "1", "4000000001"}));
        announce(R"({"query":"stbInfo","account":2.6,"isServer":0})");
        announce(R"({"query":"stbInfo","account":"4000000001","isServer":1,"roomName":"b"})", QStringLiteral("127.0.0.3"));
        QCOMPARE(accounts(), QStringList({"3", "1", "4000000001"}));
        const StbInfo moved = pServices->stbInfos().at(2);
        QCOMPARE(moved.strIp + moved.roomName + QString::number(moved.isServer), QStringLiteral("127.0.0.3b1"));
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
        h.unTickMs = unNow;
        const QString strOffline = QStringLiteral("机顶盒离线：ip:127.0.0.2,room:R 8, 离线时间:%1").arg(unNow - 1000u);
        const int nBefore = logLines(g_vodLog, strOffline);
        QCOMPARE(pServices->getStbList().contains(QStringLiteral("\"unAccount\":\"21\"")), bOnline);
        QCOMPARE(logLines(g_vodLog, strOffline), nBefore + (bOnline ? 0 : 1));
        QCOMPARE(pServices->stbInfos().size(), 1); // an offline box is kept for its next announcement
    }

    void roomCommand_data()
    {
        QTest::addColumn<qint32>("nType");
        QTest::addColumn<QString>("strContent");
        QTest::addColumn<quint32>("unTimes");
        QTest::addColumn<QString>("strIp");
        QTest::addColumn<QString>("strLocalIp");
        QTest::addColumn<QStringList>("lstTargets");
        QTest::newRow("drink notice to one room") << -7 << "两瓶 啤酒" << 0u << "10.0.0.9" << "192.168.77.20"
                                                  << QStringList({"10.0.0.9:18108", "10.0.0.9:18108"});
        QTest::newRow("fire alarm, largest times") << 5 << QString() << 4294967295u << QString() << "192.168.77.20"
                                                   << kToAllRooms;
        QTest::newRow("no interface") << 6 << QString() << 1u << QString() << QString()
                                      << QStringList({":18108", "224.0.0.19:18108"});
    }
    void roomCommand()
    {
        QFETCH(qint32, nType);
        QFETCH(QString, strContent);
        QFETCH(quint32, unTimes);
        QFETCH(QString, strIp);
        QFETCH(QString, strLocalIp);
        QFETCH(QStringList, lstTargets);
        h.strLocalIp = strLocalIp;
        h.strBroadcastIp = strLocalIp.isEmpty() ? QString() : h.strBroadcastIp;
        pServices->sendRoomCommand(nType, strContent, unTimes, strIp);
        QCOMPARE(h.sends(), lstTargets);
        QCOMPARE(h.lstPayloads.at(1), h.lstPayloads.at(0));
        // Every number travels as text.
        QCOMPARE(json(h.lstPayloads.at(0)), QJsonObject({{"clientIP", strLocalIp}, {"content", strContent},
                                                         {"times", QString::number(unTimes)}, {"type", QString::number(nType)}}));
    }

    // The other print controls read the sync into a 2048-byte buffer that ends with a zero byte.
    void syncIsCutTo2046Bytes()
    {
        const QString strText(1000, QChar(0x5B57)); // 3 bytes each
        pServices->sendSubtitleSync(strText);
        QCOMPARE(h.sends(), QStringList({"192.168.77.255:19262", "224.0.0.19:19262"}));
        QCOMPARE(h.lstPayloads.at(0), strText.toUtf8().left(2046));
        QCOMPARE(h.lstPayloads.at(1), h.lstPayloads.at(0));
    }

    void schedulePattern_data()
    {
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QString>("strPattern"); // one letter per pass, 3 s apart
        QTest::newRow("count 3 every 10 s") << QByteArray(R"({"remark":"a","count":3,"intervalTime":10})") << "S---S---SR";
        QTest::newRow("count 1") << QByteArray(R"({"remark":"a","count":1})") << "SR";
        QTest::newRow("count 2 every 4 s") << QByteArray(R"({"remark":"a","count":2,"intervalTime":4})") << "S-SR";
        QTest::newRow("-99 until end") << QByteArray(R"({"remark":"a","count":-99,"intervalTime":3,
                                              "cashier_push_id":4,"end_time":"1700000007"})") << "SSSR";
        QTest::newRow("-99 already expired")
            << QByteArray(R"({"remark":"a","count":-99,"cashier_push_id":4,"end_time":1699999999})") << "R";
        QTest::newRow("-99 without push id ignored")
            << QByteArray(R"({"remark":"a","count":-99,"end_time":1800000000})") << "---";
        QTest::newRow("count 0 with push id") << QByteArray(R"({"remark":"a","cashier_push_id":8})") << "R-";
        QTest::newRow("negative interval never due") << QByteArray(R"({"remark":"a","count":2,"intervalTime":-1})") << "----";
        QTest::newRow("count as text ignored") << QByteArray(R"({"remark":"a","count":"3"})") << "--";
    }
    void schedulePattern()
    {
        QFETCH(QByteArray, baCommand);
        QFETCH(QString, strPattern);
        add(baCommand);
        QString strSeen;
        for (int i = 0; i < strPattern.size(); ++i)
            strSeen += tick(i == 0 ? 0 : 3);
        QCOMPARE(strSeen, strPattern);
    }

    // A push id with the time it was last seen with is a repeat, the cashier's copy or one relayed by
    // another print control; relayed subtitles are logged and applied, adds are stored but never relayed.
    void pushIdRepeatFilterAndRelay()
    {
        const QByteArray baPush = R"({"remark":"p","count":1,"cashier_push_id":7,"time":100})";
        add(baPush);
        const QByteArray baRelay = R"({"query":"subtitle","data":)" + baPush + "}";
        sendRaw(baRelay);
        sendRaw(R"({"query":"subtitle","data":"not an object"})");
        sendRaw(R"({"query":"subtitle","data":{"remark":"r","count":1,"cashier_push_id":12,"time":3}})");
        QTRY_COMPARE_WITH_TIMEOUT(logLines(g_printerLog, QStringLiteral("字幕消息，从打印控件接收:")), 3, 5000);
        QCOMPARE(logLines(g_printerLog, QStringLiteral("字幕消息，从打印控件接收:") + QString::fromUtf8(baRelay)), 1);
        add(R"({"remark":"p2","count":1,"cashier_push_id":7,"time":101})");
        add(baPush); // only the latest time of a push id is kept
        QCOMPARE(remarks(), QStringList({"p", "r", "p2", "p"}));
        QCOMPARE(h.lstEvents, QStringList({"write", "write", "write", "write"}));
    }

    void deletes_data()
    {
        QTest::addColumn<QByteArray>("baDelete");
        QTest::addColumn<bool>("bFromNetwork");
        QTest::addColumn<QStringList>("lstLeft");
        QTest::addColumn<QStringList>("lstEvents");
        const QStringList lstSynced = {"192.168.77.255:19262", "224.0.0.19:19262", "write"};
        QTest::newRow("cashier, push id 0") << QByteArray(R"({"delete":1,"cashier_push_id":0})") << false
                                            << QStringList({"b"}) << lstSynced;
        QTest::newRow("cashier, all") << QByteArray(R"({"delete":2,"zz_unread":[1,"x"]})") << false << QStringList()
                                      << lstSynced;
        QTest::newRow("relayed, push id") << QByteArray(R"({"delete":1,"cashier_push_id":5})") << true
                                          << QStringList({"a", "c"}) << QStringList({"write"});
    }
    void deletes()
    {
        QFETCH(QByteArray, baDelete);
        QFETCH(bool, bFromNetwork);
        QFETCH(QStringList, lstLeft);
        QFETCH(QStringList, lstEvents);
        add(R"({"remark":"a","count":1})");
        add(R"({"remark":"b","count":1,"cashier_push_id":5})");
        add(R"({"remark":"c","count":1})");
        h.lstEvents.clear();
        add(baDelete, bFromNetwork);
        QCOMPARE(remarks(), lstLeft);
        QCOMPARE(h.lstEvents, lstEvents); // the sync goes out before the list changes
        for (const QByteArray &baSync : h.lstPayloads)
            QCOMPARE(json(baSync), QJsonObject({{"data", json(baDelete)}, {"query", "subtitle"}}));
        QCOMPARE(h.mapFiles.value(kConf).value("list").toArray().size(), lstLeft.size());
    }

    // Sends go to every room and are logged, as are removals. The file changes only when a record joins
    // or leaves and holds every record, numbers as text; a restart resumes from it, without the last
    // send times and without the repeat filter.
    void scheduleFileAndRestart()
    {
        add(R"({"remark":"欢迎 光临","count":2,"intervalTime":60,"time":"42"})");
        QCOMPARE(tick(0), QLatin1Char('S'));
        QCOMPARE(h.sends(), kToAllRooms);
        QCOMPARE(json(h.lstPayloads.at(0)),
                 QJsonObject({{"clientIP", "192.168.77.20"}, {"content", "欢迎 光临"}, {"times", "42"}, {"type", "26"}}));
        const QByteArray baPush = R"({"remark":"b","count":5,"cashier_push_id":1,"start_time":9,"end_time":10})";
        add(baPush);
        QCOMPARE(h.lstEvents.last(), QStringLiteral("write"));
        QCOMPARE(QJsonDocument(h.mapFiles.value(kConf)).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"list":[{"accountIds":"","cashier_push_id":"0","count":"1","end_time":"0","intervalTime":"60",)"
                            R"("remark":"欢迎 光临","start_time":"0","time":"42"},{"accountIds":"","cashier_push_id":"1","count":"5",)"
                            R"("end_time":"10","intervalTime":"0","remark":"b","start_time":"9","time":"0"}]})"));
        restart();
        h.lstPayloads.clear();
        QCOMPARE(tick(3), QLatin1Char('S'));
        QCOMPARE(h.lstPayloads.size(), 4); // the first one is due at once
        QCOMPARE(tick(3), QLatin1Char('R')); // it had one send left
        QCOMPARE(logLines(g_printerLog, QStringLiteral("字幕消息，发送内容:欢迎 光临, nCount:2, accounts:")), 1);
        QCOMPARE(logLines(g_printerLog, QStringLiteral("字幕消息，删除: 欢迎 光临 nCount: 0, EndTime: 0")), 1);
        add(baPush);
        QCOMPARE(remarks(), QStringList({"b", "b"}));
    }

    // Each account's box gets the text twice, in list order; an empty part means account 0.
    void subtitleToAccounts()
    {
        announce(R"({"query":"stbInfo","account":11})", QStringLiteral("127.0.0.11"));
        announce(R"({"query":"stbInfo","account":"12"})", QStringLiteral("127.0.0.12"));
        announce(R"({"query":"stbInfo","roomName":"no account"})", QStringLiteral("127.0.0.13"));
        add(R"({"remark":"a","count":2,"accountIds":"11,,12,404"})");
        pServices->onSendMsg();
        QCOMPARE(h.sends(), QStringList({"127.0.0.11:18108", "127.0.0.11:18108", "127.0.0.13:18108", "127.0.0.13:18108",
                                         "127.0.0.12:18108", "127.0.0.12:18108"}));
    }
};

QTEST_GUILESS_MAIN(TestRooms)
#include "tst_rooms.moc"
