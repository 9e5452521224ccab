#include "CardStackWidget.h"

#include "ArborBallWidget.h"
#include "ArborView.h"
#include "CardConnectorOverlay.h"
#include "CardWidget.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

namespace
{
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
    if (card->width() > minimumWidth())
        setMinimumWidth(card->width());  // the column must hold a whole card
    updatePosition(ball, card);
    card->show();
    card->raise();
    if (mOverlay)
        mOverlay->addConnector(ball, card);
    mCards.insert(ball, card);
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

void CardStackWidget::updatePositions()
{
    for (auto it = mCards.constBegin(); it != mCards.constEnd(); ++it)
        updatePosition(it.key(), it.value());
}

void CardStackWidget::updatePosition(const ArborBallWidget* ball, CardWidget* card)
{
    if (!ball || !card || !mView)
        return;
    const int ballY = mView->mapFromScene(ball->scenePos()).y();
    int y = ballY - card->height() / 2;
    if (y < 0)
        y = 0;
    const int limit = mView->height() - mBottomMargin;
    if (y + card->height() > limit)
        y = limit - card->height();
    card->move(0, y);
}
