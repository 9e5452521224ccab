// Plays tones through PortAudio into scripts/audio-sink.sh and checks what the
// capture file holds: the format, both channels' pitch and level, the length;
// and that the script keeps the caller's folders, passes on exit codes and
// termination, cleans up, and reports bad use.

#include "e2e/AudioProbe.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace
{
const QString SINK = QStringLiteral(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh");
const QString TONE = QStringLiteral(ARBOR_BINARY_DIR "/tone_player");
const QString DRAIN = QStringLiteral(ARBOR_BINARY_DIR "/pipe_drain");
constexpr int RATE = 44100;
constexpr int FRAME_BYTES = 8; // float32, two channels

struct Capture
{
    QVector<double> mLeft;
    QVector<double> mRight;
    qint64 mBytes = 0;
};

Capture readCapture(const QString& path)
{
    Capture c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return c;
    const QByteArray bytes = f.readAll();
    c.mBytes = bytes.size();
    for (int i = 0; i + FRAME_BYTES <= bytes.size(); i += FRAME_BYTES) {
        float v[2];
        std::memcpy(v, bytes.constData() + i, sizeof(v)); // little-endian host
        c.mLeft << double(v[0]);
        c.mRight << double(v[1]);
    }
    return c;
}

double peak(const QVector<double>& s)
{
    double p = 0;
    for (double v : s)
        p = std::isfinite(v) ? qMax(p, std::fabs(v)) : 1e9;
    return p;
}
} // namespace

class SinkTest : public QObject
{
    Q_OBJECT

    QTemporaryDir mTemp{QDir::tempPath() + "/arbor sink XXXXXX"};

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("ARBOR_PIPE_DRAIN"); // pipe_drain is found next to the command
        env.remove("ARBOR_SINK_RATE");
        env.remove("ARBOR_SINK_FRAME_BYTES");
        env.insert("XDG_DATA_HOME", mTemp.path() + "/data dir");
        return env;
    }

    // Runs the sink with `args`; returns the exit code, -1 on a crash or hang.
    int runSink(const QStringList& args, QByteArray* output = nullptr, const QProcessEnvironment* env = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env ? *env : environment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(SINK, args);
        if (!p.waitForStarted(10000) || !p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (output)
            *output = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mTemp.isValid());
        QVERIFY(QFile::exists(SINK));
        QVERIFY(QFile::exists(TONE));
        QVERIFY(QFile::exists(DRAIN));
    }

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

        const QStringList tone{TONE, QString::number(hz), QString::number(seconds), QString::number(amplitude)};
        QByteArray log;
        const int rc = runSink((outOption ? QStringList{"--out", out} : QStringList{out}) + QStringList{"--"} + tone, &log);
        QVERIFY2(rc == 0, log.constData());
        QVERIFY2(log.contains("stream rate 44100"), log.constData());

        const Capture c = readCapture(out);
        QCOMPARE(c.mBytes % FRAME_BYTES, qint64(0));
        // The device starts with a few buffers of silence; then every frame
        // of the tone (whose first sample is sin(0)), then silence again.
        const int played = int(std::lround(seconds * RATE));
        int onset = 0;
        while (onset < c.mLeft.size() && c.mLeft[onset] == 0.0)
            ++onset;
        onset = qMax(0, onset - 1);
        qInfo() << "tone starts at frame" << onset << "of" << c.mLeft.size();
        QVERIFY(onset < RATE / 4);
        QVERIFY2(c.mLeft.size() >= onset + played, qPrintable(QString::number(c.mLeft.size())));
        QVERIFY2(c.mLeft.size() <= onset + played + RATE / 4, qPrintable(QString::number(c.mLeft.size())));
        QCOMPARE(peak(c.mRight.mid(0, onset)), 0.0);
        QVERIFY(c.mLeft.value(onset + played - 1) != 0.0);

        AudioProbe probe;
        probe.mRate = RATE;
        const QVector<double> left = c.mLeft.mid(onset, played);
        const QVector<double> right = c.mRight.mid(onset, played);
        const int window = qMin(played, RATE / 4); // enough for a 0.1 Hz peak
        const double fl = probe.dominantFrequency(left.mid(0, window));
        const double fr = probe.dominantFrequency(right.mid(0, window), 80, 2500);
        qInfo() << "left" << fl << "Hz, right" << fr << "Hz, peak" << peak(left) << "frames" << c.mLeft.size();
        QVERIFY2(std::fabs(fl - hz) < hz * 0.005, qPrintable(QString::number(fl)));
        QVERIFY2(std::fabs(fr - 1.5 * hz) < hz * 0.0075, qPrintable(QString::number(fr)));
        QVERIFY(std::fabs(peak(left) - amplitude) < amplitude * 0.01);
        QVERIFY(std::fabs(peak(right) - amplitude) < amplitude * 0.01);
        QVERIFY(std::fabs(AudioProbe::rms(left) - amplitude / std::sqrt(2.0)) < amplitude * 0.01);
        // What follows the tone is silence.
        QCOMPARE(peak(c.mLeft.mid(onset + played)), 0.0);
        QCOMPARE(peak(c.mRight.mid(onset + played)), 0.0);
    }

    void runsTheCommandInATemporaryHome()
    {
        const QString out = mTemp.path() + "/env.raw";
        const QString report = mTemp.path() + "/env report.txt";
        const QString script = QStringLiteral("{ echo \"$HOME\"; echo \"$XDG_DATA_HOME\"; cat \"$HOME/.asoundrc\"; } > \"$1\"; exit 3");
        QProcessEnvironment env = environment();
        env.insert("HOME", mTemp.path() + "/caller home");
        env.remove("XDG_CONFIG_HOME");
        env.insert("ARBOR_PIPE_DRAIN", DRAIN); // /bin/sh has no pipe_drain next to it
        QByteArray log;
        QCOMPARE(runSink({"--out", out, "--", "/bin/sh", "-c", script, "sh", report}, &log, &env), 3);

        QFile f(report);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        QVERIFY(lines.size() > 3);
        const QString home = lines[0];
        QVERIFY(home != mTemp.path() + "/caller home");
        QCOMPARE(lines[1], mTemp.path() + "/data dir");
        QVERIFY(lines.join('\n').contains("type file"));
        QVERIFY(!QDir(home).exists()); // removed after the command ended
        QVERIFY(QFile::exists(out));
    }

    void passesOnTermination()
    {
        QProcess p;
        QProcessEnvironment env = environment();
        env.insert("ARBOR_PIPE_DRAIN", DRAIN);
        p.setProcessEnvironment(env);
        const QString marker = mTemp.path() + "/started";
        p.start(SINK, {mTemp.path() + "/term.raw", "--", "/bin/sh", "-c",
                       "echo \"$HOME\" > \"$1\"; exec sleep 60", "sh", marker});
        QVERIFY(p.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(marker).size() > 0, 20000);
        QFile f(marker);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString home = QString::fromUtf8(f.readAll()).trimmed();
        QVERIFY(QDir(home).exists());
        p.terminate();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 128 + 15); // the command's own end by SIGTERM
        QVERIFY(!QDir(home).exists());
    }

    void reportsBadUse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("drain");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString out = mTemp.path() + "/bad.raw";
        QTest::newRow("no command") << QStringList{out, "--"} << DRAIN << 2 << "usage:";
        QTest::newRow("no separator") << QStringList{out, "/bin/true"} << DRAIN << 2 << "usage:";
        QTest::newRow("--out without file") << QStringList{"--out"} << DRAIN << 2 << "usage:";
        QTest::newRow("no drain") << QStringList{out, "--", "/bin/true"} << mTemp.path() + "/no drain" << 127
                                  << "pipe_drain not found";
        QTest::newRow("drain cannot write") << QStringList{mTemp.path() + "/no dir/x.raw", "--", "/bin/true"} << DRAIN
                                            << 1 << "No such file";
    }

    void reportsBadUse()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, drain);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcessEnvironment env = environment();
        env.insert("ARBOR_PIPE_DRAIN", drain);
        QByteArray log;
        QCOMPARE(runSink(args, &log, &env), exitCode);
        QVERIFY2(log.contains(message.toUtf8()), log.constData());
    }

    void drainRejectsBadArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("rate not a number") << QStringList{"a", "b", "fast"};
        QTest::newRow("rate zero") << QStringList{"a", "b", "0"};
        QTest::newRow("rate negative") << QStringList{"a", "b", "-8"};
        QTest::newRow("rate with junk") << QStringList{"a", "b", "352800x"};
        QTest::newRow("too many") << QStringList{"a", "b", "352800", "d"};
    }

    void drainRejectsBadArguments()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(DRAIN, args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAll().contains("usage:"));
    }
};

QTEST_GUILESS_MAIN(SinkTest)
#include "tst_sink.moc"
