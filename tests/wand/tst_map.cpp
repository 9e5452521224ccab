#include "WandTestSupport.h"

#include "ArborEvent.h"
#include "RfidMap.h"

#include <QJsonDocument>
#include <QJsonObject>

using WandTest::LogCapture;

class TestMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LogCapture::install(); }
    void cleanup() { WandTest::removeMapFile(); }

    void entries_data();
    void entries();
    void lookupDoesNotCutOrKeepCase();
    void missingFileCreatedEmpty();
    void badFilesLeftUntouched_data();
    void badFilesLeftUntouched();
    void termNeverWrites();
    void writeGivesReadableEntries();
};

// Each row: a map file, a tag to look up and what it must yield. type -100
// means "not found". path empty means a plain event (no path).
void TestMap::entries_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("type");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("logLine");

    const int notFound = -100;
    QTest::newRow("long mixed-case name keeps first 10, lower-cased")
        << QByteArray(R"({"04A3B2C1D9E8F7": {"event": 0, "value": "/2/-3/3"}})") << "04A3B2C1D9" << 0
        << 1.0f << "/2/-3/3" << "RFID 04a3b2c1d9 mapped to: event 0, value /2/-3/3";
    QTest::newRow("path wins over event")
        << QByteArray(R"({"abc": {"event": 5, "value": "/3"}})") << "ABC" << 0 << 1.0f << "/3"
        << "RFID abc mapped to: event 0, value /3";
    QTest::newRow("path without leading slash is value 0")
        << QByteArray(R"({"abc": {"event": 2, "value": "2/-3"}})") << "abc" << 2 << 0.0f << QString()
        << "RFID abc mapped to: event 2, value 0";
    QTest::newRow("event 0 with number is a plain toggle")
        << QByteArray(R"({"abc": {"event": 0, "value": 7}})") << "abc" << 0 << 7.0f << QString()
        << "RFID abc mapped to: event 0, value 7";
    QTest::newRow("transpose down along 3")
        << QByteArray(R"({"t": {"event": 2, "value": -3}})") << "t" << 2 << -3.0f << QString()
        << "RFID t mapped to: event 2, value -3";
    QTest::newRow("event 2.9 truncates to 2")
        << QByteArray(R"({"t": {"event": 2.9, "value": 0.1}})") << "t" << 2 << 0.1f << QString()
        << "RFID t mapped to: event 2, value 0.1";
    QTest::newRow("event -1.5 truncates to -1")
        << QByteArray(R"({"t": {"event": -1.5, "value": 1}})") << "t" << -1 << 1.0f << QString()
        << "RFID t mapped to: event -1, value 1";
    QTest::newRow("event 1e10 is unknown")
        << QByteArray(R"({"t": {"event": 1e10, "value": 1}})") << "t" << -1 << 1.0f << QString()
        << "RFID t has event number 1e+10 out of range; using -1.";
    QTest::newRow("event -1e300 is unknown")
        << QByteArray(R"({"t": {"event": -1e300, "value": 1}})") << "t" << -1 << 1.0f << QString()
        << "RFID t mapped to: event -1, value 1";
    QTest::newRow("event at int limit is kept")
        << QByteArray(R"({"t": {"event": 2147483647.5, "value": 1}})") << "t" << 2147483647 << 1.0f
        << QString() << "RFID t mapped to: event 2147483647, value 1";
    QTest::newRow("value 1e300 beyond float becomes 0")
        << QByteArray(R"({"t": {"event": 6, "value": 1e300}})") << "t" << 6 << 0.0f << QString()
        << "RFID t has value 1e+300 out of range; using 0.";
    QTest::newRow("value too small for float underflows to 0")
        << QByteArray(R"({"t": {"event": 6, "value": -1e-300}})") << "t" << 6 << 0.0f << QString()
        << "RFID t mapped to: event 6, value 0";
    QTest::newRow("value shown with 6 digits")
        << QByteArray(R"({"t": {"event": 9, "value": 261.6255653}})") << "t" << 9 << 261.6255653f
        << QString() << "RFID t mapped to: event 9, value 261.626";
    QTest::newRow("boolean value is 0")
        << QByteArray(R"({"t": {"event": 7, "value": true}})") << "t" << 7 << 0.0f << QString()
        << "RFID t mapped to: event 7, value 0";
    QTest::newRow("string event is 0")
        << QByteArray(R"({"t": {"event": "3", "value": 2}})") << "t" << 0 << 2.0f << QString()
        << "RFID t mapped to: event 0, value 2";
    QTest::newRow("member that is not an object")
        << QByteArray(R"({"t": 5})") << "t" << 0 << 0.0f << QString() << "RFID t mapped to: event 0, value 0";
    QTest::newRow("member that is an array")
        << QByteArray(R"({"t": [1, "/3"]})") << "t" << 0 << 0.0f << QString() << "RFID t mapped to: event 0, value 0";
    QTest::newRow("empty member object")
        << QByteArray(R"({"t": {}})") << "t" << 0 << 0.0f << QString() << "RFID t mapped to: event 0, value 0";
    QTest::newRow("invalid prime in path is skipped")
        << QByteArray(R"({"t": {"event": 0, "value": "/4/3"}})") << "t" << notFound << 0.0f << QString()
        << "RFID t was assigned invalid path /4/3. Ignoring.";
    QTest::newRow("non-number step in path is skipped")
        << QByteArray(R"({"t": {"event": 0, "value": "/2/x"}})") << "t" << notFound << 0.0f << QString()
        << "RFID t was assigned invalid path /2/x. Ignoring.";
    QTest::newRow("last of names agreeing in 10 characters wins")
        << QByteArray(R"({"abcdefghij2": {"event": 2, "value": 3}, "ABCDEFGHIJ1": {"event": 1, "value": 1}})")
        << "abcdefghij" << 2 << 3.0f << QString() << "RFID abcdefghij mapped to: event 2, value 3";
    QTest::newRow("same name lower after upper wins")
        << QByteArray(R"({"ABCDEFGHIJ": {"event": 1, "value": 1}, "abcdefghijX": {"event": 5, "value": 0.5}})")
        << "AbCdEfGhIj" << 5 << 0.5f << QString() << "RFID abcdefghij mapped to: event 5, value 0.5";
    QTest::newRow("percent signs in names stay literal")
        << QByteArray(R"({"%2%1": {"event": 3, "value": 1}})") << "%2%1" << 3 << 1.0f << QString()
        << "RFID %2%1 mapped to: event 3, value 1";
    QTest::newRow("top-level array is an empty map")
        << QByteArray(R"([{"t": {"event": 1, "value": 1}}])") << "t" << notFound << 0.0f << QString() << QString();
    QTest::newRow("empty object is an empty map")
        << QByteArray("{}") << "t" << notFound << 0.0f << QString() << QString();
}

