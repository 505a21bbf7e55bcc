#include "XSession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include <xcb/xcb.h>

namespace {
// Reads from a pipe until EOF, a line end (bStopAtLine) or the time-out.
QByteArray readPipe(int nFd, int nTimeoutMs, bool bStopAtLine)
{
    QByteArray baData;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nTimeoutMs && !(bStopAtLine && baData.endsWith('\n'))) {
        pollfd pfd{nFd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        char szBuffer[4096];
        const ssize_t nRead = read(nFd, szBuffer, bStopAtLine ? 1 : sizeof szBuffer);
        if (nRead <= 0)
            break;
        baData.append(szBuffer, int(nRead));
    }
    return baData;
}
}

XSession::~XSession()
{
    stop(pidTrayer);
    stop(pidXvfb);
}

pid_t XSession::spawn(const QStringList &lstArgv, int nStdoutFd)
{
    std::vector<QByteArray> vecArgs;
    for (const QString &strArg : lstArgv)
        vecArgs.push_back(strArg.toLocal8Bit());
    std::vector<char *> vecArgv;
    for (QByteArray &baArg : vecArgs)
        vecArgv.push_back(baArg.data());
    vecArgv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int nNull = open("/dev/null", O_RDWR);
        dup2(nNull, STDIN_FILENO);
        dup2(nStdoutFd >= 0 ? nStdoutFd : nNull, STDOUT_FILENO);
        dup2(nNull, STDERR_FILENO);
        execvp(vecArgv[0], vecArgv.data());
        _exit(127);
    }
    return pid;
}

void XSession::stop(pid_t &pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

QString XSession::run(const QStringList &lstArgv)
{
    int fds[2];
    if (pipe(fds) != 0)
        return QString();
    pid_t pid = spawn(lstArgv, fds[1]);
    close(fds[1]);
    const QByteArray baOut = readPipe(fds[0], 10000, false);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return QString::fromUtf8(baOut);
}

bool XSession::waitFor(const QString &strTreeText, int nTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nTimeoutMs) {
        if (run({QStringLiteral("xwininfo"), QStringLiteral("-root"), QStringLiteral("-tree")}).contains(strTreeText))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool XSession::start()
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    // -displayfd: Xvfb takes the first free display itself, so tests running in parallel never collide.
    pidXvfb = spawn({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                    fds[1]);
    close(fds[1]);
    const QByteArray baNumber = readPipe(fds[0], 10000, true).trimmed();
    close(fds[0]);
    if (baNumber.isEmpty())
        return false;
    strDisplay = QStringLiteral(":") + QString::fromLatin1(baNumber);
    qputenv("DISPLAY", strDisplay.toLatin1());

    pidTrayer = spawn({QStringLiteral("trayer"), QStringLiteral("--expand"), QStringLiteral("false"),
                       QStringLiteral("--widthtype"), QStringLiteral("request")},
                      -1);
    return waitFor(QStringLiteral("(\"panel\" \"trayer\")"), 10000);
}

unsigned long XSession::trayedWindow(const QString &strName)
{
    // Tray icons are the only windows nested below the panel: deeper than the top-level indentation.
    const QString strTree = run({QStringLiteral("xwininfo"), QStringLiteral("-root"), QStringLiteral("-tree")});
    const QString strNeedle = QStringLiteral("\"%1\": (\"%1\"").arg(strName);
    for (const QString &strLine : strTree.split(QLatin1Char('\n'))) {
        const QString strTrimmed = strLine.trimmed();
        const int nIndent = strLine.size() - strLine.trimmed().size();
        if (strLine.contains(strNeedle) && nIndent > 6 && strTrimmed.startsWith(QLatin1String("0x")))
            return strTrimmed.section(QLatin1Char(' '), 0, 0).toULong(nullptr, 16);
    }
    return 0;
}

namespace {
xcb_atom_t internAtom(xcb_connection_t *pConnection, const char *pName)
{
    xcb_intern_atom_reply_t *pReply =
        xcb_intern_atom_reply(pConnection, xcb_intern_atom(pConnection, 0, uint16_t(strlen(pName)), pName), nullptr);
    const xcb_atom_t atom = pReply ? pReply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(pReply);
    return atom;
}
}

bool XSession::sendDeleteWindow(unsigned long ulWindow)
{
    xcb_connection_t *pConnection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(pConnection)) {
        xcb_disconnect(pConnection);
        return false;
    }
    xcb_client_message_event_t event;
    memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(ulWindow);
    event.type = internAtom(pConnection, "WM_PROTOCOLS");
    event.data.data32[0] = internAtom(pConnection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(pConnection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    // A round trip: the server has handled the request before this connection goes away.
    free(xcb_get_input_focus_reply(pConnection, xcb_get_input_focus(pConnection), nullptr));
    const bool bOk = !xcb_connection_has_error(pConnection);
    xcb_disconnect(pConnection);
    return bOk;
}

bool XSession::isViewable(unsigned long ulWindow)
{
    return run({QStringLiteral("xwininfo"), QStringLiteral("-id"), QString::number(ulWindow)})
        .contains(QStringLiteral("Map State: IsViewable"));
}
