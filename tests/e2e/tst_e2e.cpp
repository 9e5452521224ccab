// Drives the real program from outside: a virtual X display, the audio
// written to a file by the ALSA file sink, mouse clicks and keys through
// xdotool, wand packets over UDP on loopback.

#include "AudioProbe.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

class EndToEndTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mTemp{QDir::tempPath() + "/arbor e2e XXXXXX"};
    QString mConfig;
    QString mInfoPath;
    QString mShotPath;
    AudioProbe mAudio;
    QProcess mArbor;
    quint16 mUdpPort = 0;
    QJsonObject mInfo;

    static bool writeJson(const QString& path, const QJsonObject& object)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(object).toJson()) > 0;
    }

    static QJsonObject readJson(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    static bool xdotool(const QStringList& args)
    {
        QProcess p;
        p.start("xdotool", args);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    bool clickAt(const char* control)
    {
        const QJsonObject at = mInfo.value(control).toObject();
        if (at.isEmpty())
            return false;
        // No --sync: when the pointer already rests on the target, a synced move
        // waits for a motion event that never comes.
        return xdotool({"mousemove", QString::number(at.value("x").toInt()),
                        QString::number(at.value("y").toInt()), "sleep", "0.2", "click", "1"});
    }

    // Waits until `seconds` of sound rendered after now are in the file.
    void listen(double seconds)
    {
        const qint64 target = mAudio.frames() + qint64(seconds * mAudio.mRate);
        QTRY_VERIFY_WITH_TIMEOUT(mAudio.frames() >= target, 20000);
    }

    void expectTone(double hz, const char* what)
    {
        listen(0.8);
        const QVector<double> s = mAudio.tail(0.25);
        QVERIFY2(AudioProbe::rms(s) > 0.01, what);
        const double f = mAudio.dominantFrequency(s);
        qInfo() << what << "dominant frequency" << f << "Hz, rms" << AudioProbe::rms(s);
        QVERIFY2(qAbs(f - hz) < hz * 0.01, qPrintable(QString("%1: %2 Hz").arg(what).arg(f)));
    }

    void expectSilence(const char* what)
    {
        listen(2.5); // the release tail dies away
        const double level = AudioProbe::rms(mAudio.tail(0.3));
        qInfo() << what << "rms" << level;
        QVERIFY2(level < 0.002, what);
    }

    void sendTag(const QByteArray& tag)
    {
        QByteArray packet(72, '\0');
        packet[23] = 5;
        for (int i = 0; i < tag.size() && i < 10; ++i)
            packet[27 + 4 * i] = tag[i];
        QUdpSocket socket;
        QCOMPARE(socket.writeDatagram(packet, QHostAddress::LocalHost, mUdpPort), qint64(72));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(mTemp.isValid());
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display (run under xvfb-run)");
        const QString sink = ARBOR_SOURCE_DIR "/scripts/audio-sink.sh";
        if (!QFile::exists(sink))
            QSKIP("no audio file sink script");

        const QString home = mTemp.path() + "/home dir";
        const QString data = mTemp.path() + "/data dir";
        mConfig = data + "/Elmsby Vudiru Arbor";
        QVERIFY(QDir().mkpath(mConfig));
        QVERIFY(QDir().mkpath(home));
        mInfoPath = mTemp.path() + "/window info.json";
        mShotPath = mTemp.path() + "/main window.png";
        mAudio.mPath = mTemp.path() + "/rendered audio.raw";
        if (!qEnvironmentVariableIsEmpty("ARBOR_SINK_RATE"))
            mAudio.mRate = qEnvironmentVariableIntValue("ARBOR_SINK_RATE");

        {
            QUdpSocket probe;
            QVERIFY(probe.bind(QHostAddress(QHostAddress::LocalHost), 0));
            mUdpPort = probe.localPort();
        }
        QVERIFY(writeJson(mConfig + "/options.json",
                          QJsonObject{{"udpPort", mUdpPort}, {"updateCheckInterval", 4},
                                      {"defaultPatch", "Sine.pd"}, {"circlesView", true}}));
        QVERIFY(writeJson(mConfig + "/rfid_map.json",
                          QJsonObject{{"04a3b2c1d9", QJsonObject{{"event", 0}, {"value", "/5"}}}}));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", data);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("ARBOR_NO_MODAL_BOXES", "1");
        env.insert("ARBOR_WINDOW_INFO_FILE", mInfoPath);
        env.insert("ARBOR_SCREENSHOT_FILE", mShotPath);
        mArbor.setProcessEnvironment(env);
        mArbor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mArbor.start(sink, {mAudio.mPath, "--", ARBOR_BINARY_DIR "/arbor"});
        QVERIFY(mArbor.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mInfoPath), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(readJson(mInfoPath).contains("rootBall"), 10000);
        QTest::qWait(1500); // let the layout settle, then read the positions again
        mInfo = readJson(mInfoPath);
        qInfo() << "window info" << mInfo;
        QTRY_VERIFY_WITH_TIMEOUT(mAudio.frames() > mAudio.mRate / 2, 20000);
    }

    void rootBallSoundsOneOne()
    {
        expectSilence("before any click");
        QVERIFY(clickAt("rootBall"));
        expectTone(440.0, "root ball");
        QVERIFY(clickAt("rootBall"));
        expectSilence("root ball off");
    }

    void wandTagSoundsItsNote()
    {
        sendTag("04A3B2C1D9");
        expectTone(550.0, "wand /5");
        sendTag("04A3B2C1D9");
        expectSilence("wand /5 off");
    }

    void transposedByAFifth()
    {
        QVERIFY(clickAt("transposeUp3"));
        QTest::qWait(300);
        QVERIFY(clickAt("rootBall"));
        expectTone(660.0, "root ball a fifth up");

        // A picture of the window with the card of the sounding ball.
        QTest::qWait(2500);
        const QString keep = qEnvironmentVariable("ARBOR_E2E_SHOT", ARBOR_BINARY_DIR "/e2e-main-window.png");
        QFile::remove(keep);
        QVERIFY(QFile::copy(mShotPath, keep));
    }

    void stopAllSilences()
    {
        QVERIFY(clickAt("stopAll"));
        expectSilence("stop all");
    }

    void quitSavesGeometry()
    {
        QVERIFY(clickAt("window"));
        QVERIFY(xdotool({"key", "ctrl+q"}));
        QVERIFY(mArbor.waitForFinished(20000));
        QCOMPARE(mArbor.exitCode(), 0);
        const QJsonObject options = readJson(mConfig + "/options.json");
        qInfo() << "saved geometry" << options.value("windowSize") << options.value("windowPos");
        QVERIFY(options.contains("windowSize"));
        QVERIFY(options.value("windowSize").toString() != "-1,-1");
        QVERIFY(options.value("windowPos").toString() != "-1,-1");
    }

    void cleanupTestCase()
    {
        if (mArbor.state() != QProcess::NotRunning) {
            mArbor.terminate();
            if (!mArbor.waitForFinished(5000))
                mArbor.kill();
            mArbor.waitForFinished(5000);
        }
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
