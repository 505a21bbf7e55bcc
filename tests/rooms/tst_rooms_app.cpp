// The services inside the real application object: default ports, "./subtitle.conf" through the
// application's JSON store, and the schedule picked up again by the next instance.
#include <QFile>
#include <QtTest>

#include "RoomsHarness.h"
#include "app/MainApp.h"
#include "common/AppTestMain.h"
#include "rooms/InformationServices.h"

class TestRoomsApp : public QObject
{
    Q_OBJECT

private:
    CMainApp *app() { return qobject_cast<CMainApp *>(QCoreApplication::instance()); }

private slots:
    void applicationOwnsListenerOnDefaultPort()
    {
        QVERIFY(app()->informationServices());
        QCOMPARE(app()->informationServices()->listenPort(), quint16(19262));
        QCOMPARE(app()->informationServices()->getStbList(), QStringLiteral("{\"code\":180,\"data\":[]}"));
    }

    void scheduleSurvivesRestartThroughAppStore()
    {
        RoomsHarness harness;
        RoomServiceOptions options = harness.options();
        options.fnReadJson = nullptr; // the application's store, in its directory
        options.fnWriteJson = nullptr;
        options.fnLocalIp = nullptr;
        const QString strConf = app()->appDir() + QStringLiteral("/subtitle.conf");
        {
            CInformationServices before(nullptr, options);
            bool bFromNetwork = false;
            before.handleSubtitle(QJsonDocument::fromJson(R"({"remark":"还在","count":4,"cashier_push_id":31,)"
                                                          R"("time":"5","accountIds":"1,2"})").object(),
                                  bFromNetwork);
            QVERIFY(QFile::exists(strConf));
        }
        QFile file(strConf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray baFile = file.readAll();
        QVERIFY2(baFile.contains("\"count\": \"4\""), baFile.constData()); // indented, numbers as text

        CInformationServices after(nullptr, options);
        QCOMPARE(after.subtitles().size(), 1);
        QCOMPARE(after.subtitles().at(0).remark, QStringLiteral("还在"));
        QCOMPARE(after.subtitles().at(0).accountIds, QStringLiteral("1,2"));

        // No usable interface in this namespace: the command carries the application's empty address.
        qint32 nType = 5;
        after.sendRoomCommand(nType, QString(), 1, QString());
        QCOMPARE(harness.sentObject(0).value("clientIP"), QJsonValue(app()->localIp()));
    }
};

VEXA_TEST_MAIN_WITH_APP(TestRoomsApp)
#include "tst_rooms_app.moc"
