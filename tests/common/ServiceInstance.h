#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The real service run as a child from a private copy (it keeps its files beside itself).
class ServiceInstance
{
public:
    ServiceInstance();
    ~ServiceInstance() { kill(); }

    QString dir() const { return tmpDir.path(); }
    QString executable() const { return tmpDir.path() + "/VexaPrinter"; }
    QProcess &process() { return proc; }

    // Starts the service and waits until its HTTP port accepts connections.
    bool start(const QStringList &lstArgs = QStringList());
    // SIGKILL, and reaped.
    void kill()
    {
        proc.kill();
        proc.waitForFinished();
    }
    // Today's general log; the writer batches every 500 ms.
    QString readLog() const;

private:
    QTemporaryDir tmpDir;
    QProcess proc;
};

// A POST as the cashier page sends it to the service's HTTP port; the reply body (empty on failure).
QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs = 5000);
QByteArray buildPost(const QByteArray &baBody);
// The service's whole reply to a request answered with baBody.
QByteArray httpReply(const QByteArray &baBody);
// The bodies of the whole replies in a received stream.
QList<QByteArray> replyBodies(const QByteArray &baStream);
// Runs a program to its end: its exit code, or -1 when it crashed or still ran after 10 s (it is killed).
int runToEnd(const QString &strProgram, const QStringList &lstArgs);
