#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The real service, run from a private copy (it keeps its files beside itself).
class ServiceInstance
{
public:
    ServiceInstance();
    ~ServiceInstance() { kill(); }

    QString dir() const { return tmpDir.path(); }
    QString executable() const { return tmpDir.path() + "/VexaPrinter"; }

    // Until its HTTP port accepts connections.
    bool start(const QStringList &lstArgs = QStringList());
    void kill()
    {
        proc.kill();
        proc.waitForFinished();
    }

    QProcess proc;

private:
    QTemporaryDir tmpDir;
};

// A POST as the cashier page sends it; the reply body (empty on failure).
QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs = 5000);
QByteArray buildPost(const QByteArray &baBody);
// The service's whole reply with that body.
QByteArray httpReply(const QByteArray &baBody);
QList<QByteArray> replyBodies(const QByteArray &baStream);
// Its exit code, or -1 when it crashed or still ran after 10 s.
int runToEnd(const QString &strProgram, const QStringList &lstArgs);
