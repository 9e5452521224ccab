#include "UpdateUrls.h"

namespace
{
const char* const APPCAST_URL = "https://updates.elmsby.example/arbor/downloads/updates.json";
}

namespace UpdateUrls
{

QString appcastUrl()
{
    const QString custom = qEnvironmentVariable("ARBOR_UPDATE_URL");
    return custom.isEmpty() ? QString::fromLatin1(APPCAST_URL) : custom;
}

bool isWebUrl(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QUrl resolveRedirect(const QUrl& replyUrl, const QUrl& target)
{
    if (target.isEmpty())
        return QUrl();
    const QUrl resolved = replyUrl.resolved(target);
    return isWebUrl(resolved) ? resolved : QUrl();
}

QString downloadFileName(const QString& downloadUrl)
{
    const QUrl url(downloadUrl);
    const QString path = url.isValid() ? url.path(QUrl::FullyDecoded) : downloadUrl;
    return safeFileName(path.section(QLatin1Char('/'), -1));
}

QString safeFileName(const QString& name)
{
    static const QString fallback = QStringLiteral("QSU_Update.bin");
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return fallback;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')
            || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return fallback;
    }
    return name;
}

}
