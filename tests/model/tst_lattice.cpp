#include "Arbor.h"
#include "ArborBall.h"
#include "ArborContext.h"
#include "ModelTestMain.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>

#include <climits>

typedef QList<int> Steps;
typedef unsigned long long U64;
Q_DECLARE_METATYPE(Steps)

namespace
{
void collect(ArborBall* ball, QList<ArborBall*>& out)
{
    out.append(ball);
    for (ArborBall* child : ball->children())
        collect(child, out);
}

QList<ArborBall*> allBalls(const Arbor& lattice)
{
    QList<ArborBall*> out;
    collect(lattice.rootBall(), out);
    return out;
}

ArborBall* ball(const Arbor& lattice, const char* path)
{
    return lattice.ballFromPath(ArborPath(QString::fromLatin1(path)));
}

void readText(Arbor& lattice, const char* json)
{
    lattice.read(QJsonDocument::fromJson(QByteArray(json)).object());
}
}

class TestLattice : public QObject
{
    Q_OBJECT

private slots:
    void enabledCascade();
    void playingSignals();
    void children();
    void absSteps_data();
    void absSteps();

    void defaultStructure();
    void defaultColours_data();
    void defaultColours();
    void transposeBookkeeping_data();
    void transposeBookkeeping();
    void canTransposeTo_data();
    void canTransposeTo();
    void canTransposeRefusesOverflowingBall();
    void noteToggling();
    void noteFollowsTransposition();
    void primeToggling();
    void baseFrequency();
};

void TestLattice::enabledCascade()
{
    QObject owner;
    ArborBall a(ArborPath(), Arbor::WHITE, nullptr);
    auto* b = new ArborBall(ArborPath(QStringLiteral("/3")), Arbor::WHITE, &a);
    auto* c = new ArborBall(ArborPath(QStringLiteral("/3/3")), Arbor::WHITE, b);
    auto* d = new ArborBall(ArborPath(QStringLiteral("/3/3/5")), Arbor::WHITE, c);
    auto* e = new ArborBall(ArborPath(QStringLiteral("/-2")), Arbor::WHITE, &a);
    a.addChild(3, b);
    b->addChild(3, c);
    c->addChild(5, d);
    a.addChild(-2, e);

    QStringList order;
    for (ArborBall* x : { &a, b, c, d, e })
        connect(x, &ArborBall::enabledChanged, &owner, [&order, x](bool on) {
            order << x->path().toString() + (on ? "+" : "-");
        });

    a.setEnabled(false);
    // Children before their parent, ascending step order.
    QCOMPARE(order, QStringList({ "/-2-", "/3/3/5-", "/3/3-", "/3-", "/-" }));

    order.clear();
    d->setEnabled(true);
    a.setEnabled(false);   // already off: the subtree is not visited
    QCOMPARE(order, QStringList({ "/3/3/5+" }));

    order.clear();
    a.setEnabled(true);
    QCOMPARE(order, QStringList({ "/-2+", "/3/3+", "/3+", "/+" }));
    QVERIFY(d->isEnabled());
}

void TestLattice::playingSignals()
{
    ArborBall ball(ArborPath(), Arbor::WHITE, nullptr);
    QSignalSpy spy(&ball, &ArborBall::playingChanged);
    ball.setPlaying(true);
    ball.setPlaying(true);
    QCOMPARE(spy.count(), 1);
    ball.togglePlaying();
    ball.togglePlaying();
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QCOMPARE(spy.at(2).at(0).toBool(), true);
    QVERIFY(ball.isPlaying());
    ball.setPlaying(false);
    QCOMPARE(spy.count(), 4);
}

void TestLattice::children()
{
    ArborBall root(ArborPath(), Arbor::WHITE, nullptr);
    auto* first = new ArborBall(ArborPath(3), Arbor::WHITE, &root);
    auto* second = new ArborBall(ArborPath(3), Arbor::WHITE, &root);
    QVERIFY(!root.childAtPrime(3));
    root.addChild(3, first);
    root.addChild(3, second);
    QCOMPARE(root.childAtPrime(3), second);
    QCOMPARE(root.children().size(), 1);
    QVERIFY(!root.childAtPrime(-3));
    QVERIFY(!root.childAtPrime(INT_MIN));
}

