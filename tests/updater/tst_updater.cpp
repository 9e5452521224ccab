// The update check and download against a real web server on 127.0.0.1: the
// version list and its rules, redirects, errors, the boxes the user sees and
// answers, and downloads that land byte for byte or leave the old file alone.
#include "Appcast.h"
#include "Downloader.h"
#include "HttpServer.h"
#include "QSimpleUpdater.h"
#include "UpdateDialog.h"
#include "Updater.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

// One update check: the server's reply to the version list request (status
// 0: nothing listens), the running version, whether the user asked (so "no
// update" is told too), the text of the box that must appear (empty: none),
// the answer given and what it did: "open <address>", "download <file>",
// "quit" or nothing.
struct Check {
    Reply reply;
    QString running;
    bool manual;
    QString box;
    QMessageBox::StandardButton answer = QMessageBox::Close;
    QString outcome = {};
};

// One download: the server's reply, the file name given, the name it is saved
// as (empty: it must fail; with " (1)": a file of the user's has the name
// without), the file size limit, whether it is mandatory and whether the user
// stops it.
struct Download {
    Reply reply;
    QString fileName;
    QString savedAs;
    rlim_t sizeLimit = RLIM_INFINITY;
    bool mandatory = false;
    bool stopped = false;
};
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(Download)

namespace {
const QByteArray OLD = "the previous download, still good";

QByteArray appcast(const QByteArray& version, const QByteArray& extra = QByteArray()) {
    return "{\"updates\":{\"osx\":{\"latest-version\":\"" + version
        + "\",\"changelog\":\"<b>New</b> things\",\"download-url\":\"http://127.0.0.1:1/x/pkg.dmg\"" + extra + "}}}";
}

const QByteArray PACKAGE = [] {
    QByteArray data(300000, '\0');
    quint32 x = 12345;
    for (char& c : data)
        c = char((x = x * 1103515245u + 12345u) >> 24);
    return data;
}();

// 200 MB of zeros, gzip-compressed (to about 200 KB) a megabyte at a time.
const QByteArray BOMB = [] {
    QTemporaryFile file;
    gzFile gz = file.open() ? gzdopen(dup(file.handle()), "wb9") : nullptr;
    for (const QByteArray zeros(1 << 20, '\0'); gz && zeros.size() * 200LL > gztell(gz);)
        gzwrite(gz, zeros.constData(), unsigned(zeros.size()));
    return gz && gzclose(gz) == Z_OK && file.seek(0) ? file.readAll() : QByteArray();
}();

// The most memory this process has held so far, in MB.
long peakMegabytes() {
    rusage usage {};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss / 1024 : 0;
}

QList<QMessageBox*> visibleBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QMessageBox*>(w))
            boxes.append(static_cast<QMessageBox*>(w));
    return boxes;
}

// The one box that appears within a few seconds, or null.
QMessageBox* waitForBox() {
    (void)QTest::qWaitFor([] { return !visibleBoxes().isEmpty(); }, 5000);
    return visibleBoxes().size() == 1 ? visibleBoxes().first() : nullptr;
}

void answer(QMessageBox* box, QMessageBox::StandardButton button) {
    QVERIFY(box && box->button(button));
    box->button(button)->click();
    QTRY_VERIFY(!box->isVisible());
}

// Whether closing a main window now ends the program's event loop, whatever
// update windows are open.
bool closingMainWindowQuits() {
    QWidget main;
    main.show();
    QTimer::singleShot(0, &main, &QWidget::close);
    QTimer::singleShot(3000, &main, [] { QApplication::exit(1); }); // dropped with main
    return QApplication::exec() == 0;
}

