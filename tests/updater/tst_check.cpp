// The update check against a real HTTP server on 127.0.0.1: version list
// reading and comparison, redirects, errors and the boxes the user sees.
#include "Appcast.h"
#include "Downloader.h"
#include "QSimpleUpdater.h"
#include "UpdateDialog.h"
#include "UpdateUrls.h"
#include "Updater.h"
#include "UpdaterTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

using namespace UpdaterTest;

namespace
{
QByteArray appcast(const QByteArray& version, const QByteArray& extra = QByteArray())
{
    return "{\"updates\":{\"osx\":{\"latest-version\":\"" + version
        + "\",\"changelog\":\"<b>New</b> things\",\"download-url\":\"http://127.0.0.1:1/x/pkg.dmg\""
        + extra + "}}}";
}

Reply json(const QByteArray& body)
{
    Reply r;
    r.body = body;
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return r;
}
}

class TestCheck : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir mHome{QDir::tempPath() + QStringLiteral("/arbor updater XXXXXX")};
    HttpServer mServer;

    Updater* makeUpdater(const QByteArray& path, const QString& running)
    {
        auto* updater = new Updater(this);
        QObject::disconnect(updater, &Updater::quitRequested, qApp, nullptr);
        updater->setUrl(mServer.url(path));
        updater->setModuleVersion(running);
        updater->setNotifyOnFinish(true);
        updater->downloader()->setDownloadDir(mHome.filePath(QStringLiteral("Downloads")));
        return updater;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        qputenv("HOME", QFile::encodeName(mHome.path()));
        QCoreApplication::setApplicationName(QStringLiteral("Elmsby Vudiru Arbor"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
    }
    void cleanup()
    {
        closeAllBoxes();
        mServer.releaseHeld();
    }

    void compare_data()
    {
        QTest::addColumn<QString>("x");
        QTest::addColumn<QString>("y");
        QTest::addColumn<bool>("newer");
        QTest::newRow("patch") << "1.2.4" << "1.2.3" << true;
        QTest::newRow("equal") << "1.2.3" << "1.2.3" << false;
        QTest::newRow("older") << "1.2.2" << "1.2.3" << false;
        QTest::newRow("numeric not text") << "1.10" << "1.9" << true;
        QTest::newRow("more parts") << "1.2.1" << "1.2" << true;
        QTest::newRow("trailing zero") << "1.2" << "1.2.0" << false;
        QTest::newRow("empty never newer") << "" << "1.5.0" << false;
        QTest::newRow("junk part is 0") << "1.x" << "1.0" << false;
        QTest::newRow("huge part") << "1.99999999999999999999999" << "1.1" << false;
        QTest::newRow("negative is junk") << "-2" << "1" << false;
    }
    void compare()
    {
        QFETCH(QString, x);
        QFETCH(QString, y);
        QFETCH(bool, newer);
        QCOMPARE(Updater::compare(x, y), newer);
    }

    void readList_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("hasMandatory");
        QTest::newRow("full") << appcast("2.0", ",\"mandatory-update\":true") << true << "2.0" << true;
        QTest::newRow("no platform") << QByteArray("{\"updates\":{\"win\":{}}}") << true << "" << false;
        QTest::newRow("number version") << QByteArray("{\"updates\":{\"osx\":{\"latest-version\":2}}}") << true << "" << false;
        QTest::newRow("mandatory as text") << appcast("2.0", ",\"mandatory-update\":\"yes\"") << true << "2.0" << false;
        QTest::newRow("html page") << QByteArray("<html>login</html>") << false << "" << false;
        QTest::newRow("array") << QByteArray("[1,2]") << false << "" << false;
        QTest::newRow("empty") << QByteArray() << false << "" << false;
    }
    void readList()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, ok);
        QFETCH(QString, version);
        QFETCH(bool, hasMandatory);
        Appcast a;
        QString error;
        QCOMPARE(Appcast::read(data, QStringLiteral("osx"), &a, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        QCOMPARE(a.latestVersion, version);
        QCOMPARE(a.hasMandatoryUpdate, hasMandatory);
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("downloadUrl");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("web");
        QTest::newRow("plain") << "https://h/d/Arbor-1.6.dmg" << "Arbor-1.6.dmg" << true;
        QTest::newRow("query ignored") << "https://h/d/a.zip?x=1/2" << "a.zip" << true;
        QTest::newRow("trailing slash") << "https://h/d/" << "QSU_Update.bin" << true;
        QTest::newRow("dot dot") << "https://h/d/.." << "QSU_Update.bin" << true;
        QTest::newRow("backslash") << "https://h/d/..%5C..%5Cx" << "QSU_Update.bin" << true;
        QTest::newRow("file scheme") << "file:///etc/passwd" << "passwd" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << "alert(1)" << false;
        QTest::newRow("empty") << "" << "QSU_Update.bin" << false;
    }
    void addresses()
    {
        QFETCH(QString, downloadUrl);
        QFETCH(QString, fileName);
        QFETCH(bool, web);
        QCOMPARE(UpdateUrls::downloadFileName(downloadUrl), fileName);
        QCOMPARE(UpdateUrls::isWebUrl(QUrl(downloadUrl)), web);
    }

    // Every outcome of a manual check: which box, with which text.
    void check_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<int>("stallMs"); // transfer timeout, 0 for the default
        mServer.route("/new.json", json(appcast("1.2.4")));
        mServer.route("/same.json", json(appcast("1.2.3")));
        mServer.route("/old.json", json(appcast("1.2.2")));
        mServer.route("/teen.json", json(appcast("1.10")));
        mServer.route("/chunked.json", [] { Reply r = json(appcast("1.3")); r.mode = Reply::Chunked; return r; }());
        mServer.route("/html.json", json("<html>portal</html>"));
        mServer.route("/r1", Reply::redirect(302, "/new.json"));
        mServer.route("/abs", Reply::redirect(301, mServer.url("/r1").toLatin1()));
        mServer.route("/rel", Reply::redirect(307, "sub/../new.json"));
        mServer.route("/loop", Reply::redirect(302, "/loop"));
        mServer.route("/ftp", Reply::redirect(302, "ftp://127.0.0.1/x.json"));
        mServer.route("/nowhere", [] { Reply r; r.status = 302; return r; }());
        mServer.route("/stall.json", [] { Reply r = json(appcast("9.9")); r.mode = Reply::Hold; return r; }());
        mServer.route("/huge.json", json(appcast("9.9", ",\"changelog\":\"" + QByteArray(2 << 20, 'x') + "\"")));
        mServer.route("/empty.json", json(""));
        const QString released = QStringLiteral("<h3>Version 1.2.4 of Elmsby Vudiru Arbor has been released!</h3>");
        const QString latest = QStringLiteral("<h3>You are running the latest version of Elmsby Vudiru Arbor</h3>");
        const QString failed = QStringLiteral("<h3>A network error occurred</h3>");
        QTest::newRow("newer") << QByteArray("/new.json") << "1.2.3" << true << false << released << 0;
        QTest::newRow("equal") << QByteArray("/same.json") << "1.2.3" << false << false << latest << 0;
        QTest::newRow("older") << QByteArray("/old.json") << "1.2.3" << false << false << latest << 0;
        QTest::newRow("1.10 after 1.9") << QByteArray("/teen.json") << "1.9" << true << false
                                        << "<h3>Version 1.10 of Elmsby Vudiru Arbor has been released!</h3>" << 0;
        QTest::newRow("chunked list") << QByteArray("/chunked.json") << "1.2" << true << false
                                      << "<h3>Version 1.3 of Elmsby Vudiru Arbor has been released!</h3>" << 0;
        QTest::newRow("not JSON") << QByteArray("/html.json") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("404") << QByteArray("/missing.json") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("redirect") << QByteArray("/r1") << "1.2.3" << true << false << released << 0;
        QTest::newRow("two redirects") << QByteArray("/abs") << "1.2.3" << true << false << released << 0;
        QTest::newRow("relative redirect") << QByteArray("/rel") << "1.2.3" << true << false << released << 0;
        QTest::newRow("redirect loop") << QByteArray("/loop") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("redirect to ftp") << QByteArray("/ftp") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("redirect without target") << QByteArray("/nowhere") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("server stalls") << QByteArray("/stall.json") << "1.2.3" << false << true << failed << 1000;
        QTest::newRow("too large") << QByteArray("/huge.json") << "1.2.3" << false << true << failed << 0;
        QTest::newRow("empty body") << QByteArray("/empty.json") << "1.2.3" << false << true << failed << 0;
    }
    void check()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, running);
        QFETCH(bool, available);
        QFETCH(bool, error);
        QFETCH(QString, boxText);
        QFETCH(int, stallMs);
        Updater* updater = makeUpdater(path, running);
        if (stallMs > 0)
            updater->setTransferTimeout(stallMs);
        QSignalSpy finished(updater, &Updater::checkingFinished);
        QSignalSpy errors(updater, &Updater::networkError);
        const int before = mServer.requests().size();
        updater->checkForUpdates();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toString(), mServer.url(path));
        QCOMPARE(updater->updateAvailable(), available);
        QCOMPARE(updater->hasNetworkError(), error);
        QCOMPARE(errors.size(), error ? 1 : 0);
        if (path == "/loop")
            QCOMPARE(mServer.requests().size() - before, 1 + UpdateUrls::MAX_REDIRECTS);
        else
            QVERIFY(mServer.requests().size() - before <= 1 + UpdateUrls::MAX_REDIRECTS);
        QCOMPARE(mServer.lastHeader("user-agent"), QByteArray("Elmsby Vudiru Arbor/1.5.0 (Qt; QSimpleUpdater)"));
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->text(), boxText);
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(box->windowModality(), Qt::NonModal);
        delete updater;
    }

    void closedPortOffersRetry()
    {
        auto* updater = makeUpdater("/", "1.0");
        updater->setUrl(QStringLiteral("http://127.0.0.1:%1/downloads/updates.json").arg(closedPort()));
        updater->setNotifyOnFinish(false); // the automatic check still reports errors
        QSignalSpy finished(updater, &Updater::checkingFinished);
        updater->checkForUpdates();
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->informativeText(),
                 QStringLiteral("Cannot check for updates. Please check your internet connection and retry."));
        QVERIFY(updater->notifyOnFinish());
        answer(box, QMessageBox::Retry);
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 2; }, 10000));
        QSignalSpy removed(updater, &Updater::removeUpdateDialog);
        answer(waitForBox(), QMessageBox::Close);
        QCOMPARE(removed.size(), 1);
        delete updater;
    }

    void automaticCheckWithoutUpdateStaysSilent()
    {
        Updater* updater = makeUpdater("/same.json", "1.2.3");
        updater->setNotifyOnFinish(false);
        QSignalSpy finished(updater, &Updater::checkingFinished);
        updater->checkForUpdates();
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QVERIFY(visibleBoxes().isEmpty());
        delete updater;
    }

    // What Yes and No do on the release box.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<bool>("downloads");
        QTest::addColumn<int>("quits");
        QTest::newRow("open-url opens the page") << QByteArray(",\"open-url\":\"https://example.org/new\"")
                                                 << int(QMessageBox::Yes) << "https://example.org/new" << false << 0;
        QTest::newRow("file open-url is ignored") << QByteArray(",\"open-url\":\"file:///etc/passwd\"")
                                                  << int(QMessageBox::Yes) << "" << true << 0;
        QTest::newRow("yes downloads") << QByteArray() << int(QMessageBox::Yes) << "" << true << 0;
        QTest::newRow("no") << QByteArray() << int(QMessageBox::No) << "" << false << 0;
        QTest::newRow("no to mandatory quits") << QByteArray(",\"mandatory-update\":true")
                                               << int(QMessageBox::No) << "" << false << 1;
    }
    void answers()
    {
        QFETCH(QByteArray, extra);
        QFETCH(int, button);
        QFETCH(QString, opened);
        QFETCH(bool, downloads);
        QFETCH(int, quits);
        mServer.route("/answer.json", json(appcast("9.0", extra)));
        Updater* updater = makeUpdater("/answer.json", "1.0");
        OpenedUrls urls;
        QSignalSpy quit(updater, &Updater::quitRequested);
        QSignalSpy removed(updater, &Updater::removeUpdateDialog);
        updater->checkForUpdates();
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->informativeText().contains(QStringLiteral("mandatory update")), quits == 1);
        answer(box, QMessageBox::StandardButton(button));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(quit.size(), quits);
        QCOMPARE(urls.urls.isEmpty() ? QString() : urls.urls.first().toString(), opened);
        QCOMPARE(updater->downloader()->isVisible(), downloads);
        QCOMPARE(updater->downloader()->fileName(), downloads ? QStringLiteral("pkg.dmg") : QString());
        delete updater;
    }

    void suppressedBoxesAreLogged()
    {
        qputenv("ARBOR_NO_MODAL_BOXES", "1");
        Updater* updater = makeUpdater("/new.json", "1.0");
        QSignalSpy removed(updater, &Updater::removeUpdateDialog);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Message box not shown.*released"));
        updater->checkForUpdates();
        QVERIFY(removed.wait(10000));
        QVERIFY(visibleBoxes().isEmpty());
        QVERIFY(!updater->downloader()->isVisible());
        qunsetenv("ARBOR_NO_MODAL_BOXES");
        delete updater;
    }

    // The window the application creates: hidden until an update shows up,
    // then with the changelog; any answer closes it.
    void dialogShowsChangelog_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("shown");
        QTest::newRow("update") << QByteArray("/r1") << true;
        QTest::newRow("no update") << QByteArray("/old.json") << false;
    }
    void dialogShowsChangelog()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, shown);
        qputenv("ARBOR_UPDATE_URL", mServer.url(path).toUtf8());
        QCOMPARE(UpdateDialog::appcastUrl(), mServer.url(path));
        QPointer<UpdateDialog> dialog = new UpdateDialog(nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("installedVersion"))->setText(QStringLiteral("1.2.3"));
        dialog->setNotifyOnFinish(false);
        dialog->setNotifyOnUpdate(true);
        Updater* updater = QSimpleUpdater::getInstance()->getUpdater(mServer.url(path));
        QSignalSpy finished(updater, &Updater::checkingFinished);
        dialog->checkForUpdates();
        QVERIFY(finished.wait(10000));
        QCOMPARE(dialog->isVisible(), shown);
        QCOMPARE(dialog->updateAvailable(), shown);
        QVERIFY(dialog->findChild<QTextEdit*>(QStringLiteral("changelogText"))->toPlainText() == QStringLiteral("New things"));
        if (shown) {
            answer(waitForBox(), QMessageBox::No);
            QTRY_VERIFY(dialog.isNull());
        } else {
            delete dialog;
        }
        qunsetenv("ARBOR_UPDATE_URL");
    }
};

QTEST_MAIN(TestCheck)
#include "tst_check.moc"
