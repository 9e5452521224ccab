#include "ArborConstants.h"

namespace ArborConstants
{
const int PRIMES[PRIME_COUNT] = { 1, 2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31 };

const float PRIME_RATIOS[MAX_PRIME + 1] = {
    -1.0f,   -1.0f,   2.0f,    1.5f,    -1.0f, 1.25f,  -1.0f,   1.75f,  // 0..7
    -1.0f,   -1.0f,   -1.0f,   1.375f,  -1.0f, 1.625f, -1.0f,   -1.0f,  // 8..15
    -1.0f,   1.0625f, -1.0f,   1.1875f, -1.0f, -1.0f,  -1.0f,   1.4375f, // 16..23
    -1.0f,   -1.0f,   -1.0f,   -1.0f,   -1.0f, 1.8125f, -1.0f,  1.9375f  // 24..31
};

#define ZERO Rational(0ULL, 1ULL)
const Rational PRIME_RATIONALS[MAX_PRIME + 1] = {
    ZERO, ZERO, Rational(2ULL, 1ULL), Rational(3ULL, 2ULL), ZERO, Rational(5ULL, 4ULL), ZERO,
    Rational(7ULL, 4ULL),                                         // 7
    ZERO, ZERO, ZERO, Rational(11ULL, 8ULL), ZERO, Rational(13ULL, 8ULL), ZERO, ZERO, // 8..15
    ZERO, Rational(17ULL, 16ULL), ZERO, Rational(19ULL, 16ULL), ZERO, ZERO, ZERO,
    Rational(23ULL, 16ULL),                                       // 23
    ZERO, ZERO, ZERO, ZERO, ZERO, Rational(29ULL, 16ULL), ZERO, Rational(31ULL, 16ULL) // 24..31
};
#undef ZERO

bool isValidPrimeStep(int step)
{
    if (step < -MAX_PRIME || step > MAX_PRIME)
        return false;
    const int prime = step < 0 ? -step : step;
    return PRIME_RATIOS[prime] > 0.0f;
}

float primeStepRatio(int step)
{
    if (!isValidPrimeStep(step))
        return 1.0f;
    if (step > 0)
        return PRIME_RATIOS[step];
    return 1.0f / PRIME_RATIOS[-step];
}

bool primeStepRational(int step, Rational& out)
{
    if (!isValidPrimeStep(step))
        return false;
    if (step > 0) {
        out = PRIME_RATIONALS[step];
    } else {
        const Rational& r = PRIME_RATIONALS[-step];
        // A step rational is never 0, so swapping is a valid reduced fraction.
        out.assign(r.denominator(), r.numerator());
    }
    return true;
}
}
