// Arbitrary bytes as the base-note option, note and interval texts, a
// frequency, a calibration and lattice steps. Whatever comes in, a spelled
// note keeps its accidental within a double flat and a double sharp, its
// letter within C..B and, once it has a usable pitch, its cents in the window.
#include "FuzzSupport.h"
#include "ArborContext.h"
#include "Note.h"
#include "NoteInterval.h"
#include "Settings.h"

#include <QString>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkNote(const Note& n)
{
    check(n.mNote >= 0 && n.mNote <= 6);
    check(n.mAccidental >= -2 && n.mAccidental <= 2);
    check(std::isfinite(n.mCents));
    check(!n.noteSpelling().isEmpty());
}

struct Reader
{
    const uint8_t* data;
    size_t size;

    QString text()
    {
        size_t n = size ? data[0] % 12 : 0;
        if (size)
        {
            ++data;
            --size;
        }
        n = n < size ? n : size;
        const QString s = QString::fromUtf8(reinterpret_cast<const char*>(data), int(n));
        data += n;
        size -= n;
        return s;
    }

    template <typename T> T value()
    {
        T v{};
        if (size >= sizeof(T))
        {
            std::memcpy(&v, data, sizeof(T));
            data += sizeof(T);
            size -= sizeof(T);
        }
        return v;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::silenceQtMessages();
    static Settings settings;
    ArborContext::setSettings(&settings);

    Reader in{data, size};
    settings.mBaseNote = in.text();
    settings.mBaseFrequency = in.value<float>();
    settings.mCalibrationFrequency = in.value<int>();

    const NoteInterval interval(in.text());
    (void)interval.toString();
    (void)interval.toSemitoneDistance();

    Note named(in.text(), in.value<int>() % 10000);
    named.storeFromString(in.text());
    (void)named.noteSpelling();

    Note n(settings.mBaseFrequency);
    checkNote(n);
    QList<int> steps;
    while (in.size > 0 && steps.size() < 40)
    {
        const int step = int(int8_t(in.value<uint8_t>()));
        steps << step;
        n.addInterval(step);
        checkNote(n);
    }
    const Note spelled = Note::forSteps(steps, in.value<float>());
    checkNote(spelled);
    n.addCents(in.value<float>());
    checkNote(n);
    if (std::isfinite(n.toSemitonePitch()) && std::fabs(n.toSemitonePitch()) < Note::MAX_SEMITONE)
        check(n.mCents > -49.5f - 0.01f && n.mCents <= 50.5f + 0.01f);
    return 0;
}
