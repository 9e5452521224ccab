#include "ModelTestMain.h"
#include "SerializableRoot.h"
#include "Settings.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>

#include <csignal>
#include <sys/resource.h>

namespace
{
QString optionsFile()
{
    return SerializableRoot::configFolder() + QStringLiteral("/options.json");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject written(const Settings& s)
{
    QJsonObject json;
    s.write(json);
    return json;
}

// Settings read from one JSON text on top of the defaults.
QJsonObject readBack(const QByteArray& text)
{
    Settings s;
    s.read(QJsonDocument::fromJson(text).object());
    return written(s);
}

// A document that counts how often it is written.
class Counter : public SerializableRoot
{
public:
    void read(const QJsonObject& json) override { mValue = json.value("value").toInt(-1); }
    void write(QJsonObject& json) const override
    {
        ++mWrites;
        json.insert("value", mValue);
    }
    void initWithDefaults() override { mValue = 42; }
    int mValue = 0;
    mutable int mWrites = 0;
};
}

class TestDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void defaultsWrittenOnFirstInit();
    void roundTripEveryOption();
    void values_data();
    void values();
    void geometry_data();
    void geometry();
    void slotsStoreValues();
    void emptyArrayAndSyntaxError();
    void saveOnTerm();
    void failedOpenLeavesNothing_data();
    void failedOpenLeavesNothing();
    void fullDiskKeepsOldFile();
    void loadFromFolder();
    void backup();
};

void TestDocuments::initTestCase()
{
    QVERIFY(SerializableRoot::configFolder().contains(QLatin1Char(' ')));
    QVERIFY(QDir().mkpath(SerializableRoot::configFolder()));
}

void TestDocuments::cleanup()
{
    QFile::remove(optionsFile());
    QFile::remove(optionsFile() + ".bad");
}

void TestDocuments::defaultsWrittenOnFirstInit()
{
    Settings s;
    QVERIFY(s.init());
    QCOMPARE(s.filePath(), optionsFile());
    const QJsonObject file = QJsonDocument::fromJson(readFile(optionsFile())).object();
    const QJsonObject expected = QJsonDocument::fromJson(R"({
        "audioDevice": -1, "framesPerBuffer": 256, "baseFrequency": 440, "calibrationFrequency": 440,
        "baseNote": "A 4", "masterVolume": 0.75, "monophonic": false, "defaultPatch": "Sine.pd",
        "udpPort": 8888, "circlesView": false, "absRelView": 1, "updateCheckInterval": 4,
        "tSysLastUpdateCheck": "", "windowSize": "-1,-1", "windowPos": "-1,-1", "windowMaximized": false})").object();
    QCOMPARE(file, expected);

    Settings again;
    again.mUdpPort = 1;
    QVERIFY(again.init());
    QCOMPARE(written(again), expected);
}

void TestDocuments::roundTripEveryOption()
{
    Settings s;
    s.setFilePath(optionsFile());
    s.mAudioDevice = 3;
    s.mFramesPerBuffer = 1024;
    s.mBaseFrequency = 261.625f;
    s.mCalibrationFrequency = 415;
    s.mBaseNote = QStringLiteral("C#3");
    s.mMasterVolume = 0.5f;
    s.mMonophonic = true;
    s.mDefaultPatch = QStringLiteral("My voice é.pd");
    s.mUdpPort = 9999;
    s.mCirclesView = true;
    s.mAbsRelView = 2;
    s.mUpdateCheckInterval = 5;
    s.mTSysLastUpdateCheck = QStringLiteral("Sun Dec 6 19:41:33 2026");
    s.mWindowSize = QSize(1024, 768);
    s.mWindowPos = QPoint(-20, 35);
    s.mWindowMaximized = true;
    QVERIFY(s.save());

    Settings t;
    t.setFilePath(optionsFile());
    QVERIFY(t.load());
    QCOMPARE(t.mAudioDevice, 3);
    QCOMPARE(t.mFramesPerBuffer, 1024);
    QCOMPARE(t.mBaseFrequency, 261.625f);
    QCOMPARE(t.mCalibrationFrequency, 415);
    QCOMPARE(t.mBaseNote, QStringLiteral("C#3"));
    QCOMPARE(t.mMasterVolume, 0.5f);
    QCOMPARE(t.mMonophonic, true);
    QCOMPARE(t.mDefaultPatch, QStringLiteral("My voice é.pd"));
    QCOMPARE(t.mUdpPort, 9999);
    QCOMPARE(t.mCirclesView, true);
    QCOMPARE(t.mAbsRelView, 2);
    QCOMPARE(t.mUpdateCheckInterval, 5);
    QCOMPARE(t.mTSysLastUpdateCheck, s.mTSysLastUpdateCheck);
    QCOMPARE(t.mWindowSize, QSize(1024, 768));
    QCOMPARE(t.mWindowPos, QPoint(-20, 35));
    QCOMPARE(t.mWindowMaximized, true);
    QCOMPARE(written(t), written(s));
}

