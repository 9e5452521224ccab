#include "Arbor.h"
#include "ArborContext.h"
#include "ArborEvent.h"
#include "ArborPath.h"
#include "ArborRatio.h"
#include "ModelTestMain.h"

#include <QHash>

#include <climits>

typedef QList<int> Steps;
typedef unsigned long long U64;
Q_DECLARE_METATYPE(Steps)

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void editing();
    void concatenation_data();
    void concatenation();
    void validPrimes_data();
    void validPrimes();

    void pathRatio_data();
    void pathRatio();
    void construction_data();
    void construction();
    void equalityAndHash();
    void absoluteRatio();
    void canMultiply_data();
    void canMultiply();
    void multiplyOverflowGivesNoRatio();

    void events();
};

void TestPaths::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("printed");

    QTest::newRow("empty") << "" << true << Steps{} << "/";
    QTest::newRow("slash") << "/" << true << Steps{} << "/";
    QTest::newRow("three steps") << "/2/-3/3" << true << Steps{ 2, -3, 3 } << "/2/-3/3";
    QTest::newRow("sloppy slashes") << "2//-3/" << true << Steps{ 2, -3 } << "/2/-3";
    QTest::newRow("plus sign") << "/+3" << true << Steps{ 3 } << "/3";
    QTest::newRow("six primes up") << "/2/3/5/7/11/13" << true << Steps{ 2, 3, 5, 7, 11, 13 } << "/2/3/5/7/11/13";
    QTest::newRow("six primes down") << "/-17/-19/-23/-29/-31/-2" << true << Steps{ -17, -19, -23, -29, -31, -2 }
                                     << "/-17/-19/-23/-29/-31/-2";
    QTest::newRow("seven steps") << "/3/3/3/3/3/3/3" << true << Steps{ 3, 3, 3, 3, 3, 3 } << "/3/3/3/3/3/3";
    QTest::newRow("junk after six") << "/3/3/3/3/3/3/x" << true << Steps{ 3, 3, 3, 3, 3, 3 } << "/3/3/3/3/3/3";
    QTest::newRow("-31") << "/-31" << true << Steps{ -31 } << "/-31";
    QTest::newRow("composite") << "/4" << false << Steps{} << "/127";
    QTest::newRow("letters") << "/abc" << false << Steps{} << "/127";
    QTest::newRow("zero") << "/0" << false << Steps{} << "/127";
    QTest::newRow("one") << "/1" << false << Steps{} << "/127";
    QTest::newRow("minus one") << "/-1" << false << Steps{} << "/127";
    QTest::newRow("-32") << "/-32" << false << Steps{} << "/127";
    QTest::newRow("37") << "/37" << false << Steps{} << "/127";
    QTest::newRow("marker") << "/127" << false << Steps{} << "/127";
    QTest::newRow("int min") << "-2147483648" << false << Steps{} << "/127";
    QTest::newRow("int max") << "/2147483647" << false << Steps{} << "/127";
    QTest::newRow("beyond int") << "/99999999999" << false << Steps{} << "/127";
    QTest::newRow("bad in the middle") << "/3/x/5" << false << Steps{} << "/127";
    QTest::newRow("hex") << "/0x3" << false << Steps{} << "/127";
}

void TestPaths::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(Steps, steps);
    QFETCH(QString, printed);

    if (!valid)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Invalid path: +\"%1\"$")
                                                                .arg(QRegularExpression::escape(text))));
    const ArborPath path(text);
    QCOMPARE(path.isValid(), valid);
    QCOMPARE(path.toString(), printed);
    if (!valid)
        return;
    QCOMPARE(path.toList(), steps);
    QCOMPARE(path.length(), steps.size());
    QCOMPARE(path.isRoot(), steps.isEmpty());
    // The printed form parses back to the same path.
    QCOMPARE(ArborPath(printed), path);
    // The raw form walks the steps up to the terminator.
    const signed char* raw = path.toCharArray();
    for (int i = 0; i < steps.size(); ++i)
        QCOMPARE(int(raw[i]), steps.at(i));
    QCOMPARE(int(raw[steps.size()]), 0);
}

