#include "Downloader.h"

#include "UpdateUrls.h"
#include "UpdaterPrompt.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <cmath>

// The widgets of the progress window.
struct Ui_Downloader
{
    QLabel* updater_icon = nullptr;
    QWidget* progressFrame = nullptr;
    QLabel* downloadLabel = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* timeLabel = nullptr;
    QWidget* buttonFrame = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* stopButton = nullptr;

    void setupUi(QWidget* window)
    {
        window->setWindowTitle(Downloader::tr("Updater"));
        auto* layout = new QVBoxLayout(window);
        layout->setSpacing(0);
        layout->setContentsMargins(12, 12, 12, 12);

        auto* top = new QHBoxLayout();
        top->setSpacing(0);
        top->setContentsMargins(0, 0, 0, 0);
        updater_icon = new QLabel(window);
        updater_icon->setObjectName(QStringLiteral("updater_icon"));
        updater_icon->setMinimumSize(96, 96);
        updater_icon->setPixmap(QPixmap(QStringLiteral(":/icons/logo_no_text.png")));
        updater_icon->setAlignment(Qt::AlignCenter);
        top->addWidget(updater_icon);

        progressFrame = new QWidget(window);
        progressFrame->setObjectName(QStringLiteral("progressFrame"));
        auto* column = new QVBoxLayout(progressFrame);
        column->setSpacing(0);
        downloadLabel = new QLabel(Downloader::tr("Downloading updates"), progressFrame);
        downloadLabel->setObjectName(QStringLiteral("downloadLabel"));
        QFont bold = downloadLabel->font();
        bold.setBold(true);
        bold.setWeight(75);
        downloadLabel->setFont(bold);
        progressBar = new QProgressBar(progressFrame);
        progressBar->setObjectName(QStringLiteral("progressBar"));
        progressBar->setMinimumWidth(320);
        progressBar->setValue(0);
        progressBar->setInvertedAppearance(false);
        timeLabel = new QLabel(Downloader::tr("Time remaining: 0 minutes"), progressFrame);
        timeLabel->setObjectName(QStringLiteral("timeLabel"));
        column->addWidget(downloadLabel);
        column->addWidget(progressBar);
        column->addWidget(timeLabel);
        top->addWidget(progressFrame);
        layout->addLayout(top);

        buttonFrame = new QWidget(window);
        buttonFrame->setObjectName(QStringLiteral("buttonFrame"));
        auto* row = new QHBoxLayout(buttonFrame);
        row->setContentsMargins(12, 12, 12, 12);
        row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        openButton = new QPushButton(Downloader::tr("Open"), buttonFrame);
        openButton->setObjectName(QStringLiteral("openButton"));
        stopButton = new QPushButton(Downloader::tr("Stop"), buttonFrame);
        stopButton->setObjectName(QStringLiteral("stopButton"));
        row->addWidget(openButton);
        row->addWidget(stopButton);
        layout->addWidget(buttonFrame);
    }
};

namespace
{
const char* const PART_SUFFIX = ".part";
constexpr qint64 READ_BUFFER_BYTES = 1024 * 1024;

qint64 roundHalfUp(double value)
{
    return qint64(std::floor(value + 0.5));
}
}

Downloader::Downloader(QWidget* parent)
    : QWidget(parent)
    , mDownloadDir(QDir::homePath() + QStringLiteral("/Downloads/"))
    , mForm(new Ui_Downloader)
    , mManager(new QNetworkAccessManager(this))
{
    mForm->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowIcon(QIcon());
    setFixedSize(minimumSizeHint());
    // A window without a parent; it must not keep the program running once
    // the main window is closed (it hides, it is never closed).
    setAttribute(Qt::WA_QuitOnClose, false);
    mForm->openButton->setEnabled(false);
    mForm->openButton->hide();
    connect(mForm->stopButton, &QPushButton::clicked, this, &Downloader::cancelDownload);
    connect(mForm->openButton, &QPushButton::clicked, this, &Downloader::installUpdate);
}

Downloader::~Downloader()
{
    dropReply();
    if (mPartFile.isOpen()) {
        mPartFile.close();
        mPartFile.remove();
    }
    delete mForm;
}

QString Downloader::downloadDir() const
{
    return mDownloadDir.absolutePath();
}

void Downloader::setDownloadDir(const QString& dir)
{
    if (mDownloadDir.absolutePath() != dir)
        mDownloadDir = QDir(dir);
}

