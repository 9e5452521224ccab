#include "ArborLayer.h"

#include "Arbor.h"

#include "ArborView.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QResizeEvent>

namespace
{
const int CARD_STACK_BOTTOM_MARGIN = 12;
}

ArborLayer::ArborLayer(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    mCentralFrame = new QFrame(this);
    mCentralFrame->setObjectName("centralFrame");
    mCentralFrame->setContentsMargins(0, 6, 0, 6);
    auto* centralLayout = new QHBoxLayout(mCentralFrame);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    mView = new ArborView(mCentralFrame);
    centralLayout->addWidget(mView);
    layout->addWidget(mCentralFrame);

    mRightFrame = new QFrame(this);
    mRightFrame->setObjectName("rightFrame");
    mRightFrame->setContentsMargins(12, 12, 12, 12);
    auto* rightLayout = new QHBoxLayout(mRightFrame);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    mStack = new CardStackWidget(mRightFrame);
    rightLayout->addWidget(mStack);
    layout->addWidget(mRightFrame);

    mOverlay = new CardConnectorOverlay(this);
    mOverlay->raise();
}

void ArborLayer::init(ArborLeavesWidget::View view, Arbor* arbor)
{
    mOverlay->init(mView);
    mStack->init(mOverlay, mView);
    mView->init(view, arbor, mStack);
    mStack->setBottomMargin(CARD_STACK_BOTTOM_MARGIN);

    // A reload of the lattice file replaces the tree: every layer, shown or
    // not, rebuilds from the new root. Queued, so that whoever reloads has
    // applied its layout changes first.
    if (arbor)
    {
        connect(arbor, &Arbor::rootBallReplaced, this, &ArborLayer::rebuild, Qt::QueuedConnection);
        // Cards and colours show the 1/1 frequency and the transposition:
        // every layer, shown or not, follows both.
        connect(arbor, &Arbor::transposeOrBaseFrequencyChanged, this, &ArborLayer::refresh);
    }
}

void ArborLayer::refresh()
{
    mView->updateArborBalls();
    mView->updateCardStack();
}

void ArborLayer::rebuild()
{
    mView->buildScene(mView->viewKind());
}

void ArborLayer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    mOverlay->move(0, 0);  // the overlay is our child: the layer's own origin
    mOverlay->resize(size());
    mOverlay->raise();
}
