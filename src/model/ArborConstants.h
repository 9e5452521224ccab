#pragma once

#include <boost/rational.hpp>

// Prime tables shared by paths, ratios and the lattice.
namespace ArborConstants
{
typedef boost::rational<unsigned long long> Rational;

// 1 stands for "every prime at once" in prime toggling.
constexpr int PRIME_COUNT = 12;
extern const int PRIMES[PRIME_COUNT];

// Largest absolute value a prime step can have.
constexpr int MAX_PRIME = 31;

// Each prime folded into the octave [1, 2), indexed by the prime;
// -1.0 for every index that is not a step prime.
extern const float PRIME_RATIOS[MAX_PRIME + 1];

// The same as exact fractions; 0/1 for every index that is not a step prime.
extern const Rational PRIME_RATIONALS[MAX_PRIME + 1];

// True for the signed step primes +-2 .. +-31. The range is checked before
// the sign is dropped, so any int (INT_MIN included) is safe to pass.
bool isValidPrimeStep(int step);

// Octave-folded ratio of a signed step as a float (-3 gives 2/3).
// Returns 1.0 for anything that is not a valid step.
float primeStepRatio(int step);

// Exact fraction of a signed step (-3 gives 2/3). Returns false and leaves
// `out` untouched for anything that is not a valid step. Never logs and
// never allocates: safe on the audio thread.
bool primeStepRational(int step, Rational& out);
}
