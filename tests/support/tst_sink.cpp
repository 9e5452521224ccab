// Plays tones through PortAudio into scripts/audio-sink.sh and checks what the capture file holds: the format,
// both channels' pitch and level, the length; and how the script and pipe_drain end: the command's folders,
// exit code and termination, the clean-up, and bad use.

#include "Sound.h"
#include "TestSupport.h"

#include <QtTest>

using namespace TestSupport;

namespace {
// A tone's pitch, length and level, and whether the file is named with --out.
const struct { double hz, seconds, amplitude; bool outOption; } TONES[] = {{440, 0.5, 0.5, true}, {330, 1, 0.125, false}};
} // namespace

class SinkTest : public QObject {
    Q_OBJECT

    const QString mSink = QStringLiteral(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh");
    const QString mDrain = QStringLiteral(ARBOR_BINARY_DIR "/pipe_drain");
    const QString mTone = QStringLiteral(ARBOR_BINARY_DIR "/tone_player");
    QTemporaryDir mTemp{QDir::tempPath() + "/arbor sink XXXXXX"};

    // Starts `command` (program and arguments) for a caller with its own home and data
    // folder; without ARBOR_PIPE_DRAIN the sink finds pipe_drain next to the command.
    void start(QProcess& p, const QStringList& command) {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("env", QStringList{"-u", "ARBOR_PIPE_DRAIN", "-u", "ARBOR_SINK_RATE", "-u", "ARBOR_SINK_FRAME_BYTES",
                                   "-u", "XDG_CONFIG_HOME", "HOME=" + mTemp.path() + "/caller home",
                                   "XDG_DATA_HOME=" + mTemp.path() + "/data dir"} + command);
    }

private slots:
    void capturesTheTone_data() { tableRows(TONES); }
    void capturesTheTone() {
        const auto [hz, seconds, amplitude, outOption] = tableRow(TONES);
        const QString out = mTemp.path() + "/captured " + QTest::currentDataTag() + ".raw";
        QVERIFY(writeFile(out, "stale")); // a left-over file is emptied first
        QProcess p;
        const QStringList tone{"--", mTone, QString::number(hz), QString::number(seconds), QString::number(amplitude)};
        start(p, QStringList{mSink} + (outOption ? QStringList{"--out", out} : QStringList{out}) + tone);
        QVERIFY(p.waitForFinished(60000));
        const QByteArray log = p.readAll();
        QVERIFY2(p.exitCode() == 0 && log.contains("stream rate 44100"), log.constData());
        QCOMPARE(QFile(out).size() % Sound::FRAME_BYTES, 0);

        // A few buffers of silence, every frame of the tone (whose first
        // sample is sin(0)) on both channels, then silence again.
        const auto c = Sound::read(out);
        const int played = int(std::lround(seconds * Sound::RATE));
        const auto sounding = std::find_if(c[0].begin(), c[0].end(), [](double v) { return v != 0; });
        const int onset = int(sounding - c[0].begin()) - 1;
        QVERIFY2(onset >= 0 && onset < Sound::RATE / 4, qPrintable(QString::number(onset)));
        QVERIFY(c[0].size() >= onset + played && c[0].size() < onset + played + Sound::RATE / 4);
        QVERIFY(c[0][onset + played - 1] != 0.0);
        for (int right : {0, 1}) {
            const QVector<double> s = c[right].mid(onset, played);
            const double want = right ? 1.5 * hz : hz;
            const double f = Sound::frequency(s);
            QVERIFY2(std::fabs(f - want) < want * 0.001, qPrintable(QString::number(f)));
            QVERIFY(std::fabs(Sound::rms(s) - amplitude / std::sqrt(2.0)) < amplitude * 0.01);
            QCOMPARE(Sound::rms(c[right].mid(0, onset)) + Sound::rms(c[right].mid(onset + played)), 0.0);
        }
    }

    void ends_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("exitCode"); // 143 (SIGTERM): the sink is terminated while the command runs
        QTest::addColumn<QString>("output");
        const QString out = mTemp.path() + "/end.raw";
        // A command that checks it runs in a temporary home with the ALSA file device and the
        // caller's data folder, says where and ends as the row says; the home must go with it.
        const QString check = "echo \"home $HOME\"; [ \"$HOME\" != \"$0\" ] && [ \"$XDG_DATA_HOME\" = \"$1\" ] "
                              "&& grep -q 'type file' \"$HOME/.asoundrc\" || exit 99; ";
        const QStringList inHome{"env", "ARBOR_PIPE_DRAIN=" + mDrain, mSink, out, "--", "/bin/sh", "-c"};
        const QStringList caller{mTemp.path() + "/caller home", mTemp.path() + "/data dir"};
        QTest::newRow("exit code") << inHome + QStringList{check + "exit 3"} + caller << 3 << "home ";
        QTest::newRow("termination") << inHome + QStringList{check + "exec sleep 60"} + caller << 143 << "home ";
        QTest::newRow("no command") << QStringList{mSink, out, "--"} << 2 << "usage:";
        QTest::newRow("no separator") << QStringList{mSink, out, mTone} << 2 << "usage:";
        QTest::newRow("--out without file") << QStringList{mSink, "--out"} << 2 << "usage:";
        QTest::newRow("no drain") << QStringList{"env", "ARBOR_PIPE_DRAIN=" + out, mSink, out, "--", mTone} << 127
                                  << "pipe_drain not found";
        QTest::newRow("cannot write") << QStringList{mSink, out + ".d/x.raw", "--", mTone} << 1 << "No such file";
        for (const QStringList& args : {QStringList(), {"a", "b", "fast"}, {"a", "b", "0"}, {"a", "b", "-8"},
                                        {"a", "b", "352800x"}, {"a", "b", "352800", "d"}})
            QTest::addRow("pipe_drain %s", qPrintable(args.join(' '))) << QStringList{mDrain} + args << 2 << "usage:";
    }

    void ends() {
        QFETCH(QStringList, command);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess p;
        start(p, command);
        if (exitCode == 143) {
            QTRY_VERIFY_WITH_TIMEOUT(p.canReadLine(), 20000); // the command runs
            p.terminate();
        }
        QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(60000));
        const QString log = QString::fromUtf8(p.readAll());
        QVERIFY2(p.exitCode() == exitCode && log.contains(output), qPrintable(QString::number(p.exitCode()) + log));
        const QString home = log.section("home ", 1).section('\n', 0, 0);
        QVERIFY(home.isEmpty() || !QDir(home).exists());
    }
};

QTEST_GUILESS_MAIN(SinkTest)
#include "tst_sink.moc"