bool Downloader::isDownloading() const
{
    return mReply && mReply->isRunning();
}

void Downloader::setUrlId(const QString& url)
{
    mUrlId = url;
}

void Downloader::setFileName(const QString& file)
{
    mFileName = UpdateUrls::safeFileName(file);
    if (mFileName != file)
        qWarning() << "Download file name" << file << "is not usable, saving as" << mFileName;
}

void Downloader::setUserAgentString(const QString& agent)
{
    mRequest.userAgent = agent;
}

void Downloader::setUseCustomInstallProcedures(bool custom)
{
    mUseCustomInstallProcedures = custom;
}

void Downloader::setMandatoryUpdate(bool mandatory)
{
    mMandatoryUpdate = mandatory;
}

void Downloader::setTransferTimeout(int milliseconds)
{
    mRequest.transferTimeout = milliseconds;
}

QString Downloader::partPath() const
{
    return mPartFile.fileName();
}

QString Downloader::freePath(const QString& name) const
{
    // "Arbor.tar.gz" goes on as "Arbor (1).tar.gz"; a leading dot starts no suffix.
    const int dot = name.indexOf(QLatin1Char('.'), 1);
    const QString base = dot < 0 ? name : name.left(dot);
    const QString suffix = dot < 0 ? QString() : name.mid(dot);
    QString path = mDownloadDir.filePath(name);
    for (int n = 1; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = mDownloadDir.filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    return path;
}

void Downloader::startDownload(const QUrl& url)
{
    dropReply();
    if (mFileName.isEmpty())
        mFileName = UpdateUrls::safeFileName(QString());
    mRequest.restart();
    mForm->progressBar->setMinimum(0);
    mForm->progressBar->setMaximum(100);
    mForm->progressBar->setValue(0);
    mForm->stopButton->setText(tr("Stop"));
    mForm->openButton->setEnabled(false);
    mForm->openButton->hide();
    mForm->downloadLabel->setText(tr("Downloading updates"));
    mForm->timeLabel->setText(tr("Time remaining") + QStringLiteral(": ") + tr("unknown"));
    showNormal();

    if (mPartFile.isOpen()) {
        // The partial file of a download that was still running.
        mPartFile.close();
        mPartFile.remove();
    }
    mPartFile.setFileName(QString());
    mSavedPath.clear();
    if (!mDownloadDir.exists() && !mDownloadDir.mkpath(QStringLiteral("."))) {
        fail(tr("Cannot create the folder %1").arg(downloadDir()));
        return;
    }
    // Unbuffered, so that every write reaches the file system and a full
    // disk shows at the write that hit it. A file that appeared meanwhile is
    // not opened.
    mPartFile.setFileName(freePath(mFileName + QLatin1String(PART_SUFFIX)));
    if (!mPartFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        const QString reason = tr("Cannot write %1: %2").arg(partPath(), mPartFile.errorString());
        mPartFile.setFileName(QString());
        fail(reason);
        return;
    }
    mWritten = 0;
    mCancelled = false;
    request(url);
}

void Downloader::request(const QUrl& url)
{
    mReply = mRequest.get(mManager, url);
    if (!mReply) {
        fail(tr("Not a web address: %1").arg(url.toString()));
        return;
    }
    qDebug() << "Downloading" << url.toString() << "to" << partPath();
    mStartTime = uint(QDateTime::currentSecsSinceEpoch());
    // Qt reads ahead no further than this; the rest waits in the socket
    // while the disk is slow.
    mReply->setReadBufferSize(READ_BUFFER_BYTES);
    connect(mReply, &QNetworkReply::readyRead, this, [this] { writeAvailable(); });
    connect(mReply, &QNetworkReply::downloadProgress, this, &Downloader::updateProgress);
    connect(mReply, &QNetworkReply::finished, this, &Downloader::finished);
}

void Downloader::dropReply()
{
    if (!mReply)
        return;
    QNetworkReply* reply = mReply;
    mReply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

bool Downloader::writeAvailable()
{
    if (!mReply)
        return false;
    // An aborted reply is closed and has nothing more to give.
    if (!mReply->isOpen())
        return true;
    const int status = mReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = mReply->readAll();
    // Bodies of redirects and error pages are not the package.
    if (status < 200 || status > 299 || data.isEmpty())
        return true;
    if (!mPartFile.isOpen() || mPartFile.write(data) != data.size()) {
        // The file's own text is often just "Unknown error"; the system's
        // reason (a full disk, a size limit) is more use.
        const QString reason = qt_error_string();
        fail(tr("Cannot write %1: %2").arg(partPath(), reason));
        return false;
    }
    mWritten += data.size();
    return true;
}

void Downloader::saveFile(qint64, qint64)
{
    writeAvailable();
}

void Downloader::updateProgress(qint64 received, qint64 total)
{
    mForm->progressBar->setMinimum(0);
    if (total >= 1) {
        mForm->progressBar->setMaximum(100);
        mForm->progressBar->setValue(int(received * 100 / total));
        calculateSizes(received, total);
        calculateTimeRemaining(received, total);
    } else {
        mForm->progressBar->setMaximum(0);
        mForm->progressBar->setValue(-1);
        mForm->downloadLabel->setText(tr("Downloading Updates") + QStringLiteral("..."));
        mForm->timeLabel->setText(
            QStringLiteral("%1: %2").arg(tr("Time Remaining"), tr("Unknown")));
    }
    saveFile(received, total);
}

QString Downloader::sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 bytes").arg(bytes);
    if (bytes < 1048576)
        return tr("%1 KB").arg(bytes / 1024);
    return tr("%1 MB").arg(bytes / 1048576);
}

void Downloader::calculateSizes(qint64 received, qint64 total)
{
    mForm->downloadLabel->setText(tr("Downloading updates") + QStringLiteral(" (")
                                  + sizeText(received) + QStringLiteral(" ") + tr("of")
                                  + QStringLiteral(" ") + sizeText(total)
                                  + QStringLiteral(")"));
}

qint64 Downloader::remainingSeconds(qint64 received, qint64 total, qint64 elapsedSeconds)
{
    if (elapsedSeconds <= 0 || received < 0 || total < received)
        return -1;
    const qint64 rate = received / elapsedSeconds;
    if (rate < 1)
        return -1;
    return (total - received) / rate;
}

QString Downloader::timeRemainingText(qint64 t)
{
    if (t > 7200) {
        const qint64 h = roundHalfUp(double(t) / 3600.0);
        return h < 2 ? tr("about one hour") : tr("about %1 hours").arg(h);
    }
    if (t > 60) {
        const qint64 m = roundHalfUp(double(t) / 60.0);
        return m < 2 ? tr("1 minute") : tr("%1 minutes").arg(m);
    }
    return t < 2 ? tr("1 second") : tr("%1 seconds").arg(t);
}

void Downloader::calculateTimeRemaining(qint64 received, qint64 total)
{
    const qint64 elapsed = QDateTime::currentSecsSinceEpoch() - qint64(mStartTime);
    const qint64 remaining = remainingSeconds(received, total, elapsed);
    if (remaining < 0)
        return;
    mForm->timeLabel->setText(tr("Time remaining") + QStringLiteral(": ")
                              + timeRemainingText(remaining));
}

void Downloader::fail(const QString& reason)
{
    qWarning().noquote() << "Update download failed:" << reason;
    dropReply();
    if (mPartFile.isOpen())
        mPartFile.close();
    if (!partPath().isEmpty() && QFileInfo::exists(partPath()) && !QFile::remove(partPath()))
        qWarning() << "Cannot remove" << partPath();
    mForm->progressBar->setMaximum(100);
    mForm->progressBar->setValue(0);
    mForm->downloadLabel->setText(tr("Download failed"));
    mForm->timeLabel->setText(reason);
    mForm->stopButton->setText(tr("Close"));
}

void Downloader::finished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || reply != mReply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

    QUrl target;
    switch (mRequest.next(reply, &target)) {
    case UpdateRequest::Redirect::None:
        break;
    case UpdateRequest::Redirect::Follow:
        mReply = nullptr;
        reply->disconnect(this);
        reply->deleteLater();
        request(target);
        return;
    case UpdateRequest::Redirect::Unusable:
        fail(tr("Redirected to an unusable address"));
        return;
    case UpdateRequest::Redirect::TooMany:
        fail(tr("Too many redirects"));
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Aborted by the user, or by the request's transfer timeout.
        fail(mCancelled ? tr("Download cancelled")
                        : tr("No data for %1 seconds").arg(mRequest.transferTimeout / 1000.0));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(reply->errorString());
        return;
    }
    if (status < 200 || status > 299) {
        fail(tr("The server answered %1").arg(status));
        return;
    }
    if (!writeAvailable())
        return;
    // Bodies are never inflated, so the length always counts what was written.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != mWritten) {
        fail(tr("The download ended early (%1 of %2)")
                 .arg(sizeText(mWritten), sizeText(length.toLongLong())));
        return;
    }
    if (!mPartFile.flush()) {
        fail(tr("Cannot write %1: %2").arg(partPath(), mPartFile.errorString()));
        return;
    }
    mPartFile.close();
    // A file of the same name is the user's: it is never replaced, the
    // package takes the first free "name (n).ext" instead. Renaming does not
    // replace a file that appears meanwhile.
    QString saved = freePath(mFileName);
    while (!QFile::rename(partPath(), saved)) {
        if (!QFileInfo::exists(saved)) {
            fail(tr("Cannot rename %1 to %2").arg(partPath(), saved));
            return;
        }
        saved = freePath(mFileName);
    }
    mSavedPath = saved;
    mPartFile.setFileName(QString());
    mReply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();
    qDebug() << "Update saved as" << mSavedPath << mWritten << "bytes";
    if (savedName() != mFileName)
        qWarning() << "A file" << mFileName << "is already in" << downloadDir() << "- the update is saved as"
                   << savedName();
    mForm->progressBar->setMaximum(100);
    mForm->progressBar->setValue(100);
    emit downloadFinished(mUrlId, mSavedPath);
    if (mUseCustomInstallProcedures)
        hide();
    else
        installUpdate();
}

