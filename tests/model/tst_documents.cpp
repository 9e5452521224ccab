#include "Arbor.h"
#include "ArborEvent.h"
#include "ArborRatio.h"
#include "MidiMap.h"
#include "ModelFixture.h"
#include "RfidMap.h"
#include "Settings.h"

#include <csignal>
#include <sys/resource.h>

using namespace ModelTest;

namespace {
const char* const DEFAULTS = R"({"audioDevice": -1, "framesPerBuffer": 256, "baseFrequency": 440,
    "calibrationFrequency": 440, "baseNote": "A 4", "masterVolume": 0.75, "monophonic": false, "udpPort": 8888,
    "defaultPatch": "Sine.pd", "circlesView": false, "absRelView": 1, "updateCheckInterval": 4, "windowSize": "-1,-1",
    "tSysLastUpdateCheck": "", "windowPos": "-1,-1", "windowMaximized": false, "midiInput": "", "midiOutput": "",
    "midiApi": "auto", "midiOutMode": "mpe", "midiBendRange": 2})";

// Every option away from its default.
const char* const CHANGED = R"({"audioDevice": 3, "framesPerBuffer": 1024, "baseFrequency": 261.625,
    "calibrationFrequency": 415, "baseNote": "C#3", "masterVolume": 0.5, "monophonic": true, "udpPort": 9999,
    "defaultPatch": "My voice \u00e9.pd", "circlesView": true, "absRelView": 2, "updateCheckInterval": 5,
    "tSysLastUpdateCheck": "Sun Dec 6 19:41:33 2026", "windowSize": "1024,768", "windowPos": "-20,35",
    "windowMaximized": true, "midiInput": "Keys 1", "midiOutput": "Synth", "midiApi": "jack", "midiOutMode": "mts",
    "midiBendRange": 48})";

// One key read over the defaults, what is written for it then, and whether a
// value no part of the program can use was replaced with a warning.
const struct { const char* key; const char* json; QJsonValue written; bool replaced = false; } VALUES[] = {
    {"audioDevice", "2.9", 2}, {"audioDevice", "-2.9", -2}, {"audioDevice", "\"2\"", -1}, {"absRelView", "-1e10", 1},
    {"audioDevice", "2147483647", 2147483647}, {"audioDevice", "-2147483648", -2147483647 - 1}, {"udpPort", "2147483648", 8888},
    {"framesPerBuffer", "1e10", 256}, {"baseFrequency", "1e300", 440}, {"masterVolume", "0.1", double(0.1f)},
    {"monophonic", "1", false}, {"monophonic", "true", true}, {"baseNote", "5", "A 4"}, {"windowPos", "5", "-1,-1"},
    {"defaultPatch", "null", "Sine.pd"}, {"calibrationFrequency", "true", 440}, {"windowSize", "\"800\"", "-1,-1"},
    {"windowSize", "\"800,600,5\"", "800,600"}, {"windowSize", "\"a,b\"", "0,0"}, {"windowSize", "\",7\"", "0,7"},
    {"windowSize", "\"99999999999,5\"", "0,5"}, {"windowSize", "[800, 600]", "-1,-1"}, {"windowPos", "\"-5,-6\"", "-5,-6"},
    {"calibrationFrequency", "0", 300, true}, {"calibrationFrequency", "601", 600, true}, {"baseFrequency", "0", 20, true},
    {"baseFrequency", "20001", 20000, true}, {"udpPort", "0", 1, true}, {"udpPort", "65536", 65535, true},
    {"masterVolume", "-1", 0, true}, {"masterVolume", "1.5", 1, true}, {"absRelView", "3", 1, true}, {"absRelView", "2", 2},
    {"updateCheckInterval", "6", 4, true}, {"updateCheckInterval", "-1", 4, true}, {"updateCheckInterval", "5", 5},
    {"defaultPatch", "\"/../../x/evil.pd\"", "Sine.pd", true}, {"defaultPatch", "\"..\"", "Sine.pd", true},
    {"defaultPatch", "\"a\\\\b.pd\"", "Sine.pd", true}, {"defaultPatch", "\"\"", "Sine.pd", true},
    {"midiApi", "\"alsa\"", "alsa"}, {"midiApi", "\"ALSA\"", "auto", true}, {"midiOutMode", "\"mts\"", "mts"},
    {"midiOutMode", "\"\"", "mpe", true}, {"midiBendRange", "48.5", 48}, {"midiBendRange", "12", 2, true},
};

const QByteArray MIDI_MAP = R"({"note:0": {"event": 1, "value": 1}, "note:127": {"event": 22, "value": "/-2"},
    "note:060": {"event": 21, "value": "/3"}, "cc:7": {"event": 6, "value": 0}, "program": {"event": 8, "value": -1}})";

