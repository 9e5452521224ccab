#include "DisplayFixture.h"
#include "EventProbe.h"

#include "ArborLayer.h"
#include "ArborLeavesWidget.h"
#include "ArborStrutWidget.h"
#include "ArborView.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "LayoutConstants.h"
#include "TweakDialog.h"

#include <QPushButton>
#include <QSpinBox>

#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QPen>

using namespace DisplayFixture;

class ArborSceneTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Arbor> mArbor;

    template <typename T> static int countItems(const ArborView* view)
    {
        int n = 0;
        for (QGraphicsItem* item : view->scene()->items())
            if (dynamic_cast<T*>(item))
                ++n;
        return n;
    }

    std::unique_ptr<ArborLayer> makeLayer(ArborLeavesWidget::View kind)
    {
        auto layer = std::make_unique<ArborLayer>();
        layer->resize(900, 500);
        layer->init(kind, mArbor.get());
        layer->show();
        QTest::qWaitForWindowExposed(layer.get());
        return layer;
    }

private slots:
    void initTestCase()
    {
        mArbor = makeLattice();
        QVERIFY(mArbor);
        QVERIFY(mArbor->rootBall());
    }

    void cleanup()
    {
        // Leave every test with a silent, untransposed, fully enabled lattice.
        silenceAll(mArbor.get());
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        mArbor->onPrimeEnabledToggled(1, true);
        mArbor->onPrimeEnabledToggled(3, true);
        ArborContext::settings()->mAbsRelView = 0;
        ArborConstants::resetLayoutConstants();
        ArborLeavesWidget::clearPositionTables();
    }

    void itemCounts_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("circles") << int(ArborLeavesWidget::Circles);
        QTest::newRow("grapes") << int(ArborLeavesWidget::Grapes);
    }

    void itemCounts()
    {
        QFETCH(int, kind);
        auto layer = makeLayer(ArborLeavesWidget::View(kind));
        const ArborView* view = layer->view();
        QCOMPARE(view->arborWidget()->ballWidgets().size(), 361);
        QCOMPARE(countItems<ArborBallWidget>(view), 361);
        QCOMPARE(countItems<ArborLeavesWidget>(view), 38);
        QCOMPARE(countItems<ArborStrutWidget>(view), 18 + 10);  // tree struts + the ten links
        QCOMPARE(view->scene()->sceneRect(), view->arborWidget()->sceneBoundingRect());
    }

    void positions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QPointF>("pos");
        const int c = ArborLeavesWidget::Circles;
        const int g = ArborLeavesWidget::Grapes;
        for (int kind : {c, g})
        {
            const char* name = kind == c ? "circles" : "grapes";
            QTest::addRow("%s root", name) << kind << "/" << QPointF(0, 0);
            QTest::addRow("%s +3", name) << kind << "/3" << QPointF(46.669, -46.669);
            QTest::addRow("%s +2", name) << kind << "/2" << QPointF(-79.903, -79.903);
            QTest::addRow("%s -3", name) << kind << "/-3" << QPointF(-46.669, 46.669);
            QTest::addRow("%s -2", name) << kind << "/-2" << QPointF(79.903, 79.903);
            QTest::addRow("%s +3+3", name) << kind << "/3/3" << QPointF(93.338, -93.338);
        }
        // Circles: lower cluster 35 below the ball, upper 35 above, the upper one reflected.
        QTest::newRow("circles -23") << c << "/-23" << QPointF(0, 35);
        QTest::newRow("circles +23") << c << "/23" << QPointF(0, -35);
        QTest::newRow("circles -19") << c << "/-19" << QPointF(8.999, -10.725 + 35);
        QTest::newRow("circles +19") << c << "/19" << QPointF(-8.999, 10.725 - 35);
        QTest::newRow("circles -11") << c << "/-11" << QPointF(13.947, -1.220 + 35);
        QTest::newRow("circles -7") << c << "/-7" << QPointF(10.725, 8.999 + 35);
        QTest::newRow("circles -31") << c << "/-31" << QPointF(1.220, 13.947 + 35);
        QTest::newRow("circles -29") << c << "/-29" << QPointF(-8.999, 10.725 + 35);
        QTest::newRow("circles -13") << c << "/-13" << QPointF(-13.947, 1.220 + 35);
        QTest::newRow("circles -5") << c << "/-5" << QPointF(-10.725, -8.999 + 35);
        QTest::newRow("circles -17") << c << "/-17" << QPointF(-1.220, -13.947 + 35);
        QTest::newRow("circles leaf of +3") << c << "/3/-5" << QPointF(46.669 - 10.725, -46.669 - 8.999 + 35);
        // Grapes: clusters sit on the ball, height proportional to the interval.
        QTest::newRow("grapes -5") << g << "/-5" << QPointF(-8, 25.733);
        QTest::newRow("grapes +5") << g << "/5" << QPointF(8, -25.733);
        QTest::newRow("grapes -7") << g << "/-7" << QPointF(-8, 64.6);
        QTest::newRow("grapes -11") << g << "/-11" << QPointF(8, 36.733);
        QTest::newRow("grapes -13") << g << "/-13" << QPointF(8, 56.067);
        QTest::newRow("grapes -17") << g << "/-17" << QPointF(-8, 7);
        QTest::newRow("grapes -19") << g << "/-19" << QPointF(8, 19.867);
        QTest::newRow("grapes -23") << g << "/-23" << QPointF(-8, 41.867);
        QTest::newRow("grapes -29") << g << "/-29" << QPointF(8, 69.133);
        QTest::newRow("grapes -31") << g << "/-31" << QPointF(-8, 76.667);
        QTest::newRow("grapes +31") << g << "/31" << QPointF(8, -76.667);
    }

    void positions()
    {
        QFETCH(int, kind);
        QFETCH(QString, path);
        QFETCH(QPointF, pos);
        auto layer = makeLayer(ArborLeavesWidget::View(kind));
        ArborBallWidget* item = findItem(layer->view()->arborWidget(), path);
        QVERIFY2(item, qPrintable(path));
        const QPointF actual = item->scenePos();
        QVERIFY2(qAbs(actual.x() - pos.x()) < 0.001 && qAbs(actual.y() - pos.y()) < 0.001,
                 qPrintable(QString("%1 at %2,%3").arg(path).arg(actual.x(), 0, 'f', 4).arg(actual.y(), 0, 'f', 4)));
        QCOMPARE(item->diameter(), item->ball()->path().length() > 0 && qAbs(item->ball()->path().toList().last()) > 3
                                       ? ArborConstants::LEAF_DIAMETER
                                       : ArborConstants::BALL_DIAMETER);
    }

    void changedAngleLaysThreeAxisFlat()
    {
        ArborConstants::ANGLE_3_PLUS = 0;
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborBallWidget* item = findItem(layer->view()->arborWidget(), "/3");
        QVERIFY(item);
        QVERIFY(qAbs(item->scenePos().x() - 66) < 0.001);
        QVERIFY(qAbs(item->scenePos().y()) < 0.001);
    }

    void colours()
    {
        ArborContext::settings()->mAbsRelView = 0;
        const QColor red(200, 0, 0);
        ArborBall ball(ArborPath("/3/3"), red, nullptr);
        ArborBallWidget item(&ball, nullptr, ArborConstants::BALL_DIAMETER);

        QCOMPARE(item.ballEllipse()->brush().color(), red.darker(115));
        QVERIFY(!item.glowEllipse()->isVisible());
        QCOMPARE(item.ballEllipse()->pen().color(), QColor(0, 0, 0, 128));

        ball.setPlaying(true);
        QCOMPARE(item.ballEllipse()->brush().color(), red.lighter(130));
        QCOMPARE(item.ballEllipse()->pen().color(), red.lighter(145));
        QCOMPARE(item.ballEllipse()->pen().width(), 2);
        QVERIFY(item.glowEllipse()->isVisible());
        QCOMPARE(item.glowEllipse()->rect().width(), 56.0);
        QCOMPARE(item.playingRadius(), 14.0 + 2.8);

        ArborBall leaf(ArborPath("/5"), red, nullptr);
        ArborBallWidget leafItem(&leaf, nullptr, ArborConstants::LEAF_DIAMETER);
        leaf.setPlaying(true);
        QCOMPARE(leafItem.ballEllipse()->pen().width(), 1);

        ball.setPlaying(false);
        QCOMPARE(item.ballEllipse()->brush().color(), red.darker(115));
        QVERIFY(!item.glowEllipse()->isVisible());
    }

    void rootColours()
    {
        ArborContext::settings()->mAbsRelView = 0;
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborBallWidget* root = findItem(layer->view()->arborWidget(), "/");
        QVERIFY(root);
        const QColor one = mArbor->lookupColor(1);
        QCOMPARE(root->ballEllipse()->brush().color(), one.darker(115));

        play(mArbor.get(), "/", true);
        QCOMPARE(root->ballEllipse()->brush().color(), one);
        QCOMPARE(root->ballEllipse()->pen().color(), one.lighter(200));
        play(mArbor.get(), "/", false);

        mArbor->onTransposed(ArborRatio(3, 2), 3);
        layer->view()->updateArborBalls();
        QCOMPARE(root->ballEllipse()->brush().color(), QColor(158, 158, 158).darker(115));
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        layer->view()->updateArborBalls();
        QCOMPARE(root->ballEllipse()->brush().color(), one.darker(115));
    }

    void pressesQueueOneEventEach()
    {
        EventProbe probe;
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborView* view = layer->view();
        ArborBallWidget* item = findItem(view->arborWidget(), "/3");
        QVERIFY(item);
        const QPoint at = view->mapFromScene(item->scenePos());

        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(probe.take(), QStringList{"/3"});

        // A double click as the window system delivers it: press, release,
        // double click, release. Only the first press toggles.
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(probe.take(), QStringList{"/3"});

        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
        QTest::mouseClick(view->viewport(), Qt::MiddleButton, {}, at);
        QCOMPARE(probe.take(), QStringList());

        // A leaf takes its own click.
        ArborBallWidget* leaf = findItem(view->arborWidget(), "/3/-23");
        QVERIFY(leaf);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(leaf->scenePos()));
        QCOMPARE(probe.take(), QStringList{"/3/-23"});
    }

    void clickThroughOverlay()
    {
        EventProbe probe;
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborView* view = layer->view();
        // Sound a ball so that a connector is drawn across the one we click.
        play(mArbor.get(), "/", true);
        QCOMPARE(layer->overlay()->connectorCount(), 1);
        ArborBallWidget* item = findItem(view->arborWidget(), "/");
        const QPoint onLayer = view->viewport()->mapTo(layer.get(), view->mapFromScene(item->scenePos()));
        QVERIFY(layer->overlay()->geometry().contains(onLayer));

        QWidget* under = layer->childAt(onLayer);
        QVERIFY(under);
        QVERIFY(under != layer->overlay());
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(layer.get(), onLayer));
        QCOMPARE(probe.take(), QStringList{"/"});
    }

    void primeSwitching()
    {
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        const ArborWidget* widget = layer->view()->arborWidget();
        CardStackWidget* stack = layer->cardStack();
        ArborBallWidget* three = findItem(widget, "/3");
        ArborBallWidget* threeThree = findItem(widget, "/3/3");
        ArborBallWidget* five = findItem(widget, "/5");
        ArborBallWidget* two = findItem(widget, "/2");
        QVERIFY(three && threeThree && five && two);
        QCOMPARE(three->struts().size(), 4);  // from the root, to /3/3, links to /2/3 and from /-2/3

        play(mArbor.get(), "/3", true);
        play(mArbor.get(), "/5", true);
        QCOMPARE(stack->cardCount(), 2);

        mArbor->onPrimeEnabledToggled(3, false);
        QVERIFY(!three->isVisible());
        QVERIFY(!threeThree->isVisible());
        for (ArborStrutWidget* strut : three->struts())
            QVERIFY(!strut->isVisible());
        QVERIFY(two->isVisible());
        QVERIFY(five->isVisible());
        QCOMPARE(stack->cardCount(), 1);
        QVERIFY(stack->cardForBall(five));
        QCOMPARE(layer->overlay()->connectorCount(), 1);

        mArbor->onPrimeEnabledToggled(3, true);
        QVERIFY(three->isVisible());
        for (ArborStrutWidget* strut : three->struts())
            QVERIFY(strut->isVisible());
        QCOMPARE(stack->cardCount(), 2);
        QVERIFY(stack->cardForBall(three));
    }

    void noCardOutlivesItsBallItem()
    {
        auto layer = makeLayer(ArborLeavesWidget::Grapes);
        ArborView* view = layer->view();
        CardStackWidget* stack = layer->cardStack();
        play(mArbor.get(), "/3", true);
        QPointer<CardWidget> oldCard = stack->cardForBall(findItem(view->arborWidget(), "/3"));
        QVERIFY(oldCard);

        view->buildScene(view->viewKind());
        QVERIFY(oldCard.isNull());
        ArborBallWidget* fresh = findItem(view->arborWidget(), "/3");
        QCOMPARE(stack->cardCount(), 1);
        QVERIFY(stack->cardForBall(fresh));
        QCOMPARE(layer->overlay()->connectorCount(), 1);
        QVERIFY(layer->overlay()->hasConnector(fresh));

        play(mArbor.get(), "/3", false);
        QCOMPARE(stack->cardCount(), 0);
        QCOMPARE(layer->overlay()->connectorCount(), 0);

        // A rebuild with nothing sounding leaves nothing behind either.
        layer->rebuild();
        QCOMPARE(stack->cardCount(), 0);
    }

    void tweakDialogWritesThrough()
    {
        QWidget window;
        TweakDialog dialog(&window);
        QCOMPARE(dialog.windowTitle(), QString("Tweak Dialog"));
        dialog.addInt("ANGLE_3_PLUS", &ArborConstants::ANGLE_3_PLUS);
        dialog.addInt("STRUT_3_LENGTH", &ArborConstants::STRUT_3_LENGTH);
        QCOMPARE(dialog.rowCount(), 2);
        QCOMPARE(dialog.spinBox(1)->value(), 66);
        QCOMPARE(dialog.spinBox(1)->minimum(), -1000);
        QCOMPARE(dialog.spinBox(1)->maximum(), 1000);
        dialog.spinBox(1)->setValue(100);
        QCOMPARE(ArborConstants::STRUT_3_LENGTH, 100);
        QCOMPARE(ArborConstants::ANGLE_3_PLUS, 45);

        int updates = 0;
        connect(&dialog, &TweakDialog::updateRequested, this, [&updates] { ++updates; });
        dialog.findChild<QPushButton*>()->click();
        QCOMPARE(updates, 1);

        // Rebuilding applies the new length.
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborBallWidget* three = findItem(layer->view()->arborWidget(), "/3");
        QVERIFY(qAbs(three->scenePos().x() - 70.711) < 0.001);
    }

    void reloadRebuildsBothLayers()
    {
        auto shown = makeLayer(ArborLeavesWidget::Circles);
        auto hidden = makeLayer(ArborLeavesWidget::Grapes);
        hidden->hide();
        play(mArbor.get(), "/3", true);
        ArborBall* oldThree = findBall(mArbor->rootBall(), "/3");

        QVERIFY(mArbor->load());  // the tweak reload: a new tree from the file
        ArborBall* newThree = findBall(mArbor->rootBall(), "/3");
        QVERIFY(newThree && newThree != oldThree);
        QVERIFY(newThree->isPlaying());

        for (ArborLayer* layer : {shown.get(), hidden.get()})
        {
            QTRY_COMPARE(findItem(layer->view()->arborWidget(), "/3")->ball(), static_cast<const ArborBall*>(newThree));
            QCOMPARE(layer->cardStack()->cardCount(), 1);
            QVERIFY(layer->cardStack()->cardForBall(findItem(layer->view()->arborWidget(), "/3")));
        }
        play(mArbor.get(), "/3", false);
        QCOMPARE(shown->cardStack()->cardCount(), 0);
        QCOMPARE(hidden->cardStack()->cardCount(), 0);
    }

    void bothLayersFollowTheSameBalls()
    {
        auto circles = makeLayer(ArborLeavesWidget::Circles);
        auto grapes = makeLayer(ArborLeavesWidget::Grapes);
        play(mArbor.get(), "/-2/3/3", true);
        QCOMPARE(circles->cardStack()->cardCount(), 1);
        QCOMPARE(grapes->cardStack()->cardCount(), 1);
        circles->rebuild();
        grapes->rebuild();
        QCOMPARE(circles->cardStack()->cardCount(), 1);
        QCOMPARE(grapes->cardStack()->cardCount(), 1);
        play(mArbor.get(), "/-2/3/3", false);
        QCOMPARE(circles->cardStack()->cardCount(), 0);
        QCOMPARE(grapes->cardStack()->cardCount(), 0);
    }
};

DISPLAY_TEST_MAIN(ArborSceneTest)
#include "tst_arborscene.moc"
