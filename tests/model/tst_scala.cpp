#include "Arbor.h"
#include "ArborBall.h"
#include "ModelFixture.h"
#include "ScalaTuning.h"

#include <climits>
#include <cmath>
#include <numeric>

using namespace ModelTest;

namespace {
// Chords (paths played after the transposition, plus a sounding ratio that is no ball) or the whole lattice.
const struct { const char* name; QStringList paths; Steps transposition; U64 n, d; float base; int degrees, key; } CASES[] = {
    {"5-limit", {"/", "/5", "/3", "/2/5", "/-2/3/3", "/-5"}, {}, 0, 1, 440, 5, 69},
    {"31-limit", {"/31", "/-3/-31", "/3/3/29", "/-2/23", "/19"}, {3}, 0, 1, 400, 6, 74},
    {"one note", {"/"}, {3, -2}, 0, 1, 440, 1, 64},
    {"octaves", {"/2", "/-2", "/-2/-2"}, {}, 0, 1, 261.63f, 1, 60},
    {"not the 1/1", {"/3"}, {-7}, 0, 1, 440, 2, 59},
    {"too large", {"/5"}, {}, 787662783788549761ULL, 1ULL << 59, 440, 3, 69},
    {"lattice", {}, {5}, 0, 1, 440, 0, 73},
};

// Values of the lines that are not comments, each with the comment line before it.
QList<QPair<QString, QString>> entries(const QString& path) {
    QList<QPair<QString, QString>> out;
    QString comment;
    for (const QString& line : QString::fromUtf8(readFile(path)).split('\n', QString::SkipEmptyParts))
        line.startsWith('!') ? void(comment = line) : out.append({line.trimmed(), comment});
    return out;
}

// Cents of a pitch class, octave-reduced into (0, 1200].
double reduced(double ratio) {
    const double cents = std::fmod(1200 * std::log2(ratio), 1200);
    return cents <= 1e-7 ? cents + 1200 : cents;
}
} // namespace

class TestScala : public QObject {
    Q_OBJECT
    ConfigFolder mConfigFolder;

private slots:
    void exportTuning_data() { tableRows(CASES); }
    void exportTuning() {
        const auto& c = tableRow(CASES);
        Arbor arbor;
        arbor.initWithDefaults();
        arbor.onBaseFrequencyChanged(c.base);
        ArborRatio t(1, 1);
        for (int step : c.transposition)
            arbor.onTransposed(t *= ArborRatio::relativeFromPath(ArborPath(static_cast<signed char>(step))), step);
        QMap<QString, double> notes;   // label in the comments -> ratio to the 1/1
        for (const QString& p : c.paths) {
            notes[p] = ArborRatio::relativeFromPath(ArborPath(p)).toDouble();
            arbor.onNoteToggled(ArborRatio(t) *= ArborRatio::relativeFromPath(ArborPath(p)), true);
        }
        if (c.n > 1) {
            notes[ArborRatio(c.n, c.d).toString()] = double(c.n) / c.d / t.toDouble();
            arbor.onNoteToggled(ArborRatio(c.n, c.d), true);
        }
        const bool whole = c.paths.isEmpty();
        for (const ScalaTuning::Note& n : whole ? ScalaTuning::latticeNotes(arbor) : QList<ScalaTuning::Note>())
            notes[n.path] = ArborRatio::relativeFromPath(ArborPath(n.path)).toDouble();
        QCOMPARE(notes.size(), whole ? arbor.rootBall()->countBalls() : c.paths.size() + (c.n > 1));
        QSet<qint64> classes{1200000000};   // in micro-cents; the octave always ends the scale
        for (double r : notes)
            classes.insert(std::llround(reduced(r) * 1e6));
        const int degrees = whole ? classes.size() : c.degrees;
        QCOMPARE(classes.size(), degrees);

        QTemporaryDir dir;
        QString error;
        QVERIFY(ScalaTuning::exportTuning(arbor, whole, dir.filePath("t.scl"), &error));
        QCOMPARE(readFile(dir.filePath("t.scl")).left(8), QByteArray("! t.scl\n"));
        const auto scl = entries(dir.filePath("t.scl"));
        QVERIFY(scl.size() == degrees + 2 && !scl[0].first.isEmpty() && scl[1].first == QString::number(degrees));
        QMap<qint64, QString> pathsOf;   // class -> comment before its pitch
        double previous = 0;
        for (const auto& e : scl.mid(2)) {
            const QStringList nd = e.first.section(' ', 0, 0).split('/');
            double cents = nd[0].toDouble();
            if (nd.size() == 2) {   // an exact ratio in (1/1, 2/1], in lowest terms and not too large
                const qint64 n = nd[0].toLongLong(), d = nd[1].toLongLong();
                QVERIFY(n > d && n <= 2 * d && n <= INT_MAX && std::gcd(n, d) == 1);
                cents = 1200 * std::log2(double(n) / d);
            } else {   // cents, with the exact ratio named
                const QStringList exact = e.first.section("! exact ratio ", 1).split('/');
                QVERIFY(e.first.split(' ').at(0).contains('.') && exact.size() == 2);
                QVERIFY(std::abs(reduced(exact[0].toDouble() / exact[1].toDouble()) - cents) < 1e-6);
                QVERIFY(exact[0].toULongLong() > INT_MAX);
            }
            QVERIFY(cents > previous);
            previous = cents;
            pathsOf[std::llround(cents * 1e6)] = e.second;
        }
        QCOMPARE(scl.last().first, QString("2/1"));
        for (auto it = notes.cbegin(); it != notes.cend(); ++it) {
            const auto named = pathsOf.lowerBound(std::llround(reduced(it.value()) * 1e6) - 2);
            QVERIFY2(named != pathsOf.cend() && named.value().mid(2).split(", ").contains(it.key()), qPrintable(it.key()));
        }

        QStringList kbm, expected{QString::number(degrees), "0", "127", QString::number(c.key), QString::number(c.key)};
        for (const auto& e : entries(dir.filePath("t.kbm")))
            kbm << e.first;
        QVERIFY(kbm.size() > 5 && std::abs(kbm.takeAt(5).toDouble() - c.base * t.toDouble()) < 1e-3);
        for (int i = -1; i < degrees; ++i)   // the octave's degree, then the mapping
            expected << QString::number(i < 0 ? degrees : i);
        QCOMPARE(kbm, expected);
    }
};

QTEST_GUILESS_MAIN(TestScala)
#include "tst_scala.moc"
