#pragma once

#include "ArborEvent.h"

#include <QColor>
#include <QToolButton>

// Switches one prime axis of the lattice on or off. The button's own check
// state flips with each click; the engine is told through a PrimeToggle
// event. The root (1), the octave (2) and the fifth (3) cannot be switched
// off, so their buttons are disabled and their clicks are ignored.
class PrimeToggleButton : public QToolButton
{
    Q_OBJECT

public:
    PrimeToggleButton(int prime, QWidget* parent = nullptr);

    int prime() const { return mPrime; }

    // The colour a prime's controls are drawn in: the lattice colour of the
    // prime, darkened a little for 19 whose colour is too bright otherwise.
    static QColor primeColor(int prime);
    // The style sheet of the button for the given prime (see the .cpp).
    static QString styleSheetFor(int prime);

public slots:
    void onPrimeToggled();

private:
    int mPrime;
    ArborEvent mEvent;
};
