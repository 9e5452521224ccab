#include "UpdateDialog.h"

#include "ArborVersion.h"
#include "QSimpleUpdater.h"
#include "UpdateUrls.h"
#include "Updater.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

// The widgets of the update window.
struct Ui_UpdateDialog
{
    QWidget* central = nullptr;
    QLabel* logo = nullptr;
    QLabel* headerText = nullptr;
    QGroupBox* optionsGroup = nullptr;
    QLineEdit* installedVersion = nullptr;
    QCheckBox* showAllNotifcations = nullptr;
    QCheckBox* showUpdateNotifications = nullptr;
    QCheckBox* enableDownloader = nullptr;
    QCheckBox* customAppcast = nullptr;
    QCheckBox* mandatoryUpdate = nullptr;
    QGroupBox* changelogGroup = nullptr;
    QTextEdit* changelogText = nullptr;
    QPushButton* resetButton = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* checkButton = nullptr;

    QCheckBox* checkBox(const char* name, const QString& text, QWidget* parent)
    {
        auto* box = new QCheckBox(text, parent);
        box->setObjectName(QLatin1String(name));
        return box;
    }

    void setupUi(QMainWindow* window)
    {
        central = new QWidget(window);
        auto* layout = new QVBoxLayout(central);

        auto* header = new QHBoxLayout();
        logo = new QLabel(central);
        logo->setPixmap(QPixmap(QStringLiteral(":/icons/logo.png")));
        headerText = new QLabel(QStringLiteral("<i>%1</i>").arg(UpdateDialog::tr("Check for updates ...")),
                                central);
        header->addWidget(logo);
        header->addWidget(headerText, 1);
        layout->addLayout(header);

        optionsGroup = new QGroupBox(UpdateDialog::tr("Updater Options"), central);
        optionsGroup->setObjectName(QStringLiteral("optionsGroup"));
        auto* options = new QVBoxLayout(optionsGroup);
        installedVersion = new QLineEdit(optionsGroup);
        installedVersion->setObjectName(QStringLiteral("installedVersion"));
        showAllNotifcations = checkBox("showAllNotifcations", UpdateDialog::tr("Show all notifications"), optionsGroup);
        showUpdateNotifications = checkBox("showUpdateNotifications", UpdateDialog::tr("Notify me when an update is available"), optionsGroup);
        enableDownloader = checkBox("enableDownloader", UpdateDialog::tr("Enable integrated downloader"), optionsGroup);
        customAppcast = checkBox("customAppcast", UpdateDialog::tr("Do not use the built-in version list reader"), optionsGroup);
        mandatoryUpdate = checkBox("mandatoryUpdate", UpdateDialog::tr("Mandatory update"), optionsGroup);
        options->addWidget(installedVersion);
        options->addWidget(showAllNotifcations);
        options->addWidget(showUpdateNotifications);
        options->addWidget(enableDownloader);
        options->addWidget(customAppcast);
        options->addWidget(mandatoryUpdate);
        layout->addWidget(optionsGroup);

        changelogGroup = new QGroupBox(UpdateDialog::tr("Changelog"), central);
        auto* changelog = new QVBoxLayout(changelogGroup);
        changelogText = new QTextEdit(changelogGroup);
        changelogText->setObjectName(QStringLiteral("changelogText"));
        changelogText->setReadOnly(true);
        changelog->addWidget(changelogText);
        layout->addWidget(changelogGroup, 1);

        auto* buttons = new QHBoxLayout();
        resetButton = new QPushButton(UpdateDialog::tr("Reset Fields"), central);
        resetButton->setObjectName(QStringLiteral("resetButton"));
        closeButton = new QPushButton(UpdateDialog::tr("Close"), central);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        checkButton = new QPushButton(UpdateDialog::tr("Check for Updates"), central);
        checkButton->setObjectName(QStringLiteral("checkButton"));
        buttons->addWidget(resetButton);
        buttons->addStretch(1);
        buttons->addWidget(closeButton);
        buttons->addWidget(checkButton);
        layout->addLayout(buttons);

        window->setCentralWidget(central);
    }
};

QString UpdateDialog::appcastUrl()
{
    return UpdateUrls::appcastUrl();
}

QString UpdateDialog::runningVersion()
{
    return QStringLiteral(ARBOR_VERSION_STRING);
}

