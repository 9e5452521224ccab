#pragma once

#include <QString>
#include <QUrl>

// Checks on addresses that come from the update server or its replies.
namespace UpdateUrls
{
// Redirects followed per request before giving up.
constexpr int MAX_REDIRECTS = 5;
// A request that receives nothing for this long fails.
constexpr int TRANSFER_TIMEOUT_MS = 30000;
// A version list is a few hundred bytes; anything past this is not one.
constexpr qint64 MAX_LIST_BYTES = 1024 * 1024;

// The address of the version list: compiled in, or the value of the
// environment variable ARBOR_UPDATE_URL when that is set and not empty.
QString appcastUrl();

// Only plain web addresses are fetched or opened.
bool isWebUrl(const QUrl& url);

// A redirect target resolved against the address of the reply that carried
// it; an invalid QUrl when the target is empty or not a web address.
QUrl resolveRedirect(const QUrl& replyUrl, const QUrl& target);

// The file name for a download: the last path segment of the address, or
// "QSU_Update.bin" when that is empty, "." or "..", or holds a separator or
// a control character.
QString downloadFileName(const QString& downloadUrl);

// name itself when it is usable as a file name in one folder (same rules as
// above), else "QSU_Update.bin".
QString safeFileName(const QString& name);
}
