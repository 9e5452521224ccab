#include "CardWidget.h"

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborContext.h"
#include "ArborRatio.h"
#include "CardStackWidget.h"
#include "Settings.h"

#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <cmath>
#include <limits>

namespace
{
// The card's size when the style sheet gives none.
const QSize DEFAULT_CARD_SIZE(200, 100);
const int DEFAULT_PADDING = 6;

int roundHalfUp(double x)
{
    return int(std::floor(x + 0.5));
}

// Width for a height at a document's natural aspect ratio; a document with
// no natural size (missing or unreadable) gets no width.
int widthForHeight(const QSvgWidget* widget, int height)
{
    // QSvgWidget reports a made-up size when it holds no valid document.
    if (!widget->renderer() || !widget->renderer()->isValid())
        return 0;
    const QSize natural = widget->renderer()->defaultSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return 0;
    return roundHalfUp(double(height) * natural.width() / natural.height());
}

QList<int> latticeStepsOf(const ArborBall* ball)
{
    QList<int> steps;
    if (const Arbor* arbor = ArborContext::lattice())
        steps = arbor->transposeSteps();
    if (ball)
        steps += ball->path().toList();
    return steps;
}
}

CardWidget::CardWidget(const ArborBall* ball, CardStackWidget* stack)
    : QFrame(stack)
    , mBall(ball)
    , mNote(getNoteForBall(ball, justFrequencyForBall(ball)))
{
    setContentsMargins(DEFAULT_PADDING, DEFAULT_PADDING, DEFAULT_PADDING, DEFAULT_PADDING);
    const float justFrequency = justFrequencyForBall(ball);

    // Labels.
    mNoteLabel = makeLabel("noteLabel", QString(mNote.noteLetter()));
    mOctaveLabel = makeLabel("octaveLabel", QString::number(mNote.mOctave));
    mCentsLabel = makeLabel("centsLabel", centsText(mNote.mCents));
    QString ratioText;
    if (ball)
    {
        const ArborRatio ratio(ball->path());
        ratioText = ArborContext::settings()->mAbsRelView == 0 ? ratio.toString() : ratio.toStringAbs();
    }
    mRatioLabel = makeLabel("ratioLabel", ratioText);
    mFreqLabel = makeLabel("freqLabel", QString::number(double(justFrequency), 'f', 3) + " Hz");
    mOctaveShiftLabel = makeLabel("octaveShiftLabel", QString());
    mEnharmonicLabel = makeLabel("enharmonicLabel", "enh");
    mEnharmonicLabel->setVisible(mNote.mEnharmonic);
    mPrimeOffLabel = makeLabel("primeOffLabel", tr("prime off"));
    mPrimeOffLabel->setVisible(ball && !ball->isEnabled());

    // Clef.
    mBassClef = mNote.mOctave < 4;
    const QByteArray empty;
    const QByteArray& clefSvg =
        stack ? stack->svg(mBassClef ? CardStackWidget::BassClef : CardStackWidget::TrebleClef) : empty;
    mClef = new QSvgWidget(this);
    mClef->setObjectName("clefWidget");
    if (!clefSvg.isEmpty())
        mClef->load(clefSvg);
    mClef->resize(mClef->sizeHint().expandedTo(QSize(0, 0)));

    // Note head, in the ball's colour.
    mNoteHeadSvg = stack ? stack->svg(CardStackWidget::NoteHead) : QByteArray();
    changeSvgColor(&mNoteHeadSvg, ball);
    mNoteHead = new QSvgWidget(this);
    mNoteHead->setObjectName("noteHeadWidget");
    if (!mNoteHeadSvg.isEmpty())
        mNoteHead->load(mNoteHeadSvg);

    // Accidentals: black beside the letter, coloured on the staff.
    mAccidental = mNote.mAccidental;
    mStaffAccidental = new QSvgWidget(this);
    mStaffAccidental->setObjectName("staffAccidentalWidget");
    mNameAccidental = new QSvgWidget(this);
    mNameAccidental->setObjectName("nameAccidentalWidget");
    CardStackWidget::Glyph glyph = CardStackWidget::GlyphCount;
    switch (mAccidental)
    {
    case -2: glyph = CardStackWidget::DoubleFlat; break;
    case -1: glyph = CardStackWidget::Flat; break;
    case 1: glyph = CardStackWidget::Sharp; break;
    case 2: glyph = CardStackWidget::DoubleSharp; break;
    default: break;
    }
    if (glyph != CardStackWidget::GlyphCount && stack)
    {
        const QByteArray& plain = stack->svg(glyph);
        mStaffAccidentalSvg = plain;
        changeSvgColor(&mStaffAccidentalSvg, ball);
        if (!plain.isEmpty())
        {
            mNameAccidental->load(plain);
            mStaffAccidental->load(mStaffAccidentalSvg);
        }
    }
    else
    {
        mStaffAccidental->hide();
        mNameAccidental->hide();
    }

    // Staff position and octave mark.
    mStaffPosition = getStaffLineForNote(mBassClef, mNote);
    mOctaveShift = shiftIntoStaff(mStaffPosition);
    mOctaveShiftLabel->setText(octaveMarkText(mOctaveShift));

    // The glyphs came last: the texts go back on top of them.
    for (QLabel* label : findChildren<QLabel*>())
        label->raise();
}

