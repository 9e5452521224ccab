#include "Arbor.h"
#include "ArborContext.h"
#include "ModelFixture.h"

#include <climits>

using namespace ModelTest;

namespace {
// Text form; "/127" printed means the invalid path.
const struct { const char* text; const char* printed; } PATHS[] = {
    {"", "/"}, {"/", "/"}, {"/2/-3/3", "/2/-3/3"}, {"2//-3/", "/2/-3"}, {"/+3", "/3"}, {"/-31", "/-31"},
    {"/2/3/5/7/11/13", "/2/3/5/7/11/13"}, {"/-17/-19/-23/-29/-31/-2", "/-17/-19/-23/-29/-31/-2"},
    {"/3/3/3/3/3/3/3", "/3/3/3/3/3/3"}, {"/3/3/3/3/3/3/x", "/3/3/3/3/3/3"}, {"/4", "/127"}, {"/abc", "/127"},
    {"/0", "/127"}, {"/1", "/127"}, {"/-1", "/127"}, {"/-32", "/127"}, {"/37", "/127"}, {"/127", "/127"},
    {"-2147483648", "/127"}, {"/99999999999", "/127"}, {"/3/x/5", "/127"}, {"/0x3", "/127"}, {"/2/3/x", "/127"},
};

// A path, or (no path) a numerator and denominator, and the reduced ratio.
const struct { const char* path; U64 n, d; const char* ratio; } RATIOS[] = {
    {"/", 0, 0, "1/1"}, {"/2/-3/3", 0, 0, "2/1"}, {"/-2/-2/3/3", 0, 0, "9/16"}, {"/3/3", 0, 0, "9/4"},
    {"/-3", 0, 0, "2/3"}, {"/5/-5/5", 0, 0, "5/4"}, {"/29/-29/-29", 0, 0, "16/29"},
    {"/31/31/31/31/31/31", 0, 0, "887503681/16777216"}, {"/-31/-31/-31/-31/-31/-31", 0, 0, "16777216/887503681"},
    {"/7/-11/13/-17/19/-23", 0, 0, "6916/4301"}, {"/4", 0, 0, "0/1"}, {nullptr, 6, 4, "3/2"}, {nullptr, 0, 5, "0/1"},
    {nullptr, 5, 0, "0/1"}, {nullptr, ~0ULL, ~0ULL, "1/1"}, {nullptr, ~0ULL, 1, "18446744073709551615/1"},
    {nullptr, 1ULL << 63, 1ULL << 61, "4/1"},
};

// Whether the exact 64-bit product a * b still fits.
const U64 P3_40 = 12157665459056928801ULL;
const struct { U64 an, ad, bn, bd; bool ok; } PRODUCTS[] = {
    {3, 2, 3, 2, true}, {1ULL << 62, 1, 2, 1, true}, {1ULL << 63, 1, 2, 1, false}, {(1ULL << 63) + 1, 1, 3, 2, false},
    {P3_40, 1, 3, 2, false}, {P3_40, 1ULL << 62, 2, 3, true}, {~0ULL, 1, 1, 1, true},
    {1, 1ULL << 40, 1, 1ULL << 40, false}, {3, 2, 0, 1, true},
};
} // namespace

