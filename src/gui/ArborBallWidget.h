#pragma once

#include "ArborEvent.h"

#include <QGraphicsItemGroup>
#include <QList>
#include <QObject>
#include <QPointer>

class ArborBall;
class ArborStrutWidget;
class ArborWidget;
class CardStackWidget;
class QGraphicsEllipseItem;

// One ball of the drawing: a lattice ball or a leaf ball. Drawn in the
// colour of its prime, lit with a glow while its note sounds; a left click
// toggles the note, hovering brings the note's card forward.
class ArborBallWidget : public QObject, public QGraphicsItemGroup
{
    Q_OBJECT

public:
    ArborBallWidget(const ArborBall* ball, ArborWidget* arborWidget, int diameter, QGraphicsItem* parent = nullptr);
    ~ArborBallWidget() override;

    // Null once the lattice has deleted the ball (e.g. the lattice file was
    // reloaded); the item then stays as it is until the scene is rebuilt.
    const ArborBall* ball() const;
    int diameter() const { return mDiameter; }
    bool isSounding() const;  // the ball is playing (also when its prime was switched off since)

    void updateBall();
    void updateColor(QColor colour, bool isRoot);
    double playingRadius() const;
    QRectF boundingRect() const override;

    void addStrut(ArborStrutWidget* strut) { mStruts.append(strut); }
    const QList<ArborStrutWidget*>& struts() const { return mStruts; }
    const ArborNoteEvent& noteEvent() const { return mEvent; }

    QGraphicsEllipseItem* ballEllipse() const { return mBallEllipse; }
    QGraphicsEllipseItem* glowEllipse() const { return mGlowEllipse; }

    // Shows or hides the item together with its struts.
    void applyEnabled(bool enabled);

public slots:
    void onPlayingChanged();
    void onEnabledChanged(bool enabled);

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    bool sceneEventFilter(QGraphicsItem* watched, QEvent* event) override;

private:
    void queueNoteEvent();
    void raiseCard();

    QPointer<const ArborBall> mBall;
    ArborWidget* mArborWidget;
    // Kept here rather than asked from the ArborWidget, which is already
    // half destroyed when its child items go.
    QPointer<CardStackWidget> mStack;
    QList<ArborStrutWidget*> mStruts;
    ArborNoteEvent mEvent;
    int mDiameter;
    QGraphicsEllipseItem* mBallEllipse = nullptr;
    QGraphicsEllipseItem* mGlowEllipse = nullptr;
};
