// Stress run (benchmarks/stress/run.sh, not part of the test suite; no print server reachable).
// The dispatcher fuzzer once died inside Qt's PDF engine set-up on the print thread while the main
// thread kept dispatching receipts that name a printer. Receipts arriving during printing must
// never take the service down: the main thread asks the printing system for names directly and
// leaves Qt's print support to the print thread.
#include <QElapsedTimer>
#include <QtTest>

#include "common/AppTestMain.h"
#include "printing/PrinterQueue.h"

class TestPrintRace : public QObject
{
    Q_OBJECT

private slots:
    void receiptsKeepArrivingWhileThePrintThreadPrints()
    {
        CMainApp *pApp = static_cast<CMainApp *>(QCoreApplication::instance());
        const QByteArray baReceipt = "{\"data\":\"<p>小票</p><img  src=\\\"http://127.0.0.1:9/logo.png\\\">\","
                                     "\"Name\":\"NoSuchPrinter\"}";
        QElapsedTimer timer;
        timer.start();
        int nSent = 0;
        while (timer.elapsed() < 3000) {
            QCOMPARE(dispatchAndWait(baReceipt), QStringLiteral("{\"code\":1}"));
            ++nSent;
            QCoreApplication::processEvents();
        }
        qInfo("%d receipts dispatched in 3 s while the print thread printed", nSent);
        // The print thread is still alive and working through the queue.
        const int nWaiting = pApp->printerQueue()->jobCount();
        QVERIFY(nWaiting < nSent);
        QTRY_VERIFY_WITH_TIMEOUT(pApp->printerQueue()->jobCount() < nWaiting, 5000);
    }
};

VEXA_TEST_MAIN_WITH_APP(TestPrintRace)
#include "stress_printrace.moc"
