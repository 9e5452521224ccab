#pragma once

#include <QString>
#include <QUrl>

#include "UpdateUrls.h"

class QNetworkAccessManager;
class QNetworkReply;

// How the update check and the download fetch an address: a GET that sends
// the user agent (when set), asks for the body as it is stored (no
// compression, so that what is held or counted is what arrives, and nothing
// is inflated in memory) and fails after transferTimeout milliseconds
// without data. Qt follows no redirects; next() follows them by hand, at most
// UpdateUrls::MAX_REDIRECTS after each restart() and only to web addresses.
class UpdateRequest
{
public:
    enum class Redirect
    {
        None,     // the reply is the answer itself
        Follow,   // get the address next() gave
        Unusable, // the target is not a usable web address
        TooMany   // MAX_REDIRECTS already followed
    };

    QString userAgent;
    int transferTimeout = UpdateUrls::TRANSFER_TIMEOUT_MS;

    // Forgets the redirects followed so far: a new fetch begins.
    void restart() { mRedirects = 0; }
    // Gets url; null when it is not a web address.
    QNetworkReply* get(QNetworkAccessManager* manager, const QUrl& url) const;
    // Whether a finished reply redirects, and where to (in *target).
    Redirect next(QNetworkReply* reply, QUrl* target);

private:
    int mRedirects = 0;
};
