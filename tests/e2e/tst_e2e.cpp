// Drives the real program from outside, on the X display it shares with this
// test: its window is found and photographed through the window system,
// clicked and keyed with xdotool, the wand speaks UDP on loopback, and the
// sound is what scripts/audio-sink.sh records.

#include "support/Sound.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace
{
const int PRIMES[] = {0, 1, 2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31};

// Each prime has a hue of its own, so while nothing sounds the silent root
// ball (the root's colour darkened) and the prime-3 button (the fifth's full
// colour) are the only things of their colours in a picture of the window.
QColor colour(int prime)
{
    return QColor(QColor::fromHsv(prime * 11, 160, 230).name());
}
const QColor ROOT = colour(1);
const QColor GREY(158, 158, 158); // the root ball of a transposed lattice

// A lattice ball with these children and a leaf for every higher prime, both ways.
QJsonObject ball(QJsonObject children = {})
{
    for (int p : PRIMES)
        for (int step : {p, -p})
            if (p > 3)
                children.insert(QString::number(step), QJsonObject());
    return {{"children", children}};
}

// The bounding box of the pixels of exactly this colour.
QRect find(const QImage& image, const QColor& colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour.rgb())
                box |= QRect(x, y, 1, 1);
    return box;
}
} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir mTemp{QDir::tempPath() + "/arbor e2e XXXXXX"};
    const QString mConfig = mTemp.path() + "/data dir/Elmsby Vudiru Arbor";
    const QString mAudio = mTemp.path() + "/rendered audio.raw";
    QProcess mArbor;
    WId mWindow = 0;
    QHash<QString, QPoint> mControls; // where to click, in window coordinates
    quint16 mUdpPort = 0;

    QImage picture() const
    {
        return QGuiApplication::primaryScreen()->grabWindow(mWindow).toImage();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(mConfig));
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(QHostAddress(QHostAddress::LocalHost), 0));
            mUdpPort = probe.localPort();
        }
        QJsonArray colours;
        for (int p : PRIMES)
            colours.append(QJsonObject{{"prime", p}, {"color", colour(p).name()}});
        const QJsonObject tree = ball({{"2", ball()}, {"-2", ball()}, {"3", ball({{"3", ball()}})}, {"-3", ball()}});
        const QJsonObject files{
            {"arbor_v15.json", QJsonObject{{"colors", colours}, {"root", tree}}},
            {"options.json", QJsonObject{{"udpPort", mUdpPort}, {"updateCheckInterval", 4},
                                         {"defaultPatch", "Sine.pd"}, {"circlesView", true}}},
            {"rfid_map.json", QJsonObject{{"04a3b2c1d9", QJsonObject{{"event", 0}, {"value", "/5"}}}}}};
        for (const QString& name : files.keys()) {
            QFile f(mConfig + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(files[name].toObject()).toJson()) > 0);
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", mTemp.path());
        env.insert("XDG_DATA_HOME", mTemp.path() + "/data dir");
        env.insert("ARBOR_NO_MODAL_BOXES", "1");
        mArbor.setProcessEnvironment(env);
        mArbor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mArbor.start(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh", {mAudio, "--", ARBOR_BINARY_DIR "/arbor"});
        QProcess search;
        search.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Elmsby Vudiru Arbor$"});
        QVERIFY(search.waitForFinished(30000) && search.exitCode() == 0);
        mWindow = WId(search.readLine().trimmed().toULongLong());

        // Once painted and laid out, the root ball is found at the same place twice.
        QRect root, before;
        QTRY_VERIFY_WITH_TIMEOUT((before = std::exchange(root, find(picture(), ROOT.darker(115)))) == root
                                     && root.isValid(), 20000);
        const QImage image = picture();
        const QRect prime3 = find(image, colour(3)); // with the fifth-up arrow on its right
        mControls = {{"root", root.center()},
                     {"fifth up", QPoint(prime3.right() + prime3.height() / 2 + 2, prime3.center().y())},
                     {"stop all", QPoint(24, image.height() - 24)}}; // within the window's 12-pixel margin
        qInfo() << "window" << mWindow << image.size() << "controls" << mControls;
        QTRY_VERIFY_WITH_TIMEOUT(Sound::frames(mAudio) > Sound::RATE / 2, 20000);
    }

    void plays_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<double>("hz"); // 0: silence
        QTest::addColumn<QColor>("rootLook");
        QTest::newRow("before any click") << QStringList{} << 0.0 << ROOT.darker(115);
        QTest::newRow("root ball on") << QStringList{"root"} << 440.0 << ROOT;
        QTest::newRow("root ball off") << QStringList{"root"} << 0.0 << ROOT.darker(115);
        QTest::newRow("wand /5 on") << QStringList{"wand"} << 550.0 << ROOT.darker(115);
        QTest::newRow("wand /5 off") << QStringList{"wand"} << 0.0 << ROOT.darker(115);
        QTest::newRow("a fifth up, root ball on") << QStringList{"fifth up", "root"} << 660.0 << GREY;
        QTest::newRow("stop all") << QStringList{"stop all"} << 0.0 << GREY.darker(115);
    }

    // Each row starts from what the rows before it left.
    void plays()
    {
        QFETCH(QStringList, actions);
        QFETCH(double, hz);
        QFETCH(QColor, rootLook);
        QByteArray packet(72, '\0'); // the wand touching tag 04A3B2C1D9
        packet[23] = 5;
        for (int i = 0; i < 10; ++i)
            packet[27 + 4 * i] = "04A3B2C1D9"[i];
        for (const QString& action : actions) {
            // No --sync: a synced move onto the pointer's own spot waits for a
            // motion event that never comes.
            const QPoint at = mControls.value(action);
            const QStringList click{"mousemove", "--window", QString::number(mWindow), QString::number(at.x()),
                                    QString::number(at.y()), "click", "1"};
            QVERIFY(action == "wand" ? QUdpSocket().writeDatagram(packet, QHostAddress::LocalHost, mUdpPort) == 72
                                     : QProcess::execute("xdotool", click) == 0);
        }
        // Fresh sound, after the release of what stopped has died away.
        const qint64 target = Sound::frames(mAudio) + qint64((hz > 0 ? 0.8 : 2.5) * Sound::RATE);
        QTRY_VERIFY_WITH_TIMEOUT(Sound::frames(mAudio) >= target, 20000);
        const QVector<double> s = Sound::read(mAudio, -Sound::RATE / 4)[0];
        qInfo() << "sounding" << Sound::frequency(s) << "Hz, rms" << Sound::rms(s);
        QVERIFY(hz > 0 ? Sound::rms(s) > 0.01 && std::fabs(Sound::frequency(s) - hz) < hz * 0.005 : Sound::rms(s) < 0.002);
        QTRY_COMPARE_WITH_TIMEOUT(picture().pixelColor(mControls["root"]).name(), rootLook.name(), 5000);
        if (hz == 660.0) // the window with a sounding ball and its card
            QVERIFY(picture().save(qEnvironmentVariable("ARBOR_SHOTS_DIR", ARBOR_SOURCE_DIR "/shots") + "/main-window.png"));
    }

    void quitSavesGeometry()
    {
        QCOMPARE(QProcess::execute("xdotool", {"key", "ctrl+q"}), 0);
        QVERIFY(mArbor.waitForFinished(20000));
        QCOMPARE(mArbor.exitCode(), 0);
        QFile f(mConfig + "/options.json");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject options = QJsonDocument::fromJson(f.readAll()).object();
        for (const char* key : {"windowSize", "windowPos"})
            QVERIFY2(options.contains(key) && options.value(key) != "-1,-1", key);
    }

    void cleanupTestCase()
    {
        mArbor.terminate();
        mArbor.waitForFinished(10000);
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
