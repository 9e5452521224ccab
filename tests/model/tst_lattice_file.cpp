#include "Arbor.h"
#include "ArborBall.h"
#include "ModelTestMain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>

namespace
{
QString latticeFile()
{
    return SerializableRoot::configFolder() + QStringLiteral("/arbor_v15.json");
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

QJsonObject written(const Arbor& lattice)
{
    QJsonObject json;
    lattice.write(json);
    return json;
}

int linkCount(const ArborBall* ball)
{
    int n = ball->links().size();
    for (const ArborBall* child : ball->children())
        n += linkCount(child);
    return n;
}
}

class TestLatticeFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void firstStartThenReadBack();
    void userEditedFileRoundTrip();
    void emptyObject();
    void badFiles_data();
    void badFiles();
    void linksToNowhere();
    void reloadKeepsOldTreeAlive();
};

void TestLatticeFile::initTestCase()
{
    QVERIFY(SerializableRoot::configFolder().contains(QLatin1Char(' ')));
    QVERIFY(QDir().mkpath(SerializableRoot::configFolder()));
}

void TestLatticeFile::cleanup()
{
    QFile::remove(latticeFile());
}

void TestLatticeFile::firstStartThenReadBack()
{
    QVERIFY(!QFile::exists(latticeFile()));
    Arbor first;
    QVERIFY(first.init(nullptr));
    QCOMPARE(first.filePath(), latticeFile());
    QVERIFY(QFile::exists(latticeFile()));
    QCOMPARE(first.rootBall()->countBalls(), 361);

    const QJsonObject file = QJsonDocument::fromJson(readFile(latticeFile())).object();
    QCOMPARE(file.value("colors").toArray().size(), 13);
    QCOMPARE(file.value("colors").toArray().at(3).toObject(),
             QJsonObject({ { "prime", 3 }, { "color", "#5173b6" } }));
    QCOMPARE(file.value("root").toObject().value("children").toObject().value("-3").toObject().value("links").toObject(),
             QJsonObject({ { "2", "/2/-3" } }));

    Arbor second;
    QVERIFY(second.init(nullptr));
    QCOMPARE(second.rootBall()->countBalls(), 361);
    QCOMPARE(second.primeColors(), first.primeColors());
    QCOMPARE(linkCount(second.rootBall()), 10);
    QCOMPARE(written(second), written(first));
    QCOMPARE(second.ballMap().size(), first.ballMap().size());

    // Nothing is written at shutdown.
    const QByteArray before = readFile(latticeFile());
    second.term();
    second.term();
    QCOMPARE(readFile(latticeFile()), before);
}

void TestLatticeFile::userEditedFileRoundTrip()
{
    const QByteArray text = R"({
    "colors": [
        {"prime": 1, "color": "#123456"},
        {"prime": 3, "color": "red"},
        {"prime": 5.9, "color": "#00ff00"},
        {"prime": 3, "color": "blue"}
    ],
    "root": {
        "children": {
            "3": {"children": {"-5": {}}, "links": {"2": "/2/3"}},
            "-31": {},
            "2": {"children": {"3": {}}}
        }
    }
})";
    QVERIFY(writeFile(latticeFile(), text));
    Arbor lattice;
    QVERIFY(lattice.init(nullptr));
    QCOMPARE(lattice.rootBall()->countBalls(), 6);
    QCOMPARE(lattice.lookupColor(3), QColor(0, 0, 255));   // the later entry wins
    QCOMPARE(lattice.lookupColor(-5), QColor(0, 255, 0)); // 5.9 reads as 5
    QCOMPARE(lattice.rootBall()->color(), QColor(0x12, 0x34, 0x56));
    QCOMPARE(lattice.lookupColor(31), Arbor::WHITE);
    ArborBall* third = lattice.ballFromPath(ArborPath(QStringLiteral("/3/-5")));
    QVERIFY(third);
    QCOMPARE(third->color(), QColor(0, 255, 0));
    QCOMPARE(lattice.ballFromRatio(ArborRatio(6, 5)), third);
    QCOMPARE(lattice.ballFromPath(ArborPath(QStringLiteral("/3")))->links().value(2).path().toString(),
             QStringLiteral("/2/3"));

    // Writing gives the same tree; the file itself stays as the user wrote it.
    const QJsonObject out = written(lattice);
    QCOMPARE(out.value("root"), QJsonDocument::fromJson(text).object().value("root"));
    QCOMPARE(out.value("colors").toArray().at(1).toObject().value("color").toString(), QStringLiteral("#0000ff"));
    lattice.term();
    QCOMPARE(readFile(latticeFile()), text);
}

