#pragma once

#include <QGraphicsLineItem>

class ArborBallWidget;
class QColor;

// The line between two ball items: a tree strut (no colour given: the colour
// of the ball it leads to) or a link (the link's own colour), both dimmed.
class ArborStrutWidget : public QGraphicsLineItem
{
public:
    ArborStrutWidget(ArborBallWidget* from, ArborBallWidget* to, int width, const QColor* colour,
                     QGraphicsItem* parent = nullptr);
};
