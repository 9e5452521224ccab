#include "ArborPath.h"

#include "ArborConstants.h"
#include "ArborRatio.h"

#include <QDebug>
#include <QStringList>

#include <cstring>

ArborPath::ArborPath()
{
    std::memset(mSteps, 0, sizeof(mSteps));
}

ArborPath::ArborPath(const QString& text)
    : ArborPath()
{
    storeFromString(text);
}

ArborPath::ArborPath(signed char step)
    : ArborPath()
{
    mSteps[0] = step;
}

ArborPath::ArborPath(const ArborPath& other)
{
    std::memcpy(mSteps, other.mSteps, sizeof(mSteps));
}

ArborPath& ArborPath::operator=(const ArborPath& other)
{
    std::memcpy(mSteps, other.mSteps, sizeof(mSteps));
    return *this;
}

void ArborPath::storeFromString(const QString& text)
{
    std::memset(mSteps, 0, sizeof(mSteps));
    const QStringList parts = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const int count = qMin(parts.size(), MAX_STEPS);
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        const int step = parts.at(i).toInt(&ok, 10);
        if (!ok || !ArborConstants::isValidPrimeStep(step)) {
            qDebug() << "Invalid path: " << text;
            std::memset(mSteps, 0, sizeof(mSteps));
            mSteps[0] = INVALID_MARKER;
            return;
        }
        mSteps[i] = static_cast<signed char>(step);
    }
}

QString ArborPath::toString() const
{
    return parseToString();
}

QString ArborPath::parseToString() const
{
    if (mSteps[0] == 0)
        return QStringLiteral("/");
    QString text;
    for (int i = 0; i < MAX_STEPS && mSteps[i] != 0; ++i) {
        text += QLatin1Char('/');
        text += QString::number(static_cast<int>(mSteps[i]));
    }
    return text;
}

QList<int> ArborPath::toList() const
{
    QList<int> list;
    for (int i = 0; i < MAX_STEPS && mSteps[i] != 0; ++i)
        list.append(static_cast<int>(mSteps[i]));
    return list;
}

const signed char* ArborPath::toCharArray() const
{
    return mSteps;
}

ArborPath ArborPath::operator+(const ArborPath& other) const
{
    ArborPath sum(*this);
    int n = sum.length();
    for (int i = 0; i < MAX_STEPS && other.mSteps[i] != 0 && n < MAX_STEPS; ++i)
        sum.mSteps[n++] = other.mSteps[i];
    sum.mSteps[n] = 0;
    return sum;
}

void ArborPath::addLeaf(signed char step)
{
    const int n = length();
    if (n >= MAX_STEPS)
        return;
    mSteps[n] = step;
    mSteps[n + 1] = 0;
}

void ArborPath::removeLeaf()
{
    const int n = length();
    if (n == 0)
        return;
    mSteps[n - 1] = 0;
}

int ArborPath::length() const
{
    int n = 0;
    while (n < MAX_STEPS && mSteps[n] != 0)
        ++n;
    return n;
}

bool ArborPath::isValid() const
{
    return mSteps[0] != INVALID_MARKER;
}

bool ArborPath::isRoot() const
{
    return mSteps[0] == 0;
}

ArborRatio ArborPath::toRatio() const
{
    return ArborRatio(*this);
}

ArborPath ArborPath::fromRaw(const signed char* steps)
{
    ArborPath path;
    if (!steps)
        return path;
    for (int i = 0; i < MAX_STEPS && steps[i] != 0; ++i)
        path.mSteps[i] = steps[i];
    return path;
}

bool ArborPath::operator==(const ArborPath& other) const
{
    for (int i = 0; i < STORAGE; ++i) {
        if (mSteps[i] != other.mSteps[i])
            return false;
        if (mSteps[i] == 0)
            return true;
    }
    return true;
}

uint qHash(const ArborPath& path, uint seed)
{
    uint h = seed;
    const signed char* s = path.toCharArray();
    for (int i = 0; i < ArborPath::MAX_STEPS && s[i] != 0; ++i)
        h = h * 31u + static_cast<unsigned char>(s[i]);
    return h;
}
