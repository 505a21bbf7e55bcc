// The updater link of the running service, seen from outside: the close requests on port 19682,
// the answers on 127.0.0.1:19681, the "quit" messenger, and the updater start and install.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include "UpdaterFiles.h"
#include "common/ServiceInstance.h"

namespace {
const quint16 kLinkPort = 19682;
const quint16 kAnswerPort = 19681;
}

class TestUpdateLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void closeRequest_data();
    void closeRequest();
    void messengerDatagrams();
    void quitMessenger();
    void updaterStartedAndReplaced();

private:
    void sendToService(const QByteArray &baDatagram);
    // The next answer datagram, or an empty array after nTimeoutMs.
    QByteArray nextAnswer(int nTimeoutMs = 5000);

    QUdpSocket *pAnswerSocket = nullptr;
};

void TestUpdateLink::init()
{
    pAnswerSocket = new QUdpSocket(this);
    QVERIFY(pAnswerSocket->bind(QHostAddress::LocalHost, kAnswerPort));
}

void TestUpdateLink::cleanup()
{
    delete pAnswerSocket;
    pAnswerSocket = nullptr;
}

void TestUpdateLink::sendToService(const QByteArray &baDatagram)
{
    QUdpSocket socket;
    QCOMPARE(socket.writeDatagram(baDatagram, QHostAddress::LocalHost, kLinkPort), qint64(baDatagram.size()));
}

QByteArray TestUpdateLink::nextAnswer(int nTimeoutMs)
{
    if (!pAnswerSocket->hasPendingDatagrams())
        pAnswerSocket->waitForReadyRead(nTimeoutMs);
    if (!pAnswerSocket->hasPendingDatagrams())
        return QByteArray();
    const QNetworkDatagram datagram = pAnswerSocket->receiveDatagram();
    qInfo().noquote() << "answer from port" << datagram.senderPort() << ":" << datagram.data();
    return datagram.data();
}

void TestUpdateLink::closeRequest_data()
{
    QTest::addColumn<QList<QByteArray>>("lstRequests");
    QTest::addColumn<QByteArray>("baAnswer");

    QTest::newRow("CloseApp echoes its time") << QList<QByteArray>{R"({"query":"CloseApp","time":"123"})"}
                                              << QByteArray(R"({"query":"CloseApp","check":"123"})");
    // Requests that are ignored produce nothing, so the first answer belongs to the last request;
    // its empty "check" shows that every datagram overwrote the stored time.
    QTest::newRow("ignored requests, then IsUpdated without time")
        << QList<QByteArray>{R"({"query":"Hello","time":"77"})", R"({"query":"closeapp","time":"5"})",
                             "not json", R"({"query":"IsUpdated"})"}
        << QByteArray(R"({"query":"IsUpdated","check":""})");
}

void TestUpdateLink::closeRequest()
{
    QFETCH(QList<QByteArray>, lstRequests);
    QFETCH(QByteArray, baAnswer);

    ServiceInstance service;
    QVERIFY(service.start());
    for (const QByteArray &baRequest : lstRequests)
        sendToService(baRequest);

    QCOMPARE(nextAnswer(), baAnswer);
    QCOMPARE(nextAnswer(), baAnswer);
    QCOMPARE(service.waitForExit(10000), 0);
    QCOMPARE(nextAnswer(200), QByteArray());
}

// What a second start with "quit" puts on the wire, caught in place of a running instance.
void TestUpdateLink::messengerDatagrams()
{
    ServiceInstance service;
    QUdpSocket link;
    QVERIFY(link.bind(QHostAddress::AnyIPv4, kLinkPort));
    QCOMPARE(QProcess::execute(service.executable(), {QStringLiteral("quit")}), 0);

    QList<QByteArray> lstDatagrams;
    while (link.hasPendingDatagrams() || link.waitForReadyRead(200)) {
        const QNetworkDatagram datagram = link.receiveDatagram();
        qInfo().noquote() << "messenger datagram to" << datagram.destinationPort() << datagram.data().size()
                          << "bytes:" << datagram.data();
        lstDatagrams.append(datagram.data());
    }
    QCOMPARE(lstDatagrams, (QList<QByteArray>{R"({"query":"IsUpdated"})", R"({"query":"IsUpdated"})"}));
    QVERIFY(QDir(service.dir()).entryList({QStringLiteral("logs")}, QDir::Dirs).isEmpty());
}

void TestUpdateLink::quitMessenger()
{
    ServiceInstance service;
    QVERIFY(service.start());

    QProcess messenger;
    QElapsedTimer timer;
    timer.start();
    messenger.start(service.executable(), {QStringLiteral("quit")});
    QVERIFY(messenger.waitForFinished(5000));
    qInfo() << "messenger ran for" << timer.elapsed() << "ms";
    QCOMPARE(messenger.exitStatus(), QProcess::NormalExit);
    QCOMPARE(messenger.exitCode(), 0);

    const QByteArray baAnswer(R"({"query":"IsUpdated","check":""})");
    QCOMPARE(nextAnswer(), baAnswer);
    QCOMPARE(nextAnswer(), baAnswer);
    QCOMPARE(service.waitForExit(10000), 0);
}

// The one test that lives through the real 5 s watch of the service.
void TestUpdateLink::updaterStartedAndReplaced()
{
    ServiceInstance service;
    const QString strUpdaterDir = service.dir() + QStringLiteral("/Updater");
    const QString strInstalled = strUpdaterDir + QStringLiteral("/Updater.exe");
    const QString strPendingNew = strUpdaterDir + QStringLiteral("/Updater.exe-new");
    const QString strPendingBeside = service.dir() + QStringLiteral("/Updater.exe");
    QVERIFY(UpdaterFiles::installFake(strInstalled, "old"));
    QVERIFY(UpdaterFiles::installFake(strPendingBeside, "beside"));
    QVERIFY(UpdaterFiles::installFake(strPendingNew, "new", false));

    QVERIFY(service.start());
    QTRY_COMPARE_WITH_TIMEOUT(UpdaterFiles::startCount(strUpdaterDir), 1, 5000);

    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(strPendingNew), 12000);
    QVERIFY(!QFile::exists(strPendingBeside));
    QCOMPARE(UpdaterFiles::readAll(strInstalled), UpdaterFiles::fakeBytes("new"));
    QVERIFY(QFileInfo(strInstalled).isExecutable());
    QCOMPARE(QDir(strUpdaterDir).entryList(QDir::Files | QDir::Hidden).size(), 2); // Updater.exe, started.log
}

QTEST_GUILESS_MAIN(TestUpdateLink)
#include "tst_update_link.moc"
