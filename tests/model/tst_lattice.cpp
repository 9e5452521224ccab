#include "Arbor.h"
#include "ArborBall.h"
#include "ModelFixture.h"

#include <climits>

using namespace ModelTest;

namespace {
// JSON written with single quotes, which keeps the texts readable here.
QByteArray jsonText(const char* text) {
    return QByteArray(text).replace('\'', '"');
}

// The main balls of the default lattice and their links (key 2); each also has the 18 leaves.
const QMap<QString, QString> DEFAULT_MAIN_BALLS = {
    {"/", ""}, {"/-2", ""}, {"/-2/-2", ""}, {"/-2/-2/3", "/-2/3"}, {"/-2/-2/3/3", "/-2/3/3"}, {"/-2/-3", "/-3"},
    {"/-2/3", "/3"}, {"/-2/3/3", "/3/3"}, {"/2", ""}, {"/2/-3", ""}, {"/2/-3/-3", ""}, {"/2/-3/-3/-3", ""},
    {"/2/3", ""}, {"/2/3/3", ""}, {"/-3", "/2/-3"}, {"/-3/-3", "/2/-3/-3"}, {"/-3/-3/-3", "/2/-3/-3/-3"},
    {"/3", "/2/3"}, {"/3/3", "/2/3/3"},
};
const Steps LEAF_STEPS = {-31, -29, -23, -19, -17, -13, -11, -7, -5, 5, 7, 11, 13, 17, 19, 23, 29, 31};

const struct { Steps transposition; const char* path; Steps abs; int last, highest; } ABS_STEPS[] = {
    {{}, "/", {}, 1, 1}, {{}, "/3/3", {3, 3}, 3, 3}, {{}, "/2/5", {2, 5}, 32, 32}, {{3}, "/-3/5", {5}, 32, 32},
    {{3, 3}, "/-3/2", {3, 2}, 3, 3}, {{5}, "/-5", {}, 1, 1}, {{5}, "/-3", {5, -3}, 3, 5}, {{7}, "/", {7}, 7, 7},
    {{7}, "/2", {7, 2}, 2, 7}, {{3, 5}, "/-5/-3", {}, 1, 1},
};

// Transposition steps as the engine reports them (0 resets) and what the lattice keeps.
const struct { Steps steps, kept; } TRANSPOSITIONS[] = {
    {{3, -3}, {}}, {{3, 3, -3}, {3}}, {{5, -3, -5}, {-3}}, {{2, 7, -7, -2, 11}, {11}}, {{3, 5, 0}, {}},
    {{3, 0, -5}, {-5}}, {{3, 4, INT_MIN}, {3}},
};

// May the lattice /3/3, transposed by t, move by the step s at this base frequency? Transposed by 3^38/2^60
// (about 1.17), the ball /3/3 has the key 3^40/2^62, which a fifth up would overflow.
const struct { U64 tn, td, sn, sd; bool ok; float base = 440; } TRANSPOSE_LIMITS[] = {
    {1, 16, 1, 2, false}, {1, 8, 1, 2, true}, {32, 1, 2, 1, false}, {16, 1, 2, 1, true}, {1, 1, 1, 2, true, 40},
    {1, 1, 2, 1, true, 10000}, {1, 1, 0, 1, false}, {1350851717672992089ULL, 1ULL << 60, 3, 2, false},
    {1350851717672992089ULL, 1ULL << 60, 2, 3, true},
};

// Lattice files: whether they load, and the balls and colours they give.
const struct { QByteArray text; bool loads; int balls, colours; } FILES[] = {
    {"{}", true, 1, 0}, {jsonText("{'root': {'children': {'3': "), false, 1, 0}, {"", false, 1, 0},
    {"[1, 2, 3]", true, 1, 0}, {jsonText("{'colors': 5, 'root': {'children': [1, 2], 'links': 'x'}}"), true, 1, 0},
    {jsonText("{'root': {'children': {'3': 7}}}"), true, 2, 0},
    {jsonText("{'colors': [5, null, {'prime': 'a', 'color': 5}, {'prime': 1e300, 'color': 'red'}, "
              "{'prime': 3, 'color': 'no such colour'}, {'prime': 2, 'color': '#010203'}]}"), true, 1, 1},
    {jsonText("{'root': {'children': {'4': {}, '127': {}, '0': {}, '1': {}, 'abc': {}, '': {}, '-2147483648': {}, "
              "'99999999999': {}, '3': {'children': {'x': {'children': {'3': {}}}}}}}}"), true, 2, 0},
    {jsonText("{'root': {'children': {'3': {'children': {'3': {'children': {'3': {'children': {'3': {'children': "
              "{'3': {'children': {'3': {'children': {'3': {'children': {'3': {}}}}}}}}}}}}}}}}}}"), true, 7, 0},
    // Keys in sorted order: "+3" is read first, "3" and "03" are the same step again.
    {jsonText("{'root': {'children': {'3': {}, '+3': {'children': {'2': {}}}, '03': {}}}}"), true, 3, 0},
};

QList<ArborBall*> allBalls(ArborBall* ball) {
    QList<ArborBall*> out{ball};
    for (ArborBall* child : ball->children())
        out += allBalls(child);
    return out;
}

int enabledCount(const Arbor& lattice) {
    const QList<ArborBall*> balls = allBalls(lattice.rootBall());
    return int(std::count_if(balls.begin(), balls.end(), [](ArborBall* b) { return b->isEnabled(); }));
}

ArborBall* ball(const Arbor& lattice, const char* path) {
    return lattice.ballFromPath(ArborPath(QString::fromLatin1(path)));
}
} // namespace

