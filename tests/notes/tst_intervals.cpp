#include "NoteInterval.h"

#include <QtTest>

#include <climits>

class IntervalTest : public QObject
{
    Q_OBJECT

private slots:
    void primes_data()
    {
        QTest::addColumn<int>("prime");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("distance");

        struct Row { int prime; const char* text; int number; int quality; int distance; };
        const Row rows[] = {
            {2, "p8", 7, 0, 12},    {3, "p5", 4, 0, 7},     {5, "M3", 2, 0, 4},
            {7, "m7", 6, -1, 10},   {11, "aug4", 3, 1, 6},  {13, "m6", 5, -1, 8},
            {17, "m2", 1, -1, 1},   {19, "m3", 2, -1, 3},   {23, "aug4", 3, 1, 6},
            {29, "m7", 6, -1, 10},  {31, "M7", 6, 0, 11},
        };
        for (const Row& r : rows)
        {
            QTest::newRow(qPrintable(QString("+%1").arg(r.prime)))
                << r.prime << QString(r.text) << r.number << r.quality << r.distance;
            QTest::newRow(qPrintable(QString("-%1").arg(r.prime)))
                << -r.prime << QString("-") + r.text << r.number << r.quality << -r.distance;
        }
        // Outside the lattice's primes: no degree, no size.
        QTest::newRow("37") << 37 << "0" << -1 << 0 << 0;
        QTest::newRow("-37") << -37 << "-0" << -1 << 0 << 0;
        QTest::newRow("0") << 0 << "0" << -1 << 0 << 0;
        QTest::newRow("4") << 4 << "0" << -1 << 0 << 0;
        QTest::newRow("INT_MIN") << INT_MIN << "-0" << -1 << 0 << 0;
    }

    void primes()
    {
        QFETCH(int, prime);
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(int, quality);
        QFETCH(int, distance);

        const NoteInterval interval(prime);
        QCOMPARE(interval.mDirection, prime < 0 ? -1 : 1);
        QCOMPARE(interval.mOctaves, 0);
        QCOMPARE(interval.mNumber, number);
        QCOMPARE(interval.mQuality, quality);
        QCOMPARE(interval.toSemitoneDistance(), distance);
        QCOMPARE(interval.toString(), text);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("distance");
        QTest::addColumn<QString>("printed");

        QTest::newRow("dim5") << "dim5" << 1 << 4 << -1 << 6 << "dim5";
        QTest::newRow("dim3") << "dim3" << 1 << 2 << -2 << 2 << "dim3";
        QTest::newRow("dim7") << "dim7" << 1 << 6 << -2 << 9 << "dim7";
        QTest::newRow("dim1") << "dim1" << 1 << 0 << -1 << -1 << "dim1";
        QTest::newRow("aug4") << "aug4" << 1 << 3 << 1 << 6 << "aug4";
        QTest::newRow("aug2") << "aug2" << 1 << 1 << 1 << 3 << "aug2";
        QTest::newRow("-M3") << "-M3" << -1 << 2 << 0 << -4 << "-M3";
        QTest::newRow("-m6") << "-m6" << -1 << 5 << -1 << -8 << "-m6";
        QTest::newRow("p1") << "p1" << 1 << 0 << 0 << 0 << "p1";
        QTest::newRow("p8") << "p8" << 1 << 7 << 0 << 12 << "p8";
        // "M" and "p" are interchangeable when read; the class decides the word.
        QTest::newRow("M5 prints p5") << "M5" << 1 << 4 << 0 << 7 << "p5";
        QTest::newRow("p3 prints M3") << "p3" << 1 << 2 << 0 << 4 << "M3";
        // Unknown quality keeps the initial 0.
        QTest::newRow("x5") << "x5" << 1 << 4 << 0 << 7 << "p5";
        QTest::newRow("bare 5") << "5" << 1 << 4 << 0 << 7 << "p5";
        // A ninth has no size of its own here and no quality word.
        QTest::newRow("M9") << "M9" << 1 << 8 << 0 << 0 << "9";
        QTest::newRow("aug9") << "aug9" << 1 << 8 << 1 << 1 << "aug9";
        // Missing or non-digit number.
        QTest::newRow("empty") << "" << 1 << -1 << 0 << 0 << "0";
        QTest::newRow("minus only") << "-" << -1 << -1 << 0 << 0 << "-0";
        QTest::newRow("m, no number") << "m" << 1 << -1 << 0 << 0 << "0";
        QTest::newRow("p5x") << "p5x" << 1 << -1 << 0 << 0 << "0";
        QTest::newRow("zero") << "p0" << 1 << -1 << 0 << 0 << "0";
        QTest::newRow("two digits") << "M13" << 1 << 2 << 0 << 4 << "M3";
        QTest::newRow("double minus") << "--p5" << -1 << 4 << 0 << -7 << "-p5";
    }

    void texts()
    {
        QFETCH(QString, text);
        QFETCH(int, direction);
        QFETCH(int, number);
        QFETCH(int, quality);
        QFETCH(int, distance);
        QFETCH(QString, printed);

        const NoteInterval interval(text);
        QCOMPARE(interval.mDirection, direction);
        QCOMPARE(interval.mNumber, number);
        QCOMPARE(interval.mQuality, quality);
        QCOMPARE(interval.toSemitoneDistance(), distance);
        QCOMPARE(interval.toString(), printed);
        // What is printed reads back as the same interval.
        const NoteInterval again(interval.toString());
        QCOMPARE(again.toSemitoneDistance(), interval.toSemitoneDistance());
    }

    void octavesCount()
    {
        NoteInterval interval(QStringLiteral("-M3"));
        interval.mOctaves = 2;
        QCOMPARE(interval.toSemitoneDistance(), -28);
    }
};

QTEST_GUILESS_MAIN(IntervalTest)
#include "tst_intervals.moc"
