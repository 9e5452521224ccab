#include "ArborView.h"

#include "ArborBallWidget.h"
#include "ArborWidget.h"
#include "CardStackWidget.h"

#include <QGraphicsScene>
#include <QKeyEvent>
#include <QResizeEvent>

ArborView::ArborView(QWidget* parent)
    : QGraphicsView(parent)
    , mScene(new QGraphicsScene(this))
{
    setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setScene(mScene);
}

ArborView::~ArborView()
{
    // Items go before the view's members do, so that their cards are
    // removed while the stack pointer is still good.
    mArborWidget = nullptr;
    mScene->clear();
}

void ArborView::init(ArborLeavesWidget::View view, Arbor* arbor, CardStackWidget* stack)
{
    mArbor = arbor;
    mStack = stack;
    buildScene(view);
}

void ArborView::buildScene(ArborLeavesWidget::View view)
{
    mViewKind = view;
    mArborWidget = nullptr;
    mScene->clear();  // destroys the old items; they take their cards with them

    mArborWidget = new ArborWidget(view, this, mStack);
    mScene->addItem(mArborWidget);
    mArborWidget->setPos(0, 0);
    mScene->setSceneRect(mArborWidget->sceneBoundingRect());
    fitScene();

    if (mStack)
    {
        for (ArborBallWidget* ball : mArborWidget->ballWidgets())
            if (ball->isSounding())
                mStack->showCardForBall(ball);
    }
}

void ArborView::updateArborBalls()
{
    if (mArborWidget)
        mArborWidget->updateBalls();
}

void ArborView::updateCardStack()
{
    if (mStack)
        mStack->updateCards();
}

void ArborView::fitScene()
{
    if (!mScene->sceneRect().isEmpty())
        fitInView(mScene->sceneRect(), Qt::KeepAspectRatio);
}

void ArborView::resizeEvent(QResizeEvent* event)
{
    QGraphicsView::resizeEvent(event);
    fitScene();
    emit resized();
}

void ArborView::mouseMoveEvent(QMouseEvent* event)
{
    QGraphicsView::mouseMoveEvent(event);
}

void ArborView::keyPressEvent(QKeyEvent* event)
{
    if (mKeyboard.press(event))
        event->accept();
    else
        QGraphicsView::keyPressEvent(event);
}

void ArborView::keyReleaseEvent(QKeyEvent* event)
{
    if (mKeyboard.release(event))
        event->accept();
    else
        QGraphicsView::keyReleaseEvent(event);
}

void ArborView::focusOutEvent(QFocusEvent* event)
{
    mKeyboard.releaseAll();
    QGraphicsView::focusOutEvent(event);
}

void ArborView::drawForeground(QPainter* painter, const QRectF& rect)
{
    QGraphicsView::drawForeground(painter, rect);
}
