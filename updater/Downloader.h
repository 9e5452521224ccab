#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "UpdateRequest.h"

class QNetworkAccessManager;
class QNetworkReply;
struct Ui_Downloader;

// The progress window that fetches an update package into the Downloads
// folder. Data goes to "<name>.part", renamed to "<name>" only after a
// complete, successful reply; on any failure the partial file is removed.
// Files already there are never replaced: when "<name>" (or its ".part")
// exists, the first free "<base> (n).<ext>" is taken, and the user is told.
class Downloader : public QWidget
{
    Q_OBJECT
public:
    explicit Downloader(QWidget* parent = nullptr);
    ~Downloader() override;

    QString downloadDir() const;
    void setDownloadDir(const QString& dir);
    bool useCustomInstallProcedures() const { return mUseCustomInstallProcedures; }
    QString fileName() const { return mFileName; }
    // The name the last complete download was saved under; empty before.
    QString savedName() const { return QFileInfo(mSavedPath).fileName(); }
    bool isDownloading() const;
    // A download that receives nothing for this long fails.
    void setTransferTimeout(int milliseconds);

    // "%1 bytes" / "%1 KB" / "%1 MB", whole numbers.
    static QString sizeText(qint64 bytes);
    // "about one hour", "%1 minutes", "1 second", ...
    static QString timeRemainingText(qint64 seconds);
    // Seconds left at the average rate so far; -1 while that is not known
    // (no second elapsed yet, or less than one byte per second).
    static qint64 remainingSeconds(qint64 received, qint64 total, qint64 elapsedSeconds);

signals:
    void downloadFinished(const QString& urlId, const QString& filePath);
    // The user refused a mandatory update; the owning updater quits the
    // application.
    void quitRequested();

public slots:
    void setUrlId(const QString& url);
    void startDownload(const QUrl& url);
    void setFileName(const QString& file);
    void setUserAgentString(const QString& agent);
    void setUseCustomInstallProcedures(bool custom);
    void setMandatoryUpdate(bool mandatory);
    void finished();
    void openDownload();
    void installUpdate();
    void cancelDownload();
    void saveFile(qint64 received, qint64 total);
    void calculateSizes(qint64 received, qint64 total);
    void updateProgress(qint64 received, qint64 total);
    void calculateTimeRemaining(qint64 received, qint64 total);

private:
    void request(const QUrl& url);
    void dropReply();
    // Appends what the reply holds to the partial file; false (after
    // failing the download) when a write fails.
    bool writeAvailable();
    void fail(const QString& reason);
    void requestQuit();
    QString partPath() const;
    // name in the download folder, or the first "<base> (n).<ext>" that is free.
    QString freePath(const QString& name) const;

    QString mUrlId;
    uint mStartTime = 0;
    QDir mDownloadDir;
    QString mFileName;
    QString mSavedPath;
    Ui_Downloader* mForm = nullptr;
    QPointer<QNetworkReply> mReply;
    UpdateRequest mRequest;
    bool mUseCustomInstallProcedures = false;
    bool mMandatoryUpdate = false;
    QNetworkAccessManager* mManager = nullptr;

    QFile mPartFile;
    qint64 mWritten = 0;
    bool mCancelled = false;
};