QString label(QWidget& window, const char* name) {
    return window.findChild<QLabel*>(QLatin1String(name))->text();
}
} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    QTemporaryDir mHome {QDir::tempPath() + QStringLiteral("/arbor updater XXXXXX")};
    QString mDir; // the downloads folder, with a space in its path
    HttpServer mServer;
    QStringList mOpened; // addresses handed to the desktop for opening

    QByteArray file(const QString& name, const QByteArray& replaceWith = QByteArray()) {
        QFile f(QDir(mDir).filePath(name));
        if (!replaceWith.isNull() && (!QDir().mkpath(mDir) || !f.open(QIODevice::WriteOnly) || f.write(replaceWith) < 0))
            return "cannot write";
        f.close();
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

public slots:
    void open(const QUrl& url) { mOpened.append(url.toString()); }

private slots:
    void initTestCase() {
        QVERIFY(mHome.isValid());
        mDir = mHome.filePath(QStringLiteral("My Downloads"));
        QCoreApplication::setApplicationName(QStringLiteral("Elmsby Vudiru Arbor"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
        mServer.routes = {{"/new.json", {200, appcast("1.2.4")}}, {"/same.json", {200, appcast("1.2.3")}},
                          {"/r1", {302, {}, Reply::Whole, "/new.json"}}, {"/d/pkg", {200, PACKAGE}}};
        // A writer that outgrows the file size limit gets an error from write().
        std::signal(SIGXFSZ, SIG_IGN);
    }

    void cleanup() {
        qunsetenv("ARBOR_NO_MODAL_BOXES");
        for (QMessageBox* box : visibleBoxes())
            box->close();
        QDir(mDir).removeRecursively();
        mOpened.clear();
    }

    // The rules that need no server, for the inputs that the checks and
    // downloads below do not meet: what each call gives.
    void rules_data() {
        QTest::addColumn<QString>("got");
        QTest::addColumn<QString>("expected");
        auto newer = [](const char* x, const char* y) { return QString(Updater::compare(x, y) ? "+" : "="); };
        auto list = [](const QByteArray& data) {
            Appcast a;
            QString error;
            const bool ok = Appcast::read(data, QStringLiteral("osx"), &a, &error);
            return QString(ok == error.isEmpty() ? (ok ? "read " : "refused ") : "inconsistent ") + a.latestVersion
                + (a.hasMandatoryUpdate ? " mandatory" : "");
        };
        auto name = [](const char* url) { return UpdateUrls::downloadFileName(url) + (UpdateUrls::isWebUrl(QUrl(url)) ? " web" : ""); };
        QTest::newRow("more parts, trailing zero, empty") << newer("1.2.1", "1.2") + newer("1.2", "1.2.0") + newer("", "1.5.0") << "+==";
        QTest::newRow("junk, huge or negative part is 0") << newer("1.x", "1.0") + newer("1.99999999999999999999999", "1.1") + newer("-2", "1") << "===";
        QTest::newRow("no platform") << list("{\"updates\":{\"win\":{}}}") << "read ";
        QTest::newRow("number version") << list("{\"updates\":{\"osx\":{\"latest-version\":2}}}") << "read ";
        QTest::newRow("mandatory as text") << list(appcast("2.0", ",\"mandatory-update\":\"yes\"")) << "read 2.0";
        QTest::newRow("array") << list("[1,2]") << "refused ";
        QTest::newRow("query ignored") << name("https://h/d/a.zip?x=1/2") << "a.zip web";
        QTest::newRow("trailing slash") << name("https://h/d/") << "QSU_Update.bin web";
        QTest::newRow("dot dot") << name("https://h/d/..") << "QSU_Update.bin web";
        QTest::newRow("backslash") << name("https://h/d/..%5C..%5Cx") << "QSU_Update.bin web";
        QTest::newRow("file scheme") << name("file:///etc/passwd") << "passwd";
        QTest::newRow("javascript") << name("javascript:alert(1)") << "alert(1)";
        QTest::newRow("empty address") << name("") << "QSU_Update.bin";
        QStringList sizes, times, left;
        for (qint64 bytes : {0, 1023, 1024, 1048575, 1048576, 13526000})
            sizes << Downloader::sizeText(bytes);
        for (qint64 seconds : {0, 60, 61, 90, 7200, 7201, 9000})
            times << Downloader::timeRemainingText(seconds);
        for (auto [received, total, elapsed] : {std::array<qint64, 3> {5000, 10000, 0}, {3, 10000, 4}, {1000, 2000, 10}, {1000, 4000, 3}, {5, 4, 1}})
            left << QString::number(Downloader::remainingSeconds(received, total, elapsed));
        QTest::newRow("sizes") << sizes.join(", ") << "0 bytes, 1023 bytes, 1 KB, 1023 KB, 1 MB, 12 MB";
        QTest::newRow("times") << times.join(", ") << "1 second, 60 seconds, 1 minute, 2 minutes, 120 minutes, about 2 hours, about 3 hours";
        QTest::newRow("seconds left") << left.join(", ") << "-1, -1, 10, 9, -1";
    }

    void rules() {
        QFETCH(QString, got);
        QFETCH(QString, expected);
        QCOMPARE(got, expected);
    }

    void check_data() {
        QTest::addColumn<Check>("c");
        const QString released = QStringLiteral("<h3>Version %1 of Elmsby Vudiru Arbor has been released!</h3>");
        const QString latest = QStringLiteral("<h3>You are running the latest version of Elmsby Vudiru Arbor</h3>");
        const QString failed = QStringLiteral("<h3>A network error occurred</h3>");
        const auto no = QMessageBox::No, yes = QMessageBox::Yes;
        const QByteArray mandatory = appcast("9.0", ",\"mandatory-update\":true");
        const QByteArray openPage = appcast("9.0", ",\"open-url\":\"https://example.org/new\"");
        const QByteArray openFile = appcast("9.0", ",\"open-url\":\"file:///etc/passwd\"");
        QTest::newRow("newer") << Check {{200, appcast("1.2.4")}, "1.2.3", true, released.arg("1.2.4"), no};
        QTest::newRow("equal") << Check {{200, appcast("1.2.3")}, "1.2.3", true, latest};
        QTest::newRow("equal, automatic") << Check {{200, appcast("1.2.3")}, "1.2.3", false, ""};
        QTest::newRow("older") << Check {{200, appcast("1.2.3")}, "1.2.4", true, latest};
        QTest::newRow("1.10 after 1.9") << Check {{200, appcast("1.10")}, "1.9", true, released.arg("1.10"), no};
        QTest::newRow("chunked list") << Check {{200, appcast("1.3"), Reply::Chunked}, "1.2", true, released.arg("1.3"), no};
        QTest::newRow("not JSON") << Check {{200, "<html>portal</html>"}, "1.2.3", true, failed};
        QTest::newRow("empty body") << Check {{200, ""}, "1.2.3", true, failed};
        QTest::newRow("404") << Check {{404, appcast("9.9")}, "1.2.3", true, failed};
        QTest::newRow("gzip answer") << Check {{200, BOMB, Reply::Whole, {}, "gzip"}, "1.2.3", true, failed};
        QTest::newRow("too large") << Check {{200, appcast("9.9", ",\"changelog\":\"" + QByteArray(2 << 20, 'x') + "\"")}, "1.2.3", true, failed};
        QTest::newRow("server stalls") << Check {{200, appcast("9.9"), Reply::Stall}, "1.2.3", true, failed};
        QTest::newRow("nothing listens") << Check {{0}, "1.0", false, failed, QMessageBox::Retry};
        QTest::newRow("two redirects, absolute") << Check {{301, {}, Reply::Whole, mServer.url("/r1").toLatin1()}, "1.2.3", true, released.arg("1.2.4"), no};
        QTest::newRow("relative redirect") << Check {{307, {}, Reply::Whole, "sub/../new.json"}, "1.2.3", true, released.arg("1.2.4"), no};
        QTest::newRow("redirect loop") << Check {{302, {}, Reply::Whole, "/list"}, "1.2.3", true, failed};
        QTest::newRow("redirect to ftp") << Check {{302, {}, Reply::Whole, "ftp://127.0.0.1/x.json"}, "1.2.3", true, failed};
        QTest::newRow("redirect without target") << Check {{302}, "1.2.3", true, failed};
        QTest::newRow("open-url opens the page") << Check {{200, openPage}, "1.0", true, released.arg("9.0"), yes, "open https://example.org/new"};
        QTest::newRow("file open-url ignored") << Check {{200, openFile}, "1.0", true, released.arg("9.0"), yes, "download pkg.dmg"};
        QTest::newRow("yes downloads") << Check {{200, appcast("1.2.4")}, "1.0", true, released.arg("1.2.4"), yes, "download pkg.dmg"};
        QTest::newRow("no to mandatory quits") << Check {{200, mandatory}, "1.0", true, released.arg("9.0"), no, "quit"};
        QTest::newRow("boxes suppressed: logged") << Check {{200, appcast("1.2.4")}, "1.0", true, released.arg("1.2.4"), QMessageBox::NoButton};
    }

    void check() {
        QFETCH(Check, c);
        mServer.routes.insert("/list", c.reply);
        Updater updater;
        QObject::disconnect(&updater, &Updater::quitRequested, qApp, nullptr);
        updater.setUrl(c.reply.status ? mServer.url("/list") : QStringLiteral("http://127.0.0.1:1/list"));
        updater.setModuleVersion(c.running);
        updater.setNotifyOnFinish(c.manual);
        updater.setTransferTimeout(1000);
        updater.downloader()->setDownloadDir(mDir);
        QSignalSpy finished(&updater, &Updater::checkingFinished);
        QSignalSpy errors(&updater, &Updater::networkError);
        QSignalSpy quit(&updater, &Updater::quitRequested);
        QSignalSpy removed(&updater, &Updater::removeUpdateDialog);
        const int before = mServer.userAgents.size();
        const bool logged = c.answer == QMessageBox::NoButton; // with boxes suppressed, their text is logged
        if (logged && qputenv("ARBOR_NO_MODAL_BOXES", "1"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Message box not shown.*" + QRegularExpression::escape(c.box)));
        const long peak = peakMegabytes();
        updater.checkForUpdates();
        QVERIFY(finished.wait(10000) && finished.first().first().toString() == updater.url());
        QVERIFY(peakMegabytes() - peak < 50); // what is held of an answer is bounded
        QCOMPARE(updater.updateAvailable(), c.box.contains(QLatin1String("released")));
        QCOMPARE(updater.hasNetworkError(), c.box.contains(QLatin1String("error")));
        QCOMPARE(errors.size(), int(updater.hasNetworkError()));
        QCOMPARE(updater.notifyOnFinish(), c.manual || updater.hasNetworkError()); // errors are always told
        const int requests = mServer.userAgents.size() - before;
        QVERIFY(c.reply.location == "/list" ? requests == 1 + UpdateUrls::MAX_REDIRECTS : requests <= 1 + UpdateUrls::MAX_REDIRECTS);
        QVERIFY(requests == 0 || mServer.userAgents.last() == "Elmsby Vudiru Arbor/1.5.0 (Qt; QSimpleUpdater)");
        QMessageBox* box = c.box.isEmpty() || logged ? nullptr : waitForBox();
        QCOMPARE(box ? box->text() : QString(), logged ? QString() : c.box);
        QCOMPARE(visibleBoxes().size(), box ? 1 : 0);
        QVERIFY(!logged || (removed.wait(5000) && !updater.downloader()->isVisible()));
        if (!box)
            return;
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint && box->windowModality() == Qt::NonModal);
        QCOMPARE(box->informativeText().contains(QStringLiteral("mandatory update")), c.outcome == "quit");
        answer(box, c.answer);
        if (c.answer == QMessageBox::Retry) { // checks again, and reports again
            QTRY_COMPARE(finished.size(), 2);
            answer(waitForBox(), QMessageBox::Close);
        }
        QCOMPARE(removed.size(), 1);
        QString outcome = mOpened.isEmpty() ? QString() : QStringLiteral("open ") + mOpened.join(' ');
        if (updater.downloader()->isVisible())
            outcome += QStringLiteral("download ") + updater.downloader()->fileName();
        QCOMPARE(outcome + (quit.isEmpty() ? "" : "quit"), c.outcome);
    }

    // The windows the application creates, one per click: one check runs and
    // one window shows, on the screen, with the changelog as text; without an
    // update none stays. Any answer closes it, and it does not keep the
    // program running.
    void updateWindow() {
        for (const QByteArray path : {"/same.json", "/r1"}) {
            qputenv("ARBOR_UPDATE_URL", mServer.url(path).toUtf8());
            const bool shown = path == "/r1";
            const int requests = mServer.userAgents.size();
            QSignalSpy finished(QSimpleUpdater::getInstance()->getUpdater(mServer.url(path)), &Updater::checkingFinished);
            QList<QPointer<UpdateDialog>> windows;
            for (int click = 0; click < 3 + shown; ++click) { // three at once, one more while the first shows
                QVERIFY(click < 3 || finished.wait(10000));
                windows << new UpdateDialog(nullptr);
                windows.last()->findChild<QLineEdit*>(QStringLiteral("installedVersion"))->setText(QStringLiteral("1.2.3"));
                windows.last()->checkForUpdates();
            }
            QVERIFY(!finished.isEmpty() || finished.wait(10000));
            QPointer<UpdateDialog> dialog = windows.takeFirst();
            QTRY_VERIFY(windows.count(nullptr) == windows.size() && dialog.isNull() != shown);
            QVERIFY(mServer.userAgents.size() - requests == 1 + shown && visibleBoxes().size() == shown);
            if (!shown)
                continue;
            QVERIFY(dialog->updateAvailable() && QGuiApplication::primaryScreen()->availableGeometry().contains(dialog->frameGeometry()));
            QCOMPARE(dialog->findChild<QTextEdit*>(QStringLiteral("changelogText"))->toPlainText(), QStringLiteral("New things"));
            QVERIFY(closingMainWindowQuits()); // quitting closes the box, whose answer closes the window
            QTRY_VERIFY(dialog.isNull());
        }
        qunsetenv("ARBOR_UPDATE_URL");
    }

    // Complete downloads land byte for byte and offer to open the file (a
    // refused mandatory install quits, and so does closing the window
    // afterwards); broken or stopped ones leave the old file alone, no
    // partial file behind and no box.
    void download_data() {
        QTest::addColumn<Download>("d");
        const auto all = RLIM_INFINITY;
        QTest::newRow("content length") << Download {{200, PACKAGE}, "Arbor.dmg", "Arbor (1).dmg"};
        QTest::newRow("mandatory") << Download {{200, PACKAGE}, "Arbor.dmg", "Arbor (1).dmg", all, true};
        QTest::newRow("chunked, no file in the way") << Download {{200, PACKAGE, Reply::Chunked}, "Arbor.dmg", "Arbor.dmg"};
        QTest::newRow("relative redirect, two suffixes") << Download {{302, {}, Reply::Whole, "../d/pkg"}, "Arbor.tar.gz", "Arbor (1).tar.gz"};
        QTest::newRow("empty name") << Download {{200, PACKAGE}, "", "QSU_Update (1).bin"};
        QTest::newRow("gzip-encoded, saved as sent") << Download {{200, BOMB, Reply::Whole, {}, "gzip"}, "Arbor.dmg", "Arbor (1).dmg"};
        QTest::newRow("dot dot name") << Download {{200, PACKAGE}, "..", "QSU_Update (1).bin"};
        QTest::newRow("cut connection") << Download {{200, PACKAGE, Reply::Cut}, "Arbor.dmg", ""};
        QTest::newRow("cut chunked") << Download {{200, PACKAGE, Reply::ChunkedCut}, "Arbor.dmg", ""};
        QTest::newRow("server stalls") << Download {{200, PACKAGE, Reply::Stall}, "Arbor.dmg", ""};
        QTest::newRow("disk full") << Download {{200, PACKAGE}, "Arbor.dmg", "", 100000};
        QTest::newRow("404") << Download {{404, "gone"}, "Arbor.dmg", ""};
        QTest::newRow("redirect loop") << Download {{302, {}, Reply::Whole, "/d/file"}, "Arbor.dmg", ""};
        QTest::newRow("redirect to a file") << Download {{302, {}, Reply::Whole, "file:///etc/hostname"}, "Arbor.dmg", ""};
        QTest::newRow("stopped") << Download {{200, PACKAGE, Reply::Stall}, "Arbor.dmg", "", all, false, true};
        QTest::newRow("stopped, mandatory") << Download {{200, PACKAGE, Reply::Stall}, "Arbor.dmg", "", all, true, true};
    }

    void download() {
        QFETCH(Download, d);
        mServer.routes.insert("/d/file", d.reply);
        const QString mine = d.savedAs.isEmpty() ? d.fileName : QString(d.savedAs).remove(QStringLiteral(" (1)"));
        const bool clash = mine != d.savedAs; // the user's file is never replaced, nor opened as the download
        QVERIFY(!clash || file(mine, OLD) == OLD);
        Downloader w;
        w.setDownloadDir(mDir);
        w.setUrlId(QStringLiteral("list"));
        w.setFileName(d.fileName);
        w.setUserAgentString(QStringLiteral("Agent/1"));
        w.setTransferTimeout(1000);
        w.setMandatoryUpdate(d.mandatory);
        w.openDownload(); // nothing there yet
        QMessageBox* box = waitForBox();
        QVERIFY(box && box->text() == QStringLiteral("Cannot find downloaded update!") && box->windowTitle() == QStringLiteral("Error"));
        answer(box, QMessageBox::Close);
        QSignalSpy done(&w, &Downloader::downloadFinished);
        QSignalSpy quit(&w, &Downloader::quitRequested);
        rlimit before {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        rlimit limited {qMin(d.sizeLimit, before.rlim_max), before.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const long peak = peakMegabytes();
        w.startDownload(QUrl(mServer.url("/d/file")));
        QVERIFY(w.isVisible());
        if (d.stopped) { // while the data is still coming: no answer goes on, Yes stops
            QTRY_COMPARE(w.findChild<QProgressBar*>(QStringLiteral("progressBar"))->value(), 50);
            QVERIFY(label(w, "downloadLabel").endsWith(QStringLiteral("(146 KB of 292 KB)")));
            w.findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
            QVERIFY((box = waitForBox()) && box->text().contains(QStringLiteral("mandatory")) == d.mandatory);
            QVERIFY(closingMainWindowQuits() && w.isDownloading() && !w.isVisible()); // quitting closes box and window
            w.cancelDownload();
            answer(waitForBox(), QMessageBox::Yes);
            QVERIFY(!w.isVisible());
        }
        const bool ended = QTest::qWaitFor([&] { return !w.isDownloading(); }, 20000);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
        QVERIFY(ended && peakMegabytes() - peak < 50); // downloads go to the disk as they come
        QCOMPARE(mServer.userAgents.last(), QByteArray("Agent/1"));
        QVERIFY(!QFileInfo::exists(QDir(mDir).filePath(mine + QStringLiteral(".part"))));
        QCOMPARE(done.size(), int(!d.savedAs.isEmpty()));
        QVERIFY(!clash || file(mine) == OLD);
        if (d.savedAs.isEmpty()) {
            QCOMPARE(label(w, "downloadLabel"), QStringLiteral("Download failed"));
            QVERIFY(visibleBoxes().isEmpty());
            QCOMPARE(quit.size(), int(d.stopped && d.mandatory));
            return;
        }
        QCOMPARE(done.first(), QVariantList({"list", QDir(mDir).filePath(d.savedAs)}));
        QVERIFY(file(d.savedAs) == (d.reply.status == 200 ? d.reply.body : PACKAGE) && label(w, "downloadLabel") == QStringLiteral("Download complete!"));
        QVERIFY((box = waitForBox()) && box->informativeText().endsWith(QStringLiteral("Click \"OK\" to open the downloaded file now")));
        QCOMPARE(box->informativeText().contains(QString("saved as \"%1\"").arg(d.savedAs)), clash);
        QCOMPARE(box->text().contains(QStringLiteral("This is a mandatory update")), d.mandatory);
        answer(box, QMessageBox::Cancel);
        QCOMPARE(quit.size(), int(d.mandatory));
        auto* open = w.findChild<QPushButton*>(QStringLiteral("openButton"));
        QVERIFY(open->isEnabled() && !open->isHidden());
        QCOMPARE(label(w, "timeLabel"), QStringLiteral("Click the \"Open\" button to apply the update"));
        open->click();
        answer(waitForBox(), QMessageBox::Ok);
        QCOMPARE(mOpened, QStringList(QUrl::fromLocalFile(QDir(mDir).filePath(d.savedAs)).toString()));
        QVERIFY(!w.isVisible());
        w.cancelDownload();
        QCOMPARE(quit.size(), 2 * int(d.mandatory));
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
