#include "PrimeToggleButton.h"

#include "Arbor.h"
#include "ArborContext.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"

#include <QDebug>

namespace
{
QString colorRule(const char* selector, const QColor& c)
{
    return QStringLiteral("%1 { background-color: rgb(%2, %3, %4); }")
        .arg(QLatin1String(selector))
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue());
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
                            "{ background-color: #c4c4bb; }");
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