void TestMap::entries()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, tag);
    QFETCH(int, type);
    QFETCH(float, value);
    QFETCH(QString, path);
    QFETCH(QString, logLine);

    QVERIFY(WandTest::writeMapFile(json));
    LogCapture::clear();
    RfidMap map;
    QVERIFY(map.init());
    if (!logLine.isEmpty())
        QVERIFY2(LogCapture::has(logLine), qPrintable(LogCapture::all().join(QLatin1Char('\n'))));

    const ArborEvent* event = map.lookup(tag);
    if (type == -100) {
        QVERIFY(!event);
        return;
    }
    QVERIFY(event);
    QCOMPARE(int(event->type()), type);
    QCOMPARE(event->value(), value);
    const auto* note = dynamic_cast<const ArborNoteEvent*>(event);
    QCOMPARE(note != nullptr, !path.isEmpty());
    if (note)
        QCOMPARE(note->path().toString(), path);
    QCOMPARE(map.size(), 1);
}

void TestMap::lookupDoesNotCutOrKeepCase()
{
    QVERIFY(WandTest::writeMapFile(R"({"04A3B2C1D9E8F7": {"event": 1, "value": 1}, "Zz": {"event": 4, "value": 0.5}})"));
    RfidMap map;
    QVERIFY(map.init());
    QVERIFY(map.lookup(QStringLiteral("04a3b2c1d9")));
    QVERIFY(map.lookup(QStringLiteral("zZ")));
    QVERIFY(!map.lookup(QStringLiteral("04a3b2c1d9e8f7")));
    QVERIFY(!map.lookup(QStringLiteral("04a3b2c1d")));
    QVERIFY(!map.lookup(QString()));
}

