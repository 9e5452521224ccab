#pragma once

// Lattice paths for tests and benchmarks that need many different notes at once.

#include "ArborPath.h"
#include "ArborRatio.h"

#include <QSet>
#include <QStringList>

namespace PlayerTest
{
// Paths of up to `n` distinct ratios whose notes lie between 40 Hz and 8 kHz
// above A 440 (three steps along 2 to 11, either way: 129 and more exist).
inline QStringList distinctPaths(int n)
{
    const int steps[] = {2, 3, 5, 7, 11, -2, -3, -5, -7, -11};
    QStringList out;
    if (n <= 0)
        return out;
    QSet<QString> seen;
    for (int a : steps)
        for (int b : steps)
            for (int c : steps) {
                const QString path = QStringLiteral("/%1/%2/%3").arg(a).arg(b).arg(c);
                const ArborRatio r = ArborRatio::relativeFromPath(ArborPath(path));
                const double f = r.toDouble() * 440.0;
                if (r.isNull() || f < 40.0 || f > 8000.0 || seen.contains(r.toString()))
                    continue;
                seen.insert(r.toString());
                out << path;
                if (out.size() == n)
                    return out;
            }
    return out;
}
} // namespace PlayerTest
