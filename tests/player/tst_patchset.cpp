// The patch set under the stand-alone Pd program in batch mode: each voice
// patch in patches/ runs in the shell without complaints, answers the macro
// query and reports its released voice; each shell patch opens on its own.

#include "PlayerTestSupport.h"

#include <QProcess>
#include <QStandardPaths>

using namespace PlayerTest;

class TestPatchSet : public QObject
{
    Q_OBJECT

private slots:
    void batch_data()
    {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<QStringList>("open");
        QTest::addColumn<QStringList>("expected"); // lines printed once each; empty: quit at once
        const QStringList check {"arbor_main.pd", "batch_check.pd"};
        const QDir voices(sourcePatches());
        for (const QString& f : voices.entryList({QStringLiteral("*.pd")}, QDir::Files)) {
            const QString macros = f == "Sine.pd" ? "check-voice-info: list info attack(0.1):release(0.2)" : "";
            QTest::newRow(qPrintable(f)) << voices.filePath(f) << check << QStringList {"check-voice-stop: 1", macros};
        }
        QTest::newRow("test voice") << testData() + "/PrintVoice.pd" << check
                                    << QStringList {"check-voice-stop: 1", "check-voice-info: list info cutoff(0.5):drive"};
        for (const char* f : {"equal-loudness.pd", "tb_compressor~.pd", "tb_compressorUI.pd", "arbor_vprep.pd"})
            QTest::newRow(f) << sourcePatches() + "/Sine.pd" << QStringList {f} << QStringList();
    }
    void batch()
    {
        QFETCH(QString, voice);
        QFETCH(QStringList, open);
        QFETCH(QStringList, expected);
        const QString pd = QStandardPaths::findExecutable("pd");
        if (pd.isEmpty())
            QSKIP("pd is not installed");
        RuntimeFolder folder(voice);
        QVERIFY(QFile::copy(testData() + "/batch_check.pd", folder.path() + "/batch_check.pd"));
        QStringList args {"-nogui", "-batch", "-noprefs", "-stderr", "-noaudio", "-nomidi", "-path", folder.path()};
        for (const QString& f : open)
            args << "-open" << folder.path() + "/" + f;
        if (expected.isEmpty())
            args << "-send" << "pd quit";
        QProcess p;
        p.setWorkingDirectory(folder.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(pd, args);
        if (!p.waitForFinished(60000))
            p.kill();
        const QString output = QString::fromLocal8Bit(p.readAll());
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(output));
        const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : lines) // Pd's complaints, and its "... you might be able to track this down" lines
            QVERIFY2(!line.contains("error") && !line.contains("couldn't") && !line.contains("... "), qPrintable(line));
        for (const QString& e : expected)
            QVERIFY2(e.isEmpty() || lines.count(e) == 1, qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestPatchSet)
#include "tst_patchset.moc"