void TestLatticeFile::emptyObject()
{
    QVERIFY(writeFile(latticeFile(), "{}"));
    Arbor lattice;
    QVERIFY(lattice.init(nullptr));
    QVERIFY(lattice.primeColors().isEmpty());
    QCOMPARE(lattice.rootBall()->countBalls(), 1);
    QCOMPARE(lattice.rootBall()->color(), Arbor::WHITE);
    QCOMPARE(lattice.ballFromRatio(ArborRatio(1, 1)), lattice.rootBall());
}

void TestLatticeFile::badFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("balls");
    QTest::addColumn<int>("colours");

    QTest::newRow("not json") << QByteArray("this is no lattice") << false << 1 << 0;
    QTest::newRow("truncated") << QByteArray(R"({"root": {"children": {"3": )") << false << 1 << 0;
    QTest::newRow("empty file") << QByteArray() << false << 1 << 0;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << false << 1 << 0;
    QTest::newRow("array") << QByteArray("[1, 2, 3]") << true << 1 << 0;
    QTest::newRow("wrong types") << QByteArray(R"({"colors": 5, "root": [1, 2]})") << true << 1 << 0;
    QTest::newRow("children not an object") << QByteArray(R"({"root": {"children": [1, 2], "links": "x"}})") << true << 1 << 0;
    QTest::newRow("child not an object") << QByteArray(R"({"root": {"children": {"3": 7}}})") << true << 2 << 0;
    QTest::newRow("bad colour entries")
        << QByteArray(R"({"colors": [5, "x", null, {"prime": "a", "color": 5}, {"prime": 1e300, "color": "red"},
                      {"prime": -1e300, "color": "red"}, {"prime": 3, "color": "no such colour"}, {"prime": 2, "color": "#010203"}]})")
        << true << 1 << 1;
    QTest::newRow("bad child keys")
        << QByteArray(R"({"root": {"children": {"4": {}, "200": {}, "127": {}, "0": {}, "1": {}, "abc": {},
                      "": {}, "-2147483648": {}, "99999999999": {}, "3": {"children": {"x": {"children": {"3": {}}}}}}}})")
        << true << 2 << 0;
    QTest::newRow("too deep")
        << QByteArray(R"({"root": {"children": {"3": {"children": {"3": {"children": {"3": {"children": {"3":
                      {"children": {"3": {"children": {"3": {"children": {"3": {"children": {"3": {}}}}}}}}}}}}}}}}}})")
        << true << 7 << 0;
    QTest::newRow("duplicate keys") << QByteArray(R"({"root": {"children": {"3": {}, "3": {"children": {"2": {}}}}}})")
                                    << true << -1 << 0;
    QTest::newRow("same step twice") << QByteArray(R"({"root": {"children": {"3": {}, "+3": {"children": {"2": {}}}, "03": {}}}})")
                                     << true << 3 << 0;   // keys in sorted order: "+3" is read first
}

void TestLatticeFile::badFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, loads);
    QFETCH(int, balls);
    QFETCH(int, colours);
    QVERIFY(writeFile(latticeFile(), text));
    if (!loads)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Couldn't parse file .*arbor_v15\\.json\\. JSON error: ")));
    Arbor lattice;
    QCOMPARE(lattice.init(nullptr), loads);
    if (balls >= 0)
        QCOMPARE(lattice.rootBall()->countBalls(), balls);
    QCOMPARE(lattice.primeColors().size(), colours);
    // Whatever was read can be used and written.
    QVERIFY(lattice.canTransposeTo(ArborRatio(3, 2)));
    for (ArborBall* b : lattice.ballMap())
        QVERIFY(b->path().isValid() && b->path().length() <= ArborPath::MAX_STEPS);
    QJsonObject out;
    lattice.write(out);
    QVERIFY(out.contains("root"));
    // A file that failed to load is left on disk untouched.
    QCOMPARE(readFile(latticeFile()), text);
}