void TestLattice::absSteps_data()
{
    QTest::addColumn<Steps>("transposition");
    QTest::addColumn<QString>("path");
    QTest::addColumn<Steps>("abs");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("highest");
    QTest::newRow("root") << Steps{} << "/" << Steps{} << 1 << 1;
    QTest::newRow("two fifths") << Steps{} << "/3/3" << Steps{ 3, 3 } << 3 << 3;
    QTest::newRow("5-leaf") << Steps{} << "/2/5" << Steps{ 2, 5 } << 32 << 32;
    QTest::newRow("fifth cancels") << Steps{ 3 } << "/-3/5" << Steps{ 5 } << 32 << 32;
    QTest::newRow("two fifths, down and octave") << Steps{ 3, 3 } << "/-3/2" << Steps{ 3, 2 } << 3 << 3;
    QTest::newRow("back to base") << Steps{ 5 } << "/-5" << Steps{} << 1 << 1;
    QTest::newRow("high from transposition") << Steps{ 5 } << "/-3" << Steps{ 5, -3 } << 3 << 5;
    QTest::newRow("only high, not own") << Steps{ 7 } << "/" << Steps{ 7 } << 7 << 7;
    QTest::newRow("octave under 7") << Steps{ 7 } << "/2" << Steps{ 7, 2 } << 2 << 7;
}

void TestLattice::absSteps()
{
    QFETCH(Steps, transposition);
    QFETCH(QString, path);
    QFETCH(Steps, abs);
    QFETCH(int, last);
    QFETCH(int, highest);

    Arbor lattice;
    for (int step : transposition)
        lattice.onTransposed(ArborRatio(1, 1), step);
    QCOMPARE(lattice.transposeSteps(), transposition);
    auto* b = new ArborBall(ArborPath(path), Arbor::WHITE, lattice.rootBall());
    QCOMPARE(b->absPathSteps(), abs);
    QCOMPARE(b->lastAbsStep(), last);
    QCOMPARE(b->highestAbsStep(), highest);
}

void TestLattice::defaultStructure()
{
    Arbor lattice;
    lattice.initWithDefaults();
    const QList<ArborBall*> balls = allBalls(lattice);
    QCOMPARE(balls.size(), 361);

    struct Main
    {
        const char* path;
        const char* link;
        Steps children;   // main-ball children besides the leaves
    };
    const Main mains[] = {
        { "/", nullptr, { -3, -2, 2, 3 } },
        { "/-2", nullptr, { -3, -2, 3 } },
        { "/-2/-2", nullptr, { 3 } },
        { "/-2/-2/3", "/-2/3", { 3 } },
        { "/-2/-2/3/3", "/-2/3/3", {} },
        { "/-2/-3", "/-3", {} },
        { "/-2/3", "/3", { 3 } },
        { "/-2/3/3", "/3/3", {} },
        { "/2", nullptr, { -3, 3 } },
        { "/2/-3", nullptr, { -3 } },
        { "/2/-3/-3", nullptr, { -3 } },
        { "/2/-3/-3/-3", nullptr, {} },
        { "/2/3", nullptr, { 3 } },
        { "/2/3/3", nullptr, {} },
        { "/-3", "/2/-3", { -3 } },
        { "/-3/-3", "/2/-3/-3", { -3 } },
        { "/-3/-3/-3", "/2/-3/-3/-3", {} },
        { "/3", "/2/3", { 3 } },
        { "/3/3", "/2/3/3", {} },
    };
    const Steps leafSteps = { -31, -29, -23, -19, -17, -13, -11, -7, -5, 5, 7, 11, 13, 17, 19, 23, 29, 31 };
    int links = 0;
    for (const Main& m : mains) {
        ArborBall* b = ball(lattice, m.path);
        QVERIFY2(b, m.path);
        QCOMPARE(b->path().toString(), QString::fromLatin1(m.path));
        Steps expected = m.children + leafSteps;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(b->children().keys(), expected);
        for (int leaf : leafSteps) {
            const ArborBall* l = b->childAtPrime(leaf);
            QVERIFY(l->children().isEmpty());
            QVERIFY(l->links().isEmpty());
            QCOMPARE(l->color(), lattice.lookupColor(leaf));
        }
        if (m.link) {
            QCOMPARE(b->links().keys(), Steps{ 2 });
            const ArborBall::Link link = b->links().value(2);
            QCOMPARE(link.path().toString(), QString::fromLatin1(m.link));
            QCOMPARE(link.color(), lattice.lookupColor(2));
            QVERIFY2(lattice.ballFromPath(link.path()), m.link);   // every default link has a target
            ++links;
        } else {
            QVERIFY(b->links().isEmpty());
        }
    }
    QCOMPARE(links, 10);

    // Every ball has its last step's colour and is reachable through the map
    // unless a later ball has the same ratio.
    QSet<ArborRatio> ratios;
    for (ArborBall* b : balls) {
        const Steps steps = b->path().toList();
        QCOMPARE(b->color(), lattice.lookupColor(steps.isEmpty() ? 1 : steps.last()));
        QCOMPARE(lattice.ballFromPath(b->path()), b);
        const ArborRatio r = b->path().toRatio();
        ratios.insert(r);
        QCOMPARE(lattice.ballFromRatio(r)->path().toRatio(), r);
        QVERIFY(b->isEnabled());
        QVERIFY(!b->isPlaying());
    }
    QCOMPARE(lattice.ballMap().size(), ratios.size());
}