void TestMap::missingFileCreatedEmpty()
{
    WandTest::removeMapFile();
    RfidMap map;
    QVERIFY(map.init());
    QCOMPARE(map.size(), 0);
    QCOMPARE(map.filePath(), WandTest::mapFilePath());
    const QJsonDocument doc = QJsonDocument::fromJson(WandTest::readMapFile());
    QVERIFY(doc.isObject());
    QVERIFY(doc.object().isEmpty());

    // A second start loads what the first one wrote.
    RfidMap again;
    QVERIFY(again.init());
    QCOMPARE(again.size(), 0);
}

void TestMap::badFilesLeftUntouched_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logPart");
    QTest::newRow("syntax error") << QByteArray("{ \"t\": {\"event\": 1,, }") << "JSON error:";
    QTest::newRow("not json at all") << QByteArray("\xff\xfe garbage \x00\x01", 16) << "JSON error:";
    QTest::newRow("empty file") << QByteArray() << "JSON error:";
    QByteArray huge = "{\"t\": {\"event\": 1, \"value\": 1}, \"pad\": \"";
    huge += QByteArray(int(RfidMap::MAX_FILE_SIZE), 'x');
    huge += "\"}";
    QTest::newRow("too large") << huge << "is too large";
}

void TestMap::badFilesLeftUntouched()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logPart);
    QVERIFY(WandTest::writeMapFile(bytes));
    LogCapture::clear();
    {
        RfidMap map;
        QVERIFY(!map.init());
        QCOMPARE(map.size(), 0);
        QVERIFY(!map.lookup(QStringLiteral("t")));
        map.term();
        map.term();
    }
    QCOMPARE(LogCapture::countContaining(logPart), 1);
    QVERIFY(LogCapture::countContaining(WandTest::mapFilePath()) >= 1);
    QCOMPARE(WandTest::readMapFile(), bytes);
}

void TestMap::termNeverWrites()
{
    const QByteArray bytes = "{\"T\":{\"event\":2,\"value\":3}}";
    QVERIFY(WandTest::writeMapFile(bytes));
    {
        RfidMap map;
        QVERIFY(map.init());
        QVERIFY(!map.saveOnTerm());
        map.term();
    }
    QCOMPARE(WandTest::readMapFile(), bytes);
}

void TestMap::writeGivesReadableEntries()
{
    QVERIFY(WandTest::writeMapFile(R"({
        "04A3B2C1D9": {"event": 0, "value": "/2/-3/3"},
        "stop": {"event": 1, "value": 1},
        "down3": {"event": 2, "value": -3},
        "bad": {"event": 0, "value": "/9"}
    })"));
    RfidMap map;
    QVERIFY(map.init());
    QJsonObject written;
    map.write(written);
    const QJsonObject expected = QJsonDocument::fromJson(R"({
        "04a3b2c1d9": {"event": 0, "value": "/2/-3/3"},
        "stop": {"event": 1, "value": 1},
        "down3": {"event": 2, "value": -3}
    })").object();
    QCOMPARE(written, expected);
}

WAND_TEST_MAIN(TestMap)
#include "tst_map.moc"
