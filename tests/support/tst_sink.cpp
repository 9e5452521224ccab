// Plays tones through PortAudio into scripts/audio-sink.sh and checks what the
// capture file holds: the format, both channels' pitch and level, the length;
// and that the script keeps the caller's folders, passes on exit codes and
// termination, cleans up, and that it and pipe_drain report bad use.

#include "Sound.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace
{
const QString SINK = QStringLiteral(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh");
const QString DRAIN = QStringLiteral(ARBOR_BINARY_DIR "/pipe_drain");
} // namespace

class SinkTest : public QObject
{
    Q_OBJECT

    QTemporaryDir mTemp{QDir::tempPath() + "/arbor sink XXXXXX"};

    // Starts `command` (program and arguments); without ARBOR_PIPE_DRAIN the
    // sink finds pipe_drain next to the command it runs.
    void start(QProcess& p, QStringList command)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"ARBOR_PIPE_DRAIN", "ARBOR_SINK_RATE", "ARBOR_SINK_FRAME_BYTES", "XDG_CONFIG_HOME"})
            env.remove(name);
        env.insert("HOME", mTemp.path() + "/caller home");
        env.insert("XDG_DATA_HOME", mTemp.path() + "/data dir");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(command.takeFirst(), command);
    }

    // The exit code, or -1 after a crash or a hang.
    static int finish(QProcess& p)
    {
        const bool ended = p.state() == QProcess::NotRunning || p.waitForFinished(60000);
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void capturesTheTone_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<bool>("outOption");
        QTest::newRow("440 Hz, half a second, --out") << 440.0 << 0.5 << 0.5 << true;
        QTest::newRow("330 Hz, one second, quiet, file first") << 330.0 << 1.0 << 0.125 << false;
    }

    void capturesTheTone()
    {
        QFETCH(double, hz);
        QFETCH(double, seconds);
        QFETCH(double, amplitude);
        QFETCH(bool, outOption);
        const QString out = mTemp.path() + "/captured " + QTest::currentDataTag() + ".raw";
        QFile stale(out); // a left-over file is emptied first
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write(QByteArray(1001, '\x7f')) == 1001);
        stale.close();
        QProcess p;
        start(p, QStringList{SINK} + (outOption ? QStringList{"--out", out} : QStringList{out})
                     + QStringList{"--", ARBOR_BINARY_DIR "/tone_player", QString::number(hz), QString::number(seconds),
                                   QString::number(amplitude)});
        const int rc = finish(p);
        const QByteArray log = p.readAll();
        QVERIFY2(rc == 0 && log.contains("stream rate 44100"), log.constData());
        QCOMPARE(QFile(out).size() % Sound::FRAME_BYTES, 0);

        // A few buffers of silence, every frame of the tone (whose first
        // sample is sin(0)) on both channels, then silence again.
        const auto c = Sound::read(out);
        const int played = int(std::lround(seconds * Sound::RATE));
        const int onset = int(std::find_if(c[0].begin(), c[0].end(), [](double v) { return v != 0; }) - c[0].begin()) - 1;
        QVERIFY2(onset >= 0 && onset < Sound::RATE / 4, qPrintable(QString::number(onset)));
        QVERIFY(c[0].size() >= onset + played && c[0].size() <= onset + played + Sound::RATE / 4);
        QVERIFY(c[0][onset + played - 1] != 0.0);
        for (int right : {0, 1}) {
            const QVector<double> s = c[right].mid(onset, played);
            const double want = right ? 1.5 * hz : hz;
            qInfo() << Sound::frequency(s) << "Hz, peak" << Sound::peak(s) << "rms" << Sound::rms(s);
            QVERIFY(std::fabs(Sound::frequency(s) - want) < want * 0.001);
            QVERIFY(std::fabs(Sound::peak(s) - amplitude) < amplitude * 0.01);
            QVERIFY(std::fabs(Sound::rms(s) - amplitude / std::sqrt(2.0)) < amplitude * 0.01);
            QCOMPARE(Sound::peak(c[right].mid(0, onset)) + Sound::peak(c[right].mid(onset + played)), 0.0);
        }
    }

    void passesOnTheEnd_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("terminate");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("exit code") << "exit 3" << false << 3;
        QTest::newRow("termination") << "exec sleep 60" << true << 128 + 15; // the command's own end by SIGTERM
    }

    // The command runs in a temporary home whose ALSA default device is the
    // file sink and keeps the caller's data folder; the sink ends as the
    // command ends, and the temporary home goes with it.
    void passesOnTheEnd()
    {
        QFETCH(QString, command);
        QFETCH(bool, terminate);
        QFETCH(int, exitCode);
        const QString report = mTemp.path() + "/report " + QTest::currentDataTag();
        const QString script = "{ echo \"$HOME\"; echo \"$XDG_DATA_HOME\"; cat \"$HOME/.asoundrc\"; } > \"$1.part\"; "
                               "mv \"$1.part\" \"$1\"; " + command;
        QProcess p;
        start(p, {"env", "ARBOR_PIPE_DRAIN=" + DRAIN, SINK, report + ".raw", "--", "/bin/sh", "-c", script, "sh", report});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 20000);
        QFile f(report);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        QVERIFY(lines.size() > 3 && lines[0] != mTemp.path() + "/caller home");
        QCOMPARE(lines[1], mTemp.path() + "/data dir");
        QVERIFY(lines.join('\n').contains("type file"));
        if (terminate) {
            QVERIFY(QDir(lines[0]).exists());
            p.terminate();
        }
        QCOMPARE(finish(p), exitCode);
        QVERIFY(!QDir(lines[0]).exists() && QFile::exists(report + ".raw"));
    }

    void reportsBadUse_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString out = mTemp.path() + "/bad.raw";
        const QString tone = ARBOR_BINARY_DIR "/tone_player";
        QTest::newRow("no command") << QStringList{SINK, out, "--"} << 2 << "usage:";
        QTest::newRow("no separator") << QStringList{SINK, out, tone} << 2 << "usage:";
        QTest::newRow("--out without file") << QStringList{SINK, "--out"} << 2 << "usage:";
        QTest::newRow("no drain") << QStringList{"env", "ARBOR_PIPE_DRAIN=" + out, SINK, out, "--", tone} << 127
                                  << "pipe_drain not found";
        QTest::newRow("cannot write") << QStringList{SINK, out + ".d/x.raw", "--", tone} << 1 << "No such file";
        for (const QStringList& args : {QStringList(), {"a", "b", "fast"}, {"a", "b", "0"}, {"a", "b", "-8"},
                                        {"a", "b", "352800x"}, {"a", "b", "352800", "d"}})
            QTest::addRow("pipe_drain %s", qPrintable(args.join(' '))) << QStringList{DRAIN} + args << 2 << "usage:";
    }

    void reportsBadUse()
    {
        QFETCH(QStringList, command);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcess p;
        start(p, command);
        QCOMPARE(finish(p), exitCode);
        const QByteArray log = p.readAll();
        QVERIFY2(log.contains(message.toUtf8()), log.constData());
    }
};

QTEST_GUILESS_MAIN(SinkTest)
#include "tst_sink.moc"
