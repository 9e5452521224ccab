#include "KeyboardPlayer.h"

#include "ArborEvent.h"
#include "MidiMap.h"
#include "PdPlayer.h"
#include "VudiruArborApplication.h"

#include <QGuiApplication>
#include <QKeyEvent>

int KeyboardPlayer::offsetOf(const QKeyEvent* event)
{
    static const int keys[] = {Qt::Key_A, Qt::Key_W, Qt::Key_S, Qt::Key_E, Qt::Key_D, Qt::Key_F, Qt::Key_T,
                               Qt::Key_G, Qt::Key_Y, Qt::Key_H, Qt::Key_U, Qt::Key_J, Qt::Key_K};
    // The same keys by their place on the keyboard (X key codes, as the X11
    // and Wayland platforms report them), so that every layout plays the
    // same shape: on AZERTY, Q Z S E D F T G Y H U J K.
    static const quint32 places[] = {38, 25, 39, 26, 40, 41, 28, 42, 29, 43, 30, 44, 45};
    static const bool xKeyCodes = QGuiApplication::platformName() == QLatin1String("xcb")
        || QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    for (int offset = 0; offset < int(sizeof keys / sizeof keys[0]); ++offset)
        if (xKeyCodes && event->nativeScanCode() != 0 ? places[offset] == event->nativeScanCode()
                                                      : keys[offset] == event->key())
            return offset;
    return -1;
}

const MidiMap* KeyboardPlayer::map()
{
    auto* app = qobject_cast<VudiruArborApplication*>(QCoreApplication::instance());
    return app ? app->midiMap() : nullptr;
}

bool KeyboardPlayer::press(const QKeyEvent* event)
{
    const int offset = offsetOf(event);
    const MidiMap* keys = map();
    if (offset < 0 || !keys || (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)))
        return false;
    if (event->isAutoRepeat() || mHeld.contains(event->key()))
        return true;
    const int note = keys->rootKey() + offset;
    mHeld.insert(event->key(), note);
    send(note, true);
    return true;
}

bool KeyboardPlayer::release(const QKeyEvent* event)
{
    if (event->isAutoRepeat())
        return offsetOf(event) >= 0;
    if (!mHeld.contains(event->key()))
        return false;
    send(mHeld.take(event->key()), false);
    return true;
}

void KeyboardPlayer::releaseAll()
{
    for (int note : qAsConst(mHeld))
        send(note, false);
    mHeld.clear();
}

void KeyboardPlayer::send(int note, bool down)
{
    const MidiMap* keys = map();
    const ArborEvent* bound = keys ? keys->key(note) : nullptr;
    if (!bound || !PdPlayer::sThis)
        return;
    if (const ArborNoteEvent* ball = keys->heldBall(note)) {
        const ArborNoteEvent event(down ? ArborEvent::NoteOn : ArborEvent::NoteOff, ball->path(), VELOCITY);
        PdPlayer::sThis->queueEventGui(&event);
    } else if (down) { // a toggle, or any other request: once, on the key's way down
        PdPlayer::sThis->queueEventGui(bound);
    }
}
