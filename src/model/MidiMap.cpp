#include "MidiMap.h"

#include "Arbor.h"
#include "ArborEvent.h"
#include "ArborRatio.h"
#include "MappedEvent.h"
#include "NoteNames.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#include <cmath>
#include <tuple>

namespace
{
const QString FILE_NAME = QStringLiteral("midi_map.json");
const QString PROGRAM = QStringLiteral("program");

// A ball a default key may play.
struct Candidate
{
    ArborPath path;
    QString text;
    double cents;
    bool fiveLimit;      // no prime factor above 5
    double complexity;   // numerator * denominator
};

bool isFiveLimit(unsigned long long n)
{
    for (unsigned long long p : {2ull, 3ull, 5ull}) {
        while (n % p == 0)
            n /= p;
    }
    return n == 1;
}

QList<Candidate> candidatesOf(const Arbor& lattice)
{
    QList<Candidate> candidates;
    for (const ArborBall* ball : lattice.ballMap()) {
        const ArborRatio ratio = ArborRatio::relativeFromPath(ball->path());
        if (ratio.isNull())
            continue;
        const double n = double(ratio.numerator());
        const double d = double(ratio.denominator());
        candidates.append({ball->path(), ball->path().toString(), 1200.0 * (std::log2(n) - std::log2(d)),
                           isFiveLimit(ratio.numerator()) && isFiveLimit(ratio.denominator()), n * d});
    }
    return candidates;
}

// The ball nearest `target` cents: within [target - 50, target + 50), the
// simplest 5-limit ratio, then the simplest ratio, then the nearest, then the
// first path text. Null when no ball lies that near.
const Candidate* nearest(const QList<Candidate>& candidates, double target)
{
    auto rank = [target](const Candidate& c) {
        return std::make_tuple(!c.fiveLimit, c.complexity, std::fabs(c.cents - target), c.text);
    };
    const Candidate* best = nullptr;
    for (const Candidate& c : candidates) {
        if (c.cents >= target - 50.0 && c.cents < target + 50.0 && (!best || rank(c) < rank(*best)))
            best = &c;
    }
    return best;
}
} // namespace

MidiMap::MidiMap(QObject* parent)
    : SerializableRoot(parent)
{
    setSaveOnTerm(false);
}

MidiMap::~MidiMap() = default;

bool MidiMap::init(const Arbor& lattice, const QString& baseNote)
{
    setSaveOnTerm(false);
    mFilePath = configFolder() + QLatin1Char('/') + FILE_NAME;
    if (!QFileInfo::exists(mFilePath)) {
        buildDefault(lattice, baseNote);
        logSummary();
        return save();
    }
    setRootKey(baseNote);
    QJsonObject root;
    const QString problem = loadObject(root);
    if (!problem.isEmpty()) {
        clear();
        qWarning().noquote() << QStringLiteral("MIDI map %1 %2. The file is left as it is; MIDI keys, "
                                               "controllers and program changes do nothing.")
                                    .arg(mFilePath, problem);
        return false;
    }
    read(root);
    logSummary();
    return true;
}

