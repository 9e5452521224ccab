#include "PrimeToggleButton.h"

#include "Arbor.h"
#include "ArborContext.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"

#include <QDebug>

#include <cmath>

namespace
{
double luminance(const QColor& c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// A background with black or white text, whichever reads better on it
// (one of them always reaches a contrast of 4.5:1).
QString colorRule(const char* selector, const QColor& c)
{
    const bool blackText = (luminance(c) + 0.05) / 0.05 >= 1.05 / (luminance(c) + 0.05);
    return QStringLiteral("%1 { background-color: rgb(%2, %3, %4); color: %5; }")
        .arg(QLatin1String(selector))
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(blackText ? QStringLiteral("#000000") : QStringLiteral("#ffffff"));
}
}

PrimeToggleButton::PrimeToggleButton(int prime, QWidget* parent)
    : QToolButton(parent)
    , mPrime(prime)
    , mEvent(ArborEvent::PrimeToggle, float(prime))
{
    setText(QString::number(prime));
    if (prime < 4) {
        setEnabled(false);
    } else {
        setCheckable(true);
        setChecked(true);
    }
    setStyleSheet(styleSheetFor(prime));
    connect(this, &QToolButton::clicked, this, &PrimeToggleButton::onPrimeToggled);
}

QColor PrimeToggleButton::primeColor(int prime)
{
    const Arbor* arbor = ArborContext::lattice();
    QColor c = arbor ? arbor->lookupColor(prime) : Arbor::WHITE;
    if (prime == 19 || prime == -19)
        c = c.darker(120);
    return c;
}

QString PrimeToggleButton::styleSheetFor(int prime)
{
    const QColor c = primeColor(prime);
    const QColor dim = c.darker(ArborConstants::PRIME_DISABLED_DIM_FACTOR);
    const QColor checkedHover = c.lighter(116);
    const QColor uncheckedHover = dim.lighter(140);

    QString sheet;
    sheet += colorRule("PrimeToggleButton:checked", c);
    sheet += colorRule("PrimeToggleButton", dim);
    sheet += colorRule("PrimeToggleButton:checked:hover:!pressed", checkedHover);
    sheet += colorRule("PrimeToggleButton:!checked:hover:!pressed", uncheckedHover);
    sheet += QStringLiteral("PrimeToggleButton:pressed, PrimeToggleButton:checked:pressed "
                            "{ background-color: #c4c4bb; color: #000000; }");
    sheet += colorRule("PrimeToggleButton:disabled", c);
    return sheet;
}

void PrimeToggleButton::onPrimeToggled()
{
    if (mPrime < 4)
        return;
    if (!PdPlayer::sThis) {
        qWarning() << "No sound engine, prime toggle dropped for" << mPrime;
        return;
    }
    PdPlayer::sThis->queueEventGui(&mEvent);
}
