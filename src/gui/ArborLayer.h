#pragma once

#include "ArborLeavesWidget.h"

#include <QWidget>

class Arbor;
class ArborView;
class CardConnectorOverlay;
class CardStackWidget;
class QFrame;

// One complete lattice display: the view on the left, the card stack on the
// right, and the connector overlay on top of both.
class ArborLayer : public QWidget
{
    Q_OBJECT

public:
    explicit ArborLayer(QWidget* parent = nullptr);

    void init(ArborLeavesWidget::View view, Arbor* arbor);

    // Rebuilds the drawing for this layer's own arrangement from the current
    // lattice and layout constants. The main window calls it on every layer
    // after the lattice file was reloaded, shown or not, so that no layer
    // keeps items of balls that are gone.
    void rebuild();

    // Recolours the balls and rebuilds every card from the current lattice
    // state and options (1/1 frequency, transposition, relative/absolute).
    void refresh();

    ArborView* view() const { return mView; }
    CardStackWidget* cardStack() const { return mStack; }
    CardConnectorOverlay* overlay() const { return mOverlay; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame* mCentralFrame = nullptr;
    QFrame* mRightFrame = nullptr;
    ArborView* mView = nullptr;
    CardStackWidget* mStack = nullptr;
    CardConnectorOverlay* mOverlay = nullptr;
};
