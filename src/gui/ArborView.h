#pragma once

#include "ArborLeavesWidget.h"
#include "KeyboardPlayer.h"

#include <QGraphicsView>

class Arbor;
class ArborWidget;
class CardStackWidget;
class QGraphicsScene;

// The graphics view showing one lattice drawing, scaled to fit. While it has
// the focus, the letter keys play the MIDI map's octave (KeyboardPlayer).
class ArborView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit ArborView(QWidget* parent = nullptr);
    ~ArborView() override;

    void init(ArborLeavesWidget::View view, Arbor* arbor, CardStackWidget* stack);

    // Throws the drawing away and builds it anew from the lattice and the
    // current layout constants; cards of balls that still sound are shown
    // again for the new items.
    void buildScene(ArborLeavesWidget::View view);

    void updateArborBalls();
    void updateCardStack();

    Arbor* arbor() const { return mArbor; }
    ArborLeavesWidget::View viewKind() const { return mViewKind; }
    ArborWidget* arborWidget() const { return mArborWidget; }
    CardStackWidget* stack() const { return mStack; }

signals:
    void resized();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

private:
    void fitScene();

    Arbor* mArbor = nullptr;
    CardStackWidget* mStack = nullptr;
    QGraphicsScene* mScene = nullptr;
    ArborWidget* mArborWidget = nullptr;
    ArborLeavesWidget::View mViewKind = ArborLeavesWidget::Circles;
    KeyboardPlayer mKeyboard;
};
