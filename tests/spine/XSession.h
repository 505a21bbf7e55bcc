#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// A private X server (Xvfb on a display it picks itself) with a tray host (trayer), for tests that
// need a real window system. Plain fork/exec, so it can run before any QCoreApplication exists.
class XSession
{
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    // Starts Xvfb, exports DISPLAY, starts trayer and waits for its panel.
    bool start();
    QString display() const { return strDisplay; }

    // Runs a program (an X utility) and returns its standard output.
    static QString run(const QStringList &lstArgv);
    // Asks the window to close as a title-bar button does (WM_DELETE_WINDOW client message).
    static bool sendDeleteWindow(unsigned long ulWindow);
    static bool isViewable(unsigned long ulWindow);
    // Id of a window named strName that sits inside trayer's panel (a tray icon), 0 when none.
    static unsigned long trayedWindow(const QString &strName);

private:
    static pid_t spawn(const QStringList &lstArgv, int nStdoutFd);
    static void stop(pid_t &pid);
    static bool waitFor(const QString &strTreeText, int nTimeoutMs);

    pid_t pidXvfb = -1;
    pid_t pidTrayer = -1;
    QString strDisplay;
};
