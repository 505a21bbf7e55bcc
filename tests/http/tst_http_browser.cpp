// A real browser calls the service the way the cashier page does: a cross-origin fetch() POST
// (the page comes from file://, so its origin is not the service's).
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "common/ServiceInstance.h"

class TestHttpBrowser : public QObject
{
    Q_OBJECT
private slots:
    void fetchFromAnotherOrigin()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/chromium")))
            QSKIP("chromium is not installed");
        ServiceInstance service;
        QVERIFY(service.start());
        QTemporaryDir dir;
        QFile page(dir.filePath(QStringLiteral("page.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write(R"(<!DOCTYPE html><meta charset="utf-8"><pre id="out">pending</pre><script>
const post = (obj) => fetch('http://127.0.0.1:12380/', {method: 'POST', headers: {'Content-Type': 'text/plain'},
                                                       body: JSON.stringify(obj)}).then(r => r.text());
post({Msg: 'SetRoomArea', hall: '大厅', rooms: [1, 2]})
  .then(first => post({Msg: 'GetRoomArea'}).then(second => first + '|' + second))
  .then(text => { out.textContent = 'OK:' + text; }, err => { out.textContent = 'ERR:' + err; });
</script>)");
        page.close();
        QProcess browser;
        browser.start(QStringLiteral("/usr/bin/chromium"),
                      {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                       "--disable-component-update", "--disable-sync", "--user-data-dir=" + dir.filePath("profile"),
                       "--virtual-time-budget=5000", "--dump-dom", "file://" + page.fileName()});
        QVERIFY(browser.waitForFinished(60000));
        const QString strDom = QString::fromUtf8(browser.readAllStandardOutput());
        const QString strDocument =
            QStringLiteral("{\n    \"Msg\": \"SetRoomArea\",\n    \"hall\": \"大厅\",\n    \"rooms\": [\n        1,\n        2\n    ]\n}\n");
        QVERIFY2(strDom.contains(QStringLiteral("OK:{\"code\":200}|") + strDocument), qPrintable(strDom.right(600)));
    }
};

QTEST_GUILESS_MAIN(TestHttpBrowser)
#include "tst_http_browser.moc"
