#pragma once

#include <QByteArray>
#include <QHash>
#include <QWidget>

class ArborBallWidget;
class ArborView;
class CardConnectorOverlay;
class CardWidget;

// The column of note cards beside the lattice: one card per sounding ball
// item, each as near the height of its ball as the others allow, none
// covering another (more columns when one cannot hold them). Also holds the note glyph documents
// the cards draw with.
class CardStackWidget : public QWidget
{
    Q_OBJECT

public:
    enum Glyph
    {
        TrebleClef = 0,
        BassClef,
        DoubleFlat,
        Flat,
        Sharp,
        DoubleSharp,
        NoteHead,
        GlyphCount
    };

    explicit CardStackWidget(QWidget* parent = nullptr);
    ~CardStackWidget() override;

    void init(CardConnectorOverlay* overlay, const ArborView* view);
    static bool loadSvgFile(const QString& name, QByteArray& data);

    void showCardForBall(const ArborBallWidget* ball);
    void showCardForBall(const ArborBallWidget* ball, int hierarchy);
    void hideCardForBall(const ArborBallWidget* ball);
    void raiseCardForBall(const ArborBallWidget* ball);
    void updateCards();

    const QByteArray& svg(Glyph glyph) const;
    void setSvg(Glyph glyph, const QByteArray& data);  // replaces a loaded document
    void setBottomMargin(int margin) { mBottomMargin = margin; }
    int bottomMargin() const { return mBottomMargin; }
    CardWidget* cardForBall(const ArborBallWidget* ball) const { return mCards.value(ball, nullptr); }
    int cardCount() const { return mCards.size(); }
    const QHash<const ArborBallWidget*, CardWidget*>& cards() const { return mCards; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void updatePositions();

private:
    int ballHeight(const ArborBallWidget* ball) const;  // in the view's coordinates

    QHash<const ArborBallWidget*, CardWidget*> mCards;
    QByteArray mSvgs[GlyphCount];
    int mBottomMargin = 0;
    CardConnectorOverlay* mOverlay = nullptr;
    const ArborView* mView = nullptr;
};