// Balls, the lattice and the lattice file.
class TestLattice : public QObject {
    Q_OBJECT
    ConfigFolder mConfigFolder;
    const QString mFile = ConfigFolder::file("arbor_v15.json");

private slots:
    void cleanup() { QFile::remove(mFile); }

    void ballSignals() {
        Arbor lattice;
        lattice.read(json(jsonText("{'root': {'children': {'-2': {}, '3': {'children': {'3': {'children': {'5': {}}}}}}}}")));
        QStringList order;
        for (ArborBall* b : allBalls(lattice.rootBall()))
            connect(b, &ArborBall::enabledChanged, this, [&order, b](bool on) { order << b->path().toString() + (on ? "+" : "-"); });
        ArborBall* root = lattice.rootBall();
        root->setEnabled(false);   // children first, in ascending step order
        QCOMPARE(order, QStringList({"/-2-", "/3/3/5-", "/3/3-", "/3-", "/-"}));
        ball(lattice, "/3/3/5")->setEnabled(true);
        root->setEnabled(false);   // already off: the subtree is not visited
        root->setEnabled(true);
        QCOMPARE(order.mid(5), QStringList({"/3/3/5+", "/-2+", "/3/3+", "/3+", "/+"}));
        QSignalSpy playing(root, &ArborBall::playingChanged);
        root->setPlaying(true);
        root->setPlaying(true);   // unchanged: no signal
        root->togglePlaying();
        root->togglePlaying();
        QCOMPARE(playing.count(), 3);
    }

    void absSteps_data() { tableRows(ABS_STEPS); }
    void absSteps() {
        const auto& c = tableRow(ABS_STEPS);
        Arbor lattice;
        for (int step : c.transposition)
            lattice.onTransposed(ArborRatio(1, 1), step);
        auto* b = new ArborBall(ArborPath(c.path), Arbor::WHITE, lattice.rootBall());
        QCOMPARE(b->absPathSteps(), c.abs);
        QVERIFY(b->lastAbsStep() == c.last && b->highestAbsStep() == c.highest);
    }

    // Every ball is a main ball or one of its leaves, coloured by its last step.
    void defaultLattice() {
        Arbor lattice;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Arbor::initWithDefaults - mPrimeColors:"));
        lattice.initWithDefaults();
        QCOMPARE(lattice.rootBall()->countBalls(), 19 * 19);
        for (ArborBall* b : allBalls(lattice.rootBall())) {
            const Steps steps = b->path().toList();
            const bool main = DEFAULT_MAIN_BALLS.contains(b->path().toString());
            ArborPath parent(b->path());
            parent.removeLeaf();
            QVERIFY(main || (DEFAULT_MAIN_BALLS.contains(parent.toString()) && LEAF_STEPS.contains(steps.last())));
            QVERIFY(main ? b->children().size() >= 18 : b->children().isEmpty());
            QCOMPARE(b->color(), lattice.lookupColor(steps.isEmpty() ? 1 : steps.last()));
            const QString link = DEFAULT_MAIN_BALLS.value(b->path().toString());
            const ArborBall::Link found = b->links().value(2);
            QCOMPARE(b->links().keys(), link.isEmpty() ? Steps{} : Steps{2});
            QVERIFY(link.isEmpty() || (found.path().toString() == link && lattice.ballFromPath(found.path())));
            QVERIFY(link.isEmpty() || found.color() == lattice.lookupColor(2));
        }
        for (int p : {0, 1, 2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31})   // a colour for each, both directions
            QVERIFY(lattice.lookupColor(p) != Arbor::WHITE && lattice.lookupColor(-p) == lattice.lookupColor(p));
        for (int odd : {37, 4, INT_MIN})
            QCOMPARE(lattice.lookupColor(odd), Arbor::WHITE);
    }

