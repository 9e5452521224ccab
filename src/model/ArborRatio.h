#pragma once

#include <QMetaType>
#include <QString>

#include <boost/rational.hpp>

class ArborPath;

// The exact frequency ratio of a ball, as two fractions of unsigned 64-bit
// integers: the relative ratio from the root along the path (identity, hash,
// sound) and the absolute ratio, which puts the lattice's transposition steps
// in front of the path (display only). 0/1 means "no ratio".
//
// Nothing here throws: a zero denominator, a path with a step that is not a
// signed prime, and a product that does not fit 64 bits all give 0/1 with a
// log line instead.
class ArborRatio
{
public:
    typedef boost::rational<unsigned long long> Rational;

    ArborRatio();
    ArborRatio(unsigned long long numerator, unsigned long long denominator);
    explicit ArborRatio(const ArborPath& path);

    // Relative ratio of a path only (absolute 0/1). Never touches the lattice,
    // never logs, never allocates: usable on the audio thread. A path with a
    // bad step (e.g. the invalid path) gives 0/1.
    static ArborRatio relativeFromPath(const ArborPath& path);

    void storeFromPath(const ArborPath& path);
    void storeFromAbsolutePath(const ArborPath& path);

    // Whether the 64-bit product of the two relative ratios is still exact
    // (compared with the floating-point product, 1e-05 absolute tolerance).
    bool canMultiplyWith(const ArborRatio& other) const;

    // Multiplies the relative ratio; the absolute ratio is left unchanged.
    // A product that overflows 64 bits gives 0/1 and a warning.
    ArborRatio& operator*=(const ArborRatio& other);

    QString toString() const;
    QString toStringAbs() const;

    unsigned long long numerator() const { return mRelative.numerator(); }
    unsigned long long denominator() const { return mRelative.denominator(); }
    unsigned long long absNumerator() const { return mAbsolute.numerator(); }
    unsigned long long absDenominator() const { return mAbsolute.denominator(); }
    const Rational& relative() const { return mRelative; }
    const Rational& absolute() const { return mAbsolute; }

    // Relative ratio as a double (0.0 for "no ratio").
    double toDouble() const;
    bool isNull() const { return mRelative.numerator() == 0; }

    bool operator==(const ArborRatio& other) const;
    bool operator!=(const ArborRatio& other) const { return !(*this == other); }

    // Exact product a * b of two reduced fractions without wrap-around.
    // Returns false (and leaves `out` untouched) when it does not fit.
    static bool multiplyExact(const Rational& a, const Rational& b, Rational& out);

private:
    // Product of the step fractions of `path`, multiplied onto `r`. Returns
    // false for a bad step or an overflow.
    static bool multiplyPath(Rational& r, const ArborPath& path);

    Rational mRelative;
    Rational mAbsolute;
};

uint qHash(const ArborRatio& ratio, uint seed = 0);

Q_DECLARE_METATYPE(ArborRatio)
