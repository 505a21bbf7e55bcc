// The window as the cashier staff see it, on a real X server (tests/package/xsession.sh: Xvfb, no
// window manager), compared with reference pictures: at start and with three receipts waiting.
// A broken layout, a missing picture or Chinese text drawn as empty boxes changes many pixels.
// References are only rewritten on request: VEXA_UPDATE_REFERENCES=1 (see packaging/README.md).
#include <QDir>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScreen>
#include <QStandardPaths>

#include "common/AppTestMain.h"
#include "printing/PrintJob.h"
#include "printing/PrinterQueue.h"

namespace {
// ImageMagick's "compare -metric AE -fuzz 5%": pixels that differ by more than the fuzz. The digit
// of the waiting count going from 0 to 3 alone changes about 125; Chinese drawn as boxes, thousands.
const int kMaxDifferentPixels = 40;

CMainApp *mainApp()
{
    return static_cast<CMainApp *>(QCoreApplication::instance());
}

QString envDir(const char *pszName, const QString &strFallback)
{
    const QString strDir = qEnvironmentVariable(pszName);
    return strDir.isEmpty() ? strFallback : strDir;
}

// A receipt that stays in the queue: its logo never arrives and its wait for the logo only ends
// an hour from now, so the worker keeps it waiting like one stuck behind a slow printer.
PrintJob waitingReceipt(int nNumber)
{
    PrintJob job;
    job.strContent = QStringLiteral("<p>小票 %1</p>").arg(nNumber);
    job.strLogo = QDir::tempPath() + QStringLiteral("/never-downloaded-logo.png");
    job.llQueuedMs = QDateTime::currentMSecsSinceEpoch() + 3600 * 1000;
    return job;
}
}

class TestPackageWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowPicture_data();
    void windowPicture();

private:
    QImage grabSettledWindow();
    int differentPixels(const QString &strReference, const QString &strShot, const QString &strDiff);

    QQmlApplicationEngine *pEngine = nullptr;
    QQuickWindow *pWindow = nullptr;
    QString strReferenceDir;
    QString strArtifactDir;
};

void TestPackageWindow::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display (run under tests/package/xsession.sh)");
    if (QStandardPaths::findExecutable(QStringLiteral("compare")).isEmpty())
        QSKIP("ImageMagick's compare is not installed");
    strReferenceDir = envDir("VEXA_REFERENCE_DIR", QStringLiteral(SOURCE_DIR "/reference"));
    strArtifactDir = envDir("VEXA_ARTIFACTS", QDir::tempPath());
    QVERIFY(QDir().mkpath(strArtifactDir));

    // Loaded exactly as the main routine loads it.
    pEngine = new QQmlApplicationEngine;
    pEngine->rootContext()->setContextProperty(QStringLiteral("mainwindow"), mainApp());
    pEngine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    QCOMPARE(pEngine->rootObjects().size(), 1);
    pWindow = qobject_cast<QQuickWindow *>(pEngine->rootObjects().first());
    QVERIFY(pWindow);
    QVERIFY(QTest::qWaitForWindowExposed(pWindow, 10000));
    QCOMPARE(pWindow->size(), QSize(500, 300));
}

void TestPackageWindow::cleanupTestCase()
{
    delete pEngine;  // before the application object it refers to
    pEngine = nullptr;
}

void TestPackageWindow::windowPicture_data()
{
    QTest::addColumn<int>("nWaiting");
    QTest::newRow("start") << 0;
    QTest::newRow("three_waiting") << 3;
}

void TestPackageWindow::windowPicture()
{
    QFETCH(int, nWaiting);
    CPrinterQueue *pQueue = mainApp()->printerQueue();
    for (int i = pQueue->jobCount(); i < nWaiting; ++i) {
        PrintJob job = waitingReceipt(i + 1);
        pQueue->addPrintJob(job);
    }
    QCOMPARE(pQueue->jobCount(), nWaiting);
    QObject *pText = pWindow->findChild<QObject *>(QStringLiteral("waitingText"));
    QVERIFY(pText);
    QTRY_VERIFY_WITH_TIMEOUT(pText->property("text").toString().endsWith(QStringLiteral("\">%1").arg(nWaiting)), 5000);

    const QString strName = QStringLiteral("window-%1.png").arg(QTest::currentDataTag());
    const QString strShot = strArtifactDir + QLatin1Char('/') + strName;
    const QString strReference = strReferenceDir + QLatin1Char('/') + strName;
    const QImage image = grabSettledWindow();
    QCOMPARE(image.size(), QSize(500, 300));
    QVERIFY(image.save(strShot));

    if (qEnvironmentVariableIntValue("VEXA_UPDATE_REFERENCES") == 1) {
        QFile::remove(strReference);
        QVERIFY(QFile::copy(strShot, strReference));
        qInfo("reference rewritten: %s", qPrintable(strReference));
        return;
    }
    QVERIFY2(QFile::exists(strReference),
             qPrintable(QStringLiteral("no reference %1; look at %2 and, if it is right, regenerate the "
                                       "references with VEXA_UPDATE_REFERENCES=1").arg(strReference, strShot)));
    const QString strDiff = strArtifactDir + QStringLiteral("/diff-") + strName;
    const int nDifferent = differentPixels(strReference, strShot, strDiff);
    QVERIFY2(nDifferent >= 0 && nDifferent <= kMaxDifferentPixels,
             qPrintable(QStringLiteral("%1 pixels differ from %2 (limit %3); see %4 and %5")
                            .arg(nDifferent).arg(strReference).arg(kMaxDifferentPixels).arg(strShot, strDiff)));
}

// The picture the X server holds once the last change has been drawn and flushed to it.
QImage TestPackageWindow::grabSettledWindow()
{
    QSignalSpy frames(pWindow, &QQuickWindow::frameSwapped);
    pWindow->update();
    if (!frames.wait(5000))
        return QImage();
    return pWindow->screen()->grabWindow(pWindow->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Number of pixels that differ by more than 5 %, or -1 when compare fails (e.g. different sizes).
int TestPackageWindow::differentPixels(const QString &strReference, const QString &strShot, const QString &strDiff)
{
    QProcess compare;
    compare.start(QStringLiteral("compare"), {QStringLiteral("-metric"), QStringLiteral("AE"), QStringLiteral("-fuzz"),
                                              QStringLiteral("5%"), strReference, strShot, strDiff});
    if (!compare.waitForFinished(30000) || compare.exitCode() > 1)
        return -1;
    bool bOk = false;  // large counts may come in exponent form
    const double dPixels = QString::fromLatin1(compare.readAllStandardError()).trimmed().toDouble(&bOk);
    return bOk ? qRound(dPixels) : -1;
}

VEXA_TEST_MAIN_WITH_APP(TestPackageWindow)
#include "tst_package_window.moc"
