#include "ModelTestMain.h"
#include "Settings.h"

#include <csignal>
#include <sys/resource.h>

using namespace ModelTest;

namespace
{
const char* const DEFAULTS = R"({"audioDevice": -1, "framesPerBuffer": 256, "baseFrequency": 440, "calibrationFrequency": 440,
    "baseNote": "A 4", "masterVolume": 0.75, "monophonic": false, "defaultPatch": "Sine.pd", "udpPort": 8888,
    "circlesView": false, "absRelView": 1, "updateCheckInterval": 4, "tSysLastUpdateCheck": "", "windowSize": "-1,-1",
    "windowPos": "-1,-1", "windowMaximized": false})";

// Every option away from its default.
const char* const CHANGED = R"({"audioDevice": 3, "framesPerBuffer": 1024, "baseFrequency": 261.625, "calibrationFrequency": 415,
    "baseNote": "C#3", "masterVolume": 0.5, "monophonic": true, "defaultPatch": "My voice \u00e9.pd", "udpPort": 9999,
    "circlesView": true, "absRelView": 2, "updateCheckInterval": 5, "tSysLastUpdateCheck": "Sun Dec 6 19:41:33 2026",
    "windowSize": "1024,768", "windowPos": "-20,35", "windowMaximized": true})";

// One key read over the defaults, and what is written for it then.
const struct { const char* key; const char* json; QJsonValue written; } VALUES[] = {
    {"audioDevice", "2.9", 2}, {"audioDevice", "-2.9", -2}, {"audioDevice", "\"2\"", -1}, {"udpPort", "2147483647", 2147483647},
    {"udpPort", "-2147483648", -2147483647 - 1}, {"udpPort", "2147483648", 8888}, {"framesPerBuffer", "1e10", 256},
    {"absRelView", "-1e10", 1}, {"baseFrequency", "1e300", 440}, {"masterVolume", "0.1", double(0.1f)},
    {"monophonic", "1", false}, {"monophonic", "true", true}, {"baseNote", "5", "A 4"}, {"defaultPatch", "null", "Sine.pd"},
    {"calibrationFrequency", "true", 440}, {"windowSize", "\"800\"", "-1,-1"}, {"windowSize", "\"800,600,5\"", "800,600"},
    {"windowSize", "\"a,b\"", "0,0"}, {"windowSize", "\",7\"", "0,7"}, {"windowSize", "\"99999999999,5\"", "0,5"},
    {"windowSize", "\"\"", "-1,-1"}, {"windowSize", "[800, 600]", "-1,-1"}, {"windowPos", "\"-5,-6\"", "-5,-6"},
    {"windowPos", "5", "-1,-1"}, {"windowPos", "\"a,b\"", "0,0"},
};

QString optionsFile()
{
    return configFile(QStringLiteral("options.json"));
}

QJsonObject json(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}
} // namespace

