#include "ArborRatio.h"

#include "Arbor.h"
#include "ArborConstants.h"
#include "ArborContext.h"
#include "ArborPath.h"

#include <QDebug>

#include <cmath>

namespace
{
typedef ArborRatio::Rational Rational;

// Sets r to n/d reduced. n/d must have d != 0.
void assignReduced(Rational& r, unsigned long long n, unsigned long long d)
{
    if (d == 0) {
        r.assign(0ULL, 1ULL);
        return;
    }
    r.assign(n, d);
}

// The product with the plain 64-bit rule, wrapping on overflow.
void multiplyWrapping(const Rational& a, const Rational& b,
                      unsigned long long& num, unsigned long long& den)
{
    const unsigned long long g1 = boost::integer::gcd(a.numerator(), b.denominator());
    const unsigned long long g2 = boost::integer::gcd(b.numerator(), a.denominator());
    num = (a.numerator() / g1) * (b.numerator() / g2);
    den = (a.denominator() / g2) * (b.denominator() / g1);
}
}

ArborRatio::ArborRatio()
    : mRelative(0ULL, 1ULL)
    , mAbsolute(0ULL, 1ULL)
{
}

ArborRatio::ArborRatio(unsigned long long numerator, unsigned long long denominator)
    : mRelative(0ULL, 1ULL)
    , mAbsolute(0ULL, 1ULL)
{
    if (denominator == 0) {
        qCritical() << "ArborRatio: zero denominator in" << numerator << "/ 0, using 0/1";
        return;
    }
    assignReduced(mRelative, numerator, denominator);
}

ArborRatio::ArborRatio(const ArborPath& path)
    : ArborRatio()
{
    storeFromPath(path);
}

ArborRatio ArborRatio::relativeFromPath(const ArborPath& path)
{
    ArborRatio ratio;
    Rational r(1ULL, 1ULL);
    if (multiplyPath(r, path))
        ratio.mRelative = r;
    return ratio;
}

bool ArborRatio::multiplyExact(const Rational& a, const Rational& b, Rational& out)
{
    const unsigned long long g1 = boost::integer::gcd(a.numerator(), b.denominator());
    const unsigned long long g2 = boost::integer::gcd(b.numerator(), a.denominator());
    unsigned long long num = 0;
    unsigned long long den = 0;
    if (__builtin_mul_overflow(a.numerator() / g1, b.numerator() / g2, &num))
        return false;
    if (__builtin_mul_overflow(a.denominator() / g2, b.denominator() / g1, &den))
        return false;
    if (den == 0)
        return false;
    assignReduced(out, num, den);
    return true;
}

bool ArborRatio::multiplyPath(Rational& r, const ArborPath& path)
{
    const signed char* steps = path.toCharArray();
    for (int i = 0; i < ArborPath::MAX_STEPS && steps[i] != 0; ++i) {
        Rational step;
        if (!ArborConstants::primeStepRational(steps[i], step))
            return false;
        if (!multiplyExact(r, step, r))
            return false;
    }
    return true;
}

void ArborRatio::storeFromPath(const ArborPath& path)
{
    Rational r(1ULL, 1ULL);
    if (multiplyPath(r, path)) {
        mRelative = r;
    } else {
        qDebug() << "ArborRatio: path" << path.toString() << "has no ratio, using 0/1";
        mRelative.assign(0ULL, 1ULL);
    }
    storeFromAbsolutePath(path);
}

void ArborRatio::storeFromAbsolutePath(const ArborPath& path)
{
    Rational r(1ULL, 1ULL);
    bool ok = true;
    if (const Arbor* lattice = ArborContext::lattice()) {
        const QList<int> steps = lattice->transposeSteps();
        for (int step : steps) {
            Rational s;
            if (!ArborConstants::primeStepRational(step, s) || !multiplyExact(r, s, r)) {
                ok = false;
                break;
            }
        }
    }
    if (ok)
        ok = multiplyPath(r, path);
    if (ok) {
        mAbsolute = r;
    } else {
        qDebug() << "ArborRatio: no absolute ratio for path" << path.toString() << ", using 0/1";
        mAbsolute.assign(0ULL, 1ULL);
    }
}

bool ArborRatio::canMultiplyWith(const ArborRatio& other) const
{
    unsigned long long num = 0;
    unsigned long long den = 0;
    multiplyWrapping(mRelative, other.mRelative, num, den);
    Rational exact;
    const bool fits = multiplyExact(mRelative, other.mRelative, exact);

    const double real = (double(other.numerator()) / double(other.denominator()))
                        * (double(numerator()) / double(denominator()));
    const double test = den == 0 ? std::nan("") : double(num) / double(den);
    const float diff = float(std::fabs(test - real));
    if (fits && diff <= 1e-05f)
        return true;

    qDebug().noquote() << QStringLiteral("canMultiply fail on %1 * %2:\n  test product: %3, real product: %4")
                              .arg(toString(), other.toString(), QString::number(test),
                                   QString::number(real));
    return false;
}

ArborRatio& ArborRatio::operator*=(const ArborRatio& other)
{
    Rational product;
    if (multiplyExact(mRelative, other.mRelative, product)) {
        mRelative = product;
    } else {
        qWarning() << "ArborRatio: product of" << toString() << "and" << other.toString()
                   << "does not fit 64 bits, using 0/1";
        mRelative.assign(0ULL, 1ULL);
    }
    return *this;
}

QString ArborRatio::toString() const
{
    return QStringLiteral("%1/%2").arg(mRelative.numerator()).arg(mRelative.denominator());
}

QString ArborRatio::toStringAbs() const
{
    return QStringLiteral("%1/%2").arg(mAbsolute.numerator()).arg(mAbsolute.denominator());
}

double ArborRatio::toDouble() const
{
    return double(mRelative.numerator()) / double(mRelative.denominator());
}

bool ArborRatio::operator==(const ArborRatio& other) const
{
    return mRelative.numerator() == other.mRelative.numerator()
           && mRelative.denominator() == other.mRelative.denominator();
}

uint qHash(const ArborRatio& ratio, uint seed)
{
    const quint32 n = quint32(ratio.numerator() & 0xffffffffULL);
    const quint32 d = quint32(ratio.denominator() & 0xffffffffULL);
    return (quint32(seed) * 31u + n) * 31u + d;
}
