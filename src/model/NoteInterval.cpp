#include "NoteInterval.h"

#include <climits>

namespace
{
// Equal-tempered size of each major or perfect degree, in semitones.
const int DEGREE_SEMITONES[8] = {0, 2, 4, 5, 7, 9, 11, 12};

int degreeSemitones(int number)
{
    return (number >= 0 && number < 8) ? DEGREE_SEMITONES[number] : 0;
}

bool isMajorMinorClass(int number)
{
    return number == 1 || number == 2 || number == 5 || number == 6;
}
} // namespace

NoteInterval::NoteInterval()
{
    init();
}

NoteInterval::NoteInterval(const QString& text)
{
    init();
    storeFromString(text);
}

NoteInterval::NoteInterval(int signedPrime)
{
    init();
    storeFromPrime(signedPrime);
}

void NoteInterval::init()
{
    mDirection = 1;
    mOctaves = 0;
    mNumber = 0;
    mQuality = 0;
}

bool NoteInterval::isPerfectClass(int number)
{
    return number == 0 || number == 3 || number == 4 || number == 7;
}

QString NoteInterval::primeIntervalText(int prime)
{
    switch (prime)
    {
    case 2: return QStringLiteral("p8");
    case 3: return QStringLiteral("p5");
    case 5: return QStringLiteral("M3");
    case 7: return QStringLiteral("m7");
    case 11: return QStringLiteral("aug4");
    case 13: return QStringLiteral("m6");
    case 17: return QStringLiteral("m2");
    case 19: return QStringLiteral("m3");
    case 23: return QStringLiteral("aug4");
    case 29: return QStringLiteral("m7");
    case 31: return QStringLiteral("M7");
    default: return QString();
    }
}

void NoteInterval::storeFromString(const QString& text)
{
    QString rest = text;
    mDirection = 1;
    if (rest.startsWith(QLatin1Char('-')))
    {
        mDirection = -1;
        rest.remove(0, 1);
    }

    mNumber = -1;
    if (!rest.isEmpty())
    {
        const QChar last = rest.at(rest.size() - 1);
        if (last >= QLatin1Char('0') && last <= QLatin1Char('9'))
            mNumber = last.unicode() - '0' - 1;
        rest.chop(1);
    }

    if (rest == QLatin1String("dim"))
    {
        if (isPerfectClass(mNumber))
            mQuality = -1;
        else if (isMajorMinorClass(mNumber))
            mQuality = -2;
    }
    else if (rest == QLatin1String("m"))
        mQuality = -1;
    else if (rest == QLatin1String("M") || rest == QLatin1String("p"))
        mQuality = 0;
    else if (rest == QLatin1String("aug"))
        mQuality = 1;
}

void NoteInterval::storeFromPrime(int signedPrime)
{
    // Negating INT_MIN is undefined; it is no prime of the table anyway.
    const int prime = signedPrime == INT_MIN ? 0 : (signedPrime < 0 ? -signedPrime : signedPrime);
    QString text = primeIntervalText(prime);
    if (signedPrime < 0)
        text.prepend(QLatin1Char('-'));
    storeFromString(text);
}

QString NoteInterval::toString() const
{
    QString text;
    if (mDirection < 0)
        text += QLatin1Char('-');
    switch (mQuality)
    {
    case -2:
        text += QLatin1String("dim");
        break;
    case -1:
        if (isPerfectClass(mNumber))
            text += QLatin1String("dim");
        else if (isMajorMinorClass(mNumber))
            text += QLatin1Char('m');
        break;
    case 0:
        if (isPerfectClass(mNumber))
            text += QLatin1Char('p');
        else if (isMajorMinorClass(mNumber))
            text += QLatin1Char('M');
        break;
    case 1:
        text += QLatin1String("aug");
        break;
    default:
        break;
    }
    text += QString::number(mNumber + 1);
    return text;
}

int NoteInterval::toSemitoneDistance() const
{
    return mDirection * (12 * mOctaves + degreeSemitones(mNumber) + mQuality);
}
