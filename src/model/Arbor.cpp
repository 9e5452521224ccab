#include "Arbor.h"

#include "ArborConstants.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonValue>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

const QColor Arbor::WHITE = QColor(255, 255, 255, 255);

Arbor::Arbor(QObject* parent)
    : SerializableRoot(parent)
    , mRootBall(new ArborBall(ArborPath(), WHITE, this))
    , mTransposeRatio(1, 1)
    , mBaseFrequency(440.0f)
{
    mSaveOnTerm = false;
}

Arbor::~Arbor() = default;

bool Arbor::init(QObject* player)
{
    qRegisterMetaType<ArborRatio>("ArborRatio");
    qRegisterMetaType<ArborPath>("ArborPath");
    if (!SerializableRoot::init(QStringLiteral("arbor_v15.json")))
        return false;
    if (player) {
        bool ok = true;
        ok &= bool(connect(player, SIGNAL(noteToggled(ArborRatio, bool)), this,
                           SLOT(onNoteReported(ArborRatio, bool)), Qt::QueuedConnection));
        ok &= bool(connect(player, SIGNAL(transposed(ArborRatio, int)), this,
                           SLOT(onTransposed(ArborRatio, int)), Qt::QueuedConnection));
        ok &= bool(connect(player, SIGNAL(baseFrequencyChanged(float)), this,
                           SLOT(onBaseFrequencyChanged(float)), Qt::QueuedConnection));
        ok &= bool(connect(player, SIGNAL(primeEnabledToggled(int, bool)), this,
                           SLOT(onPrimeEnabledToggled(int, bool)), Qt::QueuedConnection));
        if (!ok)
            qWarning() << "Arbor: not every engine signal could be connected";
    }
    return true;
}

bool Arbor::isValidPrime(int step)
{
    return ArborConstants::isValidPrimeStep(step);
}

float Arbor::primeRatio(int step)
{
    if (!isValidPrime(step)) {
        qWarning() << "Arbor::primeRatio:" << step << "is not a signed prime step, using 1";
        return 1.0f;
    }
    return ArborConstants::primeStepRatio(step);
}

QColor Arbor::lookupColor(int prime) const
{
    if (prime == std::numeric_limits<int>::min())
        return WHITE;
    const auto it = mPrimeColors.constFind(prime < 0 ? -prime : prime);
    return it == mPrimeColors.constEnd() ? WHITE : it.value();
}

bool Arbor::canTransposeTo(const ArborRatio& step) const
{
    ArborRatio::Rational t;
    if (!ArborRatio::multiplyExact(mTransposeRatio.relative(), step.relative(), t))
        return false;   // the new transposition itself would not fit 64 bits
    const float f = mBaseFrequency * (float(t.numerator()) / float(t.denominator()));
    if (!(f >= 20.0f && f <= 20000.0f))
        return false;
    for (auto it = mBallMap.constBegin(); it != mBallMap.constEnd(); ++it) {
        if (!it.key().canMultiplyWith(step)) {
            const ArborBall* ball = it.value();
            qDebug().noquote() << QStringLiteral("canTransposeTo fail on %1 to %2:\n  ball: %3 at %4 can't be played")
                                      .arg(mTransposeRatio.toString(), step.toString(),
                                           ball->path().toString(),
                                           ArborRatio::relativeFromPath(ball->path()).toString());
            return false;
        }
    }
    return true;
}

ArborBall* Arbor::ballFromRatio(const ArborRatio& ratio) const
{
    return mBallMap.value(ratio, nullptr);
}

ArborBall* Arbor::ballFromPath(const ArborPath& path) const
{
    if (!path.isValid())
        return nullptr;
    ArborBall* ball = mRootBall;
    const signed char* steps = path.toCharArray();
    for (int i = 0; ball && i < ArborPath::MAX_STEPS && steps[i] != 0; ++i)
        ball = ball->childAtPrime(steps[i]);
    return ball;
}

void Arbor::buildBallMapFrom(ArborBall* ball)
{
    if (!ball)
        return;
    ArborRatio key(mTransposeRatio);
    key *= ArborRatio::relativeFromPath(ball->path());
    mBallMap.insert(key, ball);
    ball->setPlaying(false);
    for (ArborBall* child : ball->children())
        buildBallMapFrom(child);
}

void Arbor::buildBallMap()
{
    mBallMap.clear();
    buildBallMapFrom(mRootBall);
    for (const ArborRatio& ratio : qAsConst(mPlayingRatios)) {
        if (ArborBall* ball = ballFromRatio(ratio))
            ball->setPlaying(true);
    }
}

QList<int> Arbor::cancelOppositeSteps(QList<int> steps)
{
    int i = 0;
    while (i < steps.size()) {
        const int x = steps.at(i);
        int j = i - 1;
        // -x of INT_MIN does not exist; such a step never cancels.
        while (j >= 0 && (x == std::numeric_limits<int>::min() || steps.at(j) != -x))
            --j;
        if (j >= 0) {
            steps.removeAt(i);
            steps.removeAt(j);
            i -= 1;
        } else {
            ++i;
        }
    }
    return steps;
}

