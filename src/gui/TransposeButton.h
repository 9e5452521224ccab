#pragma once

#include "ArborEvent.h"
#include "ArborRatio.h"

#include <QToolButton>

class QLabel;

// Moves the whole lattice one step along a prime (step < 0: down, step > 0:
// up). It paints its own arrow, in the prime's colour when the lattice is
// shifted in this button's direction, and keeps a counter label beside it
// showing how many steps the lattice is shifted that way.
class TransposeButton : public QToolButton
{
    Q_OBJECT

public:
    TransposeButton(int step, QLabel* label, QWidget* parent = nullptr);

    int step() const { return mStep; }
    int count() const { return mCount; }
    QLabel* label() const { return mLabel; }

    // Whether the lattice is shifted in this button's direction.
    bool isShiftedDirection() const;

public slots:
    void onTransposeClicked();
    void onTransposeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool latticeAccepts() const;

    int mStep;
    int mCount = 0;
    QLabel* mLabel;
    ArborEvent mEvent;
    ArborRatio mStepRatio;
};
