// Box registry (status datagrams over loopback) and subtitle schedule; clocks, file and wire injected.
#include <QtNetwork>
#include <QtTest>

#include "log/Log.h"
#include "rooms/InformationServices.h"
#include "rooms/RoomDatagrams.h"
#include "rooms/SubtitleRules.h"

static const QString kConf = "./subtitle.conf";

// No writer thread runs here: every line stays pending.
static int vodLines(const QString &strText) { return g_vodLog.pendingLines().filter(strText).size(); }

class TestRooms : public QObject
{
    Q_OBJECT

    quint32 unWallSeconds = 0;
    quint32 unTickMs = 0;
    QJsonObject objFile;
    QStringList lstEvents; // "<ip>:<port>" per datagram, "write" per file write
    QList<QByteArray> lstPayloads;
    std::unique_ptr<CInformationServices> pServices;

    void restart()
    {
        RoomServiceOptions o;
        o.unListenPort = 0;
        o.nTickMs = 0;
        o.fnTickMs = [this] { return unTickMs; };
        o.fnWallSeconds = [this] { return unWallSeconds; };
        o.fnLocalIp = [] { return QString("192.168.77.20"); };
        o.fnBroadcastIp = [] { return QString("192.168.77.255"); };
        o.fnReadJson = [this](const QString &strName) { return strName == kConf ? objFile : QJsonObject(); };
        o.fnWriteJson = [this](const QJsonObject &obj, const QString &strName) {
            if (strName == kConf)
                objFile = obj;
            lstEvents << "write";
            return true;
        };
        o.fnSend = [this](const QByteArray &ba, const QString &strIp, quint16 unPort) {
            lstPayloads << ba;
            lstEvents << strIp + ':' + QString::number(unPort);
        };
        pServices = std::make_unique<CInformationServices>(nullptr, o);
        pServices->start();
    }
    void add(const QByteArray &baCommand)
    {
        bool bFromNetwork = false;
        pServices->handleSubtitle(QJsonDocument::fromJson(baCommand).object(), bFromNetwork);
    }
    void announce(const QByteArray &baStatus, const char *pFrom = "127.0.0.2")
    {
        const int nBefore = vodLines("机顶盒状态信息更新");
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(pFrom), 0));
        QVERIFY(sender.writeDatagram(baStatus, QHostAddress::LocalHost, pServices->listenPort()) > 0);
        QTRY_COMPARE(vodLines("机顶盒状态信息更新"), nBefore + 1);
    }
    // A scheduler pass: 'S' sent, 'R' removed (and the file written), '-' neither.
    char tick(quint32 unAdvance)
    {
        unWallSeconds += unAdvance;
        const int nSent = lstPayloads.size();
        const int nWrites = lstEvents.count("write");
        const int nBefore = pServices->subtitles().size();
        pServices->onSendMsg();
        const bool bRemoved = pServices->subtitles().size() < nBefore;
        if (bRemoved != (lstEvents.count("write") > nWrites))
            return '!';
        if (bRemoved)
            return 'R';
        return lstPayloads.size() > nSent ? 'S' : '-';
    }