void Arbor::simplifyTransposeSteps()
{
    mTransposeSteps = cancelOppositeSteps(mTransposeSteps);
}

void Arbor::addLeaf(ArborBall* ball, int prime)
{
    if (!ball)
        return;
    if (ball->path().length() >= ArborPath::MAX_STEPS) {
        qWarning() << "Arbor::addLeaf: ball" << ball->path().toString() << "is already" << ArborPath::MAX_STEPS
                   << "steps deep";
        return;
    }
    for (int step : { -prime, prime }) {
        ArborPath path(ball->path());
        path.addLeaf(static_cast<signed char>(step));
        ball->addChild(step, new ArborBall(path, lookupColor(prime), ball));
    }
}

void Arbor::addLeaves(ArborBall* ball)
{
    static const int leafPrimes[] = { 5, 7, 11, 13, 17, 19, 23, 29, 31 };
    for (int prime : leafPrimes)
        addLeaf(ball, prime);
}

void Arbor::onNoteToggled(ArborRatio ratio, bool on)
{
    if (on)
        mPlayingRatios.insert(ratio);
    else
        mPlayingRatios.remove(ratio);
    ArborBall* ball = ballFromRatio(ratio);
    if (ball && ball->isPlaying() != on)
        ball->setPlaying(on);
}

void Arbor::onNoteReported(ArborRatio ratio, bool on)
{
    if (!mFrame.isValid() || mFrame.elapsed() >= FRAME_MS) {
        mFrame.start();
        mBusyNs = 0;
    }
    if (mReportedNotes.isEmpty() && mBusyNs < BUSY_MS_PER_FRAME * 1000000) {
        QElapsedTimer busy;
        busy.start();
        onNoteToggled(ratio, on);
        mBusyNs += busy.nsecsElapsed();
        return;
    }
    const auto known = mReportedIndex.constFind(ratio);
    if (known != mReportedIndex.constEnd()) {
        mReportedNotes[known.value()].second = on;
        return;
    }
    mReportedIndex.insert(ratio, mReportedNotes.size());
    mReportedNotes.append(qMakePair(ratio, on));
    if (mReportedNotes.size() == 1)
        QTimer::singleShot(int(std::max<qint64>(FRAME_MS - mFrame.elapsed(), 0)), this, &Arbor::applyReportedNotes);
}

void Arbor::applyReportedNotes()
{
    if (mReportedNotes.isEmpty())
        return;
    const QList<QPair<ArborRatio, bool>> reported = std::exchange(mReportedNotes, {});
    mReportedIndex.clear();
    mFrame.start();
    for (const auto& note : reported)
        onNoteToggled(note.first, note.second);
    mBusyNs = mFrame.nsecsElapsed();
}

void Arbor::onTransposed(ArborRatio ratio, int prime)
{
    applyReportedNotes(); // what the engine reported before comes first
    mTransposeRatio = ratio;
    if (prime == 0) {
        mTransposeSteps.clear();
    } else if (!isValidPrime(prime)) {
        qWarning() << "Arbor::onTransposed:" << prime << "is not a signed prime step; the step list is left as it is";
    } else {
        mTransposeSteps.append(prime);
        simplifyTransposeSteps();
    }
    buildBallMap();
    emit transposeOrBaseFrequencyChanged();
}

void Arbor::onBaseFrequencyChanged(float freq)
{
    if (freq == mBaseFrequency)
        return;
    mBaseFrequency = freq;
    emit transposeOrBaseFrequencyChanged();
}

void Arbor::onPrimeEnabledToggled(int prime, bool enabled)
{
    applyReportedNotes();
    if (prime == 1)
        mRootBall->setEnabled(enabled);
    else
        togglePrimeFrom(mRootBall, prime, enabled);
}

void Arbor::togglePrimeFrom(ArborBall* ball, int prime, bool enabled)
{
    if (prime == std::numeric_limits<int>::min())
        return;
    if (ArborBall* up = ball->childAtPrime(prime))
        up->setEnabled(enabled);
    if (ArborBall* down = ball->childAtPrime(-prime))
        down->setEnabled(enabled);
    for (ArborBall* child : ball->children())
        togglePrimeFrom(child, prime, enabled);
}

void Arbor::read(const QJsonObject& json)
{
    const QJsonArray colors = json.value(QLatin1String("colors")).toArray();
    for (const QJsonValue& entry : colors) {
        const QJsonObject object = entry.toObject();
        const double primeValue = object.value(QLatin1String("prime")).toDouble();
        if (!std::isfinite(primeValue) || primeValue <= double(std::numeric_limits<int>::min()) - 1.0
            || primeValue >= double(std::numeric_limits<int>::max()) + 1.0) {
            qWarning() << "Lattice file: colour entry with prime" << primeValue << "is out of range; skipped";
            continue;
        }
        const int prime = int(primeValue);
        const QColor color = object.value(QLatin1String("color")).toVariant().value<QColor>();
        if (!color.isValid()) {
            qWarning() << "Lattice file: colour entry for prime" << prime << "has no valid colour"
                       << object.value(QLatin1String("color")).toVariant().toString() << "; skipped";
            continue;
        }
        mPrimeColors.insert(prime, color);
    }

    ArborBall* previous = mRootBall;
    mRootBall = new ArborBall(ArborPath(), lookupColor(1), this);
    mRootBall->read(json.value(QLatin1String("root")).toObject());
    buildBallMap();
    if (previous)
        emit rootBallReplaced(mRootBall);
}

