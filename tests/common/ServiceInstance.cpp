#include "common/ServiceInstance.h"

#include <QTcpSocket>
#include <QTest>

#include "server/HttpServer.h"

ServiceInstance::ServiceInstance()
{
    QFile::copy(qEnvironmentVariable("VEXA_BIN"), executable());
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool ServiceInstance::start(const QStringList &lstArgs)
{
    proc.setWorkingDirectory(tmpDir.path());
    proc.start(executable(), lstArgs);
    const auto listening = [this] {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", CHttpServer::kDefaultPort);
        return socket.waitForConnected(200) || proc.state() == QProcess::NotRunning;
    };
    return proc.waitForStarted() && QTest::qWaitFor(listening, 15000) && proc.state() == QProcess::Running;
}

QByteArray buildPost(const QByteArray &baBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: "
        + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

QByteArray httpReply(const QByteArray &baBody)
{
    return "HTTP/1.1 200 OK\r\nAccess-Control-Allow-origin: *\r\nContent-Type:application/json\r\nContent-Length:"
           + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

QList<QByteArray> replyBodies(const QByteArray &baStream)
{
    QList<QByteArray> lstBodies;
    int nPos = 0;
    for (int nBody = baStream.indexOf("\r\n\r\n") + 4; nBody >= 4; nBody = baStream.indexOf("\r\n\r\n", nPos) + 4) {
        const QByteArray baHeader = baStream.mid(nPos, nBody - nPos);
        const int nField = baHeader.indexOf("Content-Length:");
        const int nLength = baHeader.mid(nField + 15).split('\r').value(0).trimmed().toInt();
        if (nField < 0 || baStream.size() < nBody + nLength)
            break;
        lstBodies.append(baStream.mid(nBody, nLength));
        nPos = nBody + nLength;
    }
    return lstBodies;
}

QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", CHttpServer::kDefaultPort);
    socket.write(buildPost(baBody)); // sent once connected
    QByteArray baReceived;
    const auto replied = [&] {
        baReceived += socket.readAll();
        return !replyBodies(baReceived).isEmpty() || socket.state() == QAbstractSocket::UnconnectedState;
    };
    if (!QTest::qWaitFor(replied, nTimeoutMs))
        return QByteArray();
    return replyBodies(baReceived).value(0);
}

int runToEnd(const QString &strProgram, const QStringList &lstArgs)
{
    QProcess process;
    process.start(strProgram, lstArgs);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}
