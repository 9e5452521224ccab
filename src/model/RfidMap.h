#pragma once

#include "SerializableRoot.h"

#include <QHash>
#include <QSharedPointer>
#include <QString>

class ArborEvent;

// The wand's tag map, "rfid_map.json" in the config folder: each member name
// is a tag text (only its first 10 characters count, in any letter case), each
// member value an object {"event": <type number>, "value": <number or path>}
// (read by MappedEvent). A "value" string starting with "/" makes the entry a
// note toggle of that lattice path, or a NoteOn/NoteOff with "event" 21/22.
// The program never rewrites the file: it is created (as an empty object)
// only when missing.
//
// Created, read and used by the wand thread only. The map owns its events;
// lookup() hands out plain pointers that stay valid while the map lives.
class RfidMap : public SerializableRoot
{
    Q_OBJECT

public:
    static constexpr int KEY_LENGTH = 10;
    // Files above this size are refused (a sculpture has a few hundred tags).
    static constexpr qint64 MAX_FILE_SIZE = 4 * 1024 * 1024;
    explicit RfidMap(QObject* parent = nullptr);
    ~RfidMap() override;

    using SerializableRoot::init;
    // Loads "rfid_map.json", or creates it as an empty object when missing.
    bool init();
    void initWithDefaults() override;

    void read(const QJsonObject& root) override;
    void write(QJsonObject& root) const override;

    // The event mapped to the lower-cased tag, or null.
    const ArborEvent* lookup(const QString& tag) const;
    int size() const { return mEvents.size(); }

    // The key a member name is stored under: its first 10 characters,
    // lower-cased.
    static QString keyFor(const QString& memberName);

private:
    QHash<QString, QSharedPointer<ArborEvent>> mEvents;
};