void TestPaths::editing()
{
    ArborPath full(QStringLiteral("/2/3/5/7/11/13"));
    full.addLeaf(17);
    QCOMPARE(full.toString(), QStringLiteral("/2/3/5/7/11/13"));
    full.removeLeaf();
    QCOMPARE(full.toString(), QStringLiteral("/2/3/5/7/11"));
    full.addLeaf(-31);
    QCOMPARE(full.toString(), QStringLiteral("/2/3/5/7/11/-31"));

    ArborPath root;
    root.removeLeaf();
    QVERIFY(root.isRoot());
    root.addLeaf(-3);
    QCOMPARE(root, ArborPath(-3));
    QCOMPARE(root.toList(), Steps{ -3 });

    // Copies are independent values.
    ArborPath copy(root);
    copy.addLeaf(5);
    QCOMPARE(root.toString(), QStringLiteral("/-3"));
    QCOMPARE(copy.toString(), QStringLiteral("/-3/5"));

    // Raw bytes with no terminator within six steps are cut at six.
    const signed char raw[7] = { 3, 3, 3, 3, 3, 3, 3 };
    QCOMPARE(ArborPath::fromRaw(raw).length(), 6);
    QVERIFY(ArborPath::fromRaw(nullptr).isRoot());
}

void TestPaths::concatenation_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("sum");
    QTest::newRow("root + root") << "/" << "/" << "/";
    QTest::newRow("root + path") << "/" << "/3/-5" << "/3/-5";
    QTest::newRow("4 + 3 keeps 6") << "/2/3/5/7" << "/11/13/17" << "/2/3/5/7/11/13";
    QTest::newRow("full + more") << "/3/3/3/3/3/3" << "/2" << "/3/3/3/3/3/3";
}

void TestPaths::concatenation()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, sum);
    QCOMPARE((ArborPath(a) + ArborPath(b)).toString(), sum);
}

void TestPaths::validPrimes_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<float>("ratio");
    const int primes[] = { 2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31 };
    const float folded[] = { 2.0f, 1.5f, 1.25f, 1.75f, 1.375f, 1.625f, 1.0625f, 1.1875f, 1.4375f, 1.8125f, 1.9375f };
    for (int i = 0; i < 11; ++i) {
        QTest::addRow("+%d", primes[i]) << primes[i] << true << folded[i];
        QTest::addRow("-%d", primes[i]) << -primes[i] << true << 1.0f / folded[i];
    }
    for (int bad : { 0, 1, -1, 4, -4, 9, 15, 25, 27, 30, 32, -32, 127, INT_MAX, INT_MIN, INT_MIN + 1 })
        QTest::addRow("bad %d", bad) << bad << false << 1.0f;
}

void TestPaths::validPrimes()
{
    QFETCH(int, step);
    QFETCH(bool, valid);
    QFETCH(float, ratio);
    QCOMPARE(Arbor::isValidPrime(step), valid);
    if (!valid)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("primeRatio")));
    QCOMPARE(Arbor::primeRatio(step), ratio);
}

void TestPaths::pathRatio_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<U64>("num");
    QTest::addColumn<U64>("den");
    QTest::newRow("root") << "/" << 1ULL << 1ULL;
    QTest::newRow("octave fifth down fifth up") << "/2/-3/3" << 2ULL << 1ULL;
    QTest::newRow("no octave folding") << "/-2/-2/3/3" << 9ULL << 16ULL;
    QTest::newRow("two fifths") << "/3/3" << 9ULL << 4ULL;
    QTest::newRow("fifth down") << "/-3" << 2ULL << 3ULL;
    QTest::newRow("thirds") << "/5/-5/5" << 5ULL << 4ULL;
    QTest::newRow("six 31s") << "/31/31/31/31/31/31" << 887503681ULL << 16777216ULL;
    QTest::newRow("six -31s") << "/-31/-31/-31/-31/-31/-31" << 16777216ULL << 887503681ULL;
    QTest::newRow("mixed") << "/7/-11/13/-17/19/-23" << 7ULL * 8 * 13 * 16 * 19 * 16 << 4ULL * 11 * 8 * 17 * 16 * 23;
}

