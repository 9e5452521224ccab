#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class Updater;

// Process-wide registry of updaters, one per version list address. Every
// updater's signals are re-emitted here. Created on first use, destroyed
// when the application object goes.
class QSimpleUpdater : public QObject
{
    Q_OBJECT
public:
    static QSimpleUpdater* getInstance();

    Updater* getUpdater(const QString& url);

    bool getNotifyOnUpdate(const QString& url);
    bool getNotifyOnFinish(const QString& url);
    bool getUpdateAvailable(const QString& url);
    bool getDownloaderEnabled(const QString& url);
    bool usesCustomAppcast(const QString& url);
    bool usesCustomInstallProcedures(const QString& url);
    QString getOpenUrl(const QString& url);
    QString getChangelog(const QString& url);
    QString getModuleName(const QString& url);
    QString getDownloadUrl(const QString& url);
    QString getPlatformKey(const QString& url);
    QString getLatestVersion(const QString& url);
    QString getModuleVersion(const QString& url);
    QString getUserAgentString(const QString& url);
    // The result of the last getUpdateAvailable call.
    bool updateAvailable() const { return mUpdateAvailable; }

signals:
    void checkingFinished(const QString& url);
    void downloadFinished(const QString& url, const QString& filePath);
    void appcastDownloaded(const QString& url, const QByteArray& data);
    void networkError(const QString& url, bool error);
    void removeUpdateDialog();

public slots:
    void checkForUpdates(const QString& url);
    void setModuleName(const QString& url, const QString& name);
    void setNotifyOnUpdate(const QString& url, bool notify);
    void setNotifyOnFinish(const QString& url, bool notify);
    void setPlatformKey(const QString& url, const QString& platform);
    void setModuleVersion(const QString& url, const QString& version);
    void setDownloaderEnabled(const QString& url, bool enabled);
    void setUserAgentString(const QString& url, const QString& agent);
    void setUseCustomAppcast(const QString& url, bool custom);
    void setUseCustomInstallProcedures(const QString& url, bool custom);
    void setMandatoryUpdate(const QString& url, bool mandatory);

private:
    QSimpleUpdater() = default;
    ~QSimpleUpdater() override;
    static void destroyInstance();

    static QSimpleUpdater* sInstance;
    QStringList mUrls;
    QList<Updater*> mUpdaters;
    bool mUpdateAvailable = false;
};
