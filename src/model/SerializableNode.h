#pragma once

#include <QJsonObject>
#include <QObject>

// Anything that writes itself into and reads itself from a JSON object.
class SerializableNode : public QObject
{
    Q_OBJECT

public:
    explicit SerializableNode(QObject* parent = nullptr)
        : QObject(parent)
    {
    }
    ~SerializableNode() override = default;

    virtual void read(const QJsonObject& json) = 0;
    virtual void write(QJsonObject& json) const = 0;
};
