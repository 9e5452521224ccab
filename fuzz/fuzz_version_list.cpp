// Version list bytes -> Appcast::read, then the version comparison and the
// address rules on what was read. Checks that hold for any input: a file
// name is always usable in one folder, only web addresses pass, and
// "newer" is a strict order on the versions seen.
#define ARBOR_FUZZ_READS_JSON
#include "FuzzSupport.h"
#include "Appcast.h"
#include "UpdateUrls.h"

#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace
{
void checkFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        std::abort();
}

void checkAddress(const QString& text)
{
    checkFileName(UpdateUrls::downloadFileName(text));
    const QUrl url(text);
    if (UpdateUrls::isWebUrl(url)) {
        const QString scheme = url.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            std::abort();
    }
    // The same text as a redirect target, absolute or relative.
    const QUrl resolved =
        UpdateUrls::resolveRedirect(QUrl(QStringLiteral("https://h.example/a/b/list.json")), url);
    if (resolved.isValid() && !UpdateUrls::isWebUrl(resolved))
        std::abort();
}

void checkOrder(const QString& a, const QString& b)
{
    if (Appcast::isNewer(a, a))
        std::abort();
    if (Appcast::isNewer(a, b) && Appcast::isNewer(b, a))
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::silenceQtMessages();

    const QByteArray bytes = FuzzSupport::bytesOf(data, size);
    Appcast appcast;
    QString error;
    const bool ok = Appcast::read(bytes, QStringLiteral("osx"), &appcast, &error);
    if (ok != error.isEmpty())
        std::abort();
    if (!ok && (!appcast.latestVersion.isEmpty() || !appcast.downloadUrl.isEmpty()
                || !appcast.openUrl.isEmpty() || appcast.hasMandatoryUpdate))
        std::abort();
    if (!appcast.hasMandatoryUpdate && appcast.mandatoryUpdate)
        std::abort();

    checkAddress(appcast.downloadUrl);
    checkAddress(appcast.openUrl);
    checkFileName(UpdateUrls::safeFileName(appcast.latestVersion));
    checkOrder(appcast.latestVersion, QStringLiteral("1.5.0"));
    checkOrder(appcast.latestVersion, appcast.changelog);

    // The raw bytes as text too, so that the address and version rules see
    // inputs that are not wrapped in JSON.
    const QString text = QString::fromUtf8(bytes);
    checkAddress(text);
    const int middle = text.size() / 2;
    checkOrder(text.left(middle), text.mid(middle));
    return 0;
}
