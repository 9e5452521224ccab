// The patch set under the stand-alone Pd program in batch mode: every voice
// patch in patches/ runs in the shell without complaints, answers the macro
// query and reports its released voice.

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
        QTest::addColumn<QString>("macros");
        const QDir voices(sourcePatches());
        for (const QString& f : voices.entryList({QStringLiteral("*.pd")}, QDir::Files)) {
            const QString macros = f == QLatin1String("Sine.pd") ? QStringLiteral("attack(0.1):release(0.2)") : QString();
            QTest::newRow(qPrintable(f)) << voices.filePath(f) << macros;
        }
        QTest::newRow("test voice") << testData() + QStringLiteral("/PrintVoice.pd")
                                    << QStringLiteral("cutoff(0.5):drive");
    }
    void batch()
    {
        QFETCH(QString, voice);
        QFETCH(QString, macros);
        const QString pd = QStandardPaths::findExecutable(QStringLiteral("pd"));
        if (pd.isEmpty())
            QSKIP("pd is not installed");
        RuntimeFolder folder(voice);
        QVERIFY(folder.isValid());
        QVERIFY(QFile::copy(testData() + QStringLiteral("/batch_check.pd"), folder.path() + QStringLiteral("/batch_check.pd")));
        QProcess p;
        p.setWorkingDirectory(folder.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(pd, {"-nogui", "-batch", "-noprefs", "-stderr", "-noaudio", "-nomidi", "-path", folder.path(), "-open",
                     folder.path() + "/arbor_main.pd", "-open", folder.path() + "/batch_check.pd"});
        QVERIFY(p.waitForStarted());
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            QFAIL("pd did not quit");
        }
        const QString output = QString::fromLocal8Bit(p.readAll());
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : lines)
            QVERIFY2(!line.contains(QLatin1String("error")) && !line.contains(QLatin1String("couldn't"))
                         && !line.contains(QLatin1String("... ")),
                     qPrintable(line));
        QCOMPARE(lines.filter(QStringLiteral("check-voice-stop: 1")).size(), 1);
        if (!macros.isEmpty())
            QVERIFY2(lines.contains(QStringLiteral("check-voice-info: list info ") + macros), qPrintable(output));
    }

    // Every shell patch opens on its own without errors.
    void shellAlone_data()
    {
        QTest::addColumn<QString>("patch");
        for (const char* f : {"equal-loudness.pd", "tb_compressor~.pd", "tb_compressorUI.pd", "arbor_vprep.pd"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }
    void shellAlone()
    {
        QFETCH(QString, patch);
        const QString pd = QStandardPaths::findExecutable(QStringLiteral("pd"));
        if (pd.isEmpty())
            QSKIP("pd is not installed");
        RuntimeFolder folder;
        QProcess p;
        p.setWorkingDirectory(folder.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(pd, {"-nogui", "-batch", "-noprefs", "-stderr", "-noaudio", "-nomidi", "-open", folder.path() + "/" + patch,
                     "-send", "pd quit"});
        QVERIFY(p.waitForStarted());
        QVERIFY(p.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(p.readAll()).trimmed();
        QVERIFY2(!output.contains(QLatin1String("error")) && !output.contains(QLatin1String("couldn't")), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestPatchSet)
#include "tst_patchset.moc"
