#pragma once

#include "SerializableRoot.h"

#include <QSharedPointer>
#include <QString>

class Arbor;
class ArborEvent;
class ArborNoteEvent;

// What MIDI keys, controllers and program changes do: "midi_map.json" in the
// config folder, shaped like the tag map. Member names are "note:N" (a key,
// 0..127), "cc:N" (a controller, 0..127) and "program"; member values are
// {"event": <type number>, "value": <number or path>} (read by MappedEvent).
// - A key bound to a path ("/3/-2") with "event" 21 (NoteOn) sounds that ball
//   while the key is down: key down queues a NoteOn with the velocity, key up
//   a NoteOff. A path with "event" 0 (or any other number but 22) is a
//   NoteToggle. A key bound to any other event queues that event, with the
//   file's value, on key down.
// - A controller queues its event with the controller's value 0..1 as value.
// - "program" queues its event (usually PatchStep) on a program change.
// Other member names, keys or controllers beyond 0..127, values that are not
// objects and invalid paths are skipped, each with a warning naming the file
// and the member.
// When the file is missing, a default map for the lattice is written: the
// key of the 1/1's note name plays the root ball, every other key the
// lattice ball nearest its 12-tone pitch (the simplest ratio within 50
// cents), as far as the lattice reaches. The program never rewrites an
// existing file.
//
// Built and read on the GUI thread; afterwards read-only, so the lookups may
// be made from any thread (they neither lock nor allocate).
class MidiMap : public SerializableRoot
{
    Q_OBJECT

public:
    static constexpr int KEYS = 128;
    static constexpr int CONTROLLERS = 128;
    // Files above this size are refused.
    static constexpr qint64 MAX_FILE_SIZE = 4 * 1024 * 1024;
    // The root key when the base note names no key ("A 4").
    static constexpr int DEFAULT_ROOT_KEY = 69;

    explicit MidiMap(QObject* parent = nullptr);
    ~MidiMap() override;

    using SerializableRoot::init;
    // Loads "midi_map.json"; when it is missing, writes the default map for
    // `lattice` with 1/1 on `baseNote` ("A 4", "C 4", ...). False, with a
    // log line naming the file, when the file cannot be read, is larger than
    // MAX_FILE_SIZE or is not a JSON object: the map is then empty and the
    // file stays as it is. False also when the default map cannot be
    // written (the map is then in use all the same).
    bool init(const Arbor& lattice, const QString& baseNote);
    // Replaces the map by the default map for `lattice` and `baseNote`.
    void buildDefault(const Arbor& lattice, const QString& baseNote);
    // Empties the map (without a lattice there is nothing to bind).
    void initWithDefaults() override;

    // Replaces the map by the file's members.
    void read(const QJsonObject& root) override;
    void write(QJsonObject& root) const override;

    // The event of a key, controller or program change; null when unbound
    // or out of range.
    const ArborEvent* key(int note) const;
    // The ball a key sounds while it is held (a NoteOn of a path), or null
    // when the key is unbound or bound to anything else.
    const ArborNoteEvent* heldBall(int note) const;
    const ArborEvent* controller(int number) const;
    const ArborEvent* program() const;

    // The key the 1/1 sounds on (69 for "A 4", 60 for "C 4").
    int rootKey() const { return mRootKey; }
    // The MIDI key of a note name such as "A 4" or "C# 3" (the names of the
    // baseNote option); -1 when the text names no key.
    static int keyOfNote(const QString& name);

private:
    void clear();
    void setRootKey(const QString& baseNote);
    // The file's top-level object; an empty text, or why the file is refused.
    QString loadObject(QJsonObject& root) const;
    void logSummary() const;

    QSharedPointer<ArborEvent> mKeys[KEYS];
    QSharedPointer<ArborEvent> mControllers[CONTROLLERS];
    QSharedPointer<ArborEvent> mProgram;
    int mRootKey = DEFAULT_ROOT_KEY;
};
