#pragma once

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

#include "platform/Printers.h"

// The installed printers as the "PrinterStatus" command reports them (the facts come from
// CPrinterLister): offline USB printers are left out, every other printer is "Online".
QJsonArray buildPrinterList(const QList<Platform::PrinterFacts> &lstPrinters);

// Does the platform call on the lister's worker thread.
class CPrinterListWorker : public QObject
{
    Q_OBJECT
public slots:
    void onListRequested();
signals:
    void listed(const Platform::PrinterListing &listing);
};

// Printer queries for the main thread: the printing system is asked on a worker thread of its own,
// so a slow or hung scheduler never holds up the event loop. Every query is answered once, on this
// object's thread: with the printers, or after kAnswerBoundMs as if no printer were installed.
class CPrinterLister : public QObject
{
    Q_OBJECT
public:
    using AnswerFunction = std::function<void(const QList<Platform::PrinterFacts> &lstPrinters)>;
    static constexpr int kAnswerBoundMs = Platform::kPrinterQueryTimeoutMs;

    explicit CPrinterLister(QObject *pParent = nullptr);
    ~CPrinterLister() override;

    // Starts the worker thread; queries made before wait for it.
    void start();

    void queryPrinters(const AnswerFunction &fnAnswer);

signals:
    void listRequested();

private slots:
    void onListed(const Platform::PrinterListing &listing);

private:
    struct Waiter
    {
        quint64 ullId = 0;
        AnswerFunction fnAnswer;
    };
    void onBoundPassed(quint64 ullId);
    static void answerUnanswered(const AnswerFunction &fnAnswer);

    QThread threadWorker;
    // Lives on threadWorker; deleted once the destructor has waited for that thread to end.
    std::unique_ptr<CPrinterListWorker> pWorker;
    QList<Waiter> lstWaiters;  // answered by the look-up in flight
    bool bListing = false;
    quint64 ullNextId = 1;
};
