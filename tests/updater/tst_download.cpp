// The progress window against a real HTTP server on 127.0.0.1: complete
// downloads land byte for byte, broken ones leave the old file alone and no
// partial file behind.
#include "Downloader.h"
#include "UpdaterTestSupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace UpdaterTest;

namespace
{
QByteArray package()
{
    QByteArray data;
    data.reserve(300000);
    quint32 x = 12345;
    for (int i = 0; i < 300000; ++i) {
        x = x * 1103515245u + 12345u;
        data.append(char(x >> 24));
    }
    return data;
}

const QByteArray OLD = "the previous download, still good";
}

class TestDownload : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir mHome{QDir::tempPath() + QStringLiteral("/arbor download XXXXXX")};
    HttpServer mServer;
    QString mDir;

    QString label(Downloader& d, const char* name)
    {
        return d.findChild<QLabel*>(QLatin1String(name))->text();
    }
    void writeOld(const QString& name)
    {
        QDir().mkpath(mDir);
        QFile f(QDir(mDir).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(OLD), qint64(OLD.size()));
    }
    QByteArray contents(const QString& name)
    {
        QFile f(QDir(mDir).filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        mDir = mHome.filePath(QStringLiteral("My Downloads"));
        Reply length;
        length.body = package();
        mServer.route("/d/Arbor.dmg", length);
        Reply chunked = length;
        chunked.mode = Reply::Chunked;
        mServer.route("/d/chunked/Arbor.dmg", chunked);
        Reply cut = length;
        cut.mode = Reply::Cut;
        mServer.route("/d/cut/Arbor.dmg", cut);
        Reply chunkedCut = length;
        chunkedCut.mode = Reply::ChunkedCut;
        mServer.route("/d/chunked-cut/Arbor.dmg", chunkedCut);
        Reply hold = length;
        hold.mode = Reply::Hold;
        mServer.route("/d/hold/Arbor.dmg", hold);
        mServer.route("/d/moved", Reply::redirect(302, "../d/Arbor.dmg"));
        mServer.route("/d/loop", Reply::redirect(302, "/d/loop"));
        mServer.route("/d/to-file", Reply::redirect(302, "file:///etc/hostname"));
        // A writer that outgrows the file size limit gets an error from
        // write() instead of the signal.
        std::signal(SIGXFSZ, SIG_IGN);
    }
    void cleanup()
    {
        closeAllBoxes();
        mServer.releaseHeld();
        QDir(mDir).removeRecursively();
    }

    void sizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0 bytes";
        QTest::newRow("1023") << qint64(1023) << "1023 bytes";
        QTest::newRow("1024") << qint64(1024) << "1 KB";
        QTest::newRow("1048575") << qint64(1048575) << "1023 KB";
        QTest::newRow("1048576") << qint64(1048576) << "1 MB";
        QTest::newRow("12.9 MB") << qint64(13526000) << "12 MB";
    }
    void sizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(Downloader::sizeText(bytes), text);
    }

    void timeTexts_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "1 second";
        QTest::newRow("30") << qint64(30) << "30 seconds";
        QTest::newRow("60") << qint64(60) << "60 seconds";
        QTest::newRow("61") << qint64(61) << "1 minute";
        QTest::newRow("90") << qint64(90) << "2 minutes";
        QTest::newRow("5000") << qint64(5000) << "83 minutes";
        QTest::newRow("7200") << qint64(7200) << "120 minutes";
        QTest::newRow("7201") << qint64(7201) << "about 2 hours";
        QTest::newRow("5399 s is 1.5 h") << qint64(9000) << "about 3 hours";
    }
    void timeTexts()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(Downloader::timeRemainingText(seconds), text);
    }

    void remaining_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<qint64>("left");
        QTest::newRow("first second unknown") << qint64(5000) << qint64(10000) << qint64(0) << qint64(-1);
        QTest::newRow("under a byte a second") << qint64(3) << qint64(10000) << qint64(4) << qint64(-1);
        QTest::newRow("half way") << qint64(1000) << qint64(2000) << qint64(10) << qint64(10);
        QTest::newRow("integer rate") << qint64(1000) << qint64(4000) << qint64(3) << qint64(9);
        QTest::newRow("more than total") << qint64(5) << qint64(4) << qint64(1) << qint64(-1);
    }
    void remaining()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(qint64, elapsed);
        QFETCH(qint64, left);
        QCOMPARE(Downloader::remainingSeconds(received, total, elapsed), left);
    }

    void download_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<int>("stallMs");      // transfer timeout, 0 for the default
        QTest::addColumn<int>("fileSizeLimit"); // bytes a file may grow to, 0 for no limit
        QTest::newRow("content length") << QByteArray("/d/Arbor.dmg") << "Arbor.dmg" << true << 0 << 0;
        QTest::newRow("chunked") << QByteArray("/d/chunked/Arbor.dmg") << "Arbor.dmg" << true << 0 << 0;
        QTest::newRow("relative redirect") << QByteArray("/d/moved") << "Arbor.dmg" << true << 0 << 0;
        QTest::newRow("empty name") << QByteArray("/d/Arbor.dmg") << "" << true << 0 << 0;
        QTest::newRow("dot dot name") << QByteArray("/d/Arbor.dmg") << ".." << true << 0 << 0;
        QTest::newRow("cut connection") << QByteArray("/d/cut/Arbor.dmg") << "Arbor.dmg" << false << 0 << 0;
        QTest::newRow("cut chunked") << QByteArray("/d/chunked-cut/Arbor.dmg") << "Arbor.dmg" << false << 0 << 0;
        QTest::newRow("server stalls") << QByteArray("/d/hold/Arbor.dmg") << "Arbor.dmg" << false << 1500 << 0;
        QTest::newRow("disk full") << QByteArray("/d/Arbor.dmg") << "Arbor.dmg" << false << 0 << 100000;
        QTest::newRow("404") << QByteArray("/d/gone.dmg") << "Arbor.dmg" << false << 0 << 0;
        QTest::newRow("redirect loop") << QByteArray("/d/loop") << "Arbor.dmg" << false << 0 << 0;
        QTest::newRow("redirect to a file") << QByteArray("/d/to-file") << "Arbor.dmg" << false << 0 << 0;
    }
    void download()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, fileName);
        QFETCH(bool, complete);
        QFETCH(int, stallMs);
        QFETCH(int, fileSizeLimit);
        const QString saved = (fileName.isEmpty() || fileName == QLatin1String(".."))
            ? QStringLiteral("QSU_Update.bin")
            : fileName;
        writeOld(saved);
        Downloader d;
        d.setDownloadDir(mDir);
        d.setUrlId(QStringLiteral("list"));
        d.setFileName(fileName);
        d.setUserAgentString(QStringLiteral("Agent/1"));
        if (stallMs > 0)
            d.setTransferTimeout(stallMs);
        QSignalSpy done(&d, &Downloader::downloadFinished);
        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        if (fileSizeLimit > 0) {
            rlimit limited = before;
            limited.rlim_cur = rlim_t(fileSizeLimit);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        }
        d.startDownload(QUrl(mServer.url(path)));
        const bool visible = d.isVisible();
        const bool ended = QTest::qWaitFor([&] { return !d.isDownloading(); }, 20000);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
        QVERIFY(visible);
        QVERIFY(ended);
        QCOMPARE(mServer.lastHeader("user-agent"), QByteArray("Agent/1"));
        QVERIFY(!QFileInfo::exists(QDir(mDir).filePath(saved + QStringLiteral(".part"))));
        if (!complete) {
            QCOMPARE(done.size(), 0);
            QCOMPARE(contents(saved), OLD);
            QCOMPARE(label(d, "downloadLabel"), QStringLiteral("Download failed"));
            QTest::qWait(20);
            QVERIFY(visibleBoxes().isEmpty());
            return;
        }
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().at(0).toString(), QStringLiteral("list"));
        QCOMPARE(done.first().at(1).toString(), QDir(mDir).filePath(saved));
        QVERIFY(contents(saved) == package());
        QCOMPARE(label(d, "downloadLabel"), QStringLiteral("Download complete!"));
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->informativeText(), QStringLiteral("Click \"OK\" to open the downloaded file now"));
        answer(box, QMessageBox::Cancel);
        auto* open = d.findChild<QPushButton*>(QStringLiteral("openButton"));
        QVERIFY(open->isEnabled() && !open->isHidden());
        QCOMPARE(label(d, "timeLabel"), QStringLiteral("Click the \"Open\" button to apply the update"));

        OpenedUrls urls;
        open->click();
        answer(waitForBox(), QMessageBox::Ok);
        QCOMPARE(urls.urls.size(), 1);
        QCOMPARE(urls.urls.first(), QUrl::fromLocalFile(QDir(mDir).filePath(saved)));
        QVERIFY(!d.isVisible());
    }

    // Stop while the data is still coming: No keeps it going, Yes ends it,
    // and a mandatory update then quits.
    void cancel_data()
    {
        QTest::addColumn<bool>("mandatory");
        QTest::newRow("optional") << false;
        QTest::newRow("mandatory") << true;
    }
    void cancel()
    {
        QFETCH(bool, mandatory);
        writeOld(QStringLiteral("Arbor.dmg"));
        Downloader d;
        d.setDownloadDir(mDir);
        d.setFileName(QStringLiteral("Arbor.dmg"));
        d.setMandatoryUpdate(mandatory);
        QSignalSpy done(&d, &Downloader::downloadFinished);
        QSignalSpy quit(&d, &Downloader::quitRequested);
        d.startDownload(QUrl(mServer.url("/d/hold/Arbor.dmg")));
        auto* bar = d.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        QVERIFY2(QTest::qWaitFor([&] { return bar->value() == 50; }, 5000), qPrintable(QString::number(bar->value()) + label(d, "downloadLabel")));
        QVERIFY(label(d, "downloadLabel").endsWith(QStringLiteral("(146 KB of 292 KB)")));

        d.findChild<QPushButton*>(QStringLiteral("stopButton"))->click();
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->text().contains(QStringLiteral("mandatory")), mandatory);
        answer(box, QMessageBox::No);
        QVERIFY(d.isDownloading());
        QVERIFY(d.isVisible());

        d.cancelDownload();
        answer(waitForBox(), QMessageBox::Yes);
        QVERIFY(!d.isDownloading());
        QVERIFY(!d.isVisible());
        QCOMPARE(quit.size(), mandatory ? 1 : 0);
        QCOMPARE(done.size(), 0);
        QCOMPARE(contents(QStringLiteral("Arbor.dmg")), OLD);
        QVERIFY(!QFileInfo::exists(QDir(mDir).filePath(QStringLiteral("Arbor.dmg.part"))));
        QVERIFY(label(d, "downloadLabel") != QStringLiteral("Download complete!"));
    }

    void refusedMandatoryInstallQuits()
    {
        Downloader d;
        d.setDownloadDir(mDir);
        d.setFileName(QStringLiteral("Arbor.dmg"));
        d.setMandatoryUpdate(true);
        QSignalSpy quit(&d, &Downloader::quitRequested);
        d.startDownload(QUrl(mServer.url("/d/Arbor.dmg")));
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QVERIFY(box->text().contains(QStringLiteral("This is a mandatory update")));
        answer(box, QMessageBox::Cancel);
        QCOMPARE(quit.size(), 1);
        d.cancelDownload(); // Close after the end: a mandatory update quits again
        QCOMPARE(quit.size(), 2);
        QVERIFY(!d.isVisible());
    }

    void missingFileCannotBeOpened()
    {
        Downloader d;
        d.setDownloadDir(mDir);
        d.setFileName(QStringLiteral("never.dmg"));
        d.openDownload();
        QMessageBox* box = waitForBox();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Cannot find downloaded update!"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
    }
};

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
