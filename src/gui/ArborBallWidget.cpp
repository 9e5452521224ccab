#include "ArborBallWidget.h"

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborContext.h"
#include "ArborStrutWidget.h"
#include "ArborWidget.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"
#include "Settings.h"

#include <QBrush>
#include <QDebug>
#include <QGraphicsEllipseItem>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QPen>
#include <QRadialGradient>
#include <QThread>

namespace
{
const QColor ROOT_TRANSPOSED_GREY(158, 158, 158, 255);
const int HOVER_DELAY_DIAMETER = 28;
const int HOVER_DELAY_MS = 100;
}

ArborBallWidget::ArborBallWidget(const ArborBall* ball, ArborWidget* arborWidget, int diameter, QGraphicsItem* parent)
    : QObject(nullptr)
    , QGraphicsItemGroup(parent)
    , mBall(ball)
    , mArborWidget(arborWidget)
    , mStack(arborWidget ? arborWidget->stack() : nullptr)
    , mEvent(ball ? ball->path() : ArborPath())
    , mDiameter(diameter)
{
    setHandlesChildEvents(false);
    if (parent)
        parent->setHandlesChildEvents(false);
    setAcceptHoverEvents(true);
    setFiltersChildEvents(true);

    const double d = diameter;
    mBallEllipse = new QGraphicsEllipseItem(-d / 2.0, -d / 2.0, d, d, this);
    mBallEllipse->setZValue(20);

    const double g = d * ArborConstants::BALL_GLOW_SIZE_FACTOR / 100.0;
    mGlowEllipse = new QGraphicsEllipseItem(-g / 2.0, -g / 2.0, g, g, this);
    mGlowEllipse->setPen(Qt::NoPen);
    mGlowEllipse->setZValue(10);
    QRadialGradient glow(QPointF(0, 0), g / 2.0);
    glow.setColorAt(0, QColor(255, 255, 255, ArborConstants::GLOW_ALPHA_START));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    mGlowEllipse->setBrush(QBrush(glow));
    mGlowEllipse->hide();

    updateBall();

    if (ball)
    {
        connect(ball, &ArborBall::playingChanged, this, &ArborBallWidget::onPlayingChanged);
        connect(ball, &ArborBall::enabledChanged, this, &ArborBallWidget::onEnabledChanged);
    }
    else
    {
        qWarning() << "Ball item without a ball";
    }
}

ArborBallWidget::~ArborBallWidget()
{
    // No card or connector may point at an item that is gone.
    if (mStack)
        mStack->hideCardForBall(this);
}

const ArborBall* ArborBallWidget::ball() const
{
    return mBall.data();
}

bool ArborBallWidget::isSounding() const
{
    return mBall && mBall->isPlaying();
}

void ArborBallWidget::updateBall()
{
    if (!mBall)
        return;

    const Arbor* arbor = ArborContext::lattice();
    const int absRelView = ArborContext::settings()->mAbsRelView;
    QColor colour = mBall->color();
    bool isRoot = false;

    if (absRelView == 0)
    {
        if (mBall->path().length() == 0)
        {
            isRoot = true;
            if (arbor && !arbor->transposeSteps().isEmpty())
                colour = ROOT_TRANSPOSED_GREY;
            else if (arbor)
                colour = arbor->lookupColor(1);
        }
    }
    else if (absRelView == 1)
    {
        const int s = mBall->lastAbsStep();
        if (s != 32 && arbor)
        {
            int highSteps = 0;
            for (int step : arbor->transposeSteps())
                if (std::abs(step) > 3)
                    ++highSteps;
            colour = (s > 3 && highSteps > 1) ? arbor->lookupColor(0) : arbor->lookupColor(s);
        }
        isRoot = (s == 1);
    }
    else
    {
        const int s = mBall->highestAbsStep();
        if (s != 32 && arbor)
            colour = arbor->lookupColor(s);
        isRoot = (s == 1);
    }
    updateColor(colour, isRoot);
}

