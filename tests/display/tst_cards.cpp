#include "DisplayFixture.h"

#include "ArborLayer.h"
#include "ArborView.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "Note.h"

#include <QFile>
#include <QLabel>
#include <QSvgWidget>

using namespace DisplayFixture;

class CardTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Arbor> mArbor;

    std::unique_ptr<ArborLayer> makeLayer(ArborLeavesWidget::View kind, const QSize& size = QSize(900, 520))
    {
        auto layer = std::make_unique<ArborLayer>();
        layer->resize(size);
        layer->init(kind, mArbor.get());
        layer->show();
        QTest::qWaitForWindowExposed(layer.get());
        return layer;
    }

    static QString labelText(const CardWidget* card, const char* name)
    {
        const QLabel* label = card->findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QString("<missing %1>").arg(name);
    }

private slots:
    void initTestCase()
    {
        mArbor = makeLattice();
        QVERIFY(mArbor);
        ArborContext::settings()->mAbsRelView = 0;
    }

    void cleanup()
    {
        silenceAll(mArbor.get());
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        ArborContext::settings()->mAbsRelView = 0;
    }

    void staffPositions_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<float>("position");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<int>("ledgerLines");
        QTest::newRow("F5 top line") << "F5" << 0.0f << "" << 0;
        QTest::newRow("E4 bottom line") << "E4" << 4.0f << "" << 0;
        QTest::newRow("A3 bass top line") << "A3" << 0.0f << "" << 0;
        QTest::newRow("G2 bass bottom line") << "G2" << 4.0f << "" << 0;
        QTest::newRow("C4 middle C") << "C4" << 5.0f << "" << 1;
        QTest::newRow("B3 bass space above") << "B3" << -0.5f << "" << 0;
        QTest::newRow("E2 bass ledger") << "E2" << 5.0f << "" << 1;
        QTest::newRow("C7 two octaves up") << "C7" << 1.5f << "15" << 0;
        QTest::newRow("D2 one octave down") << "D2" << 2.0f << "8" << 0;
        QTest::newRow("A0 two octaves down") << "A0" << 3.5f << "15" << 0;
        QTest::newRow("C0 three octaves down") << "C0" << 2.5f << "22" << 0;
        QTest::newRow("A5 one ledger above") << "A5" << -1.0f << "" << 1;
        QTest::newRow("C6 one octave up") << "C6" << 1.5f << "8" << 0;
        QTest::newRow("G5 space above") << "G5" << -0.5f << "" << 0;
    }

    void staffPositions()
    {
        QFETCH(QString, note);
        QFETCH(float, position);
        QFETCH(QString, mark);
        QFETCH(int, ledgerLines);
        const Note n(note, 0);
        float p = CardWidget::getStaffLineForNote(n.mOctave < 4, n);
        const int shift = CardWidget::shiftIntoStaff(p);
        QCOMPARE(p, position);
        QCOMPARE(CardWidget::octaveMarkText(shift), mark);
        QCOMPARE(CardWidget::ledgerPositionsFor(p).size(), ledgerLines);
    }

    void centsTexts_data()
    {
        QTest::addColumn<float>("cents");
        QTest::addColumn<QString>("text");
        QTest::newRow("-0.4") << -0.4f << "+0";
        QTest::newRow("-0.5") << -0.5f << "+0";
        QTest::newRow("49.5") << 49.5f << "+50";
        QTest::newRow("-49.4") << -49.4f << "-49";
        QTest::newRow("13.7") << 13.7f << "+14";
        QTest::newRow("-31.2") << -31.2f << "-31";
    }

    void centsTexts()
    {
        QFETCH(float, cents);
        QFETCH(QString, text);
        QCOMPARE(CardWidget::centsText(cents), text);
    }

    void changeSvgColor()
    {
        const QByteArray both = "<svg><path style=\"fill:#000000\"/><path style=\"stroke:#000000;fill:#000000\"/></svg>";
        ArborBall* five = findBall(mArbor->rootBall(), "/5");
        QVERIFY(five);
        QByteArray svg = both;
        CardWidget::changeSvgColor(&svg, five);
        QCOMPARE(svg, QByteArray("<svg><path style=\"fill:#9c0404\"/><path style=\"stroke:#9c0404;fill:#9c0404\"/></svg>"));

        // The largest prime of the whole way wins: /3 transposed along 7 is coloured as 7.
        mArbor->onTransposed(ArborRatio(7, 4), 7);
        svg = both;
        CardWidget::changeSvgColor(&svg, findBall(mArbor->rootBall(), "/3"));
        QVERIFY(svg.contains("fill:#2838d0"));
        mArbor->onTransposed(ArborRatio(1, 1), 0);

        svg = both;
        CardWidget::changeSvgColor(&svg, mArbor->rootBall());
        QVERIFY(svg.contains("fill:#202020"));
        QVERIFY(!svg.contains("#000000"));

        QByteArray plain = "<svg><path style=\"fill:#123456\"/></svg>";
        CardWidget::changeSvgColor(&plain, five);
        QCOMPARE(plain, QByteArray("<svg><path style=\"fill:#123456\"/></svg>"));
    }

    void cardLabels()
    {
        mArbor->onBaseFrequencyChanged(261.63f);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        play(mArbor.get(), "/3", true);
        ArborBallWidget* item = findItem(layer->view()->arborWidget(), "/3");
        CardWidget* card = layer->cardStack()->cardForBall(item);
        QVERIFY(card);
        QCOMPARE(labelText(card, "freqLabel"), QString("392.445 Hz"));
        QCOMPARE(labelText(card, "ratioLabel"), QString("3/2"));
        QVERIFY(!labelText(card, "noteLabel").isEmpty());
        QVERIFY(!labelText(card, "centsLabel").isEmpty());
        QVERIFY(card->clefWidget()->width() > 0);
        QVERIFY(card->noteHeadWidget()->width() > 0);
        QVERIFY(card->noteHeadSvg().contains("fill:#5173b6"));
        mArbor->onBaseFrequencyChanged(440.0f);
    }

    void accidentalWidgets()
    {
        ArborContext::settings()->mBaseNote = "C 4";
        ArborContext::settings()->mBaseFrequency = 440.0f;
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        CardStackWidget* stack = layer->cardStack();
        for (const char* path : {"/", "/3", "/-3", "/5", "/2/3/3", "/-2/-3"})
        {
            play(mArbor.get(), path, true);
            CardWidget* card = stack->cardForBall(findItem(layer->view()->arborWidget(), path));
            QVERIFY(card);
            const bool natural = card->note().mAccidental == 0;
            QCOMPARE(card->staffAccidentalWidget()->isHidden(), natural);
            QCOMPARE(card->nameAccidentalWidget()->isHidden(), natural);
            if (!natural)
                QVERIFY(card->staffAccidentalSvg() != stack->svg(CardStackWidget::Sharp) ||
                        card->note().mAccidental != 1);
            QCOMPARE(card->findChild<QLabel*>("enharmonicLabel")->isVisibleTo(card), card->note().mEnharmonic);
        }
        ArborContext::settings()->mBaseNote = "A 4";
    }

    void cardClamping()
    {
        auto layer = makeLayer(ArborLeavesWidget::Circles, QSize(700, 320));
        ArborView* view = layer->view();
        CardStackWidget* stack = layer->cardStack();
        QCOMPARE(stack->bottomMargin(), 12);
        // The topmost and bottommost lattice balls.
        ArborBallWidget* top = nullptr;
        ArborBallWidget* bottom = nullptr;
        for (ArborBallWidget* item : view->arborWidget()->ballWidgets())
        {
            if (item->diameter() != 28)
                continue;
            if (!top || item->scenePos().y() < top->scenePos().y())
                top = item;
            if (!bottom || item->scenePos().y() > bottom->scenePos().y())
                bottom = item;
        }
        QVERIFY(top && bottom);
        play(mArbor.get(), top->ball()->path().toString(), true);
        play(mArbor.get(), bottom->ball()->path().toString(), true);
        CardWidget* topCard = stack->cardForBall(top);
        CardWidget* bottomCard = stack->cardForBall(bottom);
        QVERIFY(topCard && bottomCard);
        QCOMPARE(topCard->y(), 0);
        QCOMPARE(topCard->x(), 0);
        QCOMPARE(bottomCard->y() + bottomCard->height(), view->height() - 12);

        // A middle ball's card is centred on it, and follows a resize.
        play(mArbor.get(), "/", true);
        CardWidget* middle = stack->cardForBall(findItem(view->arborWidget(), "/"));
        const int ballY = view->mapFromScene(QPointF(0, 0)).y();
        QCOMPARE(middle->y(), ballY - middle->height() / 2);
        layer->resize(700, 420);
        QTRY_COMPARE(middle->y(), view->mapFromScene(QPointF(0, 0)).y() - middle->height() / 2);
    }

    void hierarchyKeptOnRebuild()
    {
        auto layer = makeLayer(ArborLeavesWidget::Grapes);
        CardStackWidget* stack = layer->cardStack();
        play(mArbor.get(), "/3", true);
        play(mArbor.get(), "/-3", true);
        ArborBallWidget* three = findItem(layer->view()->arborWidget(), "/3");
        stack->cardForBall(three)->setCardHirarchy(4);
        ArborContext::settings()->mAbsRelView = 1;
        layer->view()->updateCardStack();
        QCOMPARE(stack->cardCount(), 2);
        QCOMPARE(stack->cardForBall(three)->cardHirarchy(), 4);
        QCOMPARE(layer->overlay()->connectorCount(), 2);
        stack->raiseCardForBall(three);
        QCOMPARE(stack->cardForBall(three)->cardHirarchy(), 0);
        stack->hideCardForBall(findItem(layer->view()->arborWidget(), "/5"));  // has none: nothing happens
        QCOMPARE(stack->cardCount(), 2);
    }

    void missingGlyphs_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not svg") << QByteArray("this is not a picture");
        QTest::newRow("no size") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    }

    void missingGlyphs()
    {
        QFETCH(QByteArray, document);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        CardStackWidget* stack = layer->cardStack();
        for (int g = 0; g < CardStackWidget::GlyphCount; ++g)
            stack->setSvg(CardStackWidget::Glyph(g), document);
        play(mArbor.get(), "/-3", true);
        CardWidget* card = stack->cardForBall(findItem(layer->view()->arborWidget(), "/-3"));
        QVERIFY(card);
        card->resize(card->width(), card->height() + 1);  // lay out again
        QCOMPARE(card->clefWidget()->width(), 0);
        QCOMPARE(card->noteHeadWidget()->width(), 0);
        QVERIFY(!labelText(card, "noteLabel").isEmpty());
        QVERIFY(labelText(card, "freqLabel").endsWith(" Hz"));
        card->repaint();
    }

    void loadSvgFile()
    {
        QByteArray data = "old";
        QTest::ignoreMessage(QtCriticalMsg, "\"Failed to load no such glyph.svg.\"");
        QVERIFY(!CardStackWidget::loadSvgFile("no such glyph.svg", data));
        QVERIFY(data.isEmpty());
        QVERIFY(CardStackWidget::loadSvgFile("note.svg", data));
        QVERIFY(data.contains("fill:#000000"));
    }

    void badFrequencyStillLabelled()
    {
        mArbor->onBaseFrequencyChanged(0.0f);
        ArborBall* ball = findBall(mArbor->rootBall(), "/3");
        CardWidget card(ball, nullptr);
        QVERIFY(!labelText(&card, "freqLabel").isEmpty());
        QVERIFY(!labelText(&card, "centsLabel").isEmpty());
        mArbor->onBaseFrequencyChanged(440.0f);
    }

    // Writes pictures of both arrangements with a chord sounding when
    // ARBOR_SHOTS_DIR names a folder.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("ARBOR_SHOTS_DIR");
        if (dir.isEmpty())
            QSKIP("ARBOR_SHOTS_DIR not set");
        QFile styleFile(QCoreApplication::applicationDirPath() + "/style.qss");
        if (styleFile.open(QIODevice::ReadOnly))
            qApp->setStyleSheet(QString::fromUtf8(styleFile.readAll()));
        for (int kind : {int(ArborLeavesWidget::Circles), int(ArborLeavesWidget::Grapes)})
        {
            auto layer = makeLayer(ArborLeavesWidget::View(kind), QSize(900, 560));
            for (const char* path : {"/", "/3", "/2/5", "/-3", "/-2/3/7"})
                play(mArbor.get(), path, true);
            QTest::qWait(50);
            const QString name = kind == ArborLeavesWidget::Circles ? "display-circles.png" : "display-grapes.png";
            QVERIFY(layer->grab().save(dir + "/" + name));
            for (const char* path : {"/", "/3", "/2/5", "/-3", "/-2/3/7"})
                play(mArbor.get(), path, false);
        }
    }
};

DISPLAY_TEST_MAIN(CardTest)
#include "tst_cards.moc"
