#pragma once

#include <QJsonObject>
#include <QSharedPointer>
#include <QString>

class ArborEvent;
class QJsonValue;

// One entry of a map file (the wand's tag map, the MIDI map): the object
// {"event": <type number>, "value": <number or path>} that names the request
// a tag, key or controller sends to the sound engine.
namespace MappedEvent
{
// Type given to entries whose "event" number does not fit an int.
constexpr int UNKNOWN_TYPE = -1;

// The event of one entry (a value that is not an object reads as {}).
// - A "value" string starting with "/" is a lattice path: a note event of
//   that path with value 1, of type NoteOn or NoteOff when "event" is 21 or
//   22, otherwise a NoteToggle. An invalid path gives null.
// - Otherwise a plain event: "event" truncated toward zero (0 when not a
//   number), "value" narrowed to a float (0 when not a number; a string not
//   starting with "/" included).
// Invalid paths and numbers out of range are logged, each as one warning
// starting with `name` ("RFID 04a3b2c1d9").
QSharedPointer<ArborEvent> read(const QString& name, const QJsonValue& entry);

// The entry of an event: the inverse of read().
QJsonObject write(const ArborEvent& event);

// "event 21, value /3/-2" or "event 6, value 0.5" (six significant digits).
QString describe(const ArborEvent& event);
} // namespace MappedEvent