// JSON documents, shown through the options document.
class TestDocuments : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QFile::remove(optionsFile());
        QFile::remove(optionsFile() + ".bad");
    }

    void defaultsWrittenThenRead()
    {
        Settings s;
        QVERIFY(s.init());
        QCOMPARE(s.filePath(), optionsFile());
        QCOMPARE(json(readFile(optionsFile())), json(DEFAULTS));
        Settings changed;
        changed.setFilePath(optionsFile());
        changed.read(json(CHANGED));
        QCOMPARE(written(changed), json(CHANGED));
        QVERIFY(changed.save());
        Settings again;
        QVERIFY(again.init());   // loads the file now
        QCOMPARE(written(again), json(CHANGED));
        QCOMPARE(again.mWindowPos, QPoint(-20, 35));
    }

    void values_data() { tableRows(VALUES); }
    void values()
    {
        const auto& c = tableRow(VALUES);
        Settings s;
        s.read(json(QByteArray("{\"") + c.key + "\": " + c.json + ", \"updateCheckInterval\": 3}"));
        const QJsonObject out = written(s);
        QCOMPARE(out.size(), 16);
        QCOMPARE(out.value(c.key), c.written);
        QCOMPARE(out.value("updateCheckInterval"), QJsonValue(3));   // the other keys are still read
    }

    void slotsStoreValues()
    {
        Settings s;
        s.onMasterVolumeChanged(0.25f);
        s.onBaseFrequencyChanged(432.0f);
        s.onMonophonicChanged(true);
        s.onAudioDeviceChanged(2);
        s.onFramesPerBufferChanged(64);
        s.onCalibrationFrequencyChanged(442);
        s.onBaseNoteChanged(QStringLiteral("C 4"));
        const QJsonObject changes = json(R"({"masterVolume": 0.25, "baseFrequency": 432, "monophonic": true, "audioDevice": 2,
            "framesPerBuffer": 64, "calibrationFrequency": 442, "baseNote": "C 4"})");
        QJsonObject expected = json(DEFAULTS);
        for (const QString& key : changes.keys())
            expected.insert(key, changes.value(key));
        QCOMPARE(written(s), expected);
    }

    void emptyArrayAndSyntaxError()
    {
        QVERIFY(writeFile(optionsFile(), "[]"));
        Settings s;
        QVERIFY(s.init());
        QCOMPARE(written(s), json(DEFAULTS));
        QVERIFY(writeFile(optionsFile(), R"({"udpPort": 12,})"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't parse file .*/options\\.json\\. JSON error: \\S")));
        QVERIFY(!s.init());
        QCOMPARE(s.mUdpPort, 8888);
        QCOMPARE(readFile(optionsFile()), QByteArray(R"({"udpPort": 12,})"));
    }

    void saveOnTerm()
    {
        Settings s;
        QVERIFY(s.init());
        s.mUdpPort = 7;
        s.setSaveOnTerm(false);
        s.term();
        QCOMPARE(json(readFile(optionsFile())).value("udpPort"), QJsonValue(8888));
        s.setSaveOnTerm(true);
        s.term();
        QCOMPARE(json(readFile(optionsFile())).value("udpPort"), QJsonValue(7));
    }

    void failedOpenLeavesNothing()
    {
        QVERIFY(writeFile(optionsFile(), "{}"));
        Settings s;
        for (const QString& path : {SerializableRoot::configFolder() + "/no such folder/options.json", optionsFile() + "/options.json"}) {
            s.setFilePath(path);
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Couldn't open file " + QRegularExpression::escape(path) + " for saving\\."));
            QVERIFY(!s.save());
            QVERIFY(!QFile::exists(path));
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't open file .* for loading\\.")));
            QVERIFY(!s.load());
        }
        s.setFilePath(SerializableRoot::configFolder());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't (open|read) file")));
        QVERIFY(!s.load());
        QCOMPARE(readFile(optionsFile()), QByteArray("{}"));
    }

    void fullDiskKeepsOldFile()
    {
        Settings s;
        QVERIFY(s.init());
        const QByteArray before = readFile(optionsFile());
        // A file size limit far below the document's size stands in for a full disk.
        struct rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        s.mUdpPort = 1;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("the previous file is kept")));
        const bool saved = s.save();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!saved);
        QCOMPARE(readFile(optionsFile()), before);
        QCOMPARE(QDir(SerializableRoot::configFolder()).entryList(QDir::Files), QStringList{"options.json"});
    }

    void backup()
    {
        Settings s;
        QVERIFY(s.init());
        for (const QByteArray& text : {QByteArray("broken"), QByteArray("broken again")}) {
            QVERIFY(writeFile(optionsFile(), text));
            QVERIFY(s.backupFile());   // replaces an older copy
            QCOMPARE(readFile(optionsFile() + ".bad"), text);
        }
        s.setFilePath(optionsFile() + ".missing");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("to back up")));
        QVERIFY(!s.backupFile());
    }
};

ARBOR_MODEL_TEST_MAIN(TestDocuments)
#include "tst_documents.moc"
