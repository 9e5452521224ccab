#include "MidiOutput.h"

#include "PdPlayer.h"

#include <QDebug>
#include <QThread>

#include <algorithm>

using namespace MidiTuning;

MidiOutput::MidiOutput(QObject* parent)
    : QObject(parent)
    , mPort(MidiPort::Output, QStringLiteral("Arbor out"))
{
    // A device that (re)appears has heard nothing of the set-up or the
    // notes. A fresh connection carries messages only from the port
    // system's next period on, so they go a moment later.
    mSettle.setSingleShot(true);
    mSettle.setInterval(SETTLE_MS);
    connect(&mSettle, &QTimer::timeout, this, [this] {
        if (mPort.isOpen())
            restart();
    });
    // The device left behind gets its note-offs; the notes go on sounding on
    // the next one once it is connected.
    connect(&mPort, &MidiPort::aboutToReopen, this, &MidiOutput::stopAll);
    connect(&mPort, &MidiPort::connectedChanged, this, [this](bool connected) {
        if (connected)
            mSettle.start();
    });
}

MidiOutput::~MidiOutput()
{
    term();
}

MidiOutput::Mode MidiOutput::modeFromOption(const QString& option)
{
    return option == QLatin1String("mts") ? TuningStandard : Mpe;
}

bool MidiOutput::init(const QString& api, const QString& device, Mode mode, int bendRange, float baseFrequency)
{
    term();
    mMode = mode;
    mBendRange = qBound(1, bendRange, MAX_BEND_RANGE);
    mBaseFrequency = baseFrequency;
    if (!mPort.init(api, device))
        return false;
    if (!mPort.isConnected()) // else it is announced once the connection settled
        announce();
    return true;
}

void MidiOutput::term()
{
    mSettle.stop();
    const bool sounding = !mNotes.isEmpty();
    stopAll();
    mSounding.clear();
    // The port system carries the note-offs at its own pace (JACK once per
    // period); a port closed at once can lose them.
    if (sounding && mPort.isOpen())
        QThread::msleep(SETTLE_MS);
    mPort.term();
}

void MidiOutput::setMode(Mode mode)
{
    if (mode == mMode)
        return;
    mMode = mode;
    restart(); // the notes stop as they were started
}

void MidiOutput::setBendRange(int semitones)
{
    semitones = qBound(1, semitones, MAX_BEND_RANGE);
    if (semitones == mBendRange)
        return;
    mBendRange = semitones;
    restart();
}

void MidiOutput::onBaseFrequencyChanged(float frequency)
{
    mBaseFrequency = frequency;
}

void MidiOutput::onNoteToggled(ArborRatio ratio, bool on)
{
    mSounding.removeOne(ratio);
    const int index = indexOf(ratio);
    if (index >= 0)
        stop(index);
    if (on) {
        mSounding.append(ratio);
        start(ratio);
    }
}

void MidiOutput::start(const ArborRatio& ratio)
{
    const double frequency = PdPlayer::frequencyOf(ratio, mBaseFrequency);
    Note note;
    note.mRatio = ratio;
    if (mMode == Mpe ? startBent(note, frequency) : startTuned(note, frequency)) {
        mLastUse[note.mChannel] = ++mClock;
        mNotes.append(note);
    } else {
        qDebug() << "MIDI out: no key reaches" << frequency << "Hz of ratio" << ratio.toString() << "; not sent";
    }
}

bool MidiOutput::startBent(Note& note, double frequency)
{
    Bent bent;
    if (!bend(frequency, mBendRange, bent))
        return false;
    int channel = freeChannel();
    if (channel < 0)
        channel = sharedChannel(bent.key, bent.bend);
    while (channel < 0) {
        stop(0);
        channel = freeChannel();
    }
    note.mChannel = channel;
    note.mKey = bent.key;
    note.mBend = bent.bend;
    send(pitchBend(channel, bent.bend));
    send(noteOn(channel, bent.key, VELOCITY));
    return true;
}

bool MidiOutput::startTuned(Note& note, double frequency)
{
    Tuning tuned;
    if (!tuning(frequency, tuned))
        return false;
    int key = freeKey(nearestKey(frequency));
    while (key < 0) {
        stop(0);
        key = freeKey(nearestKey(frequency));
    }
    note.mChannel = MANAGER_CHANNEL;
    note.mKey = key;
    mRetuned.set(std::size_t(key));
    send(singleNoteTuning(key, tuned));
    send(noteOn(MANAGER_CHANNEL, key, VELOCITY));
    return true;
}

void MidiOutput::stop(int index)
{
    const Note& note = mNotes.at(index);
    send(noteOff(note.mChannel, note.mKey));
    mLastUse[note.mChannel] = ++mClock;
    mNotes.remove(index);
}

void MidiOutput::stopAll()
{
    while (!mNotes.isEmpty())
        stop(0);
}

void MidiOutput::restart()
{
    stopAll();
    announce();
    for (const ArborRatio& ratio : qAsConst(mSounding))
        start(ratio);
}

void MidiOutput::announce()
{
    if (mMode == TuningStandard) {
        // Channel 1 plays on its own again.
        for (const Message& message : zoneConfiguration(0))
            send(message);
        return;
    }
    // A synth that follows both applies the tuning changes to the member
    // channels too: the keys get their equal-tempered pitch back.
    for (int key = 0; key < 128; ++key)
        if (mRetuned.test(std::size_t(key)))
            send(singleNoteTuning(key, Tuning {key, 0}));
    mRetuned.reset();
    for (const Message& message : zoneConfiguration(MEMBER_CHANNELS))
        send(message);
    for (int channel = FIRST_MEMBER_CHANNEL; channel < FIRST_MEMBER_CHANNEL + MEMBER_CHANNELS; ++channel)
        for (const Message& message : MidiTuning::bendRange(channel, mBendRange))
            send(message);
}

int MidiOutput::freeChannel() const
{
    int best = -1;
    for (int channel = FIRST_MEMBER_CHANNEL; channel < FIRST_MEMBER_CHANNEL + MEMBER_CHANNELS; ++channel) {
        const bool busy = std::any_of(mNotes.begin(), mNotes.end(), [channel](const Note& n) { return n.mChannel == channel; });
        if (!busy && (best < 0 || mLastUse[channel] < mLastUse[best]))
            best = channel;
    }
    return best;
}

int MidiOutput::sharedChannel(int key, int bend) const
{
    for (const Note& candidate : mNotes) {
        const int channel = candidate.mChannel;
        const bool fits = std::all_of(mNotes.begin(), mNotes.end(), [&](const Note& n) {
            return n.mChannel != channel || (n.mBend == bend && n.mKey != key);
        });
        if (fits)
            return channel;
    }
    return -1;
}

int MidiOutput::freeKey(int key) const
{
    for (int distance = 0; distance < 128; ++distance) {
        for (const int candidate : {key + distance, key - distance}) {
            const bool busy = std::any_of(mNotes.begin(), mNotes.end(), [candidate](const Note& n) { return n.mKey == candidate; });
            if (candidate >= 0 && candidate <= 127 && !busy)
                return candidate;
        }
    }
    return -1;
}

int MidiOutput::indexOf(const ArborRatio& ratio) const
{
    for (int i = 0; i < mNotes.size(); ++i)
        if (mNotes.at(i).mRatio == ratio)
            return i;
    return -1;
}

void MidiOutput::send(const Message& message)
{
    if (mPort.isOpen())
        mPort.output()->sendMessage(message.data(), message.size());
}
