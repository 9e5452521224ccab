#include "CardStackWidget.h"

#include "ArborBallWidget.h"
#include "ArborView.h"
#include "CardConnectorOverlay.h"
#include "CardWidget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTimer>

#include <algorithm>

namespace
{
// Space between two cards that are pushed apart.
const int CARD_GAP = 4;

const char* const GLYPH_FILES[CardStackWidget::GlyphCount] = {
    "trebleclef.svg", "bassclef.svg", "doubleflat.svg", "flat.svg", "sharp.svg", "doublesharp.svg", "note.svg"};
}

CardStackWidget::CardStackWidget(QWidget* parent)
    : QWidget(parent)
{
}

CardStackWidget::~CardStackWidget()
{
    // The cards are children and go with the widget; forget them first so
    // that ball items destroyed later find nothing to remove.
    if (mOverlay)
        for (auto it = mCards.constBegin(); it != mCards.constEnd(); ++it)
            mOverlay->removeConnector(it.key());
    mCards.clear();
}

void CardStackWidget::init(CardConnectorOverlay* overlay, const ArborView* view)
{
    mOverlay = overlay;
    mView = view;
    if (view)
        connect(view, &ArborView::resized, this, &CardStackWidget::updatePositions);
    for (int i = 0; i < GlyphCount; ++i)
        loadSvgFile(QString::fromLatin1(GLYPH_FILES[i]), mSvgs[i]);
}

bool CardStackWidget::loadSvgFile(const QString& name, QByteArray& data)
{
    QFile file(QCoreApplication::applicationDirPath() + "/" + name);
    if (!file.open(QIODevice::ReadOnly))
    {
        qCritical() << QString("Failed to load %1.").arg(name);
        data.clear();
        return false;
    }
    data = file.readAll();
    return true;
}

QSize CardStackWidget::sizeHint() const
{
    return QSize(CardWidget::defaultCardSize().width(), CardWidget::defaultCardSize().height());
}

QSize CardStackWidget::minimumSizeHint() const
{
    return QSize(CardWidget::defaultCardSize().width(), 0);
}

const QByteArray& CardStackWidget::svg(Glyph glyph) const
{
    static const QByteArray empty;
    if (glyph < 0 || glyph >= GlyphCount)
        return empty;
    return mSvgs[glyph];
}

void CardStackWidget::setSvg(Glyph glyph, const QByteArray& data)
{
    if (glyph >= 0 && glyph < GlyphCount)
        mSvgs[glyph] = data;
}

void CardStackWidget::showCardForBall(const ArborBallWidget* ball)
{
    if (!ball || !ball->ball())
        return;
    if (mCards.contains(ball))
        hideCardForBall(ball);  // never two cards for one ball

    auto* card = new CardWidget(ball->ball(), this);
    card->ensurePolished();  // the style sheet's size applies from here
    card->resize(card->sizeHint());
    card->show();
    card->raise();
    if (mOverlay)
        mOverlay->addConnector(ball, card);
    mCards.insert(ball, card);
    updatePositions();
}

void CardStackWidget::showCardForBall(const ArborBallWidget* ball, int hierarchy)
{
    showCardForBall(ball);
    if (CardWidget* card = mCards.value(ball, nullptr))
        card->setCardHirarchy(hierarchy);
}

void CardStackWidget::hideCardForBall(const ArborBallWidget* ball)
{
    CardWidget* card = mCards.value(ball, nullptr);
    if (!card)
        return;
    card->hide();
    if (mOverlay)
        mOverlay->removeConnector(ball);
    mCards.remove(ball);
    delete card;
    // Later: the ball items may be going one after another just now.
    QTimer::singleShot(0, this, &CardStackWidget::updatePositions);
}

void CardStackWidget::raiseCardForBall(const ArborBallWidget* ball)
{
    CardWidget* card = mCards.value(ball, nullptr);
    if (!card)
        return;
    card->raise();
    card->setCardHirarchy(0);
}

void CardStackWidget::updateCards()
{
    const auto snapshot = mCards;
    for (auto it = snapshot.constBegin(); it != snapshot.constEnd(); ++it)
    {
        const int hierarchy = it.value()->cardHirarchy();
        hideCardForBall(it.key());
        showCardForBall(it.key(), hierarchy);
    }
}

int CardStackWidget::ballHeight(const ArborBallWidget* ball) const
{
    return mView ? mView->mapFromScene(ball->scenePos()).y() : 0;
}

void CardStackWidget::updatePositions()
{
    if (!mView || mCards.isEmpty())
        return;
    // Cards in the height order of their balls. When one column cannot
    // hold them all apart, they go into as many columns as needed, taken in
    // turn, so that neighbouring notes sit side by side.
    QList<const ArborBallWidget*> balls = mCards.keys();
    std::stable_sort(balls.begin(), balls.end(), [this](const ArborBallWidget* a, const ArborBallWidget* b) {
        return ballHeight(a) < ballHeight(b);
    });
    const int cardHeight = mCards.value(balls.first())->height();
    const int cardWidth = mCards.value(balls.first())->width();
    const int limit = mView->height() - mBottomMargin;
    const int perColumn = std::max(1, (limit + CARD_GAP) / (cardHeight + CARD_GAP));
    const int columns = (balls.size() + perColumn - 1) / perColumn;
    setMinimumWidth(columns * cardWidth + (columns - 1) * CARD_GAP);
    for (int column = 0; column < columns; ++column)
    {
        QList<const ArborBallWidget*> own;
        for (int i = column; i < balls.size(); i += columns)
            own << balls.at(i);
        // Each card as near its ball as the others allow: pushed down below
        // the one above, then back up from the bottom edge.
        QList<int> ys;
        for (const ArborBallWidget* ball : own)
        {
            const int wanted = std::max(0, ballHeight(ball) - cardHeight / 2);
            ys << (ys.isEmpty() ? wanted : std::max(wanted, ys.last() + cardHeight + CARD_GAP));
        }
        for (int i = ys.size() - 1; i >= 0; --i)
            ys[i] = std::max(0, std::min(ys.at(i), (i + 1 < ys.size() ? ys.at(i + 1) - CARD_GAP : limit) - cardHeight));
        for (int i = 0; i < own.size(); ++i)
            mCards.value(own.at(i))->move(column * (cardWidth + CARD_GAP), ys.at(i));
    }
    if (mOverlay)
        mOverlay->update();
}
