#include "QSimpleUpdater.h"

#include "Updater.h"

#include <QCoreApplication>

QSimpleUpdater* QSimpleUpdater::sInstance = nullptr;

QSimpleUpdater* QSimpleUpdater::getInstance()
{
    if (!sInstance) {
        sInstance = new QSimpleUpdater();
        // Runs while the application object is still alive, so the
        // downloaders' windows can go safely.
        qAddPostRoutine(&QSimpleUpdater::destroyInstance);
    }
    return sInstance;
}

void QSimpleUpdater::destroyInstance()
{
    delete sInstance;
    sInstance = nullptr;
}

QSimpleUpdater::~QSimpleUpdater()
{
    mUrls.clear();
    // No event loop is left to run deferred deletions at this point.
    qDeleteAll(mUpdaters);
    mUpdaters.clear();
}

Updater* QSimpleUpdater::getUpdater(const QString& url)
{
    const int index = mUrls.indexOf(url);
    if (index >= 0)
        return mUpdaters.at(index);
    auto* updater = new Updater();
    updater->setUrl(url);
    mUrls.append(url);
    mUpdaters.append(updater);
    connect(updater, &Updater::checkingFinished, this, &QSimpleUpdater::checkingFinished);
    connect(updater, &Updater::downloadFinished, this, &QSimpleUpdater::downloadFinished);
    connect(updater, &Updater::appcastDownloaded, this, &QSimpleUpdater::appcastDownloaded);
    connect(updater, &Updater::networkError, this, &QSimpleUpdater::networkError);
    connect(updater, &Updater::removeUpdateDialog, this, &QSimpleUpdater::removeUpdateDialog);
    return updater;
}

bool QSimpleUpdater::getNotifyOnUpdate(const QString& url) { return getUpdater(url)->notifyOnUpdate(); }
bool QSimpleUpdater::getNotifyOnFinish(const QString& url) { return getUpdater(url)->notifyOnFinish(); }
bool QSimpleUpdater::getDownloaderEnabled(const QString& url) { return getUpdater(url)->downloaderEnabled(); }
bool QSimpleUpdater::usesCustomAppcast(const QString& url) { return getUpdater(url)->customAppcast(); }
QString QSimpleUpdater::getOpenUrl(const QString& url) { return getUpdater(url)->openUrl(); }
QString QSimpleUpdater::getChangelog(const QString& url) { return getUpdater(url)->changelog(); }
QString QSimpleUpdater::getModuleName(const QString& url) { return getUpdater(url)->moduleName(); }
QString QSimpleUpdater::getDownloadUrl(const QString& url) { return getUpdater(url)->downloadUrl(); }
QString QSimpleUpdater::getPlatformKey(const QString& url) { return getUpdater(url)->platformKey(); }
QString QSimpleUpdater::getLatestVersion(const QString& url) { return getUpdater(url)->latestVersion(); }
QString QSimpleUpdater::getModuleVersion(const QString& url) { return getUpdater(url)->moduleVersion(); }
QString QSimpleUpdater::getUserAgentString(const QString& url) { return getUpdater(url)->userAgentString(); }

bool QSimpleUpdater::usesCustomInstallProcedures(const QString& url)
{
    return getUpdater(url)->useCustomInstallProcedures();
}

bool QSimpleUpdater::getUpdateAvailable(const QString& url)
{
    mUpdateAvailable = getUpdater(url)->updateAvailable();
    return mUpdateAvailable;
}

void QSimpleUpdater::checkForUpdates(const QString& url) { getUpdater(url)->checkForUpdates(); }
void QSimpleUpdater::setModuleName(const QString& url, const QString& name) { getUpdater(url)->setModuleName(name); }
void QSimpleUpdater::setNotifyOnUpdate(const QString& url, bool notify) { getUpdater(url)->setNotifyOnUpdate(notify); }
void QSimpleUpdater::setNotifyOnFinish(const QString& url, bool notify) { getUpdater(url)->setNotifyOnFinish(notify); }
void QSimpleUpdater::setPlatformKey(const QString& url, const QString& platform) { getUpdater(url)->setPlatformKey(platform); }
void QSimpleUpdater::setModuleVersion(const QString& url, const QString& version) { getUpdater(url)->setModuleVersion(version); }
void QSimpleUpdater::setDownloaderEnabled(const QString& url, bool enabled) { getUpdater(url)->setDownloaderEnabled(enabled); }
void QSimpleUpdater::setUserAgentString(const QString& url, const QString& agent) { getUpdater(url)->setUserAgentString(agent); }
void QSimpleUpdater::setUseCustomAppcast(const QString& url, bool custom) { getUpdater(url)->setUseCustomAppcast(custom); }
void QSimpleUpdater::setUseCustomInstallProcedures(const QString& url, bool custom) { getUpdater(url)->setUseCustomInstallProcedures(custom); }
void QSimpleUpdater::setMandatoryUpdate(const QString& url, bool mandatory) { getUpdater(url)->setMandatoryUpdate(mandatory); }
