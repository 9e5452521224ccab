#include "CardConnectorOverlay.h"

#include "ArborBallWidget.h"
#include "ArborView.h"
#include "CardWidget.h"

#include <QPainter>
#include <QPen>
#include <QStyleOption>

CardConnectorOverlay::CardConnectorOverlay(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void CardConnectorOverlay::init(const ArborView* view)
{
    mView = view;
    if (view)
        connect(view, &ArborView::resized, this, QOverload<>::of(&QWidget::update));
}

void CardConnectorOverlay::addConnector(const ArborBallWidget* ball, const CardWidget* card)
{
    if (!ball || !card)
        return;
    mConnectors.insert(ball, Connector{ball, card});
    update();
}

void CardConnectorOverlay::removeConnector(const ArborBallWidget* ball)
{
    if (mConnectors.remove(ball))
        update();
}

void CardConnectorOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);

    if (!mView)
        return;
    QPen pen(QColor(255, 255, 255, 64), 1, Qt::DotLine);
    painter.setPen(pen);

    for (auto it = mConnectors.constBegin(); it != mConnectors.constEnd(); ++it)
    {
        const ArborBallWidget* ball = it.value().ball.data();
        const CardWidget* card = it.value().card.data();
        if (!ball || !card || !card->parentWidget())
            continue;
        const double r = ball->playingRadius();
        const QPointF centre = ball->scenePos();
        auto toOverlay = [this](const QPointF& scenePoint) {
            const QPoint viewPoint = mView->mapFromScene(scenePoint);
            return mapFromGlobal(mView->viewport()->mapToGlobal(viewPoint));
        };
        const QPoint right = toOverlay(centre + QPointF(r, 0));
        const QPoint left = toOverlay(centre - QPointF(r, 0));
        // To the card's left edge: at the ball's height when the card is
        // beside it, else at the card's nearest point.
        const QRect cardRect(mapFromGlobal(card->parentWidget()->mapToGlobal(card->pos())), card->size());
        const int cardY = qBound(cardRect.top() + 8, right.y(), cardRect.bottom() - 8);
        painter.drawLine(right, QPoint(cardRect.left(), cardY));
        painter.drawLine(right, left);
    }
}
