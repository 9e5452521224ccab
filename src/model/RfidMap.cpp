#include "RfidMap.h"

#include "ArborEvent.h"
#include "ArborPath.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonValue>

#include <cfloat>
#include <climits>
#include <cmath>

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

int RfidMap::typeFromJson(const QString& key, const QJsonValue& value) const
{
    if (!value.isDouble())
        return 0;
    const double number = std::trunc(value.toDouble());
    if (!std::isfinite(number) || number < double(INT_MIN) || number > double(INT_MAX)) {
        qWarning().noquote() << QStringLiteral("RFID %1 has event number %2 out of range; using %3.")
                                    .arg(key, QString::number(value.toDouble()), QString::number(UNKNOWN_TYPE));
        return UNKNOWN_TYPE;
    }
    return static_cast<int>(number);
}

float RfidMap::valueFromJson(const QString& key, const QJsonValue& value) const
{
    if (!value.isDouble())
        return 0.0f;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::fabs(number) > double(FLT_MAX)) {
        qWarning().noquote() << QStringLiteral("RFID %1 has value %2 out of range; using 0.")
                                    .arg(key, QString::number(number));
        return 0.0f;
    }
    return static_cast<float>(number);
}

void RfidMap::read(const QJsonObject& root)
{
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QString key = keyFor(it.key());
        const QJsonObject entry = it.value().toObject();   // not an object: empty
        const QJsonValue eventValue = entry.value(QLatin1String("event"));
        const QJsonValue valueValue = entry.value(QLatin1String("value"));

        if (valueValue.isString() && valueValue.toString().startsWith(QLatin1Char('/'))) {
            const QString pathText = valueValue.toString();
            const ArborPath path(pathText);
            if (!path.isValid()) {
                qWarning().noquote() << QStringLiteral("RFID %1 was assigned invalid path %2. Ignoring.")
                                            .arg(key, pathText);
                continue;
            }
            mEvents.insert(key, QSharedPointer<ArborEvent>(new ArborNoteEvent(path)));
            qWarning().noquote() << QStringLiteral("RFID %1 mapped to: event %2, value %3")
                                        .arg(key, QString::number(int(ArborEvent::NoteToggle)), path.toString());
            continue;
        }

        const int type = typeFromJson(key, eventValue);
        const float value = valueFromJson(key, valueValue);
        mEvents.insert(key, QSharedPointer<ArborEvent>(
                                new ArborEvent(static_cast<ArborEvent::Type>(type), value)));
        qWarning().noquote() << QStringLiteral("RFID %1 mapped to: event %2, value %3")
                                    .arg(key, QString::number(type), QString::number(double(value), 'g', 6));
    }
}

void RfidMap::write(QJsonObject& root) const
{
    for (auto it = mEvents.constBegin(); it != mEvents.constEnd(); ++it) {
        const ArborEvent* event = it.value().data();
        QJsonObject entry;
        entry.insert(QLatin1String("event"), int(event->type()));
        if (const auto* note = dynamic_cast<const ArborNoteEvent*>(event))
            entry.insert(QLatin1String("value"), note->path().toString());
        else
            entry.insert(QLatin1String("value"), double(event->value()));
        root.insert(it.key(), entry);
    }
}

const ArborEvent* RfidMap::lookup(const QString& tag) const
{
    return mEvents.value(tag.toLower()).data();
}