    void transpose_data() { tableRows(TRANSPOSITIONS); }
    void transpose() {
        const auto& c = tableRow(TRANSPOSITIONS);
        Arbor lattice;
        lattice.initWithDefaults();
        QSignalSpy spy(&lattice, &Arbor::transposeOrBaseFrequencyChanged);
        ArborRatio total(1, 1);
        for (int step : c.steps) {
            if (Arbor::isValidPrime(step))
                total *= ArborRatio::relativeFromPath(ArborPath(static_cast<signed char>(step)));
            else if (step == 0)
                total = ArborRatio(1, 1);
            lattice.onTransposed(total, step);
        }
        for (float hz : {440.0f, 432.0f, 432.0f})   // only a change of base frequency is signalled
            lattice.onBaseFrequencyChanged(hz);
        QVERIFY(spy.count() == c.steps.size() + 1 && lattice.transposeSteps() == c.kept);
        for (ArborBall* b : allBalls(lattice.rootBall())) {   // keys: transposition times path ratio
            ArborRatio key(total);
            key *= b->path().toRatio();
            QCOMPARE(lattice.ballFromRatio(key)->path().toRatio(), b->path().toRatio());
        }
    }

    void canTransposeTo_data() { tableRows(TRANSPOSE_LIMITS); }
    void canTransposeTo() {
        const auto& c = tableRow(TRANSPOSE_LIMITS);
        Arbor lattice;
        lattice.read(json(jsonText("{'root': {'children': {'3': {'children': {'3': {}}}}}}")));
        lattice.onBaseFrequencyChanged(c.base);
        lattice.onTransposed(ArborRatio(c.tn, c.td), 0);
        if (!c.ok && c.sn == 3) {   // the fifth that overflows
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("canMultiply fail")));
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(
                "^canTransposeTo fail on \\d+/\\d+ to 3/2:\n  ball: /3/3 at 9/4 can't be played$"));
        }
        QCOMPARE(lattice.canTransposeTo(ArborRatio(c.sn, c.sd)), c.ok);
    }

    void notesFollowTransposition() {
        Arbor lattice;
        lattice.initWithDefaults();
        ArborBall* fifth = ball(lattice, "/3");
        ArborBall* root = lattice.rootBall();
        QSignalSpy fifthSpy(fifth, &ArborBall::playingChanged);
        lattice.onNoteToggled(ArborRatio(3, 2), true);
        lattice.onNoteToggled(ArborRatio(6, 4), true);
        lattice.onNoteToggled(ArborRatio(1, 1000003), true);   // no ball: bookkeeping only
        QVERIFY(fifthSpy.count() == 1 && lattice.playingRatios().size() == 2);
        lattice.onTransposed(ArborRatio(3, 2), 3);   // the sounding 3/2 is now the root's key
        QVERIFY(!fifth->isPlaying() && root->isPlaying() && lattice.ballFromRatio(ArborRatio(9, 4)) == fifth);
        lattice.onTransposed(ArborRatio(1, 1), -3);
        QVERIFY(fifth->isPlaying() && !root->isPlaying());
        lattice.onNoteToggled(ArborRatio(3, 2), false);
        QCOMPARE(fifthSpy.count(), 4);
    }

    void primeToggling() {
        Arbor lattice;
        lattice.initWithDefaults();
        lattice.onPrimeEnabledToggled(3, false);   // the 4 main balls without a 3 step keep their 18 leaves
        QCOMPARE(enabledCount(lattice), 4 * 19);
        QVERIFY(ball(lattice, "/-2/-2/-7")->isEnabled() && !ball(lattice, "/-2/-2/3")->isEnabled());
        lattice.onPrimeEnabledToggled(5, false);
        QCOMPARE(enabledCount(lattice), 4 * 17);
        lattice.onPrimeEnabledToggled(5, true);   // whole 5-subtrees come back, also below a disabled 3-ball
        QVERIFY(ball(lattice, "/2/5")->isEnabled() && ball(lattice, "/3/5")->isEnabled());
        lattice.onPrimeEnabledToggled(1, false);   // the lattice switch skips balls that are already off
        QVERIFY(ball(lattice, "/3/5")->isEnabled());
        lattice.onPrimeEnabledToggled(1, true);
        lattice.onPrimeEnabledToggled(3, true);
        for (int odd : {0, 4, 37, -1, INT_MIN})
            lattice.onPrimeEnabledToggled(odd, false);
        QCOMPARE(enabledCount(lattice), 361);
        lattice.onPrimeEnabledToggled(1, false);
        QCOMPARE(enabledCount(lattice), 0);
    }

    void fileEditedByUser() {
        const QByteArray text = jsonText(
            "{'colors': [{'prime': 1, 'color': '#123456'}, {'prime': 3, 'color': 'red'}, {'prime': 5.9, 'color': "
            "'#00ff00'}, {'prime': 3, 'color': 'blue'}], 'root': {'children': {'3': {'children': {'-5': {}}, 'links': "
            "{'2': '/2/3'}}, '-31': {}, '2': {}}, 'links': {'2': '/5/5', '4': '/2', 'abc': 'garbage/7', '3': 5}}}");
        QVERIFY(writeFile(mFile, text));
        Arbor lattice;
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Invalid path")));
        QVERIFY(lattice.init(nullptr));
        QCOMPARE(lattice.rootBall()->countBalls(), 5);
        QCOMPARE(lattice.lookupColor(3), QColor(0, 0, 255));            // the later entry wins
        QCOMPARE(ball(lattice, "/3/-5")->color(), QColor(0, 255, 0));   // 5.9 reads as 5
        QVERIFY(lattice.rootBall()->color() == QColor(0x12, 0x34, 0x56) && lattice.lookupColor(31) == Arbor::WHITE);
        // Links stay as written, also when they name no ball or do not parse.
        QJsonObject expected = json(text).value("root").toObject();
        expected.insert("links", QJsonObject{{"2", "/5/5"}, {"4", "/2"}, {"0", "garbage/7"}});
        QCOMPARE(written(lattice).value("root").toObject(), expected);
        lattice.term();   // never written at shutdown
        QCOMPARE(readFile(mFile), text);
    }

    void badFiles_data() { tableRows(FILES); }
    void badFiles() {
        const auto& c = tableRow(FILES);
        QVERIFY(writeFile(mFile, c.text));
        if (!c.loads)
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^Couldn't parse file .*arbor_v15.json. JSON error"));
        Arbor lattice;
        QCOMPARE(lattice.init(nullptr), c.loads);
        QVERIFY(lattice.rootBall()->countBalls() == c.balls && lattice.primeColors().size() == c.colours);
        QCOMPARE(readFile(mFile), c.text);   // left on disk untouched
    }

    // The default lattice is written at the first start and read back at the next; a reload keeps the
    // old tree alive, merges the colours and lights the sounding note in the new tree.
    void fileFirstStartThenReload() {
        Arbor lattice;
        QVERIFY(lattice.init(nullptr) && lattice.filePath() == mFile);
        const QJsonObject file = json(readFile(mFile));
        QCOMPARE(file["colors"][3].toObject(), QJsonObject({{"prime", 3}, {"color", "#5173b6"}}));
        QCOMPARE(file["root"]["children"]["-3"]["links"].toObject(), QJsonObject({{"2", "/2/-3"}}));
        Arbor second;
        QVERIFY(second.init(nullptr) && written(second) == written(lattice));
        lattice.onTransposed(ArborRatio(3, 2), 3);
        lattice.onNoteToggled(ArborRatio(9, 4), true);   // the /3 ball while transposed
        QPointer<ArborBall> oldRoot = lattice.rootBall();
        QVERIFY(writeFile(mFile, jsonText("{'colors': [{'prime': 3, 'color': '#ff0000'}], "
                                                  "'root': {'children': {'3': {}, '-3': {}}}}")));
        QSignalSpy replaced(&lattice, &Arbor::rootBallReplaced);
        QVERIFY(lattice.load() && replaced.count() == 1);
        QVERIFY(oldRoot && oldRoot->parent() == &lattice && lattice.rootBall() != oldRoot);
        QVERIFY(lattice.rootBall()->countBalls() == 3 && lattice.transposeSteps() == Steps{3});
        QCOMPARE(lattice.lookupColor(3), QColor(255, 0, 0));
        QCOMPARE(lattice.lookupColor(5).name(), QStringLiteral("#9c0404"));   // other entries stay
        for (ArborBall* b : lattice.ballMap())
            QVERIFY(b->parent() == lattice.rootBall() || b == lattice.rootBall());
        QVERIFY(ball(lattice, "/3")->isPlaying());
    }
};

QTEST_GUILESS_MAIN(TestLattice)
#include "tst_lattice.moc"