void TestDocuments::values_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("expected");
    QTest::newRow("int truncated") << QByteArray(R"({"audioDevice": 2.9})") << "audioDevice" << QJsonValue(2);
    QTest::newRow("negative truncated") << QByteArray(R"({"audioDevice": -2.9})") << "audioDevice" << QJsonValue(-2);
    QTest::newRow("string for int") << QByteArray(R"({"audioDevice": "2"})") << "audioDevice" << QJsonValue(-1);
    QTest::newRow("int max") << QByteArray(R"({"udpPort": 2147483647})") << "udpPort" << QJsonValue(2147483647);
    QTest::newRow("int min") << QByteArray(R"({"udpPort": -2147483648})") << "udpPort" << QJsonValue(-2147483647 - 1);
    QTest::newRow("above int") << QByteArray(R"({"udpPort": 2147483648})") << "udpPort" << QJsonValue(8888);
    QTest::newRow("1e10") << QByteArray(R"({"framesPerBuffer": 1e10})") << "framesPerBuffer" << QJsonValue(256);
    QTest::newRow("-1e10") << QByteArray(R"({"absRelView": -1e10})") << "absRelView" << QJsonValue(1);
    QTest::newRow("huge float") << QByteArray(R"({"baseFrequency": 1e300})") << "baseFrequency" << QJsonValue(440);
    QTest::newRow("float narrowed") << QByteArray(R"({"masterVolume": 0.1})") << "masterVolume" << QJsonValue(double(0.1f));
    QTest::newRow("number for bool") << QByteArray(R"({"monophonic": 1})") << "monophonic" << QJsonValue(false);
    QTest::newRow("bool") << QByteArray(R"({"monophonic": true})") << "monophonic" << QJsonValue(true);
    QTest::newRow("number for string") << QByteArray(R"({"baseNote": 5})") << "baseNote" << QJsonValue("A 4");
    QTest::newRow("null string") << QByteArray(R"({"defaultPatch": null})") << "defaultPatch" << QJsonValue("Sine.pd");
    QTest::newRow("bool for int") << QByteArray(R"({"calibrationFrequency": true})") << "calibrationFrequency" << QJsonValue(440);
    QTest::newRow("others still read") << QByteArray(R"({"audioDevice": "x", "udpPort": 7})") << "udpPort" << QJsonValue(7);
}

void TestDocuments::values()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, key);
    QFETCH(QJsonValue, expected);
    const QJsonObject out = readBack(text);
    QCOMPARE(out.size(), 16);
    QCOMPARE(out.value(key), expected);
}

void TestDocuments::geometry_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("one number") << QByteArray(R"("800")") << "-1,-1";
    QTest::newRow("three numbers") << QByteArray(R"("800,600,5")") << "800,600";
    QTest::newRow("letters") << QByteArray(R"("a,b")") << "0,0";
    QTest::newRow("empty parts") << QByteArray(R"(",7")") << "0,7";
    QTest::newRow("negative") << QByteArray(R"("-5,-6")") << "-5,-6";
    QTest::newRow("beyond int") << QByteArray(R"("99999999999,5")") << "0,5";
    QTest::newRow("empty") << QByteArray(R"("")") << "-1,-1";
    QTest::newRow("number") << QByteArray("5") << "-1,-1";
    QTest::newRow("array") << QByteArray("[800, 600]") << "-1,-1";
}

void TestDocuments::geometry()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, written);
    const QJsonObject out = readBack("{\"windowSize\": " + value + ", \"windowPos\": " + value + "}");
    QCOMPARE(out.value("windowSize").toString(), written);
    QCOMPARE(out.value("windowPos").toString(), written);
}

