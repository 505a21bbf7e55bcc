// Stand-in for the HTTP front end in the two-host test: the real application object in the
// service's namespace, fed one request body per stdin line; each reply is written as one line.
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

#include "app/MainApp.h"
#include "log/Log.h"

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <app-dir>\n", argv[0]);
        return 2;
    }
    const QString strAppDir = QString::fromLocal8Bit(argv[1]);
    CMainApp app(argc, argv, strAppDir);
    CBackupFiles::initLogDir(strAppDir);
    g_printerLog.start(QThread::IdlePriority);
    g_vodLog.start(QThread::IdlePriority);

    QByteArray baPending;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char szChunk[4096];
        const ssize_t nRead = ::read(STDIN_FILENO, szChunk, sizeof(szChunk));
        if (nRead <= 0) { // the test closed the pipe
            notifier.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        baPending.append(szChunk, int(nRead));
        for (int nEnd = baPending.indexOf('\n'); nEnd >= 0; nEnd = baPending.indexOf('\n')) {
            const QByteArray baLine = baPending.left(nEnd);
            baPending.remove(0, nEnd + 1);
            QString strReply = app.dispatchCommand(baLine);
            strReply.replace(QLatin1Char('\n'), QLatin1Char(' '));
            std::fprintf(stdout, "%s\n", strReply.toUtf8().constData());
            std::fflush(stdout);
        }
    });
    std::fprintf(stdout, "READY %s\n", app.localIp().toUtf8().constData());
    std::fflush(stdout);
    return app.exec();
}
