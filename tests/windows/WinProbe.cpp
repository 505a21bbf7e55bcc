// The Windows backends for the wine tests: one subcommand each, one line out; qDebug goes to stderr.
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

#include "app/MainApp.h"
#include "platform/MonotonicClock.h"
#include "platform/Printers.h"
#include "platform/ProcessList.h"

namespace {
void say(const QString &strLine)
{
    std::fputs((strLine.toUtf8() + '\n').constData(), stdout);
}

void toStderr(QtMsgType, const QMessageLogContext &, const QString &strMessage)
{
    std::fputs((strMessage.toUtf8() + '\n').constData(), stderr);
}

void listPrinters()
{
    const Platform::PrinterListing listing = Platform::listPrinters();
    for (const Platform::PrinterFacts &facts : listing.lstPrinters)
        say(facts.strName + '|' + facts.strPort);
    say("default " + listing.strDefaultName);
}
}

// powerboot|autostart 0|1 (on an application object that is never started),
// running <image>, tick <ms> (ticks before and after a sleep, and Qt's count of it); anything else lists
// the printers
int main(int argc, char *argv[])
{
    qInstallMessageHandler(toStderr);
    const QByteArray baCommand = argc > 1 ? argv[1] : "";
    const QByteArray baArgument = argc > 2 ? argv[2] : "";
    const quint32 unStart = Platform::getTickMs();
    if (baCommand == "powerboot" || baCommand == "autostart") {
        CMainApp app(argc, argv);
        if (baCommand == "powerboot")
            app.setPowerBoot(baArgument == "1");
        else
            app.setAutoStart(baArgument == "1");
        say(QStringLiteral("isPowerBoot %1 bAutoStart %2").arg(app.isPowerBoot()).arg(app.bAutoStart()));
    } else if (baCommand == "running") {
        say(QString::number(Platform::isProcessRunning(QString::fromLocal8Bit(baArgument))));
    } else if (baCommand == "tick") {
        QElapsedTimer timer;
        timer.start();
        QThread::msleep(baArgument.toULong());
        const qint64 llElapsed = timer.elapsed();
        say(QStringLiteral("%1 %2 %3").arg(unStart).arg(Platform::getTickMs()).arg(llElapsed));
    } else {
        listPrinters();
    }
    return 0;
}
