// Room rules with both clocks, the JSON store, the own addresses and the wire injected: the box
// registry (status datagrams over loopback), room command datagrams and the subtitle schedule.
#include <QtNetwork>
#include <QtTest>

#include "log/Log.h"
#include "rooms/InformationServices.h"

static const QString kConf = QStringLiteral("./subtitle.conf"), kStatusLine = QStringLiteral("机顶盒状态信息更新");
static const QStringList kToAllRooms = {"192.168.77.255:18108", "224.0.0.19:18108"}; // subnet broadcast, room group

static QJsonObject json(const QByteArray &baJson) { return QJsonDocument::fromJson(baJson).object(); }
// The writer threads do not run here, so every line stays pending.
static int logLines(CBackupFiles &channel, const QString &strText) { return channel.pendingLines().filter(strText).size(); }

// Everything the services take from outside; nothing sleeps, the tests move the clocks.
struct Harness
{
    quint32 unWallSeconds = 1700000000, unTickMs = 1000;
    QString strLocalIp = QStringLiteral("192.168.77.20"), strBroadcastIp = QStringLiteral("192.168.77.255");
    QMap<QString, QJsonObject> mapFiles;
    QStringList lstEvents;         // "<ip>:<port>" per datagram and "write" per file write, in order
    QList<QByteArray> lstPayloads; // the bytes of each datagram

    RoomServiceOptions options()
    {
        RoomServiceOptions o;
        o.unListenPort = 0, o.nTickMs = 0;
        o.fnTickMs = [this] { return unTickMs; }, o.fnWallSeconds = [this] { return unWallSeconds; };
        o.fnLocalIp = [this] { return strLocalIp; }, o.fnBroadcastIp = [this] { return strBroadcastIp; };
        o.fnReadJson = [this](const QString &strName) { return mapFiles.value(strName); };
        o.fnWriteJson = [this](const QJsonObject &obj, const QString &strName) { mapFiles.insert(strName, obj); lstEvents << "write"; return true; };
        o.fnSend = [this](const QByteArray &ba, const QString &strIp, quint16 unPort) { lstPayloads << ba; lstEvents << strIp + ':' + QString::number(unPort); };
        return o;
    }
    QStringList sends() const { return lstEvents.filter(QStringLiteral(":")); }
};

class TestRooms : public QObject
{
    Q_OBJECT

    Harness h;
    std::unique_ptr<CInformationServices> pServices;

    void restart() { pServices.reset(), pServices = std::make_unique<CInformationServices>(nullptr, h.options()), pServices->start(); }
    void add(const QByteArray &baCommand, bool bFromNetwork = false) { pServices->handleSubtitle(json(baCommand), bFromNetwork); }
    // Sends a status datagram from a loopback address and waits until nExpect were handled.
    void announce(const QByteArray &baStatus, const char *pFrom = "127.0.0.2", int nExpect = 1)
    {
        const int nBefore = logLines(g_vodLog, kStatusLine);
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(QString::fromLatin1(pFrom)), 0) && sender.writeDatagram(baStatus, QHostAddress::LocalHost, pServices->listenPort()) >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(g_vodLog, kStatusLine), nBefore + nExpect, 5000);
    }
    // One scheduler pass after moving the wall clock: 'S' sent, 'R' removed (and the file written), '-' neither.
    QChar tick(quint32 unAdvance)
    {
        h.unWallSeconds += unAdvance;
        const int nSent = h.lstPayloads.size(), nWrites = h.lstEvents.count("write"), nBefore = pServices->subtitles().size();
        pServices->onSendMsg();
        const bool bRemoved = pServices->subtitles().size() < nBefore, bWritten = h.lstEvents.count("write") == nWrites + 1;
        return QLatin1Char(bRemoved != bWritten ? '!' : bRemoved ? 'R' : h.lstPayloads.size() > nSent ? 'S' : '-');
    }

