#pragma once

#include "ArborLeavesWidget.h"

#include <QGraphicsItemGroup>
#include <QHash>
#include <QList>
#include <QPointF>

class Arbor;
class ArborBall;
class ArborBallWidget;
class ArborPath;
class ArborView;
class CardStackWidget;

// The root item of a lattice scene: the balls as a tree on the 2- and
// 3-axes, leaf clusters around each ball, struts and links between them.
class ArborWidget : public QGraphicsItemGroup
{
public:
    ArborWidget(ArborLeavesWidget::View kind, const ArborView* view, CardStackWidget* stack);
    ~ArborWidget() override;

    void buildArbor();
    ArborBallWidget* buildArborFrom(const ArborBall& ball, const QPointF& pos,
                                    QHash<ArborPath, ArborBallWidget*>& widgets);
    void updateBalls();

    QRectF boundingRect() const override;

    ArborLeavesWidget::View kind() const { return mKind; }
    Arbor* arbor() const { return mArbor; }
    CardStackWidget* stack() const { return mStack; }
    const QList<ArborBallWidget*>& ballWidgets() const { return mBallWidgets; }

protected:
    bool sceneEventFilter(QGraphicsItem* watched, QEvent* event) override;

private:
    ArborLeavesWidget::View mKind;
    Arbor* mArbor;
    const ArborView* mView;
    CardStackWidget* mStack;
    QList<ArborBallWidget*> mBallWidgets;
};
