#pragma once

// Reads what scripts/audio-sink.sh recorded (raw 32-bit float little-endian
// samples, interleaved stereo, 44100 frames a second, as the program and
// tone_player open the device) and measures its level and pitch.

#include <QFile>
#include <QVector>
#include <QtEndian>

#include <array>
#include <cmath>

namespace Sound
{
constexpr int RATE = 44100;
constexpr int FRAME_BYTES = 8;

inline qint64 frames(const QString& path)
{
    return QFile(path).size() / FRAME_BYTES;
}

// Both channels of the whole frames from `first` on (negative: from the end).
inline std::array<QVector<double>, 2> read(const QString& path, qint64 first = 0)
{
    std::array<QVector<double>, 2> c;
    QFile f(path);
    const qint64 total = f.size() / FRAME_BYTES;
    if (f.open(QIODevice::ReadOnly) && f.seek(qBound<qint64>(0, first < 0 ? total + first : first, total) * FRAME_BYTES)) {
        const QByteArray bytes = f.read(total * FRAME_BYTES - f.pos());
        for (int i = 0; i + 4 <= bytes.size(); i += 4)
            c[i / 4 % 2] << double(qFromLittleEndian<float>(bytes.constData() + i));
    }
    return c;
}

inline double rms(const QVector<double>& s)
{
    double sum = 0;
    for (double v : s)
        sum += v * v;
    return s.isEmpty() ? 0.0 : std::sqrt(sum / s.size());
}

// The largest magnitude; infinite once a sample is not finite.
inline double peak(const QVector<double>& s)
{
    double p = 0;
    for (double v : s)
        p = std::isfinite(v) ? std::fmax(p, std::fabs(v)) : INFINITY;
    return p;
}

// The frequency of a steady tone from its first and last rising zero
// crossings, placed between samples by linear interpolation; 0 without two.
inline double frequency(const QVector<double>& s)
{
    double first = 0, last = 0;
    int crossings = 0;
    for (int i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            last = i - 1 + s[i - 1] / (s[i - 1] - s[i]);
            first = crossings++ ? first : last;
        }
    }
    return crossings > 1 ? (crossings - 1) * RATE / (last - first) : 0.0;
}
} // namespace Sound
