#include "ArborLeavesWidget.h"

#include "ArborBallWidget.h"
#include "ArborConstants.h"
#include "LayoutConstants.h"

#include <cmath>

namespace
{
const double PI = 3.14159265;
}

const int ArborLeavesWidget::PRIMES_CLOCKWISE[8] = {19, 11, 7, 31, 29, 13, 5, 17};

// clang-format off
const float ArborLeavesWidget::LEAF_X_OFFSETS[32] = {
    0, 0, 0, 0, 0, -0.5f, 0, -0.5f, 0, 0, 0, 0.5f, 0, 0.5f, 0, 0,
    0, -0.5f, 0, 0.5f, 0, 0, 0, -0.5f, 0, 0, 0, 0, 0, 0.5f, 0, -0.5f};
const float ArborLeavesWidget::LEAF_Y_OFFSETS[32] = {
    0, 0, 0, 0, 0, 3.86f, 0, 9.69f, 0, 0, 0, 5.51f, 0, 8.41f, 0, 0,
    0, 1.05f, 0, 2.98f, 0, 0, 0, 6.28f, 0, 0, 0, 0, 0, 10.37f, 0, 11.5f};
// clang-format on

QMap<int, QPointF> ArborLeavesWidget::sCirclePositions;
QMap<int, QPointF> ArborLeavesWidget::sGrapePositions;

ArborLeavesWidget::ArborLeavesWidget(View view, int direction, QGraphicsItem* parent)
    : QGraphicsItemGroup(parent)
    , mDirection(direction)
    , mView(view)
{
    // Every leaf takes its own clicks and hovers.
    setHandlesChildEvents(false);

    if (mView == Circles && sCirclePositions.isEmpty())
        fillCirclePositions();
    else if (mView == Grapes && sGrapePositions.isEmpty())
        fillGrapePositions();
}

void ArborLeavesWidget::fillCirclePositions()
{
    using namespace ArborConstants;
    sCirclePositions.insert(23, QPointF(0, 0));
    double angle = LEAVES_START_ANGLE;
    for (int prime : PRIMES_CLOCKWISE)
    {
        const double a = angle * PI / 180.0;
        sCirclePositions.insert(prime, QPointF(std::cos(a) * LEAVES_RADIUS, -std::sin(a) * LEAVES_RADIUS));
        angle -= 45.0;
        if (angle < 0)
            angle += 360.0;
    }
}

void ArborLeavesWidget::fillGrapePositions()
{
    using namespace ArborConstants;
    for (int prime : PRIMES)
    {
        if (prime < 5)
            continue;
        const float x = LEAF_X_OFFSETS[prime] * float(GRAPE_LEAVES_WIDTH) * 0.5f;
        const float y = float(GRAPE_LEAVES_HEIGHT) * LEAF_Y_OFFSETS[prime] / 12.0f;
        sGrapePositions.insert(prime, QPointF(x, y));
    }
}

void ArborLeavesWidget::clearPositionTables()
{
    sCirclePositions.clear();
    sGrapePositions.clear();
}

QPointF ArborLeavesWidget::leafPosition(int signedPrime) const
{
    const QMap<int, QPointF>& table = (mView == Circles) ? sCirclePositions : sGrapePositions;
    const QPointF pos = table.value(std::abs(signedPrime), QPointF(0, 0));
    return mDirection == 1 ? -pos : pos;
}

void ArborLeavesWidget::addPrime(int signedPrime, ArborBallWidget* leaf)
{
    if (!leaf)
        return;
    leaf->setPos(leafPosition(signedPrime));
    addToGroup(leaf);
}

bool ArborLeavesWidget::sceneEventFilter(QGraphicsItem*, QEvent*)
{
    return false;
}
