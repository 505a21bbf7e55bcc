#include "commands/PrinterList.h"

#include <QJsonObject>
#include <QTimer>

#include "log/Log.h"

QJsonArray buildPrinterList(const QList<Platform::PrinterFacts> &lstPrinters)
{
    QJsonArray arrList;
    for (const Platform::PrinterFacts &facts : lstPrinters) {
        // A USB printer that is off cannot take a receipt; a network queue may still spool it.
        if (facts.bUsb && facts.bOffline)
            continue;
        QJsonObject objPrinter;
        objPrinter.insert(QStringLiteral("name"), facts.strName);
        objPrinter.insert(QStringLiteral("state"), QStringLiteral("Online"));
        objPrinter.insert(QStringLiteral("default"), facts.bDefault ? 1 : 0);
        arrList.append(objPrinter);
    }
    return arrList;
}

void CPrinterListWorker::onListRequested()
{
    emit listed(Platform::listPrinters());
}

CPrinterLister::CPrinterLister(QObject *pParent)
    : QObject(pParent)
{
    qRegisterMetaType<Platform::PrinterListing>();
    pWorker = std::make_unique<CPrinterListWorker>();
    pWorker->moveToThread(&threadWorker);
    connect(this, &CPrinterLister::listRequested, pWorker.get(), &CPrinterListWorker::onListRequested);
    connect(pWorker.get(), &CPrinterListWorker::listed, this, &CPrinterLister::onListed);
    threadWorker.setObjectName(QStringLiteral("PrinterLister"));
}

void CPrinterLister::start()
{
    threadWorker.start(QThread::LowPriority);
}

CPrinterLister::~CPrinterLister()
{
    // A look-up in flight ends within its own time limit; queries still waiting are dropped.
    threadWorker.quit();
    threadWorker.wait();
}

void CPrinterLister::queryPrinters(const AnswerFunction &fnAnswer)
{
    const quint64 ullId = ullNextId++;
    lstWaiters.append(Waiter{ullId, fnAnswer});
    QTimer::singleShot(kAnswerBoundMs, this, [this, ullId] { onBoundPassed(ullId); });
    if (!bListing) {
        bListing = true;
        emit listRequested();
    }
}

void CPrinterLister::onListed(const Platform::PrinterListing &listing)
{
    bListing = false;
    const QList<Waiter> lstAnswered = lstWaiters;
    lstWaiters.clear();
    for (const Waiter &waiter : lstAnswered) {
        if (listing.eOutcome == Platform::PrinterListing::NoAnswer)
            answerUnanswered(waiter.fnAnswer);
        else
            waiter.fnAnswer(listing.lstPrinters);
    }
}

void CPrinterLister::onBoundPassed(quint64 ullId)
{
    for (int i = 0; i < lstWaiters.size(); ++i) {
        if (lstWaiters[i].ullId == ullId) {
            const AnswerFunction fnAnswer = lstWaiters.takeAt(i).fnAnswer;
            answerUnanswered(fnAnswer);
            return;
        }
    }
}

void CPrinterLister::answerUnanswered(const AnswerFunction &fnAnswer)
{
    WRITE_LOG(g_printerLog, QStringLiteral("获取打印机列表超时(%1ms)，按无打印机应答").arg(kAnswerBoundMs));
    fnAnswer(QList<Platform::PrinterFacts>());
}