// A MIDI map file, what the map writes then (null: the file is refused) and a log line (a regular expression).
const struct { QByteArray file; const char* written; const char* log; } MIDI_MAPS[] = {
    {MIDI_MAP, R"({"note:0": {"event": 1, "value": 1}, "note:127": {"event": 22, "value": "/-2"}, "note:60": {"event":
     21, "value": "/3"}, "cc:7": {"event": 6, "value": 0}, "program": {"event": 8, "value": -1}})",
     "midi_map.json: 3 keys, 1 controllers, program change bound\\.$"},
    {R"({"cc:0": {"event": 7, "value": "/3"}})", R"({"cc:0": {"event": 0, "value": "/3"}})", "0 keys, 1 controllers"},
    {R"({"note:128": {"event": 1}})", "{}", "midi_map.json: member note:128 names no key"},
    {R"({"cc:-1": {"event": 1}})", "{}", "member cc:-1 names no key"}, {R"({"program ": {}})", "{}", "program  names"},
    {R"({"cc:3": [1]})", "{}", "midi_map.json: member cc:3 is not an object"},
    {R"({"note:5": {"event": 21, "value": "/4"}})", "{}", "member note:5 was assigned invalid path /4\\. Ignoring\\.$"},
    {R"({"cc:7": {"event": 1e10, "value": 1}})", R"({"cc:7": {"event": -1, "value": 1}})",
     "cc:7 has event number 1e\\+10"},
    {"[]", nullptr, "midi_map.json is not a JSON object\\. The file is left as it is"},
    {R"({"note:1": )", nullptr, "midi_map.json is not valid JSON \\(\\w"}, {"", nullptr, "is not valid JSON"},
    {QByteArray("\xff\xfe\0{", 4), nullptr, "is not valid JSON"},
    {R"({"p": ")" + QByteArray(int(MidiMap::MAX_FILE_SIZE), 'x') + "\"}", nullptr, "is larger than 4194304 bytes"},
};

// The default MIDI map of a base note: its root key, "key:ratio" of some keys ("-": unbound), a log line.
const char* const DEFAULT_SUMMARY = "midi_map.json: 68 keys, 2 controllers, program change bound";
const struct { const char* note; int root; const char* keys; const char* log = DEFAULT_SUMMARY; } DEFAULT_KEYS[] = {
    {"A 4", 69, "69:1/1 70:16/15 71:9/8 72:6/5 73:5/4 74:4/3 75:45/32 76:3/2 77:8/5 78:5/3 79:9/5 80:15/8 81:2/1 57:1/2"
                " 59:5/9 82:13/6 0:- 127:-"},
    {"C 4", 60, "60:1/1 61:16/15 67:3/2 72:2/1 48:1/2 59:15/16"}, {"C# 3", 49, "49:1/1 61:2/1"}, {"Bb 2", 46, "46:1/1"},
    {"H 4", 69, "69:1/1 76:3/2", "base note \"H 4\" names no key; the 1/1 plays on key 69"},
};
} // namespace

// JSON documents: the options, the MIDI map, map entries of the tag map.
class TestDocuments : public QObject {
    Q_OBJECT
    ConfigFolder mConfigFolder;
    const QString mFile = ConfigFolder::file("options.json");
    const QString mMidiFile = ConfigFolder::file("midi_map.json");
    Arbor mLattice;

private slots:
    void initTestCase() { mLattice.initWithDefaults(); }
    void cleanup() { QFile::remove(mFile); QFile::remove(mMidiFile); }

    void defaultsWrittenThenReadThenSavedOnTerm() {
        Settings s;
        QVERIFY(s.init() && s.filePath() == mFile);
        QCOMPARE(json(readFile(mFile)), json(DEFAULTS));
        s.read(json(CHANGED));
        QVERIFY(written(s) == json(CHANGED) && s.save());
        Settings again;
        QVERIFY(again.init());   // loads the file now
        QCOMPARE(written(again), json(CHANGED));
        again.mUdpPort = 7;
        for (bool saveOnTerm : {false, true}) {
            again.setSaveOnTerm(saveOnTerm);
            again.term();
            QCOMPARE(json(readFile(mFile)).value("udpPort"), QJsonValue(saveOnTerm ? 7 : 9999));
        }
    }

