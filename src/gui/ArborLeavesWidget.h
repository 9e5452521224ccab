#pragma once

#include <QGraphicsItemGroup>
#include <QMap>
#include <QPointF>

class ArborBallWidget;

// The leaf balls hanging off one lattice ball in one direction (-1: steps
// down, drawn below the ball; +1: steps up, drawn above). Each leaf sits at a
// fixed place chosen by its prime, in one of two arrangements.
class ArborLeavesWidget : public QGraphicsItemGroup
{
public:
    enum View
    {
        Circles = 0,
        Grapes = 1
    };

    // Circle positions in clockwise order; 23 takes the centre.
    static const int PRIMES_CLOCKWISE[8];
    // Per prime: horizontal side (-0.5 left, 0.5 right) and the size of the
    // octave-reduced harmonic in hundreds of cents.
    static const float LEAF_X_OFFSETS[32];
    static const float LEAF_Y_OFFSETS[32];

    // Prime -> leaf position for the lower cluster, filled lazily from the
    // layout constants; cleared when the constants change.
    static QMap<int, QPointF> sCirclePositions;
    static QMap<int, QPointF> sGrapePositions;

    ArborLeavesWidget(View view, int direction, QGraphicsItem* parent = nullptr);

    // Places the leaf for a signed prime step and adds it to the group.
    void addPrime(int signedPrime, ArborBallWidget* leaf);

    // Where the leaf of a signed prime goes in this cluster.
    QPointF leafPosition(int signedPrime) const;

    View view() const { return mView; }
    int direction() const { return mDirection; }

    static void clearPositionTables();

protected:
    bool sceneEventFilter(QGraphicsItem* watched, QEvent* event) override;

private:
    static void fillCirclePositions();
    static void fillGrapePositions();

    int mDirection;
    View mView;
};
