#pragma once

#include <QMainWindow>

// Placeholder until the update checker lands: the window exists, checks do nothing.
class UpdateDialog : public QMainWindow
{
    Q_OBJECT
public:
    explicit UpdateDialog(QWidget* parent = nullptr) : QMainWindow(parent) {}
    void setNotifyOnFinish(bool) {}
    void setNotifyOnUpdate(bool) {}
    void checkForUpdates() {}
};
