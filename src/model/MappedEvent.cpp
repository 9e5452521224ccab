#include "MappedEvent.h"

#include "ArborEvent.h"
#include "ArborPath.h"

#include <QDebug>
#include <QJsonValue>

#include <cfloat>
#include <climits>
#include <cmath>

namespace
{
int typeOf(const QString& name, const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = std::trunc(value.toDouble());
    if (!std::isfinite(number) || number < double(INT_MIN) || number > double(INT_MAX)) {
        qWarning().noquote() << QStringLiteral("%1 has event number %2 out of range; using %3.")
                                    .arg(name, QString::number(value.toDouble()),
                                         QString::number(MappedEvent::UNKNOWN_TYPE));
        return MappedEvent::UNKNOWN_TYPE;
    }
    return static_cast<int>(number);
}

float valueOf(const QString& name, const QJsonValue& value)
{
    if (!value.isDouble())
        return 0.0f;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::fabs(number) > double(FLT_MAX)) {
        qWarning().noquote() << QStringLiteral("%1 has value %2 out of range; using 0.")
                                    .arg(name, QString::number(number));
        return 0.0f;
    }
    return static_cast<float>(number);
}
} // namespace

QSharedPointer<ArborEvent> MappedEvent::read(const QString& name, const QJsonValue& entry)
{
    const QJsonObject object = entry.toObject();
    const QJsonValue eventValue = object.value(QLatin1String("event"));
    const QJsonValue valueValue = object.value(QLatin1String("value"));

    if (valueValue.isString() && valueValue.toString().startsWith(QLatin1Char('/'))) {
        const QString pathText = valueValue.toString();
        const ArborPath path(pathText);
        if (!path.isValid()) {
            qWarning().noquote() << QStringLiteral("%1 was assigned invalid path %2. Ignoring.").arg(name, pathText);
            return {};
        }
        const double number = std::trunc(eventValue.toDouble(-1.0));
        const bool held = number == ArborEvent::NoteOn || number == ArborEvent::NoteOff;
        const auto type = held ? static_cast<ArborEvent::Type>(number) : ArborEvent::NoteToggle;
        return QSharedPointer<ArborEvent>(new ArborNoteEvent(type, path, 1.0f));
    }
    const auto type = static_cast<ArborEvent::Type>(typeOf(name, eventValue));
    return QSharedPointer<ArborEvent>(new ArborEvent(type, valueOf(name, valueValue)));
}

QJsonObject MappedEvent::write(const ArborEvent& event)
{
    QJsonObject entry;
    entry.insert(QLatin1String("event"), int(event.type()));
    if (const auto* note = dynamic_cast<const ArborNoteEvent*>(&event))
        entry.insert(QLatin1String("value"), note->path().toString());
    else
        entry.insert(QLatin1String("value"), double(event.value()));
    return entry;
}

QString MappedEvent::describe(const ArborEvent& event)
{
    const auto* note = dynamic_cast<const ArborNoteEvent*>(&event);
    return QStringLiteral("event %1, value %2")
        .arg(QString::number(int(event.type())),
             note ? note->path().toString() : QString::number(double(event.value()), 'g', 6));
}