    void values_data() { tableRows(VALUES); }
    void values() {
        const auto& c = tableRow(VALUES);
        Settings s;
        if (c.replaced)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(QString("Option %1 value %2 is not usable, using %3 instead.")
                                     .arg(c.key, QString(c.json).remove('"').replace("\\\\", "\\"), c.written.toVariant().toString())));
        s.read(json(QByteArray("{\"") + c.key + "\": " + c.json + ", \"circlesView\": true}"));
        const QJsonObject out = written(s);
        QCOMPARE(out.value(c.key), c.written);
        QVERIFY(out.size() == 21 && out.value("circlesView") == true);   // the other keys are still read
    }

    void slotsStoreValues() {
        Settings s;
        s.onMasterVolumeChanged(0.25f);
        s.onBaseFrequencyChanged(432.0f);
        s.onMonophonicChanged(true);
        s.onAudioDeviceChanged(2);
        s.onFramesPerBufferChanged(64);
        s.onCalibrationFrequencyChanged(442);
        s.onBaseNoteChanged(QStringLiteral("C 4"));
        QVERIFY(s.mMasterVolume == 0.25f && s.mBaseFrequency == 432.0f && s.mMonophonic && s.mAudioDevice == 2);
        QVERIFY(s.mFramesPerBuffer == 64 && s.mCalibrationFrequency == 442 && s.mBaseNote == "C 4");
    }

    // An array, a syntax error, a missing folder, a file as the folder, a folder as the file.
    void badFiles() {
        const QByteArray broken = R"({"udpPort": 12,})";
        Settings s;
        QVERIFY(writeFile(mFile, "[]") && s.init());   // an empty object: the defaults stay
        QCOMPARE(written(s), json(DEFAULTS));
        QVERIFY(writeFile(mFile, broken));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Couldn't parse file .*options.json. JSON error: \\S"));
        QVERIFY(!s.init() && s.mUdpPort == 8888);
        for (const QString& path : {SerializableRoot::configFolder() + "/none/x.json", mFile + "/x.json"}) {
            s.setFilePath(path);
            for (const QString& action : {"saving", "loading"})
                QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Couldn't open file .*x.json for " + action));
            QVERIFY(!s.save() && !QFile::exists(path) && !s.load());
        }
        s.setFilePath(SerializableRoot::configFolder());
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't (open|read) file")));
        QVERIFY(!s.load());
        QCOMPARE(readFile(mFile), broken);
    }

    // A file size limit far below the document's size stands in for a full disk. A backup replaces an older one.
    void fullDiskKeepsOldFileThenBackup() {
        Settings s;
        QVERIFY(s.init());
        const QByteArray before = readFile(mFile);
        struct rlimit old;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        struct rlimit tiny{16, old.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        s.mUdpPort = 1;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("the previous file is kept")));
        const bool saved = s.save();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!saved && readFile(mFile) == before);
        QCOMPARE(QDir(SerializableRoot::configFolder()).entryList(QDir::Files), QStringList{"options.json"});
        QVERIFY(writeFile(mFile + ".bad", "older") && s.backupFile());
        QCOMPARE(readFile(mFile + ".bad"), readFile(mFile));
        s.setFilePath(mFile + ".missing");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("to back up")));
        QVERIFY(!s.backupFile());
    }

    void midiMapFiles_data() { tableRows(MIDI_MAPS); }
    void midiMapFiles() {
        const auto& c = tableRow(MIDI_MAPS);
        QVERIFY(writeFile(mMidiFile, c.file));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(c.log));
        MidiMap map;
        QCOMPARE(map.init(mLattice, "A 4"), c.written != nullptr);
        QCOMPARE(written(map), json(c.written ? c.written : "{}"));
        map.term();
        QCOMPARE(readFile(mMidiFile), c.file);   // never rewritten
    }

    void defaultMidiMap_data() { tableRows(DEFAULT_KEYS); }
    void defaultMidiMap() {
        const auto& c = tableRow(DEFAULT_KEYS);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(c.log));
        MidiMap map;
        QVERIFY(map.init(mLattice, c.note) && map.rootKey() == c.root);
        for (const QString& pair : QString(c.keys).split(' ')) {
            const int key = pair.section(':', 0, 0).toInt();
            const auto* event = dynamic_cast<const ArborNoteEvent*>(map.key(key));
            const bool held = event && event->type() == ArborEvent::NoteOn && event->value() == 1.0f;
            const QString ratio = held ? ArborRatio::relativeFromPath(event->path()).toString() : "-";
            QCOMPARE(QString("%1:%2").arg(key).arg(ratio), pair);
        }
        QVERIFY(map.controller(1)->type() == ArborEvent::MacroValue1 && !map.controller(2) && !map.controller(128));
        QVERIFY(map.controller(7)->type() == ArborEvent::MasterVolumeSet && !map.key(-1) && !map.key(128));
        QVERIFY(map.program()->type() == ArborEvent::PatchStep && map.program()->value() == 1.0f);
        QCOMPARE(json(readFile(mMidiFile)), written(map));
        MidiMap again;   // reads the file written
        QVERIFY(again.init(mLattice, "A 4") && written(again) == written(map) && again.rootKey() == 69);
    }

    // A path with "event" 21 or 22 (truncated) keeps that type; any other number makes a toggle.
    void tagMapNoteOnOff() {
        for (const char* line : {"RFID a mapped to: event 21, value /3", "RFID b mapped to: event 22, value /-2/5",
                                 "RFID c mapped to: event 0, value /3"})
            QTest::ignoreMessage(QtWarningMsg, line);
        RfidMap map;
        map.read(json(R"({"a": {"event": 21.7, "value": "/3"}, "b": {"event": 22, "value": "/-2/5"},
            "c": {"event": 23, "value": "/3"}})"));
        QCOMPARE(written(map), json(R"({"a": {"event": 21, "value": "/3"}, "b": {"event": 22, "value": "/-2/5"},
            "c": {"event": 0, "value": "/3"}})"));
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
