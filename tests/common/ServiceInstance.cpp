#include "common/ServiceInstance.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <climits>

ServiceInstance::ServiceInstance()
{
    QFile::copy(qEnvironmentVariable("VEXA_BIN"), executable());
    QFile::setPermissions(executable(), QFile::permissions(executable()) | QFileDevice::ExeOwner);
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

ServiceInstance::~ServiceInstance()
{
    kill();
}

QString ServiceInstance::executable() const
{
    return tmpDir.path() + QStringLiteral("/VexaPrinter");
}

bool ServiceInstance::start(const QStringList &lstArgs, const QProcessEnvironment &env, int nTimeoutMs)
{
    proc.setProcessEnvironment(env);
    proc.setWorkingDirectory(tmpDir.path());
    proc.start(executable(), lstArgs);
    if (!proc.waitForStarted(nTimeoutMs))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nTimeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
        if (socket.waitForConnected(200))
            return true;
        if (proc.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(50);
    }
    return false;
}

void ServiceInstance::kill()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(5000);
    }
}

int ServiceInstance::waitForExit(int nTimeoutMs)
{
    if (proc.state() != QProcess::NotRunning && !proc.waitForFinished(nTimeoutMs))
        return INT_MIN;
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : INT_MIN;
}

QString ServiceInstance::readLog(const QString &strPrefix) const
{
    QFile file(QStringLiteral("%1/logs/%2_%3.log")
                   .arg(tmpDir.path(), strPrefix, QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool ServiceInstance::waitForLog(const QString &strText, int nTimeoutMs, const QString &strPrefix) const
{
    QElapsedTimer timer;
    timer.start();
    do {
        if (readLog(strPrefix).contains(strText))
            return true;
        QThread::msleep(50);
    } while (timer.elapsed() < nTimeoutMs);
    return false;
}

QByteArray buildPost(const QByteArray &baBody)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Type: text/plain\r\nContent-Length: "
           + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody;
}

QList<QByteArray> replyBodies(const QByteArray &baStream)
{
    QList<QByteArray> lstBodies;
    int nPos = 0;
    for (;;) {
        const int nHeaderEnd = baStream.indexOf("\r\n\r\n", nPos);
        if (nHeaderEnd < 0)
            break;
        const QByteArray baHeader = baStream.mid(nPos, nHeaderEnd - nPos);
        const int nLengthPos = baHeader.indexOf("Content-Length:");
        if (nLengthPos < 0)
            break;
        const int nLineEnd = baHeader.indexOf("\r\n", nLengthPos);
        const int nLength = baHeader.mid(nLengthPos + 15, nLineEnd < 0 ? -1 : nLineEnd - nLengthPos - 15).trimmed().toInt();
        if (baStream.size() < nHeaderEnd + 4 + nLength)
            break;
        lstBodies.append(baStream.mid(nHeaderEnd + 4, nLength));
        nPos = nHeaderEnd + 4 + nLength;
    }
    return lstBodies;
}

QByteArray httpExchange(const QByteArray &baRequest, int nReplies, int nTimeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 12380);
    if (!socket.waitForConnected(nTimeoutMs))
        return QByteArray();
    socket.write(baRequest);
    socket.waitForBytesWritten(nTimeoutMs);
    QByteArray baReceived;
    QElapsedTimer timer;
    timer.start();
    while (replyBodies(baReceived).size() < nReplies && timer.elapsed() < nTimeoutMs) {
        if (socket.waitForReadyRead(100))
            baReceived += socket.readAll();
        else if (socket.state() != QAbstractSocket::ConnectedState)
            break;
    }
    return baReceived;
}

QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs)
{
    const QList<QByteArray> lstBodies = replyBodies(httpExchange(buildPost(baBody), 1, nTimeoutMs));
    return lstBodies.isEmpty() ? QByteArray() : lstBodies.first();
}
