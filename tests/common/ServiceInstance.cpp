#include "common/ServiceInstance.h"

#include <QDate>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <climits>

template <typename Check> static bool pollFor(int nTimeoutMs, Check check)
{
    bool bDone = false;
    for (const QDeadlineTimer deadline(nTimeoutMs); !(bDone = check()) && !deadline.hasExpired();)
        QThread::msleep(50);
    return bDone;
}

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
    return proc.waitForStarted(nTimeoutMs) && pollFor(nTimeoutMs, [this] {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        return socket.waitForConnected(200) || proc.state() == QProcess::NotRunning;
    }) && proc.state() == QProcess::Running;
}

int ServiceInstance::waitForExit(int nTimeoutMs)
{
    const bool bEnded = proc.state() == QProcess::NotRunning || proc.waitForFinished(nTimeoutMs);
    return bEnded && proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : INT_MIN;
}

QString ServiceInstance::readLog(const QString &strPrefix) const
{
    QFile file(QStringLiteral("%1/logs/%2_%3.log").arg(tmpDir.path(), strPrefix, QDate::currentDate().toString(Qt::ISODate)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool ServiceInstance::waitForLog(const QString &strText, int nTimeoutMs, const QString &strPrefix) const
{
    return pollFor(nTimeoutMs, [&] { return readLog(strPrefix).contains(strText); });
}

QByteArray buildPost(const QByteArray &baBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Type: text/plain\r\nContent-Length: "
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
    for (int nPos = 0, nBody; (nBody = baStream.indexOf("\r\n\r\n", nPos) + 4) >= 4;) {
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
    socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
    socket.write(baRequest); // sent once connected
    socket.waitForBytesWritten(nTimeoutMs);
    QByteArray baReceived;
    for (const QDeadlineTimer deadline(nTimeoutMs); replyBodies(baReceived).size() < nReplies && !deadline.hasExpired()
         && (socket.waitForReadyRead(100) || socket.state() == QAbstractSocket::ConnectedState);)
        baReceived += socket.readAll();
    return baReceived;
}

QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs)
{
    return replyBodies(httpExchange(buildPost(baBody), 1, nTimeoutMs)).value(0);
}