void Downloader::installUpdate()
{
    if (mUseCustomInstallProcedures)
        return;
    mForm->stopButton->setText(tr("Close"));
    mForm->downloadLabel->setText(tr("Download complete!"));
    mForm->timeLabel->setText(tr("The installer will open separately") + QStringLiteral("..."));

    const QString text = mMandatoryUpdate
        ? tr("In order to install the update, you may need to quit the application. This is a "
             "mandatory update, exiting now will close the application")
        : tr("In order to use the new version, quit the application and replace it in your "
             "applications folder.");
    QString info = tr("Click \"OK\" to open the downloaded file now");
    if (savedName() != mFileName)
        info = tr("A file named \"%1\" is already in %2, so the update is saved as \"%3\".")
                   .arg(mFileName, downloadDir(), savedName())
            + QStringLiteral("\n\n") + info;
    QMessageBox* box = UpdaterPrompt::makeBox(
        QMessageBox::Question, QString(), QStringLiteral("<h3>") + text + QStringLiteral("</h3>"), info,
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    UpdaterPrompt::show(box, this, [this](QMessageBox::StandardButton answer) {
        if (answer == QMessageBox::Ok) {
            openDownload();
            hide();
            return;
        }
        if (answer == QMessageBox::Cancel && mMandatoryUpdate)
            requestQuit();
        // The window stays up with the Open button, so the file can still be
        // opened later; Close hides it.
        mForm->openButton->setEnabled(true);
        mForm->openButton->show();
        mForm->timeLabel->setText(tr("Click the \"Open\" button to apply the update"));
    });
}

void Downloader::openDownload()
{
    if (!mSavedPath.isEmpty() && QFileInfo::exists(mSavedPath)) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(mSavedPath)))
            qWarning() << "Cannot open" << mSavedPath;
        return;
    }
    QMessageBox* box = UpdaterPrompt::makeBox(QMessageBox::Critical, tr("Error"),
                                              tr("Cannot find downloaded update!"), QString(),
                                              QMessageBox::Close, QMessageBox::Close);
    UpdaterPrompt::show(box, this, [](QMessageBox::StandardButton) {});
}

void Downloader::cancelDownload()
{
    if (!isDownloading()) {
        if (mMandatoryUpdate)
            requestQuit();
        hide();
        return;
    }
    const QString text = mMandatoryUpdate
        ? tr("Are you sure you want to cancel the download? This is a mandatory update, exiting "
             "now will close the application")
        : tr("Are you sure you want to cancel the download?");
    QMessageBox* box = UpdaterPrompt::makeBox(QMessageBox::Question, tr("Updater"), text,
                                              QString(), QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::NoButton);
    UpdaterPrompt::show(box, this, [this](QMessageBox::StandardButton answer) {
        if (answer != QMessageBox::Yes)
            return;
        hide();
        if (mReply && mReply->isRunning()) {
            mCancelled = true;
            mReply->abort();
        }
        if (mMandatoryUpdate)
            requestQuit();
    });
}

void Downloader::requestQuit()
{
    emit quitRequested();
}
