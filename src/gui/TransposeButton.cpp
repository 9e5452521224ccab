#include "TransposeButton.h"

#include "Arbor.h"
#include "ArborContext.h"
#include "ArborPath.h"
#include "PdPlayer.h"
#include "PrimeToggleButton.h"

#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

TransposeButton::TransposeButton(int step, QLabel* label, QWidget* parent)
    : QToolButton(parent)
    , mStep(step)
    , mLabel(label)
    , mEvent(ArborEvent::Transpose, float(step))
    , mStepRatio(ArborPath(static_cast<signed char>(step)).toRatio())
{
    setToolTip(step < 0 ? tr("Transpose down by %1").arg(-step) : tr("Transpose up by %1").arg(step));
    connect(this, &QToolButton::clicked, this, &TransposeButton::onTransposeClicked);
}

bool TransposeButton::latticeAccepts() const
{
    const Arbor* arbor = ArborContext::lattice();
    return arbor && arbor->canTransposeTo(mStepRatio);
}

bool TransposeButton::isShiftedDirection() const
{
    return (mStep < 0 && mCount < 0) || (mStep > 0 && mCount >= 1);
}

void TransposeButton::onTransposeClicked()
{
    if (!latticeAccepts()) {
        qDebug() << "Transposition refused by the lattice:" << mStep;
        return;
    }
    if (!PdPlayer::sThis) {
        qWarning() << "No sound engine, transposition dropped:" << mStep;
        return;
    }
    PdPlayer::sThis->queueEventGui(&mEvent);
}

void TransposeButton::onTransposeChanged()
{
    setEnabled(latticeAccepts());

    int sum = 0;
    if (const Arbor* arbor = ArborContext::lattice()) {
        for (int s : arbor->transposeSteps()) {
            if (s == mStep || s == -mStep)
                sum += s;
        }
    }
    const int magnitude = mStep < 0 ? -mStep : mStep;
    mCount = magnitude ? sum / magnitude : 0;

    if (mLabel) {
        if (mStep > 0 && mCount >= 1)
            mLabel->setText(QStringLiteral("%1%2").arg(QStringLiteral("+")).arg(mCount));
        else if (mStep < 0 && mCount < 0)
            mLabel->setText(QStringLiteral("%1").arg(mCount));
        else
            mLabel->setText(QString());
    }
    update();
}

void TransposeButton::paintEvent(QPaintEvent*)
{
    if (!isEnabled())
        return;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QColor frameColor = palette().color(QPalette::Active, QPalette::Window);
    QColor arrowColor = palette().color(QPalette::Active, QPalette::WindowText);
    QColor outlineColor = Qt::black;
    bool drawFrame = false;

    if (isDown()) {
        frameColor = palette().color(QPalette::Active, QPalette::WindowText);
        arrowColor = palette().color(QPalette::Active, QPalette::Window);
        outlineColor = Qt::transparent;
        drawFrame = true;
    } else {
        if (isShiftedDirection())
            arrowColor = PrimeToggleButton::primeColor(mStep);
        if (underMouse()) {
            arrowColor = arrowColor.lighter(116);
            outlineColor = Qt::transparent;
            drawFrame = true;
        }
    }

    const QRect r = contentsRect();
    if (drawFrame) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(frameColor);
        painter.drawRoundedRect(r, 3, 3, Qt::AbsoluteSize);
    }

    const qreal s = r.width() / 2.0;
    const qreal x0 = r.x() + (r.width() - s) / 2.0;
    const qreal y0 = r.y() + (r.height() - s) / 2.0;
    QPolygonF arrow;
    if (mStep < 0)
        arrow << QPointF(x0 + s, y0) << QPointF(x0 + s, y0 + s) << QPointF(x0, y0 + s / 2.0);
    else
        arrow << QPointF(x0, y0) << QPointF(x0 + s, y0 + s / 2.0) << QPointF(x0, y0 + s);

    painter.setPen(QPen(outlineColor, 1));
    painter.setBrush(arrowColor);
    painter.drawPolygon(arrow);
}
