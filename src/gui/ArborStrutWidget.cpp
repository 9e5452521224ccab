#include "ArborStrutWidget.h"

#include "ArborBall.h"
#include "ArborBallWidget.h"
#include "LayoutConstants.h"

#include <QDebug>
#include <QPen>

ArborStrutWidget::ArborStrutWidget(ArborBallWidget* from, ArborBallWidget* to, int width, const QColor* colour,
                                   QGraphicsItem* parent)
    : QGraphicsLineItem(parent)
{
    setHandlesChildEvents(false);
    if (!from || !to)
    {
        qWarning() << "Strut without both ends is not drawn";
        return;
    }
    setLine(QLineF(from->pos(), to->pos()));

    QColor c = Qt::white;
    if (colour)
        c = *colour;
    else if (to->ball())
        c = to->ball()->color();
    QPen pen(c.darker(ArborConstants::BALL_DIM_FACTOR), width, Qt::SolidLine);
    setPen(pen);

    from->addStrut(this);
    to->addStrut(this);
}
