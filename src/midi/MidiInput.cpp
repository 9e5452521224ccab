#include "MidiInput.h"

#include "ArborEvent.h"
#include "MidiMap.h"
#include "PdMessageBuffer.h"
#include "PdPlayer.h"

#include <QDebug>

namespace
{
constexpr int SUSTAIN = 64;
} // namespace

MidiInput::MidiInput(PdPlayer& engine, QObject* parent)
    : QObject(parent)
    , mEngine(engine)
    , mPort(MidiPort::Input, QStringLiteral("Arbor in"))
{
    mReport.setInterval(REPORT_MS);
    connect(&mReport, &QTimer::timeout, this, &MidiInput::reportDropped);
    // A device that went away leaves no key sounding.
    connect(&mPort, &MidiPort::closedForReopen, this, &MidiInput::releaseAll, Qt::DirectConnection);
}

MidiInput::~MidiInput()
{
    term();
}

bool MidiInput::init(const QString& api, const QString& device, const MidiMap* map)
{
    term();
    mMap = map;
    mParser.reset();
    mPedal = false;
    mLastProgram = -1;
    const bool open = mPort.init(api, device);
    if (RtMidiIn* in = mPort.input()) {
        in->ignoreTypes(false, false, false); // the parser skips SysEx and timing itself
        in->setCallback(&MidiInput::onMessage, this);
        mReport.start();
    }
    return open;
}

void MidiInput::term()
{
    mReport.stop();
    mPort.term(); // RtMidi's thread has ended: this thread may queue now
    releaseAll();
    reportDropped();
    mMap = nullptr;
}

void MidiInput::onMessage(double, std::vector<unsigned char>* message, void* self)
{
    auto* input = static_cast<MidiInput*>(self);
    if (message && !message->empty())
        input->mParser.parse(message->data(), message->size(), [input](const MidiMessage& m) { input->handle(m); });
}

void MidiInput::handle(const MidiMessage& message)
{
    switch (message.mKind) {
    case MidiMessage::NoteOn:
        keyDown(message.mData1, message.mData2);
        break;
    case MidiMessage::NoteOff:
        keyUp(message.mData1);
        break;
    case MidiMessage::ControlChange:
        controller(message.mData1, message.mData2);
        break;
    case MidiMessage::ProgramChange:
        program(message.mData1);
        break;
    }
}

void MidiInput::keyDown(int key, int velocity)
{
    const ArborEvent* bound = mMap ? mMap->key(key) : nullptr;
    if (!bound || !admit())
        return;
    const ArborNoteEvent* note = mMap->heldBall(key);
    if (!note) { // a toggle or any other event, as the file gives it
        queue(*bound);
        return;
    }
    // Sounds again when pressed while the pedal holds it.
    queue(ArborNoteEvent(ArborEvent::NoteOn, note->path(), float(velocity) / 127.0f));
    mSounding[key] = true;
    mSustained[key] = false;
}

void MidiInput::keyUp(int key)
{
    if (!mSounding[key] || mSustained[key])
        return;
    if (mPedal)
        mSustained[key] = true;
    else
        release(key);
}

void MidiInput::release(int key)
{
    mSounding[key] = false;
    mSustained[key] = false;
    const ArborNoteEvent* note = mMap->heldBall(key);
    if (!note)
        return;
    for (int other = 0; other < 128; ++other)
        if (mSounding[other] && mMap->heldBall(other)->path() == note->path())
            return;
    queue(ArborNoteEvent(ArborEvent::NoteOff, note->path(), 0.0f));
}

void MidiInput::releaseAll()
{
    mPedal = false;
    for (int key = 0; key < 128; ++key)
        if (mSounding[key])
            release(key);
}

void MidiInput::pedal(bool down)
{
    const bool rose = mPedal && !down;
    mPedal = down;
    if (rose)
        for (int key = 0; key < 128; ++key)
            if (mSustained[key])
                release(key);
}

void MidiInput::controller(int number, int value)
{
    const ArborEvent* bound = mMap ? mMap->controller(number) : nullptr;
    if (!bound) {
        if (number == SUSTAIN)
            pedal(value >= 64);
        return;
    }
    if (admit())
        queue(ArborEvent(bound->type(), float(value) / 127.0f));
}

void MidiInput::program(int number)
{
    const int last = mLastProgram;
    mLastProgram = number;
    const ArborEvent* bound = mMap ? mMap->program() : nullptr;
    if (!bound || !admit())
        return;
    if (bound->type() == ArborEvent::PatchStep)
        queue(ArborEvent(ArborEvent::PatchStep, number < last ? -1.0f : 1.0f));
    else
        queue(ArborEvent(bound->type(), float(number) / 127.0f));
}

bool MidiInput::admit()
{
    if (PdMessageBuffer::MAX_CHUNKS - mEngine.midiChunksPending() > RESERVE)
        return true;
    mDropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void MidiInput::queue(const ArborEvent& event)
{
    mEngine.queueEventMidi(&event);
}

void MidiInput::reportDropped()
{
    const std::uint32_t dropped = mDropped.exchange(0, std::memory_order_relaxed);
    if (dropped > 0)
        qWarning().noquote() << QStringLiteral("MIDI input: the engine's queue is nearly full; %1 key presses and controller "
                                               "messages dropped (key releases are kept)")
                                    .arg(dropped);
}
