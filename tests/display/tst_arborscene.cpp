#include "DisplayFixture.h"

#include "ArborStrutWidget.h"
#include "TweakDialog.h"

#include <QGraphicsEllipseItem>
#include <QPen>
#include <QSpinBox>

class ArborSceneTest : public QObject, public DisplayFixture
{
    Q_OBJECT

    template <typename T> static int count(const ArborLayer* layer)
    {
        int n = 0;
        for (QGraphicsItem* item : layer->view()->scene()->items())
            n += dynamic_cast<T*>(item) ? 1 : 0;
        return n;
    }

    // The ratios of the toggles the engine executed since the last call,
    // once the lattice has heard of them.
    QStringList executed(QSignalSpy& spy)
    {
        mEngine.processEvents();
        QStringList out;
        for (const QList<QVariant>& args : spy)
            out << args.at(0).value<ArborRatio>().toString();
        spy.clear();
        QCoreApplication::processEvents();
        return out;
    }

    static QStringList ratioOf(const QString& path)
    {
        return {ArborRatio::relativeFromPath(ArborPath(path)).toString()};
    }

private slots:
    void initTestCase() { QVERIFY(setUp()); }
    void cleanup() { reset(); }

    void itemCounts()
    {
        for (auto kind : {ArborLeavesWidget::Circles, ArborLeavesWidget::Grapes}) {
            auto layer = makeLayer(kind);
            QCOMPARE(layer->view()->arborWidget()->ballWidgets().size(), 361);
            QCOMPARE(count<ArborBallWidget>(layer.get()), 361);
            QCOMPARE(count<ArborLeavesWidget>(layer.get()), 38);
            QCOMPARE(count<ArborStrutWidget>(layer.get()), 18 + 10); // tree struts and the ten links
            QCOMPARE(layer->view()->scene()->sceneRect(), layer->view()->arborWidget()->sceneBoundingRect());
        }
    }

