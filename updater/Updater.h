#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include "UpdateRequest.h"
#include "UpdateUrls.h"
#include "UpdaterPrompt.h"

class Downloader;
class QNetworkAccessManager;
class QNetworkReply;

// Fetches and reads one version list, compares the published version with
// the running one and tells the user through non-modal message boxes. One
// check at a time: while a check runs, or its box or download window is up,
// a new check only brings that window to the front.
class Updater : public QObject
{
    Q_OBJECT
public:
    explicit Updater(QObject* parent = nullptr);
    ~Updater() override;

    QString url() const { return mUrl; }
    QString openUrl() const { return mOpenUrl; }
    QString changelog() const { return mChangelog; }
    QString moduleName() const { return mModuleName; }
    QString downloadUrl() const { return mDownloadUrl; }
    QString platformKey() const { return mPlatformKey; }
    QString moduleVersion() const { return mModuleVersion; }
    QString latestVersion() const { return mLatestVersion; }
    QString userAgentString() const { return mRequest.userAgent; }
    bool customAppcast() const { return mCustomAppcast; }
    bool notifyOnUpdate() const { return mNotifyOnUpdate; }
    bool notifyOnFinish() const { return mNotifyOnFinish; }
    bool mandatoryUpdate() const { return mMandatoryUpdate; }
    bool updateAvailable() const { return mUpdateAvailable; }
    bool downloaderEnabled() const { return mDownloaderEnabled; }
    bool useCustomInstallProcedures() const;
    bool hasNetworkError() const { return mNetworkError; }
    bool isChecking() const { return mChecking; }
    // Address of the last request, after redirects.
    QUrl lastRequestUrl() const { return mLastRequestUrl; }
    Downloader* downloader() const { return mDownloader; }

    static bool compare(const QString& x, const QString& y);

signals:
    void checkingFinished(const QString& url);
    void downloadFinished(const QString& url, const QString& filePath);
    void appcastDownloaded(const QString& url, const QByteArray& data);
    void networkError(const QString& url, bool error);
    void removeUpdateDialog();
    // The user refused a mandatory update: the application is asked to quit.
    void quitRequested();

public slots:
    // Starts a check, unless one is under way (see above).
    void checkForUpdates();
    void setUrl(const QString& url);
    void setModuleName(const QString& name);
    void setNotifyOnUpdate(bool notify);
    void setNotifyOnFinish(bool notify);
    void setUserAgentString(const QString& agent);
    void setModuleVersion(const QString& version);
    void setDownloaderEnabled(bool enabled);
    void setPlatformKey(const QString& key);
    void setUseCustomAppcast(bool custom);
    void setUseCustomInstallProcedures(bool custom);
    void setMandatoryUpdate(bool mandatory);
    // A request that receives nothing for this long fails (also for the
    // downloader).
    void setTransferTimeout(int milliseconds);

private slots:
    void onReply(QNetworkReply* reply);
    void setUpdateAvailable(bool available);

private:
    void request(const QUrl& url);
    void finishWithError(const QString& reason);
    void acceptUpdate();
    // Shows box (see UpdaterPrompt) as the check's one box.
    void ask(QMessageBox* box, const UpdaterPrompt::Answer& answer);
    void requestQuit();

    QString mUrl;
    UpdateRequest mRequest;
    bool mCustomAppcast = false;
    bool mNotifyOnUpdate = true;
    bool mNotifyOnFinish = false;
    bool mUpdateAvailable = false;
    bool mDownloaderEnabled = true;
    bool mMandatoryUpdate = false;
    bool mNetworkError = false;
    bool mChecking = false;
    QPointer<QMessageBox> mBox;
    QString mOpenUrl;
    QString mChangelog;
    QString mDownloadUrl;
    QString mLatestVersion;
    QString mPlatformKey;
    QString mModuleName;
    QString mModuleVersion;
    Downloader* mDownloader = nullptr;
    QNetworkAccessManager* mManager = nullptr;
    QUrl mLastRequestUrl;
};
