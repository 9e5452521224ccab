#include "ArborBall.h"

#include "Arbor.h"
#include "ArborContext.h"

#include <QDebug>
#include <QJsonValue>

#include <cstdlib>

ArborBall::ArborBall(const ArborPath& path, const QColor& color, QObject* parent)
    : SerializableNode(parent)
    , mPath(path)
    , mColor(color)
    , mPlaying(false)
    , mEnabled(true)
{
}

ArborBall::~ArborBall() = default;

const Arbor* ArborBall::lattice() const
{
    for (QObject* p = parent(); p; p = p->parent()) {
        if (const Arbor* arbor = qobject_cast<const Arbor*>(p))
            return arbor;
    }
    return ArborContext::lattice();
}

QColor ArborBall::colorFor(int prime) const
{
    const Arbor* arbor = lattice();
    return arbor ? arbor->lookupColor(prime) : Arbor::WHITE;
}

ArborBall* ArborBall::childAtPrime(int step) const
{
    return mChildren.value(step, nullptr);
}

void ArborBall::addChild(int step, ArborBall* child)
{
    mChildren.insert(step, child);
}

void ArborBall::addLink(int prime, const QString& path)
{
    Link link;
    link.mColor = colorFor(prime);
    link.mPath = ArborPath(path);
    link.mText = path;
    mLinks.insert(prime, link);
}

void ArborBall::setEnabled(bool enabled)
{
    if (enabled == mEnabled)
        return;
    mEnabled = enabled;
    for (ArborBall* child : qAsConst(mChildren))
        child->setEnabled(enabled);
    emit enabledChanged(enabled);
}

void ArborBall::setPlaying(bool playing)
{
    if (playing == mPlaying)
        return;
    mPlaying = playing;
    emit playingChanged(playing);
}

void ArborBall::togglePlaying()
{
    mPlaying = !mPlaying;
    emit playingChanged(mPlaying);
}

QList<int> ArborBall::absPathSteps() const
{
    QList<int> steps;
    if (const Arbor* arbor = lattice())
        steps = arbor->transposeSteps();
    steps += mPath.toList();
    return Arbor::cancelOppositeSteps(steps);
}

bool ArborBall::pathHasHighStep() const
{
    const QList<int> own = mPath.toList();
    for (int step : own) {
        if (std::abs(step) > 3)
            return true;
    }
    return false;
}

int ArborBall::highestAbsStep() const
{
    const QList<int> steps = absPathSteps();
    if (steps.isEmpty())
        return 1;
    if (pathHasHighStep())
        return 32;
    int highest = 0;
    for (int step : steps)
        highest = qMax(highest, std::abs(step));
    return highest;
}

int ArborBall::lastAbsStep() const
{
    const QList<int> steps = absPathSteps();
    if (steps.isEmpty())
        return 1;
    const bool high = pathHasHighStep();
    int low = 0;
    int highest = 0;
    for (int step : steps) {
        const int a = std::abs(step);
        highest = qMax(highest, a);
        if (a <= 3)
            low = qMax(low, a);
    }
    if (low != 0 || high)
        return high ? 32 : low;
    return highest;
}

int ArborBall::countBalls() const
{
    int n = 1;
    for (const ArborBall* child : mChildren)
        n += child->countBalls();
    return n;
}

void ArborBall::read(const QJsonObject& json)
{
    if (json.contains(QLatin1String("children"))) {
        const QJsonObject children = json.value(QLatin1String("children")).toObject();
        for (auto it = children.constBegin(); it != children.constEnd(); ++it) {
            bool ok = false;
            const int step = it.key().toInt(&ok, 10);
            if (!ok || !Arbor::isValidPrime(step)) {
                qWarning() << "Lattice file: child key" << it.key() << "of ball" << mPath.toString()
                           << "is not a signed prime step; skipping it and everything below it";
                continue;
            }
            if (mPath.length() >= ArborPath::MAX_STEPS) {
                qWarning() << "Lattice file: child" << it.key() << "of ball" << mPath.toString()
                           << "would be deeper than" << ArborPath::MAX_STEPS
                           << "steps; skipping it and everything below it";
                continue;
            }
            if (mChildren.contains(step)) {
                qWarning() << "Lattice file: ball" << mPath.toString() << "has a second child under step"
                           << step << "(key" << it.key() << "); skipping it";
                continue;
            }
            ArborPath childPath(mPath);
            childPath.addLeaf(static_cast<signed char>(step));
            ArborBall* child = new ArborBall(childPath, colorFor(step), this);
            child->read(it.value().toObject());
            addChild(step, child);
        }
    }
    if (json.contains(QLatin1String("links"))) {
        const QJsonObject links = json.value(QLatin1String("links")).toObject();
        for (auto it = links.constBegin(); it != links.constEnd(); ++it) {
            bool ok = false;
            const int prime = it.key().toInt(&ok, 10);
            if (!ok)
                qWarning() << "Lattice file: link key" << it.key() << "of ball" << mPath.toString()
                           << "is not a number; kept as" << prime;
            if (!it.value().isString()) {
                qWarning() << "Lattice file: link" << it.key() << "of ball" << mPath.toString()
                           << "has no path text; skipping it";
                continue;
            }
            addLink(prime, it.value().toString());
        }
    }
}

void ArborBall::write(QJsonObject& json) const
{
    if (!mChildren.isEmpty()) {
        QJsonObject children;
        for (auto it = mChildren.constBegin(); it != mChildren.constEnd(); ++it) {
            QJsonObject child;
            it.value()->write(child);
            children.insert(QString::number(it.key()), child);
        }
        json.insert(QStringLiteral("children"), children);
    }
    if (!mLinks.isEmpty()) {
        QJsonObject links;
        for (auto it = mLinks.constBegin(); it != mLinks.constEnd(); ++it) {
            const Link& link = it.value();
            const QString text = link.mPath.isValid() || link.mText.isEmpty() ? link.mPath.toString()
                                                                              : link.mText;
            links.insert(QString::number(it.key()), text);
        }
        json.insert(QStringLiteral("links"), links);
    }
}