void Arbor::write(QJsonObject& json) const
{
    QJsonArray colors;
    for (auto it = mPrimeColors.constBegin(); it != mPrimeColors.constEnd(); ++it) {
        QJsonObject entry;
        entry.insert(QStringLiteral("prime"), it.key());
        entry.insert(QStringLiteral("color"), it.value().name());
        colors.append(entry);
    }
    json.insert(QStringLiteral("colors"), colors);
    QJsonObject root;
    if (mRootBall)
        mRootBall->write(root);
    json.insert(QStringLiteral("root"), root);
}

ArborBall* Arbor::addDefaultBall(ArborBall* parent, int step, const char* link)
{
    ArborPath path(parent->path());
    path.addLeaf(static_cast<signed char>(step));
    ArborBall* ball = new ArborBall(path, lookupColor(step), parent);
    if (link)
        ball->addLink(2, QString::fromLatin1(link));
    parent->addChild(step, ball);
    return ball;
}

void Arbor::initWithDefaults()
{
    mPrimeColors.clear();
    mPrimeColors.insert(0, QColor(183, 183, 183));
    mPrimeColors.insert(1, QColor(32, 32, 32));
    mPrimeColors.insert(2, QColor(91, 91, 91));
    mPrimeColors.insert(3, QColor(81, 115, 182));
    mPrimeColors.insert(5, QColor(156, 4, 4));
    mPrimeColors.insert(7, QColor(40, 56, 208));
    mPrimeColors.insert(11, QColor(180, 97, 16));
    mPrimeColors.insert(13, QColor(113, 0, 113));
    mPrimeColors.insert(17, QColor(7, 116, 7));
    mPrimeColors.insert(19, QColor(153, 153, 0));
    mPrimeColors.insert(23, QColor(0, 91, 91));
    mPrimeColors.insert(29, QColor(119, 92, 66));
    mPrimeColors.insert(31, QColor(42, 157, 123));
    QStringList table;
    for (auto it = mPrimeColors.constBegin(); it != mPrimeColors.constEnd(); ++it)
        table << QStringLiteral("%1: %2").arg(it.key()).arg(it.value().name());
    qDebug().noquote() << "Arbor::initWithDefaults - mPrimeColors:" << table.join(QStringLiteral(", "));

    ArborBall* root = new ArborBall(ArborPath(), lookupColor(1), this);

    // Depth first: each chain down to its end, a ball's leaves after its own
    // children, the root's leaves last.
    ArborBall* m2 = addDefaultBall(root, -2, nullptr);
    {
        ArborBall* m2m2 = addDefaultBall(m2, -2, nullptr);
        ArborBall* m2m2p3 = addDefaultBall(m2m2, 3, "/-2/3");
        ArborBall* m2m2p3p3 = addDefaultBall(m2m2p3, 3, "/-2/3/3");
        addLeaves(m2m2p3p3);
        addLeaves(m2m2p3);
        addLeaves(m2m2);
        ArborBall* m2m3 = addDefaultBall(m2, -3, "/-3");
        addLeaves(m2m3);
        ArborBall* m2p3 = addDefaultBall(m2, 3, "/3");
        ArborBall* m2p3p3 = addDefaultBall(m2p3, 3, "/3/3");
        addLeaves(m2p3p3);
        addLeaves(m2p3);
    }
    addLeaves(m2);

    ArborBall* p2 = addDefaultBall(root, 2, nullptr);
    {
        ArborBall* a = addDefaultBall(p2, -3, nullptr);
        ArborBall* b = addDefaultBall(a, -3, nullptr);
        ArborBall* c = addDefaultBall(b, -3, nullptr);
        addLeaves(c);
        addLeaves(b);
        addLeaves(a);
        ArborBall* d = addDefaultBall(p2, 3, nullptr);
        ArborBall* e = addDefaultBall(d, 3, nullptr);
        addLeaves(e);
        addLeaves(d);
    }
    addLeaves(p2);

    ArborBall* m3 = addDefaultBall(root, -3, "/2/-3");
    ArborBall* m3m3 = addDefaultBall(m3, -3, "/2/-3/-3");
    ArborBall* m3m3m3 = addDefaultBall(m3m3, -3, "/2/-3/-3/-3");
    addLeaves(m3m3m3);
    addLeaves(m3m3);
    addLeaves(m3);

    ArborBall* p3 = addDefaultBall(root, 3, "/2/3");
    ArborBall* p3p3 = addDefaultBall(p3, 3, "/2/3/3");
    addLeaves(p3p3);
    addLeaves(p3);

    addLeaves(root);

    // The previous tree (the white placeholder) stays a child of the lattice,
    // as after a reload, so that nobody holding it is left with a dangling pointer.
    mRootBall = root;
    buildBallMap();
    emit rootBallReplaced(mRootBall);
}
