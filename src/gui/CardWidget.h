#pragma once

#include "Note.h"

#include <QByteArray>
#include <QFrame>
#include <QList>

class ArborBall;
class CardStackWidget;
class QLabel;
class QSvgWidget;

// The note card of one sounding ball: clef, staff, coloured note head and
// accidental, cents above or below, and to the right the note name, the
// ratio and the frequency. Built once; the stack replaces it when anything
// it shows changes.
class CardWidget : public QFrame
{
    Q_OBJECT

public:
    CardWidget(const ArborBall* ball, CardStackWidget* stack);

    static Note getNoteForBall(const ArborBall* ball, float justFreq);
    static float getStaffLineForNote(bool bassClef, const Note& note);
    // Moves a staff position into the range -1 ... 5 by octaves; returns the
    // octave shift (positive: the note sounds higher than written).
    static int shiftIntoStaff(float& position);
    static QString centsText(float cents);
    static QString octaveMarkText(int shift);
    static void changeSvgColor(QByteArray* svg, const ArborBall* ball);
    // The exact frequency of a ball: lattice base frequency times the
    // transposition times the ball's own ratio.
    static float justFrequencyForBall(const ArborBall* ball);

    void setCardHirarchy(int hierarchy) { mCardHirarchy = hierarchy; }
    void decreaseCardHirarchy() { ++mCardHirarchy; }
    int cardHirarchy() const { return mCardHirarchy; }

    const ArborBall* ball() const { return mBall; }
    const Note& note() const { return mNote; }
    float staffSpacing() const { return mStaffSpacing; }
    float staffPosition() const { return mStaffPosition; }
    int octaveShift() const { return mOctaveShift; }
    bool bassClef() const { return mBassClef; }
    int accidental() const { return mAccidental; }
    // Staff positions that get a ledger line.
    QList<int> ledgerPositions() const;
    static QList<int> ledgerPositionsFor(float staffPosition);
    static QSize defaultCardSize();

    QSvgWidget* clefWidget() const { return mClef; }
    QSvgWidget* noteHeadWidget() const { return mNoteHead; }
    QSvgWidget* staffAccidentalWidget() const { return mStaffAccidental; }
    QSvgWidget* nameAccidentalWidget() const { return mNameAccidental; }
    const QByteArray& noteHeadSvg() const { return mNoteHeadSvg; }
    const QByteArray& staffAccidentalSvg() const { return mStaffAccidentalSvg; }

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;

private:
    QLabel* makeLabel(const char* name, const QString& text);

    const ArborBall* mBall;
    Note mNote;
    QSvgWidget* mClef = nullptr;
    QSvgWidget* mNoteHead = nullptr;
    QSvgWidget* mStaffAccidental = nullptr;
    QSvgWidget* mNameAccidental = nullptr;
    QByteArray mNoteHeadSvg;
    QByteArray mStaffAccidentalSvg;
    QLabel* mNoteLabel = nullptr;
    QLabel* mOctaveLabel = nullptr;
    QLabel* mCentsLabel = nullptr;
    QLabel* mRatioLabel = nullptr;
    QLabel* mFreqLabel = nullptr;
    QLabel* mOctaveShiftLabel = nullptr;
    QLabel* mEnharmonicLabel = nullptr;
    QLabel* mPrimeOffLabel = nullptr;  // the ball's prime was switched off while it sounds
    float mStaffSpacing = 0;
    float mStaffPosition = 0;
    int mOctaveShift = 0;
    int mCardHirarchy = 0;
    int mAccidental = 0;
    bool mBassClef = false;
};
