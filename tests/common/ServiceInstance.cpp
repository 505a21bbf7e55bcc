#include "common/ServiceInstance.h"
#include "common/TestFiles.h"

#include <QDate>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <climits>

#include "server/HttpServer.h"

ServiceInstance::ServiceInstance()
{
    QFile::copy(qEnvironmentVariable("VEXA_BIN"), executable());
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool ServiceInstance::start(const QStringList &lstArgs, const QProcessEnvironment &env, int nTimeoutMs)
{
    proc.setProcessEnvironment(env);
    proc.setWorkingDirectory(tmpDir.path());
    proc.start(executable(), lstArgs);
    const auto listening = [this] {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
        return socket.waitForConnected(200) || proc.state() == QProcess::NotRunning;
    };
    return proc.waitForStarted(nTimeoutMs) && QTest::qWaitFor(listening, nTimeoutMs)
        && proc.state() == QProcess::Running;
}

int ServiceInstance::waitForExit(int nTimeoutMs)
{
    const bool bEnded = proc.state() == QProcess::NotRunning || proc.waitForFinished(nTimeoutMs);
    if (!bEnded || proc.exitStatus() != QProcess::NormalExit)
        return INT_MIN;
    return proc.exitCode();
}

QString ServiceInstance::readLog(const QString &strPrefix) const
{
    const QString strDate = QDate::currentDate().toString(Qt::ISODate);
    return QString::fromUtf8(readFile(QStringLiteral("%1/logs/%2_%3.log").arg(tmpDir.path(), strPrefix, strDate)));
}

bool ServiceInstance::waitForLog(const QString &strText, int nTimeoutMs, const QString &strPrefix) const
{
    return QTest::qWaitFor([&] { return readLog(strPrefix).contains(strText); }, nTimeoutMs);
}

QByteArray buildPost(const QByteArray &baBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: "
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

QByteArray httpExchange(const QByteArray &baRequest, int nReplies, int nTimeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), CHttpServer::kDefaultPort);
    socket.write(baRequest); // sent once connected
    socket.waitForBytesWritten(nTimeoutMs);
    QByteArray baReceived;
    const QDeadlineTimer deadline(nTimeoutMs);
    while (replyBodies(baReceived).size() < nReplies && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(100) && socket.state() != QAbstractSocket::ConnectedState)
            break;
        baReceived += socket.readAll();
    }
    return baReceived;
}

QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs)
{
    return replyBodies(httpExchange(buildPost(baBody), 1, nTimeoutMs)).value(0);
}