void ArborBallWidget::updateColor(QColor colour, bool isRoot)
{
    if (mBall && mBall->isPlaying())
    {
        const int penWidth = int(mBallEllipse->rect().width() / 10.0);
        if (isRoot)
        {
            mBallEllipse->setBrush(QBrush(colour, Qt::SolidPattern));
            mBallEllipse->setPen(QPen(QBrush(colour.lighter(200)), penWidth, Qt::SolidLine));
        }
        else
        {
            mBallEllipse->setBrush(QBrush(colour.lighter(ArborConstants::BALL_BRIGHTEN_FACTOR), Qt::SolidPattern));
            mBallEllipse->setPen(
                QPen(QBrush(colour.lighter(ArborConstants::OUTLINE_BRIGHTEN_FACTOR)), penWidth, Qt::SolidLine));
        }
        mGlowEllipse->show();
    }
    else
    {
        mBallEllipse->setBrush(QBrush(colour.darker(ArborConstants::BALL_DIM_FACTOR), Qt::SolidPattern));
        QPen outline(QColor(0, 0, 0, 128), 0, Qt::SolidLine);
        outline.setCosmetic(true);
        mBallEllipse->setPen(outline);
        mGlowEllipse->hide();
    }
}

double ArborBallWidget::playingRadius() const
{
    const QRectF r = mBallEllipse->rect();
    return r.width() / 2.0 + r.height() / 10.0;
}

QRectF ArborBallWidget::boundingRect() const
{
    return mBallEllipse ? mBallEllipse->rect() : QRectF();
}

void ArborBallWidget::applyEnabled(bool enabled)
{
    // A note that sounds stays in sight, with its card, until it stops,
    // even when its prime is switched off under it.
    setVisible(enabled || isSounding());
    for (ArborStrutWidget* strut : mStruts)
        strut->setVisible(enabled);
}

void ArborBallWidget::onPlayingChanged()
{
    updateBall();
    applyEnabled(mBall && mBall->isEnabled());
    if (!mStack)
        return;
    if (isSounding())
        mStack->showCardForBall(this);
    else
        mStack->hideCardForBall(this);
}

void ArborBallWidget::onEnabledChanged(bool enabled)
{
    applyEnabled(enabled);
    if (isSounding() && mStack)
        mStack->showCardForBall(this, mStack->cardForBall(this) ? mStack->cardForBall(this)->cardHirarchy() : 0);
}

void ArborBallWidget::queueNoteEvent()
{
    if (!PdPlayer::sThis)
    {
        qWarning() << "No sound engine to toggle" << mEvent.path().toString();
        return;
    }
    PdPlayer::sThis->queueEventGui(&mEvent);
}

void ArborBallWidget::raiseCard()
{
    if (mStack)
        mStack->raiseCardForBall(this);
}

void ArborBallWidget::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
    {
        event->ignore();
        return;
    }
    event->accept();
    queueNoteEvent();
}

void ArborBallWidget::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event)
{
    // The first click of the pair has toggled already; the second must not.
    event->accept();
}

void ArborBallWidget::hoverEnterEvent(QGraphicsSceneHoverEvent* event)
{
    QGraphicsItemGroup::hoverEnterEvent(event);
    if (!isSounding())
        return;

    bool stillUnder = true;
    if (mDiameter == HOVER_DELAY_DIAMETER)
    {
        QThread::msleep(HOVER_DELAY_MS);
        stillUnder = isUnderMouse();
    }
    qDebug() << "hover over ball with abs path" << mBall->absPathSteps() << mDiameter
             << (stillUnder ? "true" : "false");
    if (stillUnder)
        raiseCard();
}

bool ArborBallWidget::sceneEventFilter(QGraphicsItem*, QEvent* event)
{
    if (event->type() == QEvent::GraphicsSceneHoverLeave && isSounding() && mBallEllipse->isUnderMouse())
        raiseCard();
    return false;
}