void TestLattice::defaultColours_data()
{
    QTest::addColumn<int>("prime");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "#b7b7b7";
    QTest::newRow("1") << 1 << "#202020";
    QTest::newRow("2") << 2 << "#5b5b5b";
    QTest::newRow("3") << 3 << "#5173b6";
    QTest::newRow("-5") << -5 << "#9c0404";
    QTest::newRow("7") << 7 << "#2838d0";
    QTest::newRow("11") << 11 << "#b46110";
    QTest::newRow("13") << 13 << "#710071";
    QTest::newRow("-17") << -17 << "#077407";
    QTest::newRow("19") << 19 << "#999900";
    QTest::newRow("23") << 23 << "#005b5b";
    QTest::newRow("29") << 29 << "#775c42";
    QTest::newRow("31") << 31 << "#2a9d7b";
    QTest::newRow("none") << 37 << "#ffffff";
    QTest::newRow("composite") << 4 << "#ffffff";
    QTest::newRow("int min") << INT_MIN << "#ffffff";
}

void TestLattice::defaultColours()
{
    QFETCH(int, prime);
    QFETCH(QString, name);
    Arbor lattice;
    QCOMPARE(lattice.lookupColor(prime), Arbor::WHITE);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Arbor::initWithDefaults - mPrimeColors:")));
    lattice.initWithDefaults();
    QCOMPARE(lattice.lookupColor(prime).name(), name);
    QCOMPARE(lattice.lookupColor(prime).alpha(), 255);
    QCOMPARE(lattice.lookupColor(prime == INT_MIN ? prime : -prime), lattice.lookupColor(prime));
}

void TestLattice::transposeBookkeeping_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<Steps>("simplified");
    QTest::newRow("up and down") << Steps{ 3, -3 } << Steps{};
    QTest::newRow("3 3 -3") << Steps{ 3, 3, -3 } << Steps{ 3 };
    QTest::newRow("5 -3 -5") << Steps{ 5, -3, -5 } << Steps{ -3 };
    QTest::newRow("nested") << Steps{ 2, 7, -7, -2, 11 } << Steps{ 11 };
    QTest::newRow("reset") << Steps{ 3, 5, 0 } << Steps{};
    QTest::newRow("reset then step") << Steps{ 3, 0, -5 } << Steps{ -5 };
    QTest::newRow("not a prime is not a step") << Steps{ 3, 4, INT_MIN } << Steps{ 3 };
}

void TestLattice::transposeBookkeeping()
{
    QFETCH(Steps, steps);
    QFETCH(Steps, simplified);
    Arbor lattice;
    lattice.initWithDefaults();
    QSignalSpy spy(&lattice, &Arbor::transposeOrBaseFrequencyChanged);
    ArborRatio total(1, 1);
    for (int step : steps) {
        if (step == 0) {
            total = ArborRatio(1, 1);
        } else if (Arbor::isValidPrime(step)) {
            total *= ArborRatio::relativeFromPath(ArborPath(static_cast<signed char>(step)));
        }
        lattice.onTransposed(total, step);
    }
    QCOMPARE(spy.count(), steps.size());
    QCOMPARE(lattice.transposeSteps(), simplified);
    QCOMPARE(lattice.transposeRatio(), total);
    // Keys are the transposition times each ball's own ratio.
    for (ArborBall* b : allBalls(lattice)) {
        ArborRatio key(total);
        key *= b->path().toRatio();
        QCOMPARE(lattice.ballFromRatio(key)->path().toRatio(), b->path().toRatio());
    }
    if (simplified.isEmpty() && total == ArborRatio(1, 1))
        QCOMPARE(lattice.ballFromRatio(ArborRatio(3, 2)), ball(lattice, "/3"));
}