QLabel* CardWidget::makeLabel(const char* name, const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QSize CardWidget::sizeHint() const
{
    // The style sheet sizes the card through min-width / min-height.
    QSize hint = DEFAULT_CARD_SIZE;
    if (minimumWidth() > 0)
        hint.setWidth(minimumWidth());
    if (minimumHeight() > 0)
        hint.setHeight(minimumHeight());
    return hint;
}

float CardWidget::justFrequencyForBall(const ArborBall* ball)
{
    const Arbor* arbor = ArborContext::lattice();
    if (!ball || !arbor)
        return 0.0f;
    const ArborRatio pathRatio(ball->path());
    ArborRatio total = arbor->transposeRatio();
    double ratio = 0.0;
    if (total.numerator() == 0 || total.denominator() == 0)
        total = ArborRatio(1, 1);
    if (total.canMultiplyWith(pathRatio))
    {
        total *= pathRatio;
        ratio = float(total.numerator()) / float(total.denominator());
    }
    else
    {
        ratio = (double(total.numerator()) / double(total.denominator())) *
                (double(pathRatio.numerator()) / double(pathRatio.denominator()));
    }
    return arbor->baseFrequency() * float(ratio);
}

Note CardWidget::getNoteForBall(const ArborBall* ball, float justFreq)
{
    qDebug() << "mBaseFreq: " << ArborContext::settings()->mBaseFrequency;
    qDebug() << "justFreq: " << justFreq;
    const QList<int> steps = latticeStepsOf(ball);
    qDebug() << steps;
    for (int i = 0; i < steps.size(); ++i)
        qDebug() << "i, prime = " << i << steps.at(i);

    float centsDiff = std::numeric_limits<float>::quiet_NaN();   // stays so when no cents apply
    const Note note = Note::forSteps(steps, justFreq, &centsDiff);
    if (!std::isnan(centsDiff))
        qDebug() << "centsDiff: " << centsDiff;
    return note;
}

float CardWidget::getStaffLineForNote(bool bassClef, const Note& note)
{
    const float letter = float(note.mNote);
    if (bassClef)
        return float(3 - note.mOctave) * 3.5f + 2.5f - letter / 2.0f;
    return float(5 - note.mOctave) * 3.5f + 1.5f - letter / 2.0f;
}

int CardWidget::shiftIntoStaff(float& position)
{
    int shift = 0;
    if (!std::isfinite(position))
    {
        position = 2.0f;
        return 0;
    }
    while (position < -1.0f)
    {
        position += 3.5f;
        ++shift;
    }
    while (position > 5.0f)
    {
        position -= 3.5f;
        --shift;
    }
    return shift;
}

QString CardWidget::centsText(float cents)
{
    if (!std::isfinite(cents))
        return QStringLiteral("+0");
    const int rounded = roundHalfUp(cents);
    return rounded >= 0 ? QStringLiteral("+%1").arg(rounded) : QString::number(rounded);
}

QString CardWidget::octaveMarkText(int shift)
{
    if (shift == 0)
        return QString();
    return QString::number(std::abs(shift) * 7 + 1);
}

void CardWidget::changeSvgColor(QByteArray* svg, const ArborBall* ball)
{
    const Arbor* arbor = ArborContext::lattice();
    if (!svg || svg->isEmpty() || !arbor)
        return;

    int key = 1;
    for (int step : latticeStepsOf(ball))
        key = std::max(key, std::abs(step));
    if (ArborContext::settings()->mAbsRelView != 0 && ball)
    {
        const ArborRatio own(ball->path());
        if (own.numerator() == 1 && own.denominator() == 1)
            key = 1;
    }
    const QColor c = arbor->lookupColor(key);
    const QByteArray colour = QString("#%1%2%3")
                                  .arg(c.red(), 2, 16, QLatin1Char('0'))
                                  .arg(c.green(), 2, 16, QLatin1Char('0'))
                                  .arg(c.blue(), 2, 16, QLatin1Char('0'))
                                  .toLatin1();

    for (const QByteArray& prefix : {QByteArray("fill:"), QByteArray("stroke:")})
    {
        const QByteArray pattern = prefix + "#000000";
        int at = svg->indexOf(pattern);
        while (at >= 0)
        {
            svg->replace(at + prefix.size(), 7, colour);
            at = svg->indexOf(pattern, at + pattern.size());
        }
    }
}

QList<int> CardWidget::ledgerPositions() const
{
    return ledgerPositionsFor(mStaffPosition);
}

QList<int> CardWidget::ledgerPositionsFor(float staffPosition)
{
    QList<int> positions;
    if (staffPosition >= 5.0f)
        for (int k = 5; float(k) <= staffPosition; ++k)
            positions << k;
    if (staffPosition <= -1.0f)
        for (int k = -1; float(k) >= staffPosition; --k)
            positions << k;
    return positions;
}

QSize CardWidget::defaultCardSize()
{
    return DEFAULT_CARD_SIZE;
}

void CardWidget::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);

    const QRect cr = contentsRect();
    const int left = cr.left();
    const int top = cr.top();
    const int right = cr.right();
    const int bottom = cr.bottom();
    const int height = cr.height();
    mStaffSpacing = height / 8.0f;
    const float s = mStaffSpacing;

    // Clef over the whole height.
    const int clefWidth = widthForHeight(mClef, height);
    mClef->setGeometry(left, top, clefWidth, height);

    // Note head and accidentals.
    const int headHeight = int(s + 1.0f);
    const int headWidth = widthForHeight(mNoteHead, headHeight);
    const bool hasAccidental = !mStaffAccidental->isHidden();
    int accHeight = 0;
    int accWidth = 0;
    if (hasAccidental)
    {
        accHeight = roundHalfUp(3.0 * s);
        accWidth = widthForHeight(mStaffAccidental, accHeight);
    }

    const int x = left + clefWidth + 3 + roundHalfUp((58.0 - clefWidth - headWidth - accWidth) / 2.0);
    const int headX = hasAccidental ? x + accWidth + 3 : x;
    const int headTop = roundHalfUp((mStaffPosition + 2.0f) * s + top - headHeight / 2.0);
    mNoteHead->setGeometry(headX, headTop, headWidth, headHeight);
    if (hasAccidental)
        mStaffAccidental->setGeometry(x, int(headTop - s), accWidth, accHeight);

    // Cents above or below the note head.
    const QSize centsHint = mCentsLabel->sizeHint();
    // Centred on the note head, but kept within the staff field, clear of the
    // clef's octave mark and of the name block to the right.
    const int centsX = std::max(left + clefWidth / 2 + 8, std::min(headX + headWidth / 2 - centsHint.width() / 2,
                                                                   left + 68 - centsHint.width()));
    // Above the staff when the note is sharp of its equal-tempered pitch,
    // below when flat: in the card's top or bottom row.
    const int centsY = mCentsLabel->text().startsWith('+') ? top - 3 : bottom + 3 - centsHint.height();
    mCentsLabel->setGeometry(centsX, centsY, centsHint.width(), centsHint.height());

    // Name block.
    const QSize noteHint = mNoteLabel->sizeHint();
    const int nameX = left + 70;
    const int nameY = top + 3;
    mNoteLabel->setGeometry(nameX, nameY, noteHint.width(), noteHint.height());
    const QSize octaveHint = mOctaveLabel->sizeHint();
    if (hasAccidental)
    {
        const int nameAccWidth = int(0.9 * accWidth);
        const int nameAccHeight = int(0.9 * accHeight);
        const int nameAccX = nameX + noteHint.width() + 1;
        mNameAccidental->setGeometry(nameAccX, top, nameAccWidth, nameAccHeight);
        mOctaveLabel->setGeometry(nameAccX + nameAccWidth + 2, nameY, octaveHint.width(), octaveHint.height());
    }
    else
    {
        mOctaveLabel->setGeometry(nameX + noteHint.width(), nameY, octaveHint.width(), octaveHint.height());
    }
    const QSize enhHint = mEnharmonicLabel->sizeHint();
    mEnharmonicLabel->setGeometry(right - enhHint.width(), top, enhHint.width(), enhHint.height());
    const QSize offHint = mPrimeOffLabel->sizeHint();
    mPrimeOffLabel->setGeometry(right - offHint.width(), bottom + 1 - offHint.height(), offHint.width(), offHint.height());
    const QSize ratioHint = mRatioLabel->sizeHint();
    const int ratioY = nameY + noteHint.height() + 20;
    mRatioLabel->setGeometry(nameX, ratioY, ratioHint.width(), ratioHint.height());
    const QSize freqHint = mFreqLabel->sizeHint();
    mFreqLabel->setGeometry(nameX, ratioY + ratioHint.height(), freqHint.width(), freqHint.height());

    // Octave mark centred on the clef, outside the staff: above the top
    // line when the note sounds higher than written, below the bottom line
    // when it sounds lower.
    if (!mOctaveShiftLabel->text().isEmpty())
    {
        const QSize shiftHint = mOctaveShiftLabel->sizeHint();
        const int shiftX = left + clefWidth / 2 - shiftHint.width() / 2;
        const int shiftY = mOctaveShift > 0 ? std::max(top - 3, int(top + 2 * s) - shiftHint.height())
                                            : std::min(int(top + 6 * s) + 2, bottom + 3 - shiftHint.height());
        mOctaveShiftLabel->setGeometry(shiftX, shiftY, shiftHint.width(), shiftHint.height());
    }
}

void CardWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);

    const QRect cr = contentsRect();
    const int left = cr.left();
    const int top = cr.top();
    const float s = cr.height() / 8.0f;
    painter.setPen(QPen(QColor(170, 170, 170), 1, Qt::SolidLine));
    for (int i = 2; i <= 6; ++i)
    {
        const int y = roundHalfUp(i * s + top);
        painter.drawLine(left, y, left + 64, y);
    }
    const QRect head = mNoteHead->geometry();
    for (int k : ledgerPositions())
    {
        const int y = roundHalfUp((k + 2) * s + top);
        painter.drawLine(head.left() - 4, y, head.left() + head.width() + 4, y);
    }
}

void CardWidget::enterEvent(QEvent* event)
{
    QFrame::enterEvent(event);
    raise();
}
