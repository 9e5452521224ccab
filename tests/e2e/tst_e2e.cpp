// Drives the real program from outside, on the X display it shares with this test: its window is found and
// photographed through the window system, clicked and keyed with xdotool, the wand speaks UDP on loopback, a
// keyboard plays into "Arbor in" on the test's own JACK server, and the sound is what scripts/audio-sink.sh
// records.

#include "support/Sound.h"
#include "support/TestSupport.h"

#include <RtMidi.h>

#include <QGuiApplication>
#include <QScreen>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace TestSupport;

namespace {
// Each prime has a hue of its own, so while nothing sounds the silent root ball (the root's colour darkened) and
// the prime-3 button (the fifth's full colour) are the only things of their colours in a picture of the window.
QColor colour(int prime) {
    return QColor(QColor::fromHsv(prime * 11, 160, 230).name());
}

const QColor ROOT = colour(1);
const QColor GREY(158, 158, 158); // the root ball of a transposed lattice

const QColor DARK = ROOT.darker(115);

// Actions one after the other ("wand": tag 04A3B2C1D9 touched; "+69", "-69": MIDI key 69, the 1/1's A 4, down and
// up, the keys above it playing the default map's 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8; "keydown a":
// the computer keyboard's A, the 1/1, W the key above), the pitch
// heard then (0: silence) and the root ball's look; each row starts from what the rows before it left.
const struct { QStringList actions; double hz; QColor rootLook; } PLAYS[] = {
    {{}, 0, DARK}, {{"+69"}, 440, ROOT}, {{"-69", "+70"}, 469.333, DARK}, {{"-70", "+71"}, 495, DARK},
    {{"-71", "+72"}, 528, DARK}, {{"-72", "+73"}, 550, DARK}, {{"-73", "+74"}, 586.667, DARK}, {{"-74", "+75"}, 618.75, DARK},
    {{"-75", "+76"}, 660, DARK}, {{"-76", "+77"}, 704, DARK}, {{"-77", "+78"}, 733.333, DARK}, {{"-78", "+79"}, 792, DARK},
    {{"-79", "+80"}, 825, DARK}, {{"-80"}, 0, DARK}, {{"keydown w"}, 469.333, DARK}, {{"keyup w", "keydown a"}, 440, ROOT},
    {{"keyup a"}, 0, DARK}, {{"root"}, 440, ROOT}, {{"root"}, 0, DARK}, {{"wand"}, 550, DARK},
    {{"wand"}, 0, DARK}, {{"fifth up", "root"}, 660, GREY}, {{"stop all"}, 0, GREY.darker(115)},
};

// The bounding box of the pixels of exactly this colour.
QRect find(const QImage& image, const QColor& colour) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour.rgb())
                box |= QRect(x, y, 1, 1);
    return box;
}
} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir mTemp{QDir::tempPath() + "/arbor e2e XXXXXX"};
    const QString mData = mTemp.path() + "/data dir";
    const QString mConfig = mData + "/Elmsby Vudiru Arbor";
    const QString mAudio = mTemp.path() + "/rendered audio.raw";
    const QString mRecorded = mTemp.path() + "/recorded.wav"; // by the program itself, from start-up
    const QString mShots = qEnvironmentVariable("ARBOR_SHOTS_DIR", ARBOR_SOURCE_DIR "/shots");
    QProcess mArbor;
    QString mWindow; // the X window id
    QHash<QString, QPoint> mControls; // where to click, in window coordinates
    quint16 mUdpPort = 0;

    RtMidiOut mKeys{RtMidi::UNIX_JACK, "e2e keyboard"}; // connected to "Arbor in"

    QImage picture() const {
        return QGuiApplication::primaryScreen()->grabWindow(mWindow.toULongLong()).toImage();
    }

    // The pitch and level of the last quarter second, once enough fresh sound came for a note to start, or for
    // what stopped to die away.
    std::pair<double, double> listen(bool sounding) {
        const qint64 target = QFile(mAudio).size() + qint64((sounding ? 0.8 : 2.5) * Sound::RATE) * Sound::FRAME_BYTES;
        if (!QTest::qWaitFor([&] { return QFile(mAudio).size() >= target; }, 20000))
            return {-1, -1};
        const QVector<double> s = Sound::read(mAudio, Sound::RATE / 4)[0];
        qInfo() << "heard" << Sound::frequency(s) << "Hz, rms" << Sound::rms(s);
        return {Sound::frequency(s), Sound::rms(s)};
    }

    void key(int note, bool down) {
        using byte = unsigned char;
        const std::vector<byte> message{byte(down ? 0x90 : 0x80), byte(note), 100};
        mKeys.sendMessage(&message);
    }

    // 100,000 wand datagrams of the tag and, at the same time, 100,000 MIDI messages (the octave's keys down and up
    // again in turn), 20,000 a second each (about as many as the program takes in).
    void flood(const QByteArray& tag, std::atomic<int>& sent) {
        QUdpSocket socket;
        for (const auto start = std::chrono::steady_clock::now(); sent < 100000; ++sent) {
            socket.writeDatagram(wandPacket(5, tag), QHostAddress::LocalHost, mUdpPort);
            key(69 + sent / 2 % 12, sent % 2 == 0);
            std::this_thread::sleep_until(start + std::chrono::microseconds(50 * sent));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(mConfig));
        QUdpSocket probe; // finds a free port for the wand listener
        QVERIFY(probe.bind(QHostAddress(QHostAddress::LocalHost), 0));
        mUdpPort = probe.localPort();
        probe.close();
        QJsonArray colours;
        for (int p : {0, 1, 2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31})
            colours.append(QJsonObject{{"prime", p}, {"color", colour(p).name()}});
        // With a ball for each ratio the MIDI keys should play.
        const QJsonObject tree = json(R"({"children": {
            "2": {"children": {"3": {}, "-5": {}, "-3": {"children": {"-5": {}, "5": {}}}}},
            "-2": {"children": {"3": {"children": {"3": {"children": {"5": {}}}}}}}, "5": {},
            "3": {"children": {"3": {"children": {"-5": {}}}, "-5": {}, "5": {}}}, "-3": {"children": {"-3": {}, "-2": {}}}}})");
        QVERIFY(writeJson(mConfig + "/arbor_v15.json", {{"colors", colours}, {"root", tree}}));
        QVERIFY(writeJson(mConfig + "/options.json", {{"udpPort", mUdpPort}, {"updateCheckInterval", 4},
                                                      {"defaultPatch", "Sine.pd"}, {"circlesView", true},
                                                      {"midiApi", "jack"}}));
        QVERIFY(writeJson(mConfig + "/rfid_map.json", {{"04a3b2c1d9", QJsonObject{{"event", 0}, {"value", "/5"}}},
                                                     {"04a3b2c1da", QJsonObject{{"event", 0}, {"value", "/3"}}},
                                                     {"04a3b2c1db", QJsonObject{{"event", 5}, {"value", 0}}}}));
        mArbor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mArbor.start("env", {"HOME=" + mTemp.path(), "XDG_DATA_HOME=" + mData, "ARBOR_NO_MODAL_BOXES=1",
                             ARBOR_SOURCE_DIR "/scripts/audio-sink.sh", mAudio, "--", ARBOR_BINARY_DIR "/arbor", "--record", mRecorded});
        QProcess search;
        search.start("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Elmsby Vudiru Arbor$"});
        QVERIFY(search.waitForFinished(30000) && search.exitCode() == 0);
        mWindow = search.readLine().trimmed();

        QRect root, before; // the root ball, once found at the same place twice (painted and laid out)
        QTRY_VERIFY_WITH_TIMEOUT((before = std::exchange(root, find(picture(), ROOT.darker(115)))) == root
                                     && root.isValid(), 20000);
        const QImage image = picture();
        const QRect prime3 = find(image, colour(3)); // with the fifth-up arrow on its right
        mControls = {{"root", root.center()},
                     {"fifth up", QPoint(prime3.right() + prime3.height() / 2 + 2, prime3.center().y())},
                     {"stop all", QPoint(24, image.height() - 24)}}; // within the window's 12-pixel margin
        qInfo() << "window" << mWindow << image.size() << "controls" << mControls;
        QTRY_VERIFY_WITH_TIMEOUT(QFile(mAudio).size() > Sound::RATE * Sound::FRAME_BYTES / 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(mKeys.getPortCount() == 1, 10000); // "Arbor in", alone on the test's server
        mKeys.openPort(0);
    }

    void plays_data() { tableRows(PLAYS); }
    void plays() {
        const auto& [actions, hz, rootLook] = tableRow(PLAYS);
        for (const QString& action : actions) {
            // No --sync: a synced move onto the pointer's own spot waits for a motion event that never comes.
            const QPoint at = mControls.value(action);
            const QStringList move{"mousemove", "--window", mWindow, QString::number(at.x()), QString::number(at.y())};
            if (action[0] == '+' || action[0] == '-')
                key(action.mid(1).toInt(), action[0] == '+');
            else if (action.startsWith("key"))
                QCOMPARE(QProcess::execute("xdotool", {"windowfocus", "--sync", mWindow, action.section(' ', 0, 0),
                                                       action.section(' ', 1)}), 0);
            else
                QVERIFY(action == "wand"
                            ? QUdpSocket().writeDatagram(wandPacket(5, "04A3B2C1D9"), QHostAddress::LocalHost, mUdpPort) == 72
                            : QProcess::execute("xdotool", move + QStringList{"click", "1"}) == 0);
        }
        const auto [f, level] = listen(hz > 0);
        QVERIFY(hz > 0 ? level > 0.01 && std::fabs(f - hz) < hz * 0.005 : level < 0.002);
        QTRY_COMPARE_WITH_TIMEOUT(picture().pixelColor(mControls["root"]).name(), rootLook.name(), 5000);
        if (hz == 660.0) // the window with a sounding ball and its card
            QVERIFY(picture().save(mShots + "/main-window.png"));
    }

    // A flood of wand requests and one of MIDI keys at once lose no key's release: afterwards all is silent and
    // every ball dark again.
    void floodsLoseNoNoteOff() {
        const auto lattice = [this] { return picture().copy(0, 0, 9999, mControls["stop all"].y() - 24); }; // no clock
        const QImage dark = lattice();
        std::atomic<int> sent{0};
        flood("04A3B2C1DB", sent);
        QVERIFY(listen(false).second < 0.002);
        QCOMPARE(lattice(), dark);
    }

    // Quitting takes about a second at most amid both floods (the wand toggling a ball); the log stays small.
    void quitDuringFloodSavesGeometry() {
        const qint64 logged = QFile(mConfig + "/log.txt").size();
        std::atomic<int> sent{0};
        std::thread floods([&] { flood("04A3B2C1DA", sent); });
        QTRY_VERIFY_WITH_TIMEOUT(sent > 60000, 20000);
        const QDeadlineTimer limit(20000);
        QCOMPARE(QProcess::execute("xdotool", {"key", "ctrl+q"}), 0);
        const qint64 ms = mArbor.waitForFinished(20000) ? 20000 - limit.remainingTime() : -1;
        const qint64 grown = QFile(mConfig + "/log.txt").size() - logged;
        floods.join();
        QVERIFY2(ms >= 0 && ms < 1500 && mArbor.exitCode() == 0 && grown < 100000,
                 qPrintable(QString("quit after %1 ms, log grew by %2 bytes").arg(ms).arg(grown)));
        const QJsonObject options = json(readFile(mConfig + "/options.json"));
        for (const char* key : {"windowSize", "windowPos"})
            QVERIFY2(options.contains(key) && options.value(key) != "-1,-1", key);
        // The recording, finalised on quitting, holds each pitch heard.
        SF_INFO info{};
        const QVector<double> left = Sound::readStereo(mRecorded, info)[0];
        QVERIFY(info.samplerate == Sound::RATE && left.size() > 5 * Sound::RATE);
        QList<double> heard; // the pitch of each quarter second
        for (int at = 0; at + Sound::RATE / 4 <= left.size(); at += Sound::RATE / 8)
            heard << Sound::frequency(left.mid(at, Sound::RATE / 4));
        for (double hz : {440.0, 550.0, 660.0})
            QVERIFY2(std::any_of(heard.begin(), heard.end(), [hz](double f) { return std::fabs(f - hz) < hz * 0.005; }),
                     qPrintable(QString::number(hz)));
    }

    void cleanupTestCase() {
        mArbor.terminate();
        mArbor.waitForFinished(10000);
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