    void positions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QPointF>("pos");
        const struct {
            int kind;
            const char* path;
            double x, y;
        } rows[] = {
            // The tree: +3 up right, +2 up left, in both arrangements.
            {0, "/", 0, 0}, {0, "/3", 46.669, -46.669}, {0, "/2", -79.903, -79.903},
            {0, "/-3", -46.669, 46.669}, {0, "/-2", 79.903, 79.903}, {0, "/3/3", 93.338, -93.338},
            {1, "/3", 46.669, -46.669}, {1, "/-2", 79.903, 79.903},
            // Circles: the lower cluster 35 below the ball, the upper one 35 above and reflected.
            {0, "/-23", 0, 35}, {0, "/23", 0, -35}, {0, "/-19", 8.999, 24.275}, {0, "/19", -8.999, -24.275},
            {0, "/-11", 13.947, 33.780}, {0, "/-7", 10.725, 43.999}, {0, "/-31", 1.220, 48.947},
            {0, "/-29", -8.999, 45.725}, {0, "/-13", -13.947, 36.220}, {0, "/-5", -10.725, 26.001},
            {0, "/-17", -1.220, 21.053}, {0, "/3/-5", 35.944, -20.668},
            // Grapes: on the ball, the height following the interval.
            {1, "/-5", -8, 25.733}, {1, "/5", 8, -25.733}, {1, "/-7", -8, 64.6}, {1, "/-11", 8, 36.733},
            {1, "/-13", 8, 56.067}, {1, "/-17", -8, 7}, {1, "/-19", 8, 19.867}, {1, "/-23", -8, 41.867},
            {1, "/-29", 8, 69.133}, {1, "/-31", -8, 76.667}, {1, "/31", 8, -76.667},
        };
        for (const auto& r : rows)
            QTest::addRow("%s %s", r.kind ? "grapes" : "circles", r.path) << r.kind << r.path << QPointF(r.x, r.y);
        // A changed constant applies on the next build: the 3-axis laid flat.
        QTest::newRow("ANGLE_3_PLUS 0") << -1 << "/3" << QPointF(66, 0);
    }

    void positions()
    {
        QFETCH(int, kind);
        QFETCH(QString, path);
        QFETCH(QPointF, pos);
        TweakDialog tweaks(nullptr);
        tweaks.addInt("ANGLE_3_PLUS", &ArborConstants::ANGLE_3_PLUS);
        if (kind < 0)
            tweaks.findChild<QSpinBox*>()->setValue(0);
        auto layer = makeLayer(ArborLeavesWidget::View(qMax(kind, 0)));
        ArborBallWidget* it = item(layer.get(), path);
        const QPointF at = it->scenePos();
        QVERIFY2((at - pos).manhattanLength() < 0.002, qPrintable(QString("at %1,%2").arg(at.x()).arg(at.y())));
        const bool leaf = qAbs(path.section('/', -1).toInt()) > 3;
        QCOMPARE(it->diameter(), leaf ? ArborConstants::LEAF_DIAMETER : ArborConstants::BALL_DIAMETER);
    }

    void colours()
    {
        const QColor red(200, 0, 0);
        ArborBall ball(ArborPath("/3/3"), red, nullptr), leaf(ArborPath("/5"), red, nullptr);
        ArborBallWidget it(&ball, nullptr, ArborConstants::BALL_DIAMETER);
        ArborBallWidget leafItem(&leaf, nullptr, ArborConstants::LEAF_DIAMETER);
        for (bool sounding : {false, true, false}) {
            ball.setPlaying(sounding);
            leaf.setPlaying(sounding);
            QCOMPARE(it.ballEllipse()->brush().color(), sounding ? red.lighter(130) : red.darker(115));
            QCOMPARE(it.ballEllipse()->pen().color(), sounding ? red.lighter(145) : QColor(0, 0, 0, 128));
            QCOMPARE(it.glowEllipse()->isVisible(), sounding);
            QCOMPARE(it.glowEllipse()->rect().width(), 56.0);
            if (sounding)
                QCOMPARE(it.ballEllipse()->pen().width() * 10 + leafItem.ballEllipse()->pen().width(), 21);
        }
        // The root: its own colour, unchanged when sounding, grey while transposed.
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        QGraphicsEllipseItem* root = item(layer.get(), "/")->ballEllipse();
        const QColor one = mArbor.lookupColor(1);
        play("/");
        QCOMPARE(root->brush().color(), one);
        QCOMPARE(root->pen().color(), one.lighter(200));
        play("/", false);
        for (int step : {3, 0}) {
            mArbor.onTransposed(step ? ArborRatio(3, 2) : ArborRatio(1, 1), step);
            layer->view()->updateArborBalls();
            QCOMPARE(root->brush().color(), (step ? QColor(158, 158, 158) : one).darker(115));
        }
    }

    // A left press toggles the ball's own note through the engine; the
    // second click of a double click and other buttons toggle nothing.
    void clicksToggleTheirBall()
    {
        QSignalSpy toggled(&mEngine, &PdPlayer::noteToggled);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        QWidget* viewport = layer->view()->viewport();
        auto at = [&](const QString& path) { return layer->view()->mapFromScene(item(layer.get(), path)->scenePos()); };
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at("/3"));
        QCOMPARE(executed(toggled), ratioOf("/3"));
        QVERIFY(ball("/3")->isPlaying() && card(layer.get(), "/3"));
        QTest::mousePress(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseClick(viewport, Qt::RightButton, {}, at("/2"));
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, at("/2"));
        QCOMPARE(executed(toggled), ratioOf("/3"));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at("/3/-23")); // a leaf takes its own click
        QCOMPARE(executed(toggled), ratioOf("/3/-23"));

        // The connector overlay lies over the sounding root yet takes no clicks.
        play("/");
        QVERIFY(layer->overlay()->hasConnector(item(layer.get(), "/")));
        const QPoint onLayer = viewport->mapTo(layer.get(), at("/"));
        QWidget* under = layer->childAt(onLayer);
        QVERIFY(under && under != layer->overlay());
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(layer.get(), onLayer));
        QCOMPARE(executed(toggled), ratioOf("/"));
        const ArborEvent allOff(ArborEvent::AllNotesOff, 0.0f);
        mEngine.queueEventGui(&allOff);
        executed(toggled);
    }

    void primeSwitching()
    {
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        ArborBallWidget* three = item(layer.get(), "/3");
        QCOMPARE(three->struts().size(), 4); // from the root, to /3/3, links to /2/3 and from /-2/3
        play("/3");
        play("/5");
        for (bool on : {false, true}) {
            mArbor.onPrimeEnabledToggled(3, on);
            QCOMPARE(three->isVisible(), on);
            QCOMPARE(item(layer.get(), "/3/3")->isVisible(), on);
            for (ArborStrutWidget* strut : three->struts())
                QCOMPARE(strut->isVisible(), on);
            QVERIFY(item(layer.get(), "/2")->isVisible() && card(layer.get(), "/5"));
            QCOMPARE(layer->cardStack()->cardCount(), on ? 2 : 1);
            QCOMPARE(bool(card(layer.get(), "/3")), on);
            QCOMPARE(layer->overlay()->connectorCount(), on ? 2 : 1);
        }
    }

    // Rebuilding a drawing, or reloading the lattice under both layers (one
    // hidden), leaves exactly one card per sounding ball, on the new items.
    void rebuildsKeepOneCardPerSoundingBall()
    {
        auto shown = makeLayer(ArborLeavesWidget::Circles);
        auto hidden = makeLayer(ArborLeavesWidget::Grapes);
        hidden->hide();
        play("/3");
        ArborBall* oldThree = ball("/3");
        QVERIFY(mArbor.load());
        QVERIFY(ball("/3") != oldThree && ball("/3")->isPlaying());
        QPointer<CardWidget> oldCard = card(shown.get(), "/3");
        shown->view()->buildScene(ArborLeavesWidget::Circles);
        QVERIFY(oldCard.isNull());
        for (ArborLayer* layer : {shown.get(), hidden.get()}) {
            QTRY_COMPARE(item(layer, "/3")->ball(), static_cast<const ArborBall*>(ball("/3")));
            QCOMPARE(layer->cardStack()->cardCount(), 1);
            QVERIFY(card(layer, "/3") && layer->overlay()->hasConnector(item(layer, "/3")));
        }
        play("/3", false);
        for (ArborLayer* layer : {shown.get(), hidden.get()}) {
            layer->rebuild();
            QCOMPARE(layer->cardStack()->cardCount() + layer->overlay()->connectorCount(), 0);
        }
    }
};

DISPLAY_TEST_MAIN(ArborSceneTest)
#include "tst_arborscene.moc"