// Paths and their ratios.
class TestPaths : public QObject {
    Q_OBJECT

private slots:
    void parse_data() { tableRows(PATHS); }
    void parse() {
        const QString text = tableRow(PATHS).text;
        const QString printed = tableRow(PATHS).printed;
        const bool valid = printed != QLatin1String("/127");
        if (!valid)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Invalid path: +\"" + QRegExp::escape(text)));
        const ArborPath path(text);
        QCOMPARE(path.toString(), printed);
        QCOMPARE(path.isValid(), valid);
        Steps steps;
        for (const QString& part : printed.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            steps << part.toInt();
        QVERIFY(!valid || (path.toList() == steps && path.length() == steps.size() && ArborPath(printed) == path));
    }

    void editing() {
        ArborPath path(QStringLiteral("/2/3/5/7/11/13"));
        path.addLeaf(17);   // full: unchanged
        path.removeLeaf();
        path.addLeaf(-31);
        QCOMPARE(path.toString(), QStringLiteral("/2/3/5/7/11/-31"));
        ArborPath root;
        root.removeLeaf();   // the root stays the root
        const signed char raw[7] = {3, 3, 3, 3, 3, 3, 3};
        QVERIFY(root.isRoot() && ArborPath::fromRaw(raw).length() == 6 && ArborPath::fromRaw(nullptr).isRoot());
        const char* sums[][3] = {
            {"/2/3/5/7", "/11/13/17", "/2/3/5/7/11/13"}, {"/3/3/3/3/3/3", "/2", "/3/3/3/3/3/3"}};
        for (const auto& s : sums)
            QCOMPARE((ArborPath(s[0]) + ArborPath(s[1])).toString(), QString(s[2]));
    }

    // The float table agrees with the exact one, which RATIOS checks.
    void primes() {
        for (int p : {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, -2, -3, -5, -7, -11, -13, -17, -19, -23, -29, -31})
            QVERIFY(Arbor::isValidPrime(p) && Arbor::primeRatio(p) == float(ArborPath(qint8(p)).toRatio().toDouble()));
        for (int bad : {0, 1, -1, 4, 9, 32, -32, 127, INT_MAX, INT_MIN, INT_MIN + 1}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("primeRatio")));
            QVERIFY2(!Arbor::isValidPrime(bad) && Arbor::primeRatio(bad) == 1.0f, qPrintable(QString::number(bad)));
        }
    }

    void ratios_data() { tableRows(RATIOS); }
    void ratios() {
        const auto& c = tableRow(RATIOS);
        const bool valid = QByteArray(c.ratio) != "0/1";
        if (!c.path) {
            if (c.d == 0)
                QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("zero denominator")));
            QVERIFY(ArborRatio(c.n, c.d).toString() == c.ratio && ArborRatio(c.n, c.d).toStringAbs() == "0/1");
            return;
        }
        for (const QString& message : valid ? QStringList() : QStringList{"Invalid path", "no ratio", "no absolute"})
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
        const ArborPath path(c.path);
        const ArborRatio r = path.toRatio();
        QCOMPARE(r.toString(), QString(c.ratio));
        QCOMPARE(r.toStringAbs(), QString(c.ratio));   // no lattice registered: no transposition
        QVERIFY(r.isNull() != valid && ArborRatio::relativeFromPath(path) == r);
    }

    void absoluteRatioEqualityAndHash() {
        Arbor lattice;
        ArborContext::setLattice(&lattice);
        lattice.onTransposed(ArborRatio(3, 2), 3);
        ArborRatio r(ArborPath(QStringLiteral("/3")));
        ArborContext::setLattice(nullptr);
        const ArborRatio plain(ArborPath(QStringLiteral("/3")));
        QVERIFY(r.toStringAbs() == "9/4" && r == plain && qHash(r, 7) == qHash(plain, 7));
        r *= ArborRatio(5, 4);
        QVERIFY(r.toString() == "15/8" && r.toStringAbs() == "9/4");
        const ArborRatio wide((1ULL << 32) + 3, 2);   // the same low 32 bits: one hash, two keys
        const QHash<ArborRatio, int> map{{ArborRatio(3, 2), 1}, {wide, 2}};
        QVERIFY(qHash(wide) == qHash(ArborRatio(3, 2)) && map.value(ArborRatio(6, 4)) == 1 && map.value(wide) == 2);
        ArborRatio big(1ULL << 63, 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not fit 64 bits")));
        big *= ArborRatio(2, 1);
        QVERIFY(big.isNull());
    }

    void canMultiply_data() { tableRows(PRODUCTS); }
    void canMultiply() {
        const auto& c = tableRow(PRODUCTS);
        if (!c.ok)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(
                "^canMultiply fail on \\d+/\\d+ \\* \\d+/\\d+:\n  test product: .*, real product: .*$"));
        QCOMPARE(ArborRatio(c.an, c.ad).canMultiplyWith(ArborRatio(c.bn, c.bd)), c.ok);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
