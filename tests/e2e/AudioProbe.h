#pragma once

// Reads the sound the program rendered into the file sink (raw signed
// 16-bit little-endian, interleaved) and tells what is in its latest part.

#include <QFile>
#include <QVector>

#include <cmath>

struct AudioProbe
{
    QString mPath;
    int mRate = 48000;
    int mChannels = 2;

    // The last `seconds` of the first channel, scaled to -1..1.
    QVector<double> tail(double seconds) const
    {
        QFile f(mPath);
        QVector<double> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const qint64 frameBytes = 2 * mChannels;
        const qint64 frames = f.size() / frameBytes;
        const qint64 want = qMin<qint64>(frames, qint64(seconds * mRate));
        f.seek((frames - want) * frameBytes);
        const QByteArray bytes = f.read(want * frameBytes);
        out.reserve(int(want));
        for (qint64 i = 0; i + frameBytes <= bytes.size(); i += frameBytes) {
            const auto lo = quint8(bytes[int(i)]);
            const auto hi = qint8(bytes[int(i + 1)]);
            out << double(qint16(lo | (hi << 8))) / 32768.0;
        }
        return out;
    }

    qint64 frames() const
    {
        return QFile(mPath).size() / (2 * mChannels);
    }

    static double rms(const QVector<double>& s)
    {
        double sum = 0;
        for (double v : s)
            sum += v * v;
        return s.isEmpty() ? 0.0 : std::sqrt(sum / s.size());
    }

    // The frequency with the most energy between lo and hi Hz (1 Hz steps,
    // then refined to 0.1 Hz around the peak), by direct Fourier sums.
    double dominantFrequency(const QVector<double>& s, double lo = 80, double hi = 2000) const
    {
        auto power = [&](double f) {
            double re = 0, im = 0;
            const double w = 2 * M_PI * f / mRate;
            for (int i = 0; i < s.size(); ++i) {
                re += s[i] * std::cos(w * i);
                im += s[i] * std::sin(w * i);
            }
            return re * re + im * im;
        };
        double best = lo, bestPower = -1;
        for (double f = lo; f <= hi; f += 1.0) {
            const double p = power(f);
            if (p > bestPower) {
                bestPower = p;
                best = f;
            }
        }
        const double coarse = best;
        for (double f = coarse - 1; f <= coarse + 1; f += 0.1) {
            const double p = power(f);
            if (p > bestPower) {
                bestPower = p;
                best = f;
            }
        }
        return best;
    }
};
