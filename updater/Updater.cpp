#include "Updater.h"

#include "Appcast.h"
#include "Downloader.h"
#include "UpdateUrls.h"
#include "UpdaterPrompt.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace
{
const char* const TOO_LARGE = "arborTooLarge";
}

Updater::Updater(QObject* parent)
    : QObject(parent)
    , mPlatformKey(QStringLiteral("osx"))
    , mModuleName(QCoreApplication::applicationName())
    , mModuleVersion(QCoreApplication::applicationVersion())
    , mDownloader(new Downloader())
    , mManager(new QNetworkAccessManager(this))
{
    setUserAgentString(QStringLiteral("%1/%2 (Qt; QSimpleUpdater)")
                           .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    connect(mManager, &QNetworkAccessManager::finished, this, &Updater::onReply);
    connect(mDownloader, &Downloader::downloadFinished, this, &Updater::downloadFinished);
    connect(mDownloader, &Downloader::quitRequested, this, &Updater::requestQuit);
    connect(this, &Updater::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

Updater::~Updater()
{
    delete mDownloader;
}

bool Updater::useCustomInstallProcedures() const
{
    return mDownloader->useCustomInstallProcedures();
}

bool Updater::compare(const QString& x, const QString& y)
{
    return Appcast::isNewer(x, y);
}

void Updater::setUrl(const QString& url)
{
    mUrl = url;
}

void Updater::setModuleName(const QString& name)
{
    mModuleName = name;
}

void Updater::setNotifyOnUpdate(bool notify)
{
    mNotifyOnUpdate = notify;
}

void Updater::setNotifyOnFinish(bool notify)
{
    mNotifyOnFinish = notify;
}

void Updater::setUserAgentString(const QString& agent)
{
    mRequest.userAgent = agent;
    mDownloader->setUserAgentString(agent);
}

void Updater::setModuleVersion(const QString& version)
{
    mModuleVersion = version;
}

void Updater::setDownloaderEnabled(bool enabled)
{
    mDownloaderEnabled = enabled;
}

void Updater::setPlatformKey(const QString& key)
{
    mPlatformKey = key;
}

void Updater::setUseCustomAppcast(bool custom)
{
    mCustomAppcast = custom;
}

void Updater::setUseCustomInstallProcedures(bool custom)
{
    mDownloader->setUseCustomInstallProcedures(custom);
}

void Updater::setMandatoryUpdate(bool mandatory)
{
    mMandatoryUpdate = mandatory;
}

void Updater::setTransferTimeout(int milliseconds)
{
    mRequest.transferTimeout = milliseconds;
    mDownloader->setTransferTimeout(milliseconds);
}

void Updater::checkForUpdates()
{
    if (mChecking)
        return;
    if (QWidget* shown = mBox ? static_cast<QWidget*>(mBox) : mDownloader->isVisible() ? mDownloader : nullptr) {
        shown->raise();
        shown->activateWindow();
        return;
    }
    mChecking = true;
    mRequest.restart();
    request(QUrl(mUrl));
}

void Updater::request(const QUrl& url)
{
    mLastRequestUrl = url;
    QNetworkReply* reply = mRequest.get(mManager, url);
    if (!reply) {
        const QString reason = QStringLiteral("not a web address: %1").arg(url.toString());
        QTimer::singleShot(0, this, [this, reason] { finishWithError(reason); });
        return;
    }
    qDebug() << "Checking for updates at" << url.toString();
    // A version list is small; a server that sends more is not serving one,
    // and its body is not kept in memory.
    connect(reply, &QNetworkReply::readyRead, this, [reply] {
        if (reply->isRunning() && reply->bytesAvailable() > UpdateUrls::MAX_LIST_BYTES) {
            reply->setProperty(TOO_LARGE, true);
            reply->abort();
        }
    });
}

void Updater::finishWithError(const QString& reason)
{
    qWarning().noquote() << "Update check of" << mUrl << "failed:" << reason;
    mNetworkError = true;
    mChecking = false;
    emit networkError(mUrl, true);
    emit checkingFinished(mUrl);
    setUpdateAvailable(false);
}

void Updater::onReply(QNetworkReply* reply)
{
    reply->deleteLater();
    QUrl target;
    switch (mRequest.next(reply, &target)) {
    case UpdateRequest::Redirect::None:
        break;
    case UpdateRequest::Redirect::Follow:
        request(target);
        return;
    case UpdateRequest::Redirect::Unusable:
        finishWithError(QStringLiteral("redirected to an unusable address: %1")
                            .arg(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toString()));
        return;
    case UpdateRequest::Redirect::TooMany:
        finishWithError(QStringLiteral("more than %1 redirects").arg(UpdateUrls::MAX_REDIRECTS));
        return;
    }

    mNetworkError = false;
    if (reply->property(TOO_LARGE).toBool()) {
        finishWithError(QStringLiteral("the reply is larger than %1 bytes, not a version list")
                            .arg(UpdateUrls::MAX_LIST_BYTES));
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        finishWithError(QStringLiteral("no data for %1 seconds").arg(mRequest.transferTimeout / 1000.0));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        finishWithError(reply->errorString());
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299) {
        // A redirect without a target, or no reply body at all.
        finishWithError(QStringLiteral("the server answered %1").arg(status));
        return;
    }
    const QByteArray body = reply->readAll();
    if (mCustomAppcast) {
        mChecking = false;
        emit appcastDownloaded(mUrl, body);
        emit checkingFinished(mUrl);
        return;
    }

    Appcast appcast;
    QString error;
    if (!Appcast::read(body, mPlatformKey, &appcast, &error)) {
        finishWithError(QStringLiteral("the version list is unreadable (%1)").arg(error));
        return;
    }
    mOpenUrl = appcast.openUrl;
    mChangelog = appcast.changelog;
    mDownloadUrl = appcast.downloadUrl;
    mLatestVersion = appcast.latestVersion;
    if (appcast.hasMandatoryUpdate)
        mMandatoryUpdate = appcast.mandatoryUpdate;
    if (mLatestVersion.isEmpty())
        qWarning() << "The version list at" << mLastRequestUrl.toString() << "has no version for"
                   << mPlatformKey;

    mUpdateAvailable = compare(mLatestVersion, mModuleVersion);
    qDebug() << "Published version" << mLatestVersion << "running" << mModuleVersion
             << "update available" << mUpdateAvailable;
    mChecking = false;
    emit checkingFinished(mUrl);
    setUpdateAvailable(mUpdateAvailable);
}

void Updater::setUpdateAvailable(bool available)
{
    mUpdateAvailable = available;
    auto heading = [](const QString& text) {
        return QStringLiteral("<h3>") + text + QStringLiteral("</h3>");
    };

    if (available && mNotifyOnUpdate) {
        const QString text = tr("Version %1 of %2 has been released!").arg(mLatestVersion, mModuleName);
        const QString info = mMandatoryUpdate
            ? tr("Would you like to download the update now? This is a mandatory update, exiting "
                 "now will close the application")
            : tr("Please note the changelog. Would you like to download the update now?");
        QMessageBox* box = UpdaterPrompt::makeBox(QMessageBox::Information, QString(),
                                                  heading(text), info,
                                                  QMessageBox::Yes | QMessageBox::No,
                                                  QMessageBox::Yes);
        ask(box, [this](QMessageBox::StandardButton answer) {
            if (answer == QMessageBox::Yes)
                acceptUpdate();
            else if (answer == QMessageBox::No && mMandatoryUpdate)
                requestQuit();
            emit removeUpdateDialog();
        });
        return;
    }

    if (!mNetworkError) {
        if (!mNotifyOnFinish)
            return;
        QMessageBox* box = UpdaterPrompt::makeBox(
            QMessageBox::Information, QString(),
            heading(tr("You are running the latest version of %1").arg(mModuleName)),
            tr("No updates are available for the moment"), QMessageBox::Close,
            QMessageBox::Close);
        ask(box, [this](QMessageBox::StandardButton) { emit removeUpdateDialog(); });
        return;
    }

    if (!mNotifyOnUpdate && !mNotifyOnFinish)
        return;
    mNotifyOnFinish = true;
    QMessageBox* box = UpdaterPrompt::makeBox(
        QMessageBox::Information, QString(), heading(tr("A network error occurred")),
        tr("Cannot check for updates. Please check your internet connection and retry."),
        QMessageBox::Close | QMessageBox::Retry, QMessageBox::Retry);
    ask(box, [this](QMessageBox::StandardButton answer) {
        if (answer == QMessageBox::Retry)
            checkForUpdates();
        else
            emit removeUpdateDialog();
    });
}

void Updater::ask(QMessageBox* box, const UpdaterPrompt::Answer& answer)
{
    mBox = box;
    UpdaterPrompt::show(box, this, [this, answer](QMessageBox::StandardButton button) {
        mBox = nullptr; // answered: a new check may begin
        answer(button);
    });
}

void Updater::acceptUpdate()
{
    if (!mOpenUrl.isEmpty()) {
        const QUrl page(mOpenUrl);
        if (UpdateUrls::isWebUrl(page)) {
            if (!QDesktopServices::openUrl(page))
                qWarning() << "Cannot open" << mOpenUrl;
            return;
        }
        qWarning() << "Ignoring open-url" << mOpenUrl << "of the version list: not a web address";
    }
    const QUrl package(mDownloadUrl);
    if (!UpdateUrls::isWebUrl(package)) {
        qWarning() << "The version list names no usable download address:" << mDownloadUrl;
        return;
    }
    if (!mDownloaderEnabled) {
        if (!QDesktopServices::openUrl(package))
            qWarning() << "Cannot open" << mDownloadUrl;
        return;
    }
    mDownloader->setUrlId(mUrl);
    mDownloader->setFileName(UpdateUrls::downloadFileName(mDownloadUrl));
    mDownloader->setMandatoryUpdate(mMandatoryUpdate);
    mDownloader->startDownload(package);
}

void Updater::requestQuit()
{
    qWarning() << "Mandatory update refused, quitting";
    emit quitRequested();
}
