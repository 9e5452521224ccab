#pragma once

#include <QStringList>

#include <cstdlib>

namespace PlayerTest
{
// Up to 225 distinct ratios, 52 Hz to 3.7 kHz above A 440: up to two steps along 3 and 5, one along 7 and 11.
inline QStringList distinctPaths(int n)
{
    QStringList out;
    for (int i = 0; i < std::min(n, 225); ++i) {
        const int counts[] = {i % 5 - 2, i / 5 % 5 - 2, i / 25 % 3 - 1, i / 75 % 3 - 1};
        QString path;
        for (int p = 0; p < 4; ++p)
            for (int k = 0; k < std::abs(counts[p]); ++k)
                path += QStringLiteral("/%1").arg((counts[p] < 0 ? -1 : 1) * (p < 2 ? 3 + 2 * p : 7 + 4 * (p - 2)));
        out << path;
    }
    return out;
}
} // namespace PlayerTest