void TestPaths::pathRatio()
{
    QFETCH(QString, path);
    QFETCH(U64, num);
    QFETCH(U64, den);
    const ArborPath p(path);
    const ArborRatio expected(num, den);   // reduced by construction
    const ArborRatio r = p.toRatio();
    QCOMPARE(r, expected);
    QCOMPARE(r.numerator(), expected.numerator());
    QCOMPARE(r.denominator(), expected.denominator());
    // Without a registered lattice the absolute ratio equals the relative one.
    QCOMPARE(r.absNumerator(), r.numerator());
    QCOMPARE(r.absDenominator(), r.denominator());
    QCOMPARE(r.toString(), QStringLiteral("%1/%2").arg(expected.numerator()).arg(expected.denominator()));

    const ArborRatio rel = ArborRatio::relativeFromPath(p);
    QCOMPARE(rel, expected);
    QCOMPARE(rel.absNumerator(), 0ULL);
    QCOMPARE(rel.absDenominator(), 1ULL);
}

void TestPaths::construction_data()
{
    QTest::addColumn<U64>("n");
    QTest::addColumn<U64>("d");
    QTest::addColumn<QString>("text");
    QTest::newRow("reduced") << 6ULL << 4ULL << "3/2";
    QTest::newRow("zero") << 0ULL << 5ULL << "0/1";
    QTest::newRow("zero denominator") << 5ULL << 0ULL << "0/1";
    QTest::newRow("max over max") << ~0ULL << ~0ULL << "1/1";
    QTest::newRow("max") << ~0ULL << 1ULL << "18446744073709551615/1";
    QTest::newRow("powers of two") << (1ULL << 63) << (1ULL << 61) << "4/1";
}

void TestPaths::construction()
{
    QFETCH(U64, n);
    QFETCH(U64, d);
    QFETCH(QString, text);
    if (d == 0)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("zero denominator")));
    const ArborRatio r(n, d);
    QCOMPARE(r.toString(), text);
    QCOMPARE(r.toStringAbs(), QStringLiteral("0/1"));

    // Invalid paths give "no ratio" rather than a zero denominator.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("Invalid path")));
    const ArborPath invalid(QStringLiteral("/4"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("has no ratio")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("no absolute ratio")));
    QVERIFY(ArborRatio(invalid).isNull());
    QVERIFY(ArborRatio::relativeFromPath(invalid).isNull());
    QVERIFY(ArborRatio().isNull());
}

void TestPaths::equalityAndHash()
{
    Arbor lattice;
    lattice.onTransposed(ArborRatio(3, 2), 3);
    ArborContext::setLattice(&lattice);
    const ArborRatio transposed(ArborPath(QStringLiteral("/3")));
    ArborContext::setLattice(nullptr);
    const ArborRatio plain(ArborPath(QStringLiteral("/3")));
    QVERIFY(transposed.absNumerator() != plain.absNumerator());
    QCOMPARE(transposed, plain);
    QCOMPARE(qHash(transposed, 7), qHash(plain, 7));
    QCOMPARE(qHash(ArborRatio(3, 2), 0), uint(3 * 31 + 2));

    // Ratios that agree in their low 32 bits share a hash but stay distinct keys.
    const ArborRatio wide((1ULL << 32) + 3, 2);
    QCOMPARE(qHash(wide), qHash(ArborRatio(3, 2)));
    QVERIFY(wide != ArborRatio(3, 2));
    QHash<ArborRatio, int> map;
    map.insert(ArborRatio(3, 2), 1);
    map.insert(wide, 2);
    QCOMPARE(map.value(ArborRatio(6, 4)), 1);
    QCOMPARE(map.value(wide), 2);
}

void TestPaths::absoluteRatio()
{
    Arbor lattice;
    ArborContext::setLattice(&lattice);
    lattice.onTransposed(ArborRatio(3, 2), 3);
    ArborRatio r(ArborPath(QStringLiteral("/3")));
    QCOMPARE(r.toString(), QStringLiteral("3/2"));
    QCOMPARE(r.toStringAbs(), QStringLiteral("9/4"));

    // Multiplication leaves the absolute ratio alone.
    r *= ArborRatio(5, 4);
    QCOMPARE(r.toString(), QStringLiteral("15/8"));
    QCOMPARE(r.toStringAbs(), QStringLiteral("9/4"));

    lattice.onTransposed(ArborRatio(1, 1), -3);
    QVERIFY(lattice.transposeSteps().isEmpty());
    r.storeFromAbsolutePath(ArborPath(QStringLiteral("/-3")));
    QCOMPARE(r.toStringAbs(), QStringLiteral("2/3"));
    QCOMPARE(r.toString(), QStringLiteral("15/8"));
    ArborContext::setLattice(nullptr);
}

