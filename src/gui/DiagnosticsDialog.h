#pragma once

#include <QDialog>

class QPlainTextEdit;

// Live view of the log messages of the modules named on the command line.
// Closing only hides it; it keeps everything received since it was created.
class DiagnosticsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DiagnosticsDialog(QWidget* parent = nullptr);

public slots:
    void onMessage(const QString& text);

private:
    QPlainTextEdit* mTextArea = nullptr;
};
