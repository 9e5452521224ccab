#include "TransposeWidget.h"

#include "Arbor.h"
#include "ArborConstants.h"
#include "ArborContext.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"

#include <QBoxLayout>
#include <QDebug>
#include <QLabel>

#include <cstdlib>

TransposeWidget::TransposeWidget(QWidget* parent)
    : QWidget(parent)
    , mResetEvent(ArborEvent::Transpose, 0.0f)
{
}

void TransposeWidget::init(Qt::Orientation orientation)
{
    if (layout()) {
        qWarning() << "Transpose column is already built";
        return;
    }
    mOrientation = orientation;
    const bool vertical = orientation != Qt::Horizontal;
    Arbor* arbor = ArborContext::lattice();

    auto* mainLayout = new QBoxLayout(vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    mainLayout->setSpacing(2); // the column fits a 720-pixel screen
    mainLayout->setContentsMargins(0, 0, 0, 0);

    for (int p : ArborConstants::PRIMES) {
        auto* row = new QBoxLayout(vertical ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        row->setSpacing(1);
        row->setContentsMargins(0, 0, 0, 0);
        if (p == 1) {
            auto* rootButton = new PrimeToggleButton(1, this);
            mPrimeButtons << rootButton;
            row->addWidget(rootButton, 0, Qt::AlignCenter);
        } else {
            auto* downLabel = new QLabel(this);
            downLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            auto* down = new TransposeButton(-p, downLabel, this);
            auto* primeButton = new PrimeToggleButton(p, this);
            auto* upLabel = new QLabel(this);
            auto* up = new TransposeButton(p, upLabel, this);
            mTransposeButtons << down << up;
            mPrimeButtons << primeButton;
            row->addWidget(downLabel);
            row->addWidget(vertical ? down : up);
            row->addWidget(primeButton);
            row->addWidget(vertical ? up : down);
            row->addWidget(upLabel);
            connect(primeButton, &QAbstractButton::toggled, this, &TransposeWidget::onTransposeChanged);
            if (arbor) {
                connect(arbor, &Arbor::transposeOrBaseFrequencyChanged, down,
                        &TransposeButton::onTransposeChanged);
                connect(arbor, &Arbor::transposeOrBaseFrequencyChanged, up,
                        &TransposeButton::onTransposeChanged);
            }
        }
        mainLayout->addLayout(row);
    }

    auto* resetRow = new QBoxLayout(vertical ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    resetRow->setSpacing(2);
    resetRow->setContentsMargins(0, 0, 0, 0);
    mResetButton = new PrimeToggleButton(1, this);
    mResetButton->setObjectName(QStringLiteral("resetButton"));
    mResetButton->setText(QStringLiteral("="));
    mResetButton->setToolTip(tr("Reset transpose"));
    // Light while there is something to reset, dim when not.
    mResetButton->setStyleSheet(QStringLiteral(
        "PrimeToggleButton { background-color: #a8a69c; color: #141414; }"
        "PrimeToggleButton:hover:!pressed { background-color: #bab8ae; }"
        "PrimeToggleButton:pressed { background-color: #c4c4bb; }"
        "PrimeToggleButton:disabled { background-color: #333330; color: #a0a098; }"));
    resetRow->addWidget(mResetButton, 0, Qt::AlignCenter);
    mainLayout->addLayout(resetRow);

    setLayout(mainLayout);

    connect(mResetButton, &QToolButton::clicked, this, &TransposeWidget::onResetClicked);
    if (arbor) {
        connect(arbor, &Arbor::transposeOrBaseFrequencyChanged, this,
                &TransposeWidget::onTransposeChanged);
    } else {
        qWarning() << "Transpose column built without a lattice";
    }
    onTransposeChanged();
}

TransposeButton* TransposeWidget::transposeButton(int step) const
{
    for (TransposeButton* b : mTransposeButtons) {
        if (b->step() == step)
            return b;
    }
    return nullptr;
}

PrimeToggleButton* TransposeWidget::primeButton(int prime) const
{
    for (PrimeToggleButton* b : mPrimeButtons) {
        if (b->prime() == prime)
            return b;
    }
    return nullptr;
}

void TransposeWidget::onResetClicked()
{
    if (!PdPlayer::sThis) {
        qWarning() << "No sound engine, transpose reset dropped";
        return;
    }
    PdPlayer::sThis->queueEventGui(&mResetEvent);
}

void TransposeWidget::onTransposeChanged()
{
    const Arbor* arbor = ArborContext::lattice();
    const QList<int> steps = arbor ? arbor->transposeSteps() : QList<int>();
    if (mResetButton) {
        mResetButton->setEnabled(!steps.isEmpty());
        mResetButton->setToolTip(steps.isEmpty() ? tr("Reset transpose (not transposed)")
                                                 : tr("Reset transpose: back to the untransposed lattice"));
    }
    // Each control tells what it does and where the lattice stands along its prime.
    for (PrimeToggleButton* button : qAsConst(mPrimeButtons)) {
        const int p = button->prime();
        if (p <= 3)
            button->setToolTip(tr("Prime %1: always on").arg(p));
        else
            button->setToolTip(button->isChecked() ? tr("Prime %1 is on: click to hide its balls").arg(p)
                                                   : tr("Prime %1 is off: click to show its balls").arg(p));
    }
    for (TransposeButton* button : qAsConst(mTransposeButtons)) {
        const int p = std::abs(button->step());
        int along = 0;
        for (int step : steps)
            along += step == p ? 1 : step == -p ? -1 : 0;
        const QString state = along == 0 ? tr("not transposed along %1").arg(p)
                                         : tr("Transposed %1 %2 %3 along %4")
                                               .arg(std::abs(along))
                                               .arg(std::abs(along) == 1 ? tr("step") : tr("steps"))
                                               .arg(along > 0 ? tr("up") : tr("down"))
                                               .arg(p);
        button->setToolTip((button->step() > 0 ? tr("Transpose one step up along %1").arg(p)
                                               : tr("Transpose one step down along %1").arg(p))
                           + QStringLiteral("\n") + state);
    }
}