void TestPaths::canMultiply_data()
{
    QTest::addColumn<U64>("an");
    QTest::addColumn<U64>("ad");
    QTest::addColumn<U64>("bn");
    QTest::addColumn<U64>("bd");
    QTest::addColumn<bool>("ok");
    U64 p3_40 = 1;
    for (int i = 0; i < 40; ++i)
        p3_40 *= 3;
    QTest::newRow("fifth by fifth") << 3ULL << 2ULL << 3ULL << 2ULL << true;
    QTest::newRow("2^62 by 2") << (1ULL << 62) << 1ULL << 2ULL << 1ULL << true;
    QTest::newRow("2^63 by 2 wraps to 0") << (1ULL << 63) << 1ULL << 2ULL << 1ULL << false;
    QTest::newRow("near 2^63 by 3/2") << (1ULL << 63) + 1 << 1ULL << 3ULL << 2ULL << false;
    QTest::newRow("3^40 by 3/2") << p3_40 << 1ULL << 3ULL << 2ULL << false;
    QTest::newRow("3^40 by 2/3 shrinks") << p3_40 << (1ULL << 62) << 2ULL << 3ULL << true;
    QTest::newRow("max by 1") << ~0ULL << 1ULL << 1ULL << 1ULL << true;
    QTest::newRow("huge denominators") << 1ULL << (1ULL << 40) << 1ULL << (1ULL << 40) << false;
    QTest::newRow("by no ratio") << 3ULL << 2ULL << 0ULL << 1ULL << true;
}

void TestPaths::canMultiply()
{
    QFETCH(U64, an);
    QFETCH(U64, ad);
    QFETCH(U64, bn);
    QFETCH(U64, bd);
    QFETCH(bool, ok);
    const ArborRatio a(an, ad);
    const ArborRatio b(bn, bd);
    if (!ok)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                             "^canMultiply fail on \\d+/\\d+ \\* \\d+/\\d+:\n  test product: .*, real product: .*$")));
    QCOMPARE(a.canMultiplyWith(b), ok);
}

void TestPaths::multiplyOverflowGivesNoRatio()
{
    ArborRatio r(1ULL << 63, 1);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not fit 64 bits")));
    r *= ArborRatio(2, 1);
    QVERIFY(r.isNull());
    QCOMPARE(r.denominator(), 1ULL);

    ArborRatio ok(9, 4);
    ok *= ArborRatio(2, 3);
    QCOMPARE(ok.toString(), QStringLiteral("3/2"));
}

void TestPaths::events()
{
    const ArborEvent none;
    QCOMPARE(int(none.type()), -1);

    const ArborEvent set(ArborEvent::MasterVolumeSet, 0.5f);
    const ArborEvent copy(set);
    QCOMPARE(copy.type(), ArborEvent::MasterVolumeSet);
    QCOMPARE(copy.value(), 0.5f);
    QCOMPARE(int(ArborEvent::MacroValue1), 11);
    QCOMPARE(int(ArborEvent::MacroValue8), 18);
    QCOMPARE(int(ArborEvent::ClosePatch), 20);

    // Numbers outside the table are carried along unchanged.
    const ArborEvent odd(static_cast<ArborEvent::Type>(21), 2.0f);
    QCOMPARE(int(odd.type()), 21);

    const ArborNoteEvent fromText(QStringLiteral("/2/-3"));
    QCOMPARE(fromText.type(), ArborEvent::NoteToggle);
    QCOMPARE(fromText.value(), 1.0f);
    QCOMPARE(fromText.path().toString(), QStringLiteral("/2/-3"));
    const ArborNoteEvent fromPath(ArborPath(QStringLiteral("/5")));
    const ArborNoteEvent noteCopy(fromPath);
    QCOMPARE(noteCopy.path().toString(), QStringLiteral("/5"));
    QVERIFY(ArborNoteEvent().path().isRoot());

    // Seen through the base class the path is still there.
    const ArborEvent* base = &noteCopy;
    QVERIFY(dynamic_cast<const ArborNoteEvent*>(base));
    const ArborEvent* plain = &set;
    QVERIFY(!dynamic_cast<const ArborNoteEvent*>(plain));
}

ARBOR_MODEL_TEST_MAIN(TestPaths)
#include "tst_paths.moc"
