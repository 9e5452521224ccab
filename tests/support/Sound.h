#pragma once

// Reads what scripts/audio-sink.sh recorded: raw 32-bit float little-endian samples,
// interleaved stereo, 44100 frames a second, as the program and tone_player open the device.

#include <QFile>
#include <QVector>
#include <QtEndian>

#include <sndfile.h>

#include <array>
#include <cmath>
#include <numeric>

namespace Sound {
constexpr int RATE = 44100;
constexpr int FRAME_BYTES = 8;

// Both channels of the last `frames` whole frames in the file (all by default).
inline std::array<QVector<double>, 2> read(const QString& path, qint64 frames = -1) {
    QFile f(path);
    const qint64 size = f.size() / FRAME_BYTES * FRAME_BYTES;
    std::array<QVector<double>, 2> c;
    if (!f.open(QIODevice::ReadOnly) || !f.seek(frames < 0 ? 0 : qMax<qint64>(0, size - frames * FRAME_BYTES)))
        return c;
    const QByteArray bytes = f.read(size - f.pos());
    for (int i = 0; i + 4 <= bytes.size(); i += 4)
        c[i / 4 % 2] << double(qFromLittleEndian<float>(bytes.constData() + i));
    return c;
}

// Both channels of a stereo sound file (none when it cannot be read); `info` gets its rate, channels and format.
inline std::array<QVector<double>, 2> readStereo(const QString& path, SF_INFO& info) {
    std::array<QVector<double>, 2> c;
    SNDFILE* file = sf_open(QFile::encodeName(path), SFM_READ, &info);
    std::vector<float> frames(file && info.channels == 2 ? info.frames * 2 : 0);
    if (file && sf_readf_float(file, frames.data(), info.frames) == info.frames)
        for (size_t i = 0; i < frames.size(); ++i)
            c[i % 2] << frames[i];
    if (file)
        sf_close(file);
    return c;
}

inline double rms(const QVector<double>& s) {
    return s.isEmpty() ? 0.0 : std::sqrt(std::inner_product(s.begin(), s.end(), s.begin(), 0.0) / s.size());
}

// A steady tone's frequency from its first and last rising zero crossings (interpolated); 0 without two.
inline double frequency(const QVector<double>& s) {
    double first = 0, last = 0;
    int crossings = 0;
    for (int i = 1; i < s.size(); ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            last = i - 1 + s[i - 1] / (s[i - 1] - s[i]);
            first = crossings++ ? first : last;
        }
    return crossings > 1 ? (crossings - 1) * RATE / (last - first) : 0.0;
}
} // namespace Sound
