#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The real service executable, copied into a private directory (it keeps every file beside itself)
// and started as a child process. Only for tests that run in their own network namespace.
class ServiceInstance
{
public:
    ServiceInstance();
    ~ServiceInstance();

    QString dir() const { return tmpDir.path(); }
    QString executable() const;
    QProcess &process() { return proc; }

    // Starts the service and waits until port 12380 accepts connections.
    bool start(const QStringList &lstArgs = QStringList(),
               const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(), int nTimeoutMs = 15000);
    // Kills the service (SIGKILL) and reaps it.
    void kill();
    // Waits for the process to end on its own; returns its exit code or INT_MIN on time-out.
    int waitForExit(int nTimeoutMs);

    // Everything the general (or the set-top-box) channel has written so far today.
    QString readLog(const QString &strPrefix = QStringLiteral("PrinterLog")) const;
    // Waits until the log contains the text (the writer batches every 500 ms).
    bool waitForLog(const QString &strText, int nTimeoutMs = 5000,
                    const QString &strPrefix = QStringLiteral("PrinterLog")) const;

private:
    QTemporaryDir tmpDir;
    QProcess proc;
};

// Opens a connection to 127.0.0.1:12380, writes the bytes, and reads until nReplies complete
// HTTP replies arrived (or the time-out passed). Returns every byte received.
QByteArray httpExchange(const QByteArray &baRequest, int nReplies = 1, int nTimeoutMs = 5000);
// A POST as the cashier page sends it; returns the reply body (empty on failure).
QByteArray postCommand(const QByteArray &baBody, int nTimeoutMs = 5000);
// Builds the bytes of one POST request carrying the body.
QByteArray buildPost(const QByteArray &baBody);
// Splits a stream of replies into their bodies (using each Content-Length).
QList<QByteArray> replyBodies(const QByteArray &baStream);
