// The Windows backends for the wine tests, one subcommand each, one line of output. Debug lines
// go to stderr (a wine program's own debug output would go to the debugger).
#include <QThread>

#include <cstdio>

#include "app/MainApp.h"
#include "platform/MonotonicClock.h"
#include "platform/Printers.h"
#include "platform/ProcessList.h"

namespace {
void toStderr(QtMsgType, const QMessageLogContext &, const QString &strMessage)
{
    std::fputs((strMessage.toUtf8() + '\n').constData(), stderr);
    std::fflush(stderr);
}

void say(const QString &strLine)
{
    std::fputs((strLine.toUtf8() + '\n').constData(), stdout);
}

// The start-at-log-on switch on an application object that is never started (no sockets).
int switchStartup(int argc, char **argv, const QByteArray &baMethod, bool bOn)
{
    CMainApp app(argc, argv);
    if (baMethod == "powerboot")
        app.setPowerBoot(bOn);
    else
        app.setAutoStart(bOn);
    say(QStringLiteral("isPowerBoot %1 bAutoStart %2").arg(app.isPowerBoot()).arg(app.bAutoStart()));
    return 0;
}

void listPrinters()
{
    const Platform::PrinterListing listing = Platform::listPrinters();
    for (const Platform::PrinterFacts &facts : listing.lstPrinters)
        say(QStringLiteral("%1|%2|%3%4%5").arg(facts.strName, facts.strPort).arg(facts.bUsb).arg(facts.bOffline)
                .arg(facts.bDefault));
    say(QStringLiteral("default %1").arg(listing.strDefaultName));
}
}

// powerboot 0|1, autostart 0|1, printers, running <image>, tick <ms>, sleep <ms>
int main(int argc, char *argv[])
{
    qInstallMessageHandler(toStderr);
    const QByteArray baCommand = argc > 1 ? argv[1] : "";
    const QByteArray baArgument = argc > 2 ? argv[2] : "";
    if (baCommand == "powerboot" || baCommand == "autostart")
        return switchStartup(argc, argv, baCommand, baArgument == "1");
    if (baCommand == "printers") {
        listPrinters();
    } else if (baCommand == "running") {
        say(QString::number(Platform::isProcessRunning(QString::fromLocal8Bit(baArgument))));
    } else if (baCommand == "tick") {
        const quint32 unStart = Platform::getTickMs();
        QThread::msleep(baArgument.toULong());
        say(QStringLiteral("%1 %2").arg(unStart).arg(Platform::getTickMs()));
    } else if (baCommand == "sleep") {
        QThread::msleep(baArgument.toULong());
    } else {
        return 2;
    }
    return 0;
}
