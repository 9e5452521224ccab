#include "SerializableRoot.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>

SerializableRoot::SerializableRoot(QObject* parent)
    : SerializableNode(parent)
    , mSaveOnTerm(true)
{
}

SerializableRoot::~SerializableRoot() = default;

void SerializableRoot::term()
{
    if (mSaveOnTerm)
        save();
}

QString SerializableRoot::configFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

bool SerializableRoot::init(const QString& fileName)
{
    mFilePath = configFolder() + QLatin1Char('/') + fileName;
    if (!QFileInfo::exists(mFilePath)) {
        initWithDefaults();
        return save();
    }
    return load();
}

void SerializableRoot::initWithDefaults()
{
}

bool SerializableRoot::save() const
{
    QSaveFile file(mFilePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical().noquote() << QStringLiteral("Couldn't open file %1 for saving.").arg(mFilePath)
                              << file.errorString();
        return false;
    }
    QJsonObject json;
    write(json);
    const QByteArray bytes = QJsonDocument(json).toJson();
    // QSaveFile buffers; a failed flush inside commit() goes unnoticed, so
    // flush here and check it before the new file may replace the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        qCritical().noquote() << QStringLiteral("Couldn't write file %1:").arg(mFilePath)
                              << file.errorString() << "- the previous file is kept.";
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCritical().noquote() << QStringLiteral("Couldn't finish saving file %1:").arg(mFilePath)
                              << file.errorString() << "- the previous file is kept.";
        return false;
    }
    return true;
}

bool SerializableRoot::load()
{
    QFile file(mFilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Couldn't open file %1 for loading.").arg(mFilePath);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qCritical().noquote() << QStringLiteral("Couldn't read file %1:").arg(mFilePath)
                              << file.errorString();
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (doc.isNull()) {
        qCritical().noquote() << QStringLiteral("Couldn't parse file %1. JSON error: %2")
                                     .arg(mFilePath, error.errorString());
        return false;
    }
    read(doc.object());
    return true;
}

bool SerializableRoot::backupFile(const QString& suffix) const
{
    if (mFilePath.isEmpty() || suffix.isEmpty() || !QFileInfo::exists(mFilePath)) {
        qWarning().noquote() << QStringLiteral("No file %1 to back up.").arg(mFilePath);
        return false;
    }
    const QString backup = mFilePath + suffix;
    if (QFileInfo::exists(backup) && !QFile::remove(backup)) {
        qCritical().noquote() << QStringLiteral("Couldn't remove old backup %1.").arg(backup);
        return false;
    }
    if (!QFile::copy(mFilePath, backup)) {
        qCritical().noquote() << QStringLiteral("Couldn't back up file %1 to %2.").arg(mFilePath, backup);
        return false;
    }
    qWarning().noquote() << QStringLiteral("Kept a copy of %1 as %2.").arg(mFilePath, backup);
    return true;
}
