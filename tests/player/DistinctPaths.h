#pragma once

#include "ArborPath.h"
#include "ArborRatio.h"

#include <QSet>
#include <QStringList>

namespace PlayerTest
{
// Paths of up to `n` (300 or so at most) distinct ratios whose notes lie
// between 40 Hz and 8 kHz above A 440: three steps along 2 to 11, either way.
inline QStringList distinctPaths(int n)
{
    const int steps[] = {2, 3, 5, 7, 11, -2, -3, -5, -7, -11};
    QStringList out;
    QSet<QString> seen;
    for (int i = 0; i < 1000 && out.size() < n; ++i) {
        const QString path = QStringLiteral("/%1/%2/%3").arg(steps[i / 100]).arg(steps[i / 10 % 10]).arg(steps[i % 10]);
        const ArborRatio r = ArborRatio::relativeFromPath(ArborPath(path));
        const double f = r.toDouble() * 440.0;
        if (!r.isNull() && f >= 40.0 && f <= 8000.0 && !seen.contains(r.toString())) {
            seen.insert(r.toString());
            out << path;
        }
    }
    return out;
}
} // namespace PlayerTest
