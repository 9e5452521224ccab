#include "RfidMap.h"

#include "ArborEvent.h"
#include "MappedEvent.h"

#include <QDebug>
#include <QFileInfo>

namespace
{
const QString FILE_NAME = QStringLiteral("rfid_map.json");
}

RfidMap::RfidMap(QObject* parent)
    : SerializableRoot(parent)
{
}

RfidMap::~RfidMap() = default;

bool RfidMap::init()
{
    setSaveOnTerm(false);
    const QString path = configFolder() + QLatin1Char('/') + FILE_NAME;
    const QFileInfo info(path);
    if (info.exists() && info.size() > MAX_FILE_SIZE) {
        mFilePath = path;
        qCritical().noquote() << QStringLiteral("Tag map file %1 is too large (%2 bytes, at most %3). Ignoring it.")
                                     .arg(path, QString::number(info.size()), QString::number(MAX_FILE_SIZE));
        return false;
    }
    return SerializableRoot::init(FILE_NAME);
}

void RfidMap::initWithDefaults()
{
}

QString RfidMap::keyFor(const QString& memberName)
{
    return memberName.left(KEY_LENGTH).toLower();
}

void RfidMap::read(const QJsonObject& root)
{
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QString key = keyFor(it.key());
        const QSharedPointer<ArborEvent> event = MappedEvent::read(QStringLiteral("RFID ") + key, it.value());
        if (!event)
            continue;
        mEvents.insert(key, event);
        qWarning().noquote() << QStringLiteral("RFID %1 mapped to: %2").arg(key, MappedEvent::describe(*event));
    }
}

void RfidMap::write(QJsonObject& root) const
{
    for (auto it = mEvents.constBegin(); it != mEvents.constEnd(); ++it)
        root.insert(it.key(), MappedEvent::write(*it.value()));
}

const ArborEvent* RfidMap::lookup(const QString& tag) const
{
    return mEvents.value(tag.toLower()).data();
}