void TestLatticeFile::linksToNowhere()
{
    const QByteArray text = R"({"root": {"children": {"2": {}},
        "links": {"2": "/5/5", "4": "/2", "abc": "garbage/7", "3": 5, "-3": "/2"}}})";
    QVERIFY(writeFile(latticeFile(), text));
    Arbor lattice;
    QVERIFY(lattice.init(nullptr));
    const QMap<int, ArborBall::Link> links = lattice.rootBall()->links();
    QCOMPARE(links.keys(), QList<int>({ -3, 0, 2, 4 }));
    QVERIFY(!lattice.ballFromPath(links.value(2).path()));    // no ball there
    QVERIFY(!links.value(0).path().isValid());
    QVERIFY(!lattice.ballFromPath(links.value(0).path()));    // unparsable
    QCOMPARE(lattice.ballFromPath(links.value(4).path()), lattice.rootBall()->childAtPrime(2));
    QCOMPARE(links.value(-3).color(), Arbor::WHITE);

    // Kept as written.
    const QJsonObject out = written(lattice).value("root").toObject().value("links").toObject();
    QCOMPARE(out.value("2").toString(), QStringLiteral("/5/5"));
    QCOMPARE(out.value("4").toString(), QStringLiteral("/2"));
    QCOMPARE(out.value("0").toString(), QStringLiteral("garbage/7"));
    QVERIFY(!out.contains("3"));
}

void TestLatticeFile::reloadKeepsOldTreeAlive()
{
    Arbor lattice;
    QVERIFY(lattice.init(nullptr));   // default lattice written
    lattice.onTransposed(ArborRatio(3, 2), 3);
    lattice.onNoteToggled(ArborRatio(9, 4), true);   // the /3 ball while transposed
    QPointer<ArborBall> oldRoot = lattice.rootBall();
    QPointer<ArborBall> oldFifth = lattice.ballFromPath(ArborPath(QStringLiteral("/3")));
    QVERIFY(oldFifth->isPlaying());

    QVERIFY(writeFile(latticeFile(), R"({"colors": [{"prime": 3, "color": "#ff0000"}],
                                         "root": {"children": {"3": {}, "-3": {}}}})"));
    QSignalSpy replaced(&lattice, &Arbor::rootBallReplaced);
    QVERIFY(lattice.load());
    QCOMPARE(replaced.count(), 1);
    QVERIFY(oldRoot);                 // still alive for whoever shows it
    QCOMPARE(oldRoot->parent(), &lattice);
    QVERIFY(lattice.rootBall() != oldRoot);
    QCOMPARE(lattice.rootBall()->countBalls(), 3);
    QCOMPARE(lattice.lookupColor(3), QColor(255, 0, 0));
    QCOMPARE(lattice.lookupColor(5).name(), QStringLiteral("#9c0404"));   // other entries stay
    QCOMPARE(lattice.transposeSteps(), QList<int>{ 3 });

    // The map only knows the new tree, and the sounding note lights its new ball.
    for (ArborBall* b : lattice.ballMap())
        QVERIFY(b->parent() == lattice.rootBall() || b == lattice.rootBall());
    ArborBall* fifth = lattice.ballFromPath(ArborPath(QStringLiteral("/3")));
    QVERIFY(fifth->isPlaying());
    lattice.onNoteToggled(ArborRatio(9, 4), false);
    QVERIFY(!fifth->isPlaying());
    QVERIFY(oldFifth);
}

ARBOR_MODEL_TEST_MAIN(TestLatticeFile)
#include "tst_lattice_file.moc"