void TestDocuments::slotsStoreValues()
{
    Settings s;
    s.onMasterVolumeChanged(0.3f);
    s.onMasterVolumeChanged(0.3f);
    s.onBaseFrequencyChanged(432.0f);
    s.onMonophonicChanged(true);
    s.onAudioDeviceChanged(2);
    s.onFramesPerBufferChanged(64);
    s.onCalibrationFrequencyChanged(442);
    s.onBaseNoteChanged(QStringLiteral("C 4"));
    QCOMPARE(s.mMasterVolume, 0.3f);
    QCOMPARE(s.mBaseFrequency, 432.0f);
    QVERIFY(s.mMonophonic);
    QCOMPARE(s.mAudioDevice, 2);
    QCOMPARE(s.mFramesPerBuffer, 64);
    QCOMPARE(s.mCalibrationFrequency, 442);
    QCOMPARE(s.mBaseNote, QStringLiteral("C 4"));
}

void TestDocuments::emptyArrayAndSyntaxError()
{
    QVERIFY(writeFile(optionsFile(), "[]"));
    Settings s;
    QVERIFY(s.init());
    QCOMPARE(written(s), written(Settings()));

    QVERIFY(writeFile(optionsFile(), R"({"udpPort": 12,})"));
    Settings t;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't parse file .*/options\\.json\\. JSON error: \\S")));
    QVERIFY(!t.init());
    QCOMPARE(t.mUdpPort, 8888);
    QCOMPARE(readFile(optionsFile()), QByteArray(R"({"udpPort": 12,})"));
}

void TestDocuments::saveOnTerm()
{
    Counter c;
    c.setSaveOnTerm(false);
    QVERIFY(c.init("counter.json"));   // created from defaults
    QCOMPARE(c.mWrites, 1);
    c.term();
    c.term();
    QCOMPARE(c.mWrites, 1);

    Counter d;
    QVERIFY(d.init("counter.json"));
    QCOMPARE(d.mValue, 42);
    d.mValue = 7;
    d.term();
    d.term();   // harmless
    Counter e;
    QVERIFY(e.init("counter.json"));
    QCOMPARE(e.mValue, 7);
    QFile::remove(e.filePath());
}

void TestDocuments::failedOpenLeavesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing folder") << SerializableRoot::configFolder() + "/no such folder/options.json";
    QTest::newRow("parent is a file") << optionsFile() + "/options.json";
}

void TestDocuments::failedOpenLeavesNothing()
{
    QFETCH(QString, path);
    Settings original;
    original.mUdpPort = 4321;
    original.setFilePath(optionsFile());
    QVERIFY(original.save());

    Settings s;
    s.setFilePath(path);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't open file %1 for saving\\.")
                                                               .arg(QRegularExpression::escape(path))));
    QVERIFY(!s.save());
    QVERIFY(!QFile::exists(path));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't open file .* for loading\\.")));
    QVERIFY(!s.load());
    QCOMPARE(QJsonDocument::fromJson(readFile(optionsFile())).object().value("udpPort").toInt(), 4321);
}

void TestDocuments::fullDiskKeepsOldFile()
{
    Settings original;
    original.mUdpPort = 4321;
    original.setFilePath(optionsFile());
    QVERIFY(original.save());
    const QByteArray before = readFile(optionsFile());

    // A file size limit far below the document's size stands in for a full disk.
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);

    Settings s;
    s.mUdpPort = 1;
    s.setFilePath(optionsFile());
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("the previous file is kept")));
    const bool saved = s.save();

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!saved);
    QCOMPARE(readFile(optionsFile()), before);
    QCOMPARE(QDir(SerializableRoot::configFolder()).entryList(QDir::Files), QStringList{ "options.json" });
}

void TestDocuments::loadFromFolder()
{
    Settings s;
    s.setFilePath(SerializableRoot::configFolder());
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't (open|read) file")));
    QVERIFY(!s.load());
}

void TestDocuments::backup()
{
    Settings s;
    QVERIFY(s.init());
    QVERIFY(writeFile(optionsFile(), "broken"));
    QVERIFY(s.backupFile());
    QCOMPARE(readFile(optionsFile() + ".bad"), QByteArray("broken"));
    QVERIFY(writeFile(optionsFile(), "broken again"));
    QVERIFY(s.backupFile(".bad"));   // replaces the older copy
    QCOMPARE(readFile(optionsFile() + ".bad"), QByteArray("broken again"));

    Settings none;
    none.setFilePath(optionsFile() + ".missing");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("to back up")));
    QVERIFY(!none.backupFile());
}

ARBOR_MODEL_TEST_MAIN(TestDocuments)
#include "tst_documents.moc"
