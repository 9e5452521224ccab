#include "ArborWidget.h"

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborBallWidget.h"
#include "ArborPath.h"
#include "ArborStrutWidget.h"
#include "ArborView.h"
#include "LayoutConstants.h"

#include <QDebug>
#include <cmath>

namespace
{
const double PI = 3.14159265;
}

ArborWidget::ArborWidget(ArborLeavesWidget::View kind, const ArborView* view, CardStackWidget* stack)
    : QGraphicsItemGroup(nullptr)
    , mKind(kind)
    , mArbor(view ? view->arbor() : nullptr)
    , mView(view)
    , mStack(stack)
{
    setHandlesChildEvents(false);
    buildArbor();
}

ArborWidget::~ArborWidget()
{
    mBallWidgets.clear();
}

void ArborWidget::buildArbor()
{
    mBallWidgets.clear();
    QHash<ArborPath, ArborBallWidget*> widgets;
    if (!mArbor || !mArbor->rootBall())
    {
        qWarning() << "No lattice to draw";
        return;
    }
    buildArborFrom(*mArbor->rootBall(), QPointF(0, 0), widgets);

    for (auto it = widgets.constBegin(); it != widgets.constEnd(); ++it)
    {
        ArborBallWidget* from = it.value();
        if (!from->ball())
            continue;
        const auto links = from->ball()->links();
        for (auto link = links.constBegin(); link != links.constEnd(); ++link)
        {
            ArborBallWidget* to = widgets.value(link.value().path(), nullptr);
            if (!to)
                continue;
            const QColor colour = link.value().color();
            auto* strut = new ArborStrutWidget(from, to, ArborConstants::LINK_WIDTH, &colour, this);
            strut->setZValue(10);
        }
    }

    // Items built while a prime is switched off start hidden like their balls.
    for (ArborBallWidget* widget : qAsConst(mBallWidgets))
        if (widget->ball() && !widget->ball()->isEnabled())
            widget->applyEnabled(false);
}

ArborBallWidget* ArborWidget::buildArborFrom(const ArborBall& ball, const QPointF& pos,
                                             QHash<ArborPath, ArborBallWidget*>& widgets)
{
    using namespace ArborConstants;

    auto* widget = new ArborBallWidget(&ball, this, BALL_DIAMETER, this);
    widget->setPos(pos);
    widget->setZValue(20);

    const bool circles = (mKind == ArborLeavesWidget::Circles);
    auto* lower = new ArborLeavesWidget(mKind, -1, widget);
    lower->setZValue(30);
    lower->setPos(circles ? QPointF(-LEAVES_PLUS_OFFSET_X, -LEAVES_PLUS_OFFSET_Y) : QPointF(0, 0));
    auto* upper = new ArborLeavesWidget(mKind, +1, widget);
    upper->setZValue(30);
    upper->setPos(circles ? QPointF(LEAVES_PLUS_OFFSET_X, LEAVES_PLUS_OFFSET_Y) : QPointF(0, 0));

    const auto children = ball.children();
    for (auto it = children.constBegin(); it != children.constEnd(); ++it)
    {
        const int key = it.key();
        const ArborBall* child = it.value();
        if (!child)
            continue;
        if (key == 2 || key == -2 || key == 3 || key == -3)
        {
            double degrees = (std::abs(key) == 2) ? ANGLE_2_PLUS : ANGLE_3_PLUS;
            if (key < 0)
                degrees += 180;
            const double length = (std::abs(key) == 2) ? STRUT_2_LENGTH : STRUT_3_LENGTH;
            const double a = degrees * PI / 180.0;
            const QPointF childPos(pos.x() + std::cos(a) * length, pos.y() - std::sin(a) * length);
            ArborBallWidget* childWidget = buildArborFrom(*child, childPos, widgets);
            auto* strut = new ArborStrutWidget(widget, childWidget, STRUT_WIDTH, nullptr, this);
            strut->setZValue(10);
        }
        else
        {
            ArborLeavesWidget* cluster = key < 0 ? lower : upper;
            auto* leaf = new ArborBallWidget(child, this, LEAF_DIAMETER, cluster);
            cluster->addPrime(key, leaf);
            mBallWidgets.append(leaf);
        }
    }

    widgets.insert(ball.path(), widget);
    mBallWidgets.append(widget);
    return widget;
}

void ArborWidget::updateBalls()
{
    for (ArborBallWidget* widget : qAsConst(mBallWidgets))
        widget->updateBall();
}

QRectF ArborWidget::boundingRect() const
{
    return childrenBoundingRect();
}

bool ArborWidget::sceneEventFilter(QGraphicsItem*, QEvent*)
{
    return false;
}
