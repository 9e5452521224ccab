#pragma once

#include "ArborEvent.h"

#include <QList>
#include <QWidget>

class PrimeToggleButton;
class TransposeButton;

// The column of transpose and prime controls: per prime a step-down button,
// the prime's on/off button and a step-up button with their counters, and a
// reset button that returns the lattice to its untransposed position.
class TransposeWidget : public QWidget
{
    Q_OBJECT

public:
    explicit TransposeWidget(QWidget* parent = nullptr);

    // Builds the contents once; the lattice must be registered by then.
    void init(Qt::Orientation orientation);

    Qt::Orientation orientation() const { return mOrientation; }
    PrimeToggleButton* resetButton() const { return mResetButton; }
    // The transpose button for a signed prime step, or null.
    TransposeButton* transposeButton(int step) const;
    // The prime button for a prime (1 is the first row), or null.
    PrimeToggleButton* primeButton(int prime) const;

public slots:
    void onResetClicked();
    void onTransposeChanged();

private:
    Qt::Orientation mOrientation = Qt::Vertical;
    PrimeToggleButton* mResetButton = nullptr;
    ArborEvent mResetEvent;
    QList<TransposeButton*> mTransposeButtons;
    QList<PrimeToggleButton*> mPrimeButtons;
};