UpdateDialog::UpdateDialog(QWidget* parent)
    : QMainWindow(parent, Qt::Tool)
    , mForm(new Ui_UpdateDialog)
    , mUpdater(QSimpleUpdater::getInstance())
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this one is up.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
    mForm->setupUi(this);
    mForm->optionsGroup->hide();
    mForm->resetButton->hide();
    mForm->checkButton->hide();
    mForm->installedVersion->setText(runningVersion());
    const QSize size = layout()->minimumSize().expandedTo(centralWidget()->minimumSizeHint());
    setMinimumSize(size);
    resize(size);

    connect(mUpdater, &QSimpleUpdater::checkingFinished, this, &UpdateDialog::updateChangelog);
    connect(mUpdater, &QSimpleUpdater::checkingFinished, this, &UpdateDialog::toShowOrNot);
    connect(mUpdater, &QSimpleUpdater::networkError, this, &UpdateDialog::setNetworkError);
    connect(mUpdater, &QSimpleUpdater::removeUpdateDialog, this, &UpdateDialog::removeThis);
    connect(mForm->closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(mForm->resetButton, &QPushButton::clicked, this, &UpdateDialog::resetFields);
    connect(mForm->checkButton, &QPushButton::clicked, this, &UpdateDialog::checkForUpdates);
}

UpdateDialog::~UpdateDialog()
{
    delete mForm;
}

void UpdateDialog::setNotifyOnUpdate(bool notify)
{
    mUpdater->setNotifyOnUpdate(appcastUrl(), notify);
}

void UpdateDialog::setNotifyOnFinish(bool notify)
{
    mUpdater->setNotifyOnFinish(appcastUrl(), notify);
}

QPointer<UpdateDialog> UpdateDialog::sCurrent;

void UpdateDialog::checkForUpdates()
{
    const QString url = appcastUrl();
    Updater* updater = mUpdater->getUpdater(url);
    if (sCurrent && sCurrent != this && (sCurrent->isVisible() || updater->isChecking())) {
        sCurrent->raise();
        sCurrent->activateWindow();
        updater->checkForUpdates(); // brings the check's box forward, starts nothing
        close();
        return;
    }
    sCurrent = this;
    mUpdater->setModuleVersion(url, mForm->installedVersion->text());
    mUpdater->setUseCustomAppcast(url, false);
    mUpdater->setDownloaderEnabled(url, true);
    mUpdater->setMandatoryUpdate(url, false);
    mUpdater->checkForUpdates(url);
    if (!updater->isChecking())
        close(); // the updater's box or download window was up and came forward instead
}

bool UpdateDialog::updateAvailable() const
{
    return mUpdater->getUpdateAvailable(appcastUrl());
}

void UpdateDialog::updateChangelog(const QString& url)
{
    if (url == appcastUrl())
        mForm->changelogText->setText(mUpdater->getChangelog(url));
}

void UpdateDialog::toShowOrNot(const QString& url)
{
    if (url != appcastUrl() || sCurrent != this)
        return;
    if (!mUpdater->getUpdateAvailable(url)) {
        close();
        return;
    }
    if (isVisible())
        return;
    show();
    // Left of and above where it opened, but on its screen.
    QPoint to(pos().x() - 450, pos().y() - 50);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        to.setX(qBound(area.left(), to.x(), qMax(area.left(), area.right() + 1 - frameGeometry().width())));
        to.setY(qBound(area.top(), to.y(), qMax(area.top(), area.bottom() + 1 - frameGeometry().height())));
    }
    move(to);
}

void UpdateDialog::setNetworkError(const QString& url, bool error)
{
    if (url == appcastUrl())
        mNetworkError = error;
}

void UpdateDialog::removeThis()
{
    close();
}

void UpdateDialog::resetFields()
{
    mForm->installedVersion->setText(runningVersion());
    mForm->customAppcast->setChecked(false);
    mForm->enableDownloader->setChecked(true);
    mForm->showAllNotifcations->setChecked(false);
    mForm->showUpdateNotifications->setChecked(true);
    mForm->mandatoryUpdate->setChecked(false);
    mForm->optionsGroup->hide();
    mForm->resetButton->hide();
    mForm->checkButton->hide();
    mForm->installedVersion->hide();
    mForm->showAllNotifcations->hide();
    mForm->showUpdateNotifications->hide();
    mForm->enableDownloader->hide();
    mForm->customAppcast->hide();
    mForm->mandatoryUpdate->hide();
}