void TestLattice::canTransposeTo_data()
{
    QTest::addColumn<U64>("tn");
    QTest::addColumn<U64>("td");
    QTest::addColumn<U64>("sn");
    QTest::addColumn<U64>("sd");
    QTest::addColumn<float>("base");
    QTest::addColumn<bool>("ok");
    QTest::newRow("1/16 down an octave: 13.75 Hz") << 1ULL << 16ULL << 1ULL << 2ULL << 440.0f << false;
    QTest::newRow("1/8 down an octave: 27.5 Hz") << 1ULL << 8ULL << 1ULL << 2ULL << 440.0f << true;
    QTest::newRow("32/1 up an octave: 28160 Hz") << 32ULL << 1ULL << 2ULL << 1ULL << 440.0f << false;
    QTest::newRow("16/1 up an octave: 14080 Hz") << 16ULL << 1ULL << 2ULL << 1ULL << 440.0f << true;
    QTest::newRow("fifth at 1/1") << 1ULL << 1ULL << 3ULL << 2ULL << 440.0f << true;
    QTest::newRow("exactly 20 Hz") << 1ULL << 1ULL << 1ULL << 2ULL << 40.0f << true;
    QTest::newRow("exactly 20000 Hz") << 1ULL << 1ULL << 2ULL << 1ULL << 10000.0f << true;
    QTest::newRow("step that is no ratio") << 1ULL << 1ULL << 0ULL << 1ULL << 440.0f << false;
}

void TestLattice::canTransposeTo()
{
    QFETCH(U64, tn);
    QFETCH(U64, td);
    QFETCH(U64, sn);
    QFETCH(U64, sd);
    QFETCH(float, base);
    QFETCH(bool, ok);
    Arbor lattice;
    lattice.initWithDefaults();
    lattice.onBaseFrequencyChanged(base);
    lattice.onTransposed(ArborRatio(tn, td), 0);
    QCOMPARE(lattice.canTransposeTo(ArborRatio(sn, sd)), ok);
}

void TestLattice::canTransposeRefusesOverflowingBall()
{
    // A transposition of 3^38/2^60 (about 1.17) on a lattice /3/3: the ball
    // key 3^40/2^62 still fits, but one more fifth up would overflow it.
    U64 p3_38 = 1;
    for (int i = 0; i < 38; ++i)
        p3_38 *= 3;
    Arbor lattice;
    readText(lattice, R"({"root": {"children": {"3": {"children": {"3": {}}}}}})");
    lattice.onTransposed(ArborRatio(p3_38, 1ULL << 60), 0);
    QCOMPARE(lattice.ballMap().size(), 3);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("canMultiply fail")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "^canTransposeTo fail on \\d+/\\d+ to 3/2:\n  ball: /3/3 at 9/4 can't be played$")));
    QVERIFY(!lattice.canTransposeTo(ArborRatio(3, 2)));
    QVERIFY(lattice.canTransposeTo(ArborRatio(2, 3)));
}

void TestLattice::noteToggling()
{
    Arbor lattice;
    lattice.initWithDefaults();
    ArborBall* fifth = ball(lattice, "/3");
    QSignalSpy spy(fifth, &ArborBall::playingChanged);

    lattice.onNoteToggled(ArborRatio(3, 2), true);
    lattice.onNoteToggled(ArborRatio(6, 4), true);
    QCOMPARE(spy.count(), 1);
    QVERIFY(fifth->isPlaying());
    QVERIFY(lattice.playingRatios().contains(ArborRatio(3, 2)));

    // A ratio without a ball only updates the bookkeeping.
    lattice.onNoteToggled(ArborRatio(1, 1000003), true);
    QCOMPARE(lattice.playingRatios().size(), 2);

    lattice.onNoteToggled(ArborRatio(3, 2), false);
    QCOMPARE(spy.count(), 2);
    QVERIFY(!fifth->isPlaying());
    lattice.onNoteToggled(ArborRatio(1, 1000003), false);
    QVERIFY(lattice.playingRatios().isEmpty());
}