QString MidiMap::loadObject(QJsonObject& root) const
{
    QFile file(mFilePath);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be opened (%1)").arg(file.errorString());
    const QByteArray bytes = file.read(MAX_FILE_SIZE + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot be read (%1)").arg(file.errorString());
    if (bytes.size() > MAX_FILE_SIZE)
        return QStringLiteral("is larger than %1 bytes").arg(MAX_FILE_SIZE);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (doc.isNull())
        return QStringLiteral("is not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
    if (!doc.isObject())
        return QStringLiteral("is not a JSON object");
    root = doc.object();
    return QString();
}

void MidiMap::logSummary() const
{
    int keys = 0;
    int controllers = 0;
    for (int i = 0; i < KEYS; ++i)
        keys += mKeys[i] ? 1 : 0;
    for (int i = 0; i < CONTROLLERS; ++i)
        controllers += mControllers[i] ? 1 : 0;
    qWarning().noquote() << QStringLiteral("MIDI map %1: %2 keys, %3 controllers, program change %4.")
                                .arg(mFilePath, QString::number(keys), QString::number(controllers),
                                     mProgram ? QStringLiteral("bound") : QStringLiteral("unbound"));
}

void MidiMap::buildDefault(const Arbor& lattice, const QString& baseNote)
{
    clear();
    setRootKey(baseNote);
    const QList<Candidate> candidates = candidatesOf(lattice);
    for (int k = 0; k < KEYS; ++k) {
        if (const Candidate* c = nearest(candidates, 100.0 * (k - mRootKey)))
            mKeys[k].reset(new ArborNoteEvent(ArborEvent::NoteOn, c->path, 1.0f));
    }
    mControllers[1].reset(new ArborEvent(ArborEvent::MacroValue1, 0.0f));
    mControllers[7].reset(new ArborEvent(ArborEvent::MasterVolumeSet, 0.0f));
    mProgram.reset(new ArborEvent(ArborEvent::PatchStep, 1.0f));
}

void MidiMap::initWithDefaults()
{
    clear();
}

void MidiMap::clear()
{
    for (auto& event : mKeys)
        event.reset();
    for (auto& event : mControllers)
        event.reset();
    mProgram.reset();
}

void MidiMap::setRootKey(const QString& baseNote)
{
    const int key = keyOfNote(baseNote);
    if (key < 0)
        qWarning().noquote() << QStringLiteral("MIDI map: base note \"%1\" names no key; the 1/1 plays on key %2.")
                                    .arg(baseNote, QString::number(DEFAULT_ROOT_KEY));
    mRootKey = key < 0 ? DEFAULT_ROOT_KEY : key;
}

void MidiMap::read(const QJsonObject& root)
{
    static const QRegularExpression NUMBERED(QStringLiteral("^(note|cc):([0-9]{1,3})$"));
    clear();
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QString member = QStringLiteral("MIDI map %1: member %2").arg(mFilePath, it.key());
        const QRegularExpressionMatch match = NUMBERED.match(it.key());
        const int number = match.hasMatch() ? match.captured(2).toInt() : -1;
        QSharedPointer<ArborEvent>* slot = nullptr;
        if (it.key() == PROGRAM)
            slot = &mProgram;
        else if (number >= 0 && number < KEYS)
            slot = match.captured(1) == QLatin1String("note") ? &mKeys[number] : &mControllers[number];
        if (!slot) {
            qWarning().noquote() << member + QStringLiteral(" names no key (note:0 to note:127), controller "
                                                            "(cc:0 to cc:127) or program. Ignoring.");
            continue;
        }
        if (!it.value().isObject()) {
            qWarning().noquote() << member + QStringLiteral(" is not an object {\"event\": ..., \"value\": ...}. "
                                                            "Ignoring.");
            continue;
        }
        *slot = MappedEvent::read(member, it.value());
    }
}

void MidiMap::write(QJsonObject& root) const
{
    for (int i = 0; i < KEYS; ++i) {
        if (mKeys[i])
            root.insert(QStringLiteral("note:%1").arg(i), MappedEvent::write(*mKeys[i]));
    }
    for (int i = 0; i < CONTROLLERS; ++i) {
        if (mControllers[i])
            root.insert(QStringLiteral("cc:%1").arg(i), MappedEvent::write(*mControllers[i]));
    }
    if (mProgram)
        root.insert(PROGRAM, MappedEvent::write(*mProgram));
}

const ArborEvent* MidiMap::key(int note) const
{
    return note >= 0 && note < KEYS ? mKeys[note].data() : nullptr;
}

const ArborNoteEvent* MidiMap::heldBall(int note) const
{
    const ArborEvent* bound = key(note);
    return bound && bound->type() == ArborEvent::NoteOn ? dynamic_cast<const ArborNoteEvent*>(bound) : nullptr;
}

const ArborEvent* MidiMap::controller(int number) const
{
    return number >= 0 && number < CONTROLLERS ? mControllers[number].data() : nullptr;
}

const ArborEvent* MidiMap::program() const
{
    return mProgram.data();
}

int MidiMap::keyOfNote(const QString& name)
{
    const int semitone = NoteNames::semitoneOf(name);
    return semitone < 0 ? -1 : semitone + 12; // MIDI key 0 is C -1
}
