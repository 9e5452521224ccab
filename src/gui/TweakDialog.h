#pragma once

#include <QDialog>
#include <QList>
#include <QPair>

class QPushButton;
class QSignalMapper;
class QSpinBox;
class QVBoxLayout;

// Developer dialog: one spin box per registered layout constant, written
// through at once; "Update" asks the main window to apply them.
class TweakDialog : public QDialog
{
    Q_OBJECT

public:
    // The parent is the main window; its updateTweaks() is called on
    // "Update" unless something is connected to updateRequested().
    explicit TweakDialog(QWidget* mainWindow);

    void addInt(const QString& name, int* value);
    int rowCount() const { return mValues.size(); }
    QSpinBox* spinBox(int index) const;

signals:
    void updateRequested();

public slots:
    void updateTweaks();
    void valueChanged(int index);

private:
    QVBoxLayout* mLayout = nullptr;
    QPushButton* mUpdateButton = nullptr;
    QSignalMapper* mMapper = nullptr;
    QList<QPair<QSpinBox*, int*>> mValues;
};
