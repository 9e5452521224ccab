#include "WindowFixture.h"

#include "ArborConstants.h"
#include "ArborRatio.h"
#include "LayoutConstants.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TransposeWidget.h"

#include <QBoxLayout>
#include <QImage>
#include <QLabel>

using namespace WindowFixture;

class TransposeTest : public QObject
{
    Q_OBJECT

private:
    PdPlayer* mPlayer = nullptr;
    Arbor* mArbor = nullptr;
    std::unique_ptr<TransposeWidget> mWidget;

    void queueAndDrain(const ArborEvent& event)
    {
        mPlayer->queueEventGui(&event);
        drain(mPlayer);
    }

    void click(QAbstractButton* button)
    {
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        drain(mPlayer);
    }

    // The button drawn alone onto a transparent picture.
    static QImage render(QWidget* button)
    {
        QImage image(button->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        button->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    static QColor arrowCentre(TransposeButton* button)
    {
        // The arrow's centroid lies a third into its bounding square.
        const QImage image = render(button);
        const QRect r = button->contentsRect();
        const qreal s = r.width() / 2.0;
        const qreal x0 = r.x() + (r.width() - s) / 2.0;
        const qreal y0 = r.y() + (r.height() - s) / 2.0;
        const int x = int(button->step() < 0 ? x0 + 2 * s / 3 : x0 + s / 3);
        const int y = int(y0 + s / 2);
        return image.pixelColor(x, y);
    }

    QString upText(int p) { return mWidget->transposeButton(p)->label()->text(); }
    QString downText(int p) { return mWidget->transposeButton(-p)->label()->text(); }

private slots:
    void initTestCase()
    {
        QVERIFY(initCore());
        mPlayer = app()->player();
        mArbor = app()->arbor();
        mWidget = std::make_unique<TransposeWidget>();
        mWidget->init(Qt::Vertical);
        mWidget->resize(mWidget->sizeHint());
        mWidget->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWidget.get()));
    }

    void cleanupTestCase()
    {
        mWidget.reset();
    }

    void cleanup()
    {
        // Reset through the engine so that engine and lattice agree again.
        queueAndDrain(ArborEvent(ArborEvent::Transpose, 0.0f));
        QVERIFY(mArbor->transposeSteps().isEmpty());
    }

    void columnHasEveryPrime()
    {
        for (int p : ArborConstants::PRIMES) {
            QVERIFY2(mWidget->primeButton(p), qPrintable(QString::number(p)));
            QCOMPARE(mWidget->primeButton(p)->text(), QString::number(p));
            QCOMPARE(mWidget->primeButton(p)->isEnabled(), p > 3);
            if (p > 1) {
                QVERIFY(mWidget->transposeButton(p));
                QVERIFY(mWidget->transposeButton(-p));
            }
        }
        QCOMPARE(mWidget->resetButton()->objectName(), QString("resetButton"));
        QCOMPARE(mWidget->resetButton()->text(), QString("="));
        QCOMPARE(mWidget->resetButton()->toolTip(), QString("Reset transpose"));
    }

    void emptyStepList()
    {
        emit mArbor->transposeOrBaseFrequencyChanged();
        QVERIFY(!mWidget->resetButton()->isEnabled());
        const QColor text = mWidget->palette().color(QPalette::Active, QPalette::WindowText);
        for (int p : ArborConstants::PRIMES) {
            if (p == 1)
                continue;
            QCOMPARE(upText(p), QString());
            QCOMPARE(downText(p), QString());
            QCOMPARE(arrowCentre(mWidget->transposeButton(p)).rgba(), text.rgba());
            QCOMPARE(arrowCentre(mWidget->transposeButton(-p)).rgba(), text.rgba());
        }
    }

