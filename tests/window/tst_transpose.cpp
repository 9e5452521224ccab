#include "WindowFixture.h"

#include "ArborConstants.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TransposeWidget.h"

#include <QLabel>

class TransposeTest : public QObject, public WindowFixture
{
    Q_OBJECT

    std::unique_ptr<TransposeWidget> mWidget = std::make_unique<TransposeWidget>();

    static QImage render(QWidget* button)
    {
        QImage image(button->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        button->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    // The arrow's centroid lies a third into its bounding square.
    static QRgb arrowColour(TransposeButton* button)
    {
        const QRect r = button->contentsRect();
        const qreal s = r.width() / 2.0, x0 = r.x() + (r.width() - s) / 2.0, y0 = r.y() + (r.height() - s) / 2.0;
        return render(button).pixel(int(button->step() < 0 ? x0 + 2 * s / 3 : x0 + s / 3), int(y0 + s / 2));
    }

    QString counter(int step) { return mWidget->transposeButton(step)->label()->text(); }

private slots:
    void initTestCase()
    {
        QVERIFY(setUp());
        mWidget->init(Qt::Vertical);
        mWidget->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWidget.get()));
    }

    void cleanup()
    {
        queue(ArborEvent::Transpose, 0.0f); // through the engine: engine and lattice agree
        QVERIFY(mArbor->transposeSteps().isEmpty());
    }

    void untransposed()
    {
        QVERIFY(!mWidget->resetButton()->isEnabled());
        const QRgb text = mWidget->palette().color(QPalette::Active, QPalette::WindowText).rgba();
        for (int p : ArborConstants::PRIMES) {
            QCOMPARE(mWidget->primeButton(p)->text(), QString::number(p));
            QCOMPARE(mWidget->primeButton(p)->isEnabled(), p > 3);
            for (int step : {p, -p})
                QVERIFY(p == 1 || (counter(step).isEmpty() && arrowColour(mWidget->transposeButton(step)) == text));
        }
    }

    void steps_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("prime");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        QTest::newRow("+5 +5") << QList<int>{5, 5} << 5 << "+2" << "";
        QTest::newRow("+5 -5 cancel") << QList<int>{5, -5} << 5 << "" << "";
        QTest::newRow("-7") << QList<int>{-7} << 7 << "" << "-1";
        QTest::newRow("+3 -5 +3") << QList<int>{3, -5, 3} << 3 << "+2" << "";
        QTest::newRow("-19 -19 +19, darker") << QList<int>{-19, -19, 19} << 19 << "" << "-1";
        QTest::newRow("+13 +11 +13") << QList<int>{13, 11, 13} << 13 << "+2" << "";
    }

    // Each arrow moves its own prime; the counters, the shifted arrow's
    // colour and the reset button follow, and reset returns to 1/1.
    void steps()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, prime);
        QFETCH(QString, up);
        QFETCH(QString, down);
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        for (int step : clicks)
            QTest::mouseClick(mWidget->transposeButton(step), Qt::LeftButton);
        QCOMPARE(drained<int>(transposed, 1), clicks);
        QCOMPARE(counter(prime), up);
        QCOMPARE(counter(-prime), down);
        const bool shifted = !(up + down).isEmpty();
        QCOMPARE(mWidget->resetButton()->isEnabled(), shifted);
        if (shifted) {
            const QColor colour = mArbor->lookupColor(prime);
            QCOMPARE(arrowColour(mWidget->transposeButton(up.isEmpty() ? -prime : prime)),
                     (prime == 19 ? colour.darker(120) : colour).rgba());
            QTest::mouseClick(mWidget->resetButton(), Qt::LeftButton);
            drain();
            QCOMPARE(mArbor->transposeRatio(), ArborRatio(1, 1));
            QCOMPARE(counter(prime) + counter(-prime), QString());
            QVERIFY(!mWidget->resetButton()->isEnabled());
        }
    }

    void refusedStepIsDisabledAndNotPainted()
    {
        // 440 Hz x 2^5 = 14080 Hz is allowed, one octave more is not.
        TransposeButton* octaveUp = mWidget->transposeButton(2);
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(octaveUp, Qt::LeftButton);
        drain();
        QCOMPARE(counter(2), QString("+5"));
        QVERIFY(!octaveUp->isEnabled() && mWidget->transposeButton(-2)->isEnabled());
        const QImage image = render(octaveUp);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(qAlpha(image.pixel(x, y)), 0);
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        octaveUp->click();
        QCOMPARE(drained<int>(transposed, 1), QList<int>());
    }

    // 1, 2 and 3 cannot be switched; another prime's button switches its own prime.
    void primeButtons()
    {
        QSignalSpy toggled(mPlayer, &PdPlayer::primeEnabledToggled);
        for (int p : {1, 2, 3, 7, 7, 11})
            QTest::mouseClick(mWidget->primeButton(p), Qt::LeftButton);
        drain();
        QCOMPARE(toggled.count(), 3);
        QCOMPARE(toggled.at(0), (QList<QVariant>{7, false}));
        QCOMPARE(toggled.at(1), (QList<QVariant>{7, true}));
        QCOMPARE(toggled.at(2), (QList<QVariant>{11, false}));
        QVERIFY(mPlayer->isPrimeEnabled(7) && mWidget->primeButton(7)->isChecked());
        QVERIFY(!mPlayer->isPrimeEnabled(11) && !mWidget->primeButton(11)->isChecked());
        queue(ArborEvent::PrimeToggle, 11.0f);
    }

    // As a row each prime is a column: up arrow above down arrow, primes left to right.
    void horizontalOrientation()
    {
        TransposeWidget row;
        row.init(Qt::Horizontal);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        auto at = [&row](int step) { return row.transposeButton(step)->mapTo(&row, QPoint()); };
        QVERIFY(at(5).x() == at(-5).x() && at(5).y() < at(-5).y() && at(5).x() < at(7).x());
    }
};

WINDOW_TEST_MAIN(TransposeTest)
#include "tst_transpose.moc"
