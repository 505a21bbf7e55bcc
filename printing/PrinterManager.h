#pragma once

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include "platform/Printers.h"
#include "printing/PrintJob.h"

class QPrinter;

// Puts one receipt on paper: picks the named or the default printer, applies the geometry the
// cashier page configured for it and prints the HTML as a rich-text document.
class CPrinterManager : public QObject
{
    Q_OBJECT
public:
    explicit CPrinterManager(QObject *pParent = nullptr);
    ~CPrinterManager() override;

    // Stores the record under its printer name, replacing an earlier one in full.
    void setPrinterConfig(PrintJob &record);
    // Prints one job synchronously on the calling (print queue) thread.
    void printReceipt(PrintJob &job);
    void printDocument(QPrinter *pPrinter);
    void clearHtml();

    // The stored record of a printer; false when it has none.
    bool printerConfig(const QString &strName, PrintJob &record);
    // Left margin and paper size of the printer's record, if it has one.
    void applyGeometry(QPrinter &printer);
    struct ChosenPrinter
    {
        QString strName;              // empty: no printer at all
        bool bSystemDefault = false;  // the system's default printer, printed at 96 dpi
    };
    // The job's printer if it is installed, else the system's default one (with a log line for a
    // checked name). Asks the printing system directly: Qt's own printer list would browse the
    // network first on CUPS.
    ChosenPrinter choosePrinter(const PrintJob &job);
    QString html() const { return strHtml; }

public slots:
    void getPreviewData(QPrinter *pPrinter);

private:
    QString strHtml;
    QMap<QString, PrintJob> mapPrinterConfig;
    // The page sends "Settings" on the main thread while the worker looks records up.
    QMutex mutexConfig;
};