    void counters_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("prime");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        QTest::addColumn<bool>("resetEnabled");
        QTest::newRow("+5 +5") << QList<int>{5, 5} << 5 << "+2" << "" << true;
        QTest::newRow("+5 -5 cancel") << QList<int>{5, -5} << 5 << "" << "" << false;
        QTest::newRow("-7") << QList<int>{-7} << 7 << "" << "-1" << true;
        QTest::newRow("+3 -5 +3") << QList<int>{3, -5, 3} << 3 << "+2" << "" << true;
        QTest::newRow("-19 -19 +19") << QList<int>{-19, -19, 19} << 19 << "" << "-1" << true;
    }

    void counters()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, prime);
        QFETCH(QString, up);
        QFETCH(QString, down);
        QFETCH(bool, resetEnabled);
        for (int step : clicks)
            click(mWidget->transposeButton(step));
        QCOMPARE(upText(prime), up);
        QCOMPARE(downText(prime), down);
        QCOMPARE(mWidget->resetButton()->isEnabled(), resetEnabled);

        // The shifted side's arrow takes the prime's colour (19 a darker one).
        TransposeButton* shifted = !up.isEmpty() ? mWidget->transposeButton(prime)
                                   : !down.isEmpty() ? mWidget->transposeButton(-prime) : nullptr;
        if (shifted) {
            QColor expected = mArbor->lookupColor(prime);
            if (prime == 19)
                expected = expected.darker(120);
            QCOMPARE(arrowCentre(shifted).rgba(), expected.rgba());
        }
    }

    void resetButtonReturnsToUntransposed()
    {
        click(mWidget->transposeButton(5));
        click(mWidget->transposeButton(-3));
        QCOMPARE(mArbor->transposeSteps(), (QList<int>{5, -3}));
        QVERIFY(mWidget->resetButton()->isEnabled());
        click(mWidget->resetButton());
        QVERIFY(mArbor->transposeSteps().isEmpty());
        QCOMPARE(mArbor->transposeRatio(), ArborRatio(1, 1));
        QVERIFY(!mWidget->resetButton()->isEnabled());
        QCOMPARE(upText(5), QString());
    }

    void refusedStepIsDisabledAndNotPainted()
    {
        // 440 Hz x 2^5 = 14080 Hz is allowed, one octave more is not.
        TransposeButton* octaveUp = mWidget->transposeButton(2);
        for (int i = 0; i < 5; ++i)
            click(octaveUp);
        QCOMPARE(upText(2), QString("+5"));
        QVERIFY(!octaveUp->isEnabled());
        const QImage image = render(octaveUp);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(qAlpha(image.pixel(x, y)), 0);

        // A click on the refused button queues nothing.
        QSignalSpy transposed(mPlayer, SIGNAL(transposed(ArborRatio, int)));
        octaveUp->click();
        drain(mPlayer);
        QCOMPARE(transposed.count(), 0);
        QCOMPARE(mArbor->transposeSteps().size(), 5);
        QVERIFY(mWidget->transposeButton(-2)->isEnabled());
    }

    void fixedPrimesDoNothing()
    {
        QSignalSpy toggled(mPlayer, SIGNAL(primeEnabledToggled(int, bool)));
        QSignalSpy transposed(mPlayer, SIGNAL(transposed(ArborRatio, int)));
        for (int p : {1, 2, 3}) {
            PrimeToggleButton* button = mWidget->primeButton(p);
            button->onPrimeToggled(); // even a direct call is ignored
            button->click();          // disabled: no click at all
            drain(mPlayer);
        }
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(transposed.count(), 0);
    }

    void primeSevenTwice()
    {
        QSignalSpy toggled(mPlayer, SIGNAL(primeEnabledToggled(int, bool)));
        PrimeToggleButton* seven = mWidget->primeButton(7);
        QVERIFY(seven->isCheckable());
        QVERIFY(seven->isChecked());
        QTest::mouseClick(seven, Qt::LeftButton);
        QVERIFY(!seven->isChecked());
        QTest::mouseClick(seven, Qt::LeftButton);
        drain(mPlayer);
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(0).at(0).toInt(), 7);
        QCOMPARE(toggled.at(0).at(1).toBool(), false);
        QCOMPARE(toggled.at(1).at(0).toInt(), 7);
        QCOMPARE(toggled.at(1).at(1).toBool(), true);
        QVERIFY(seven->isChecked());
    }

    void styleSheet_data()
    {
        QTest::addColumn<int>("prime");
        QTest::newRow("5") << 5;
        QTest::newRow("19 darker") << 19;
        QTest::newRow("2 fixed") << 2;
    }

    void styleSheet()
    {
        QFETCH(int, prime);
        QColor c = mArbor->lookupColor(prime);
        if (prime == 19)
            c = c.darker(120);
        const QColor dim = c.darker(300);
        auto rgb = [](const QColor& k) {
            return QString("rgb(%1, %2, %3)").arg(k.red()).arg(k.green()).arg(k.blue());
        };
        const QString expected =
            "PrimeToggleButton:checked { background-color: " + rgb(c) + "; }"
            "PrimeToggleButton { background-color: " + rgb(dim) + "; }"
            "PrimeToggleButton:checked:hover:!pressed { background-color: " + rgb(c.lighter(116)) + "; }"
            "PrimeToggleButton:!checked:hover:!pressed { background-color: " + rgb(dim.lighter(140)) + "; }"
            "PrimeToggleButton:pressed, PrimeToggleButton:checked:pressed { background-color: #c4c4bb; }"
            "PrimeToggleButton:disabled { background-color: " + rgb(c) + "; }";
        QCOMPARE(mWidget->primeButton(prime)->styleSheet(), expected);
    }

    void horizontalOrientationOrder()
    {
        TransposeWidget row;
        row.init(Qt::Horizontal);
        QCOMPARE(row.orientation(), Qt::Horizontal);
        auto* main = qobject_cast<QBoxLayout*>(row.layout());
        QVERIFY(main);
        QCOMPARE(main->direction(), QBoxLayout::LeftToRight);
        // Row of prime 5 (third entry): down-counter, up, prime, down, up-counter.
        auto* five = qobject_cast<QBoxLayout*>(main->itemAt(3)->layout());
        QVERIFY(five);
        QCOMPARE(five->direction(), QBoxLayout::TopToBottom);
        QCOMPARE(five->itemAt(1)->widget(), static_cast<QWidget*>(row.transposeButton(5)));
        QCOMPARE(five->itemAt(3)->widget(), static_cast<QWidget*>(row.transposeButton(-5)));
    }
};

WINDOW_TEST_MAIN(TransposeTest)
#include "tst_transpose.moc"
