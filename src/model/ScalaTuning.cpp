#include "ScalaTuning.h"

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborContext.h"
#include "Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStringList>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {
typedef unsigned __int128 Wide;

// The largest numerator or denominator tuning programs read as a ratio;
// pitches beyond are written in cents.
constexpr Wide LARGEST_TERM = 2147483647;

QString wideText(Wide value)
{
    QString text;
    do {
        text.prepend(QChar('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return text;
}

// A pitch class: the odd parts of a ratio, which every octave of it shares.
struct Pitch
{
    unsigned long long oddNumerator = 1;
    unsigned long long oddDenominator = 1;
    QStringList paths;

    // The octave of the class in (1/1, 2/1] as an exact fraction.
    void reduced(Wide& numerator, Wide& denominator) const
    {
        int shift = 0;
        auto fraction = [&] {
            numerator = shift >= 0 ? Wide(oddNumerator) << shift : Wide(oddNumerator);
            denominator = shift >= 0 ? Wide(oddDenominator) : Wide(oddDenominator) << -shift;
        };
        fraction();
        while (numerator <= denominator) {
            ++shift;
            fraction();
        }
        while (numerator > 2 * denominator) {
            --shift;
            fraction();
        }
    }

    long double cents() const
    {
        Wide n, d;
        reduced(n, d);
        return 1200.0L * (std::log2((long double)n) - std::log2((long double)d));
    }

    QString pitchLine() const
    {
        Wide n, d;
        reduced(n, d);
        const QString exact = wideText(n) + '/' + wideText(d);
        if (n <= LARGEST_TERM && d <= LARGEST_TERM)
            return ' ' + exact;
        return QStringLiteral(" %1 ! exact ratio %2").arg(double(cents()), 0, 'f', 6).arg(exact);
    }
};

unsigned long long oddPart(unsigned long long value)
{
    while (value != 0 && value % 2 == 0)
        value /= 2;
    return value;
}

// The scale's degrees: every pitch class but 1/1 in ascending order, then 1/1 as 2/1.
QList<Pitch> pitchesOf(const QList<ScalaTuning::Note>& notes)
{
    QMap<QPair<unsigned long long, unsigned long long>, Pitch> classes;
    classes[{1, 1}] = Pitch();
    for (const ScalaTuning::Note& note : notes) {
        if (note.ratio.numerator() == 0)
            continue;
        Pitch& pitch = classes[{oddPart(note.ratio.numerator()), oddPart(note.ratio.denominator())}];
        pitch.oddNumerator = oddPart(note.ratio.numerator());
        pitch.oddDenominator = oddPart(note.ratio.denominator());
        if (!pitch.paths.contains(note.path))
            pitch.paths.append(note.path);
    }
    const Pitch octave = classes.take({1, 1});
    QList<Pitch> out = classes.values();
    std::sort(out.begin(), out.end(), [](const Pitch& a, const Pitch& b) { return a.cents() < b.cents(); });
    out.append(octave);
    return out;
}

void collect(const ArborBall* ball, QList<ScalaTuning::Note>& out)
{
    out.append({ArborRatio::relativeFromPath(ball->path()).relative(), ball->path().toString()});
    for (const ArborBall* child : ball->children())
        collect(child, out);
}

bool save(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    if (error)
        *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}
} // namespace

namespace ScalaTuning
{
QList<Note> chordNotes(const Arbor& arbor)
{
    QList<Note> out;
    for (const ArborRatio& sounding : arbor.playingRatios()) {
        if (const ArborBall* ball = arbor.ballFromRatio(sounding))
            out.append({ArborRatio::relativeFromPath(ball->path()).relative(), ball->path().toString()});
        else
            out.append({sounding.relative() / arbor.transposeRatio().relative(), sounding.toString()});
    }
    return out;
}

QList<Note> latticeNotes(const Arbor& arbor)
{
    QList<Note> out;
    if (arbor.rootBall())
        collect(arbor.rootBall(), out);
    return out;
}

int degreeCount(const QList<Note>& notes)
{
    return pitchesOf(notes).size();
}

QByteArray scl(const QString& fileName, const QString& description, const QList<Note>& notes)
{
    const QList<Pitch> pitches = pitchesOf(notes);
    QStringList lines{"! " + fileName, "!", description, ' ' + QString::number(pitches.size()), "!"};
    for (const Pitch& pitch : pitches) {
        lines << "! " + (pitch.paths.isEmpty() ? QStringLiteral("(octave)") : pitch.paths.join(QStringLiteral(", ")));
        lines << pitch.pitchLine();
    }
    return (lines.join('\n') + '\n').toUtf8();
}

QByteArray kbm(const QString& fileName, int degrees, double frequency, int calibration)
{
    const int key = qBound(0, qRound(69 + 12 * std::log2(frequency / calibration)), 127);
    QStringList lines{"! " + fileName,
                      "!",
                      "! Degree 0 (the 1/1) on key " + QString::number(key),
                      "! Map size:",
                      QString::number(degrees),
                      "! First MIDI note number to retune:",
                      "0",
                      "! Last MIDI note number to retune:",
                      "127",
                      "! Middle note where the first entry of the mapping is mapped to:",
                      QString::number(key),
                      "! Reference note for which frequency is given:",
                      QString::number(key),
                      "! Frequency to tune the above note to:",
                      QString::number(frequency, 'f', 6),
                      "! Scale degree to consider as formal octave:",
                      QString::number(degrees),
                      "! Mapping."};
    for (int degree = 0; degree < degrees; ++degree)
        lines << QString::number(degree);
    return (lines.join('\n') + '\n').toUtf8();
}

bool exportTuning(const Arbor& arbor, bool wholeLattice, const QString& sclPath, QString* error)
{
    const QList<Note> notes = wholeLattice ? latticeNotes(arbor) : chordNotes(arbor);
    const ArborRatio::Rational& t = arbor.transposeRatio().relative();
    const double frequency = double(arbor.baseFrequency()) * double(t.numerator()) / double(t.denominator());
    const QFileInfo info(sclPath);
    const QString kbmPath = info.dir().filePath(info.completeBaseName() + QStringLiteral(".kbm"));
    const QString description = QStringLiteral("Arbor %1, 1/1 = %2 Hz")
                                    .arg(wholeLattice ? QStringLiteral("lattice") : QStringLiteral("chord"))
                                    .arg(frequency, 0, 'f', 3);
    return save(sclPath, scl(info.fileName(), description, notes), error)
           && save(kbmPath,
                   kbm(QFileInfo(kbmPath).fileName(), degreeCount(notes), frequency,
                       ArborContext::settings()->mCalibrationFrequency),
                   error);
}
} // namespace ScalaTuning
