#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

class QSimpleUpdater;
struct Ui_UpdateDialog;

// The small window created for each update check. It configures the updater
// of the application's version list, starts the check and shows the new
// version's changelog when there is one; otherwise it closes (and is gone)
// once the check has ended. One at a time: a window created while another
// checks or shows brings that one (and its box) to the front and closes.
class UpdateDialog : public QMainWindow
{
    Q_OBJECT
public:
    explicit UpdateDialog(QWidget* parent = nullptr);
    ~UpdateDialog() override;

    // The compiled-in version list address, or the value of the environment
    // variable ARBOR_UPDATE_URL when that is set.
    static QString appcastUrl();
    // The version this build reports as running.
    static QString runningVersion();

    void setNotifyOnUpdate(bool notify);
    void setNotifyOnFinish(bool notify);
    void checkForUpdates();
    bool updateAvailable() const;
    bool getNetworkError() const { return mNetworkError; }

public slots:
    void updateChangelog(const QString& url);
    void toShowOrNot(const QString& url);
    void setNetworkError(const QString& url, bool error);
    void removeThis();
    void resetFields();

private:
    Ui_UpdateDialog* mForm = nullptr;
    QSimpleUpdater* mUpdater = nullptr;
    bool mNetworkError = false;
    // The window whose check runs or whose changelog is shown.
    static QPointer<UpdateDialog> sCurrent;
};