private slots:
    void init()
    {
        unWallSeconds = 1700000000;
        unTickMs = 1000;
        objFile = QJsonObject();
        lstEvents.clear();
        lstPayloads.clear();
        restart();
    }

    // A new server goes to the front; a known account (number, digits or rounded) is overwritten in place.
    void registry()
    {
        QUdpSocket sender;
        for (const char *pIgnored : {R"({"query":"STBINFO","account":77})", R"({"query":"stbInfo","account":77)"})
            QVERIFY(sender.writeDatagram(pIgnored, QHostAddress::LocalHost, pServices->listenPort()) > 0);
        announce(R"({"query":"stbInfo","account":5,"roomName":"Room 1 A","cprtQrCode":"q r","isServer":0,)"
                 R"("isCloseRoom":1,"cprtSigned":-2,"cprtPayStatus":3,"cprtTime":"77"})");
        unTickMs = 1200;
        QCOMPARE(pServices->getStbList(), QString(R"({"code":180,"data":[{"cprtPayStatus":3,"cprtQrCode":"qr",)"
                                                  R"("cprtSigned":-2,"cprtTime":"77","isCloseRoom":1,"isServer":0,)"
                                                  R"("roomName":"Room1A","strIp":"127.0.0.2","unAccount":"5",)"
                                                  R"("unTime":"1000"}]})"));
        announce(R"({"query":"stbInfo","account":4000000001})");
        announce(R"({"query":"stbInfo","account":3,"isServer":1})");
        announce(R"({"query":"stbInfo","account":4.6,"isServer":0})");
        announce(R"({"query":"stbInfo","account":"4000000001","isServer":1,"roomName":"b"})", "127.0.0.3");
        QStringList lstSeen;
        for (const StbInfo &s : pServices->stbInfos())
            lstSeen << QString("%1 %2 %3 %4").arg(s.unAccount).arg(s.strIp, s.roomName).arg(s.isServer);
        QCOMPARE(lstSeen, QStringList({"3 127.0.0.2  1", "5 127.0.0.2  0", "4000000001 127.0.0.3 b 1"}));
    }

    void onlineWindow_data()
    {
        QTest::addColumn<quint32>("unNowMs"); // the status came at 1000
        QTest::newRow("the same ms") << 1000u;
        QTest::newRow("the boundary") << 16000u;
        QTest::newRow("1 ms past") << 16001u;
    }
    // Online up to 15000 ms after the last status; an offline box is logged and kept.
    void onlineWindow()
    {
        QFETCH(quint32, unNowMs);
        announce(R"({"query":"stbInfo","account":21,"roomName":"R 8"})");
        unTickMs = unNowMs;
        const bool bOnline = unNowMs == 16000u;
        QCOMPARE(pServices->getStbList().contains("\"unAccount\":\"21\""), bOnline);
        const QString strOffline = "离线：ip:127.0.0.2,room:R 8, 离线时间:" + QString::number(unNowMs - 1000);
        QCOMPARE(vodLines(strOffline), int(!bOnline));
        QCOMPARE(pServices->stbInfos().size(), 1);
    }

    void schedulePattern_data()
    {
        QTest::addColumn<QString>("strCommand");
        QTest::addColumn<QString>("strPattern"); // one letter per pass, 3 s apart
        QTest::newRow("count 3 every 10 s") << R"({"count":3,"intervalTime":10})" << "S---S---SR";
        QTest::newRow("-99 until end")
            << R"({"count":-99,"intervalTime":3,"cashier_push_id":4,"end_time":"1700000007"})" << "SSSR";
        QTest::newRow("-99 expired") << R"({"count":-99,"cashier_push_id":4,"end_time":1699999999})" << "R";
        QTest::newRow("-99 without push id") << R"({"count":-99,"end_time":1800000000})" << "---";
        QTest::newRow("count 0 with push id") << R"({"cashier_push_id":8})" << "R-";
        QTest::newRow("count as text") << R"({"count":"3"})" << "--";
    }
    void schedulePattern()
    {
        QFETCH(QString, strCommand);
        QFETCH(QString, strPattern);
        add(strCommand.toUtf8());
        QString strSeen;
        while (strSeen.size() < strPattern.size())
            strSeen += tick(strSeen.isEmpty() ? 0 : 3);
        QCOMPARE(strSeen, strPattern);
    }

    // The file is written when a record joins or leaves; a restart resumes from it, without the last send
    // times or the repeat filter. A cashier's delete is relayed before the list changes. (Where sends go:
    // two_hosts_box.py.)
    void scheduleFileAndRestart()
    {
        add(R"({"remark":"欢迎 光临","count":2,"intervalTime":60,"time":"42"})");
        QCOMPARE(tick(0), 'S');
        QCOMPARE(lstPayloads.at(0), RoomDatagrams::roomCommand(26, "欢迎 光临", 42, "192.168.77.20"));
        const QByteArray baPush = R"({"remark":"b","count":5,"cashier_push_id":1,"start_time":9,"end_time":10})";
        add(baPush);
        QCOMPARE(objFile, SubtitleRules::toFile(pServices->subtitles()));
        restart();
        lstPayloads.clear();
        QCOMPARE(tick(3), 'S');
        QCOMPARE(lstPayloads.size(), 4); // the first one is due at once
        QCOMPARE(tick(3), 'R');          // it had one send left
        add(baPush);
        QCOMPARE(pServices->subtitles().size(), 2);
        lstEvents.clear();
        add(R"({"delete":2})");
        const QString strSyncPort = QString::number(RoomServiceOptions::kSharedPort);
        QCOMPARE(lstEvents, QStringList({"192.168.77.255:" + strSyncPort, "224.0.0.19:" + strSyncPort, "write"}));
        QCOMPARE(objFile, QJsonObject({{"list", QJsonArray()}}));
    }
};

QTEST_GUILESS_MAIN(TestRooms)
#include "tst_rooms.moc"
