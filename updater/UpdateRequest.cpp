#include "UpdateRequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

QNetworkReply* UpdateRequest::get(QNetworkAccessManager* manager, const QUrl& url) const
{
    if (!UpdateUrls::isWebUrl(url))
        return nullptr;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!userAgent.isEmpty())
        request.setRawHeader("User-Agent", userAgent.toUtf8());
    // Qt inflates compressed bodies only when it asked for them itself; a
    // server that compresses all the same is taken byte for byte.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(transferTimeout);
    return manager->get(request);
}

UpdateRequest::Redirect UpdateRequest::next(QNetworkReply* reply, QUrl* target)
{
    const QUrl given = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (given.isEmpty() || reply->error() != QNetworkReply::NoError)
        return Redirect::None;
    *target = UpdateUrls::resolveRedirect(reply->url(), given);
    if (!target->isValid())
        return Redirect::Unusable;
    if (mRedirects >= UpdateUrls::MAX_REDIRECTS)
        return Redirect::TooMany;
    ++mRedirects;
    return Redirect::Follow;
}
