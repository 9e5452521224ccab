#include "Appcast.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>
#include <QVector>

namespace
{
QString stringMember(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// Decimal digits only; anything else, or a value too large for 64 bits,
// counts as 0 so that no input can make the comparison misbehave.
qulonglong versionPart(const QString& part)
{
    bool ok = false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    const qulonglong value = part.toULongLong(&ok);
    return ok ? value : 0;
}
}

bool Appcast::read(const QByteArray& data, const QString& platformKey, Appcast* out,
                   QString* error)
{
    *out = Appcast();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("not JSON: %1 at offset %2")
                         .arg(parseError.errorString())
                         .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject platform = document.object()
                                     .value(QLatin1String("updates"))
                                     .toObject()
                                     .value(platformKey)
                                     .toObject();
    out->latestVersion = stringMember(platform, "latest-version");
    out->changelog = stringMember(platform, "changelog");
    out->downloadUrl = stringMember(platform, "download-url");
    out->openUrl = stringMember(platform, "open-url");
    const QJsonValue mandatory = platform.value(QLatin1String("mandatory-update"));
    if (mandatory.isBool()) {
        out->hasMandatoryUpdate = true;
        out->mandatoryUpdate = mandatory.toBool();
    }
    return true;
}

bool Appcast::isNewer(const QString& x, const QString& y)
{
    const QStringList xs = x.split(QLatin1Char('.'));
    const QStringList ys = y.split(QLatin1Char('.'));
    const int common = qMin(xs.size(), ys.size());
    for (int i = 0; i < common; ++i) {
        const qulonglong a = versionPart(xs.at(i));
        const qulonglong b = versionPart(ys.at(i));
        if (a != b)
            return a > b;
    }
    return xs.size() > ys.size();
}
