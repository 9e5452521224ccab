#pragma once

// Reads the sound the program rendered into the file sink (raw 32-bit float
// little-endian, interleaved, as the engine opens the device) and tells what
// is in its latest part.

#include <QFile>
#include <QVector>

#include <cmath>
#include <cstring>

struct AudioProbe
{
    QString mPath;
    int mRate = 44100;
    int mChannels = 2;

    // The last `seconds` of the first channel.
    QVector<double> tail(double seconds) const
    {
        QFile f(mPath);
        QVector<double> out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        const qint64 frameBytes = qint64(sizeof(float)) * mChannels;
        const qint64 frames = f.size() / frameBytes;
        const qint64 want = qMin<qint64>(frames, qint64(seconds * mRate));
        f.seek((frames - want) * frameBytes);
        const QByteArray bytes = f.read(want * frameBytes);
        out.reserve(int(want));
        for (qint64 i = 0; i + frameBytes <= bytes.size(); i += frameBytes) {
            const quint32 bits = quint32(quint8(bytes[int(i)])) | quint32(quint8(bytes[int(i + 1)])) << 8 |
                                 quint32(quint8(bytes[int(i + 2)])) << 16 | quint32(quint8(bytes[int(i + 3)])) << 24;
            float v;
            std::memcpy(&v, &bits, sizeof(v));
            out << double(v);
        }
        return out;
    }

    qint64 frames() const
    {
        return QFile(mPath).size() / (qint64(sizeof(float)) * mChannels);
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