private slots:
    void init() { h = Harness(), restart(); }

    // No blanks in the list. A new server goes to the front; a known account (number, digits or a
    // rounded number) is overwritten in place, from any address. Other queries and broken text are ignored.
    void registry()
    {
        for (const char *pIgnored : {R"({"query":"STBINFO","account":77})", R"({"query":"stbInfo","account":77)", "not json"}) announce(pIgnored, "127.0.0.2", 0);
        announce(R"({"query":"stbInfo","account":5,"roomName":"Room 1 A","cprtQrCode":"q r","isServer":0,"isCloseRoom":1,"cprtSigned":-2,"cprtPayStatus":3,"cprtTime":"77"})");
        QCOMPARE(logLines(g_vodLog, kStatusLine + QStringLiteral(":ip:127.0.0.2 room:Room 1 A 云账号:5")), 1);
        h.unTickMs = 1200;
        QCOMPARE(pServices->getStbList(), QStringLiteral("{\"code\":180,\"data\":[{\"cprtPayStatus\":3,\"cprtQrCode\":\"qr\",\"cprtSigned\":-2,\"cprtTime\":\"77\","
                                "\"isCloseRoom\":1,\"isServer\":0,\"roomName\":\"Room1A\",\"strIp\":\"127.0.0.2\",\"unAccount\":\"5\",\"unTime\":\"1000\"}]}"));
        for (const char *p : {R"({"query":"stbInfo","account":4000000001})", R"({"query":"stbInfo","account":3,"isServer":1})", R"({"query":"stbInfo","account":4.6,"isServer":0})"}) announce(p);
        announce(R"({"query":"stbInfo","account":"4000000001","isServer":1,"roomName":"b"})", "127.0.0.3");
        QStringList lstSeen;
        for (const StbInfo &s : pServices->stbInfos()) lstSeen << QStringLiteral("%1 %2 %3 %4").arg(s.unAccount).arg(s.strIp, s.roomName).arg(s.isServer);
        QCOMPARE(lstSeen, QStringList({"3 127.0.0.2  1", "5 127.0.0.2  0", "4000000001 127.0.0.3 b 1"}));
    }

    // Online up to exactly 15000 ms after the last status; an offline box is logged and kept for its next one.
    void onlineWindow()
    {
        for (quint32 unNowMs : {1000u, 16000u, 16001u, 999u}) { // the same ms, the boundary, 1 ms past, a clock behind
            init();
            announce(R"({"query":"stbInfo","account":21,"roomName":"R 8"})");
            h.unTickMs = unNowMs;
            const bool bOnline = unNowMs == 16000u;
            QCOMPARE(pServices->getStbList().contains(QStringLiteral("\"unAccount\":\"21\"")), bOnline);
            QCOMPARE(logLines(g_vodLog, QStringLiteral("机顶盒离线：ip:127.0.0.2,room:R 8, 离线时间:%1").arg(unNowMs - 1000u)), bOnline ? 0 : 1);
            QCOMPARE(pServices->stbInfos().size(), 1);
        }
    }

    void roomCommand() // each command goes out twice, to one room or to all; every number travels as text
    {
        auto check = [this](qint32 nType, const QString &strContent, quint32 unTimes, const QString &strIp, const QString &strLocalIp, const QStringList &lstTargets) {
            init();
            h.strLocalIp = strLocalIp, h.strBroadcastIp = strLocalIp.isEmpty() ? QString() : h.strBroadcastIp;
            pServices->sendRoomCommand(nType, strContent, unTimes, strIp);
            QVERIFY(h.sends() == lstTargets && h.lstPayloads.at(1) == h.lstPayloads.at(0));
            QCOMPARE(json(h.lstPayloads.at(0)), QJsonObject({{"clientIP", strLocalIp}, {"content", strContent}, {"times", QString::number(unTimes)}, {"type", QString::number(nType)}}));
        };
        check(-7, "两瓶 啤酒", 0, "10.0.0.9", "192.168.77.20", {"10.0.0.9:18108", "10.0.0.9:18108"}); // drink notice
        check(5, QString(), 4294967295u, QString(), "192.168.77.20", kToAllRooms);                  // fire alarm
        check(6, QString(), 1, QString(), QString(), {":18108", "224.0.0.19:18108"});               // no interface
    }

    void schedulePattern_data()
    {
        QTest::addColumn<QByteArray>("baCommand");
        QTest::addColumn<QString>("strPattern"); // one letter per pass, 3 s apart
        QTest::newRow("count 3 every 10 s") << QByteArray(R"({"remark":"a","count":3,"intervalTime":10})") << "S---S---SR";
        QTest::newRow("-99 until end") << QByteArray(R"({"remark":"a","count":-99,"intervalTime":3,"cashier_push_id":4,"end_time":"1700000007"})") << "SSSR";
        QTest::newRow("-99 expired") << QByteArray(R"({"remark":"a","count":-99,"cashier_push_id":4,"end_time":1699999999})") << "R";
        QTest::newRow("-99 without push id") << QByteArray(R"({"remark":"a","count":-99,"end_time":1800000000})") << "---";
        QTest::newRow("count 0 with push id") << QByteArray(R"({"remark":"a","cashier_push_id":8})") << "R-";
        QTest::newRow("count as text") << QByteArray(R"({"remark":"a","count":"3"})") << "--";
    }
    void schedulePattern()
    {
        QFETCH(QByteArray, baCommand);
        QFETCH(QString, strPattern);
        add(baCommand);
        QString strSeen;
        for (int i = 0; i < strPattern.size(); ++i) strSeen += tick(i == 0 ? 0 : 3);
        QCOMPARE(strSeen, strPattern);
    }

    // Sends go to every room and are logged, as are removals. The file changes only when a record joins or
    // leaves and holds every record, numbers as text; a restart resumes from it, without the last send
    // times or the repeat filter. A cashier's delete goes to the other print controls before the list changes.
    void scheduleFileAndRestart()
    {
        add(R"({"remark":"欢迎 光临","count":2,"intervalTime":60,"time":"42"})");
        QVERIFY(tick(0) == QLatin1Char('S') && h.sends() == kToAllRooms);
        QCOMPARE(json(h.lstPayloads.at(0)), QJsonObject({{"clientIP", "192.168.77.20"}, {"content", "欢迎 光临"}, {"times", "42"}, {"type", "26"}}));
        const QByteArray baPush = R"({"remark":"b","count":5,"cashier_push_id":1,"start_time":9,"end_time":10})";
        add(baPush);
        QCOMPARE(QJsonDocument(h.mapFiles.value(kConf)).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"list":[{"accountIds":"","cashier_push_id":"0","count":"1","end_time":"0","intervalTime":"60","remark":"欢迎 光临",)"
                            R"("start_time":"0","time":"42"},{"accountIds":"","cashier_push_id":"1","count":"5","end_time":"10","intervalTime":"0","remark":"b","start_time":"9","time":"0"}]})"));
        restart(), h.lstPayloads.clear();
        QCOMPARE(tick(3), QLatin1Char('S'));
        QCOMPARE(h.lstPayloads.size(), 4); // the first one is due at once
        QCOMPARE(tick(3), QLatin1Char('R')); // it had one send left
        QCOMPARE(logLines(g_printerLog, QStringLiteral("字幕消息，发送内容:欢迎 光临, nCount:2, accounts:")), 1);
        QCOMPARE(logLines(g_printerLog, QStringLiteral("字幕消息，删除: 欢迎 光临 nCount: 0, EndTime: 0")), 1);
        add(baPush);
        QCOMPARE(pServices->subtitles().size(), 2);
        h.lstEvents.clear(), add(R"({"delete":2})");
        QCOMPARE(h.lstEvents, QStringList({"192.168.77.255:19262", "224.0.0.19:19262", "write"}));
        QCOMPARE(h.mapFiles.value(kConf), QJsonObject({{"list", QJsonArray()}}));
    }
};

QTEST_GUILESS_MAIN(TestRooms)
#include "tst_rooms.moc"