void TestLattice::noteFollowsTransposition()
{
    Arbor lattice;
    lattice.initWithDefaults();
    ArborBall* fifth = ball(lattice, "/3");
    ArborBall* root = lattice.rootBall();
    lattice.onNoteToggled(ArborRatio(3, 2), true);
    QVERIFY(fifth->isPlaying());

    QSignalSpy fifthSpy(fifth, &ArborBall::playingChanged);
    QSignalSpy rootSpy(root, &ArborBall::playingChanged);
    lattice.onTransposed(ArborRatio(3, 2), 3);
    // The sounding 3/2 is now the root's key; /3 stands for 9/4.
    QVERIFY(!fifth->isPlaying());
    QVERIFY(root->isPlaying());
    QCOMPARE(fifthSpy.count(), 1);
    QCOMPARE(rootSpy.count(), 1);
    QCOMPARE(lattice.ballFromRatio(ArborRatio(9, 4)), fifth);

    lattice.onTransposed(ArborRatio(1, 1), -3);
    QVERIFY(fifth->isPlaying());
    QVERIFY(!root->isPlaying());
}

void TestLattice::primeToggling()
{
    Arbor lattice;
    lattice.initWithDefaults();
    const QList<ArborBall*> balls = allBalls(lattice);
    auto enabledCount = [&balls]() {
        int n = 0;
        for (ArborBall* b : balls)
            n += b->isEnabled() ? 1 : 0;
        return n;
    };

    lattice.onPrimeEnabledToggled(3, false);
    for (const char* on : { "/", "/2", "/-2", "/-2/-2", "/2/5", "/-2/-2/-7" })
        QVERIFY2(ball(lattice, on)->isEnabled(), on);
    for (const char* off : { "/3", "/-3", "/2/3", "/2/-3/-3/-3", "/-2/-3", "/-2/-2/3", "/3/5", "/-3/-3/31" })
        QVERIFY2(!ball(lattice, off)->isEnabled(), off);

    // Switching 5 off and on again re-enables whole 5-subtrees, but the
    // 5-leaves below a disabled 3-ball stay as the 3 switch left them.
    lattice.onPrimeEnabledToggled(5, false);
    QVERIFY(!ball(lattice, "/2/5")->isEnabled());
    lattice.onPrimeEnabledToggled(5, true);
    QVERIFY(ball(lattice, "/2/5")->isEnabled());
    QVERIFY(ball(lattice, "/3/5")->isEnabled());
    QVERIFY(!ball(lattice, "/3")->isEnabled());

    // A ball that is already off is not visited again, so the 5-leaves
    // re-enabled below /3 stay on when the whole lattice is switched off now.
    lattice.onPrimeEnabledToggled(1, false);
    QVERIFY(ball(lattice, "/3/5")->isEnabled());
    lattice.onPrimeEnabledToggled(1, true);
    lattice.onPrimeEnabledToggled(3, true);
    QCOMPARE(enabledCount(), 361);
    lattice.onPrimeEnabledToggled(1, false);
    QCOMPARE(enabledCount(), 0);
    lattice.onPrimeEnabledToggled(1, true);
    QCOMPARE(enabledCount(), 361);

    // Primes the lattice does not have change nothing.
    for (int odd : { 0, 4, 37, -1, INT_MIN })
        lattice.onPrimeEnabledToggled(odd, false);
    QCOMPARE(enabledCount(), 361);
}

void TestLattice::baseFrequency()
{
    Arbor lattice;
    QSignalSpy spy(&lattice, &Arbor::transposeOrBaseFrequencyChanged);
    lattice.onBaseFrequencyChanged(440.0f);
    QCOMPARE(spy.count(), 0);
    lattice.onBaseFrequencyChanged(432.0f);
    lattice.onBaseFrequencyChanged(432.0f);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lattice.baseFrequency(), 432.0f);
}

ARBOR_MODEL_TEST_MAIN(TestLattice)
#include "tst_lattice.moc"
