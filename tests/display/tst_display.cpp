// The lattice display and its cards, on the real default lattice in a temporary data
// folder with a space in its name and a real sound engine (no audio stream) connected
// as the application connects them. A click on a ball goes into the engine's ring;
// executing the ring makes the engine report the toggle, and the lattice lights the ball.

#include "Arbor.h"
#include "ArborBallWidget.h"
#include "ArborContext.h"
#include "ArborLayer.h"
#include "ArborStrutWidget.h"
#include "ArborView.h"
#include "ArborWidget.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"
#include "Settings.h"
#include "TweakDialog.h"

#include <QSvgWidget>
#include <QtTest>
#include <QtWidgets>

class DisplayTest : public QObject
{
    Q_OBJECT

    PdPlayer mEngine;
    Arbor mArbor;

    std::unique_ptr<ArborLayer> makeLayer(ArborLeavesWidget::View kind, const QSize& size = QSize(900, 520))
    {
        auto layer = std::make_unique<ArborLayer>();
        layer->resize(size);
        layer->init(kind, &mArbor);
        layer->show();
        if (!QTest::qWaitForWindowExposed(layer.get()))
            qWarning("layer not exposed");
        return layer;
    }

    // The lattice hears of a note as it hears of it from the engine.
    void play(const QString& path, bool on = true) { mArbor.onNoteToggled(ArborRatio(ArborPath(path)), on); }

    ArborBall* ball(const QString& path)
    {
        ArborBall* at = mArbor.rootBall();
        for (const QString& step : path.split('/', Qt::SkipEmptyParts))
            at = at ? at->children().value(step.toInt()) : nullptr;
        return at;
    }

    static ArborBallWidget* item(const ArborLayer* layer, const QString& path)
    {
        for (ArborBallWidget* item : layer->view()->arborWidget()->ballWidgets())
            if (item->ball() && item->ball()->path().toString() == path)
                return item;
        return nullptr;
    }

    static CardWidget* card(const ArborLayer* layer, const QString& path)
    {
        return layer->cardStack()->cardForBall(item(layer, path));
    }

    static QString text(const CardWidget* card, const char* label)
    {
        const QLabel* l = card->findChild<QLabel*>(label);
        return l ? l->text() : QString("<no %1>").arg(label);
    }

    static int shownGlyphs(const CardWidget* card)
    {
        const QList<QSvgWidget*> glyphs = card->findChildren<QSvgWidget*>();
        return std::count_if(glyphs.begin(), glyphs.end(), [card](auto* g) { return g->isVisibleTo(card) && g->width(); });
    }

    template <typename T> static int count(const ArborLayer* layer)
    {
        const QList<QGraphicsItem*> items = layer->view()->scene()->items();
        return std::count_if(items.begin(), items.end(), [](QGraphicsItem* item) { return dynamic_cast<T*>(item); });
    }

    // The ratios of the toggles the engine executed since the last call, once the lattice heard of them.
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

    static QStringList ratioOf(const QString& path) { return {ArborRatio::relativeFromPath(ArborPath(path)).toString()}; }

private slots:
    void initTestCase()
    {
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
        ArborContext::setLattice(&mArbor);
        QVERIFY(mEngine.init() && mArbor.init(&mEngine));
    }

    // Silent, untransposed, every prime on, default layout and 1/1 note, relative colours.
    void cleanup()
    {
        mArbor.onTransposed(ArborRatio(1, 1), 0);
        mArbor.onPrimeEnabledToggled(3, true);
        mArbor.onBaseFrequencyChanged(440.0f);
        ArborContext::settings()->mBaseNote = "A 4";
        ArborContext::settings()->mAbsRelView = 0;
        ArborConstants::resetLayoutConstants();
        ArborLeavesWidget::clearPositionTables();
        QList<ArborBall*> balls{mArbor.rootBall()};
        while (!balls.isEmpty()) {
            ArborBall* b = balls.takeFirst();
            if (b->isPlaying())
                play(b->path().toString(), false);
            balls += b->children().values();
        }
    }

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
        const QList<std::tuple<int, const char*, double, double>> rows{
            // The tree: +3 up right, +2 up left, in both arrangements.
            {0, "/", 0, 0}, {0, "/3", 46.669, -46.669}, {0, "/2", -79.903, -79.903}, {0, "/-3", -46.669, 46.669},
            {0, "/-2", 79.903, 79.903}, {0, "/3/3", 93.338, -93.338}, {1, "/3", 46.669, -46.669},
            {1, "/-2", 79.903, 79.903}, {0, "/3/-5", 35.944, -20.668},
            // Circles: the lower cluster 35 below the ball, the upper one 35 above and reflected.
            {0, "/-23", 0, 35}, {0, "/23", 0, -35}, {0, "/-19", 8.999, 24.275}, {0, "/19", -8.999, -24.275},
            {0, "/-11", 13.947, 33.780}, {0, "/-7", 10.725, 43.999}, {0, "/-31", 1.220, 48.947},
            {0, "/-29", -8.999, 45.725}, {0, "/-13", -13.947, 36.220}, {0, "/-5", -10.725, 26.001},
            {0, "/-17", -1.220, 21.053},
            // Grapes: on the ball, the height following the interval.
            {1, "/-5", -8, 25.733}, {1, "/5", 8, -25.733}, {1, "/-7", -8, 64.6}, {1, "/-11", 8, 36.733},
            {1, "/-13", 8, 56.067}, {1, "/-17", -8, 7}, {1, "/-19", 8, 19.867}, {1, "/-23", -8, 41.867},
            {1, "/-29", 8, 69.133}, {1, "/-31", -8, 76.667}, {1, "/31", 8, -76.667},
        };
        for (const auto& [kind, path, x, y] : rows)
            QTest::addRow("%s %s", kind ? "grapes" : "circles", path) << kind << path << QPointF(x, y);
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

    // A left press toggles the ball's own note through the engine; the second click of a double
    // click and other buttons toggle nothing. A prime switched off hides its balls, but one that
    // sounds stays lit with its card, marked, until a click releases it.
    void clicks()
    {
        QSignalSpy toggled(&mEngine, &PdPlayer::noteToggled);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        QWidget* viewport = layer->view()->viewport();
        auto at = [&](const QString& path) { return layer->view()->mapFromScene(item(layer.get(), path)->scenePos()); };
        auto offMark = [&](const QString& path) { return card(layer.get(), path)->findChild<QLabel*>("primeOffLabel"); };
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at("/3"));
        QCOMPARE(executed(toggled), ratioOf("/3"));
        QVERIFY(ball("/3")->isPlaying() && !offMark("/3")->isVisibleTo(card(layer.get(), "/3")));
        QTest::mousePress(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at("/3"));
        QTest::mouseClick(viewport, Qt::RightButton, {}, at("/2"));
        QTest::mouseClick(viewport, Qt::MiddleButton, {}, at("/2"));
        QCOMPARE(executed(toggled), ratioOf("/3"));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at("/5")); // a leaf takes its own click
        QCOMPARE(executed(toggled), ratioOf("/5"));

        const ArborEvent switchFive(ArborEvent::PrimeToggle, 5.0f);
        mEngine.queueEventGui(&switchFive);
        executed(toggled);
        QVERIFY(item(layer.get(), "/5")->isVisible() && !item(layer.get(), "/3/5")->isVisible());
        QVERIFY(offMark("/5")->isVisibleTo(card(layer.get(), "/5")) && layer->overlay()->connectorCount() == 1);
        for (const QStringList& expected : {ratioOf("/5"), QStringList()}) { // released, then nothing started
            QTest::mouseClick(viewport, Qt::LeftButton, {}, at("/5"));
            QCOMPARE(executed(toggled), expected);
        }
        QVERIFY(!item(layer.get(), "/5")->isVisible() && !card(layer.get(), "/5"));
        mEngine.queueEventGui(&switchFive);

        // The connector overlay lies over the sounding root yet takes no clicks.
        play("/");
        QVERIFY(layer->overlay()->hasConnector(item(layer.get(), "/")));
        const QPoint onLayer = viewport->mapTo(layer.get(), at("/"));
        QWidget* under = layer->childAt(onLayer);
        QVERIFY(under && under != layer->overlay());
        QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFrom(layer.get(), onLayer));
        QCOMPARE(executed(toggled), ratioOf("/"));
        QVERIFY(item(layer.get(), "/3/5")->isVisible());
        const ArborEvent allOff(ArborEvent::AllNotesOff, 0.0f);
        mEngine.queueEventGui(&allOff);
        executed(toggled);
    }

    // Each layer, shown or hidden, keeps exactly one card per sounding ball on its current
    // items and rebuilds the cards when what they show changes, keeping their precedence.
    void cardsFollowTheLattice()
    {
        auto shown = makeLayer(ArborLeavesWidget::Circles);
        auto hidden = makeLayer(ArborLeavesWidget::Grapes);
        hidden->hide();
        play("/3");
        card(shown.get(), "/3")->setCardHirarchy(4);
        mArbor.onBaseFrequencyChanged(200.0f);
        for (ArborLayer* layer : {shown.get(), hidden.get()})
            QCOMPARE(text(card(layer, "/3"), "freqLabel"), QString("300.000 Hz"));
        QCOMPARE(card(shown.get(), "/3")->cardHirarchy(), 4);
        shown->cardStack()->raiseCardForBall(item(shown.get(), "/3"));
        shown->cardStack()->hideCardForBall(item(shown.get(), "/5")); // has none: nothing happens
        QCOMPARE(card(shown.get(), "/3")->cardHirarchy(), 0);
        mArbor.onTransposed(ArborRatio(5, 4), 5); // the note moves to another ball and keeps its pitch
        for (ArborLayer* layer : {shown.get(), hidden.get()}) {
            QCOMPARE(layer->cardStack()->cardCount(), 1);
            QCOMPARE(text(layer->cardStack()->cards().values().first(), "freqLabel"), QString("300.000 Hz"));
        }
        mArbor.onTransposed(ArborRatio(1, 1), 0);

        // Rebuilding a drawing, or reloading the lattice under both layers.
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

    // Black in a glyph document takes the colour of the largest prime on the
    // ball's way (transposition included); a document without black stays.
    void cardsShowTheirBalls()
    {
        const QByteArray both =
            "<svg><path style=\"fill:#000000\"/><path style=\"stroke:#000000;fill:#000000\"/></svg>";
        const QList<std::tuple<QString, int, QByteArray, QByteArray>> rows{
            {"/5", 0, both, "#9c0404"}, {"/3", 7, both, "#2838d0"}, {"/", 0, both, "#202020"},
            {"/5", 0, "<svg><path style=\"fill:#123456\"/></svg>", ""}};
        for (auto [path, step, document, colour] : rows) {
            mArbor.onTransposed(step ? ArborRatio(7, 4) : ArborRatio(1, 1), step);
            QByteArray recoloured = document;
            CardWidget::changeSvgColor(&recoloured, ball(path));
            QCOMPARE(recoloured, colour.isEmpty() ? document : document.replace("#000000", colour));
        }

        // With C4 as 1/1 every card spells its ball; the note head takes the colour of the ball's prime.
        ArborContext::settings()->mBaseNote = "C 4";
        mArbor.onBaseFrequencyChanged(261.63f);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        for (const char* path : {"/", "/3", "/-3", "/5", "/2/3/3", "/-2/-3"}) {
            play(path);
            CardWidget* c = card(layer.get(), path);
            QCOMPARE(shownGlyphs(c), c->note().mAccidental == 0 ? 2 : 4); // clef, head, two accidentals
            QCOMPARE(c->findChild<QLabel*>("enharmonicLabel")->isVisibleTo(c), c->note().mEnharmonic);
        }
        CardWidget* c = card(layer.get(), "/3");
        QCOMPARE(QStringList({text(c, "noteLabel"), text(c, "centsLabel"), text(c, "ratioLabel"), text(c, "freqLabel")}),
                 QStringList({"G", "+2", "3/2", "392.445 Hz"}));
        const QImage image = c->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRgb* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        QVERIFY(std::count(pixels, pixels + image.width() * image.height(), QColor("#5173b6").rgb()) > 20);

        // Unreadable glyph documents leave their widgets empty; the labels stay.
        QByteArray data = "old";
        QTest::ignoreMessage(QtCriticalMsg, "\"Failed to load no such glyph.svg.\"");
        QVERIFY(!CardStackWidget::loadSvgFile("no such glyph.svg", data) && data.isEmpty());
        QVERIFY(CardStackWidget::loadSvgFile("note.svg", data) && data.contains("fill:#000000"));
        for (const QByteArray& document : {QByteArray(), QByteArray("not a picture"),
                                           QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")}) {
            for (int g = 0; g < CardStackWidget::GlyphCount; ++g)
                layer->cardStack()->setSvg(CardStackWidget::Glyph(g), document);
            play("/-3", false);
            play("/-3");
            c = card(layer.get(), "/-3");
            QCOMPARE(shownGlyphs(c), 0);
            QVERIFY(!text(c, "noteLabel").isEmpty() && text(c, "freqLabel").endsWith(" Hz"));
            c->repaint();
        }
        mArbor.onBaseFrequencyChanged(0.0f);
        CardWidget lone(ball("/3"), nullptr);
        QVERIFY(!text(&lone, "freqLabel").isEmpty() && !text(&lone, "centsLabel").isEmpty());
    }

    // Cards keep the height order of their balls, none covers another, all lie within the stack
    // of the columns it needs; a lone card sits at its ball, clamped to the edges. Rows: the
    // layer's size, the balls sounding (none: the four lowest) and the columns of cards.
    void cardsStayApart()
    {
        const QList<std::tuple<QSize, QStringList, int>> rows{
            {QSize(900, 520), {"/", "/3", "/5", "/3/-7"}, 1},
            {QSize(1400, 300), {}, 2},
            {QSize(900, 360), {"/", "/3", "/5", "/-3", "/2/5", "/-2/3/7"}, 2}};
        for (const auto& [size, paths, columns] : rows) {
            auto layer = makeLayer(ArborLeavesWidget::Circles, size);
            ArborView* view = layer->view();
            QMultiMap<int, QString> byHeight;
            for (ArborBallWidget* it : view->arborWidget()->ballWidgets())
                byHeight.insert(view->mapFromScene(it->scenePos()).y(), it->ball()->path().toString());
            for (const QString& path : paths.isEmpty() ? QStringList(byHeight.values().mid(byHeight.size() - 4)) : paths)
                play(path);
            const int limit = view->height() - 12;
            QTRY_COMPARE(layer->cardStack()->width(), columns * (CardWidget::defaultCardSize().width() + 4) - 4);
            QStringList sounding; // in the height order of their balls
            for (const QString& path : byHeight)
                if (card(layer.get(), path))
                    sounding << path;
            QCOMPARE(sounding.size(), paths.isEmpty() ? 4 : paths.size());
            for (int i = 0; i < sounding.size(); ++i) {
                const QRect a = card(layer.get(), sounding[i])->geometry();
                QVERIFY(a.top() >= 0 && a.bottom() < limit && a.right() < layer->cardStack()->width());
                for (int j = i + 1; j < sounding.size(); ++j) {
                    const QRect b = card(layer.get(), sounding[j])->geometry();
                    QVERIFY(!a.intersects(b) && (a.x() != b.x() || a.y() < b.y()));
                }
            }
            // Alone, the highest and the lowest card sit at their balls as far as the edges allow.
            for (const QString& lone : {sounding.first(), sounding.last()}) {
                for (const QString& path : sounding)
                    play(path, path == lone);
                const int ballY = view->mapFromScene(item(layer.get(), lone)->scenePos()).y();
                CardWidget* c = card(layer.get(), lone);
                QTRY_COMPARE(c->y(), qBound(0, ballY - c->height() / 2, limit - c->height()));
            }
            cleanup();
        }
    }

    // With each note as 1/1, its card writes it on the staff with ledger lines and octave mark,
    // the mark over the clef outside the staff; no text covers another on any card, for cents
    // of both signs and long frequencies.
    void staffAndTexts_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<float>("position");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<int>("ledgerLines");
        const QList<std::tuple<const char*, float, const char*, int>> rows{
            {"F5", 0, "", 0},      {"E4", 4, "", 0},  {"A3", 0, "", 0},    {"G2", 4, "", 0},     {"C4", 5, "", 1},
            {"B3", -0.5f, "", 0},  {"E2", 5, "", 1},  {"C7", 1.5f, "15", 0}, {"D2", 2, "8", 0}, {"A0", 3.5f, "15", 0},
            {"C0", 2.5f, "22", 0}, {"A5", -1, "", 1}, {"C6", 1.5f, "8", 0}, {"G5", -0.5f, "", 0}, {"A8", -1, "22", 1},
        };
        for (const auto& [note, position, mark, ledgers] : rows)
            QTest::newRow(note) << note << position << mark << ledgers;
    }

    void staffAndTexts()
    {
        QFETCH(QString, note);
        QFETCH(float, position);
        QFETCH(QString, mark);
        QFETCH(int, ledgerLines);
        QFile style(ARBOR_SOURCE_DIR "/resources/style/style.qss");
        QVERIFY(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(style.readAll());
        ArborContext::settings()->mBaseNote = note.left(1) + " " + note.mid(1);
        ArborContext::settings()->mBaseFrequency = Note(note, 0).toFrequency();
        mArbor.onBaseFrequencyChanged(ArborContext::settings()->mBaseFrequency);
        auto layer = makeLayer(ArborLeavesWidget::Grapes);
        for (const char* path : {"/", "/5", "/7", "/3/3", "/-2/-3", "/3/-5", "/-3/-7"}) {
            play(path);
            CardWidget* c = card(layer.get(), path);
            QVERIFY2(c, path);
            auto shown = [c](QLabel* label) { return label->isVisibleTo(c) && !label->text().isEmpty(); };
            for (QLabel* a : c->findChildren<QLabel*>()) {
                QVERIFY2(!shown(a) || c->rect().contains(a->geometry()), qPrintable(a->objectName()));
                for (QLabel* b : c->findChildren<QLabel*>())
                    QVERIFY2(a == b || !shown(a) || !shown(b) || !a->geometry().intersects(b->geometry()),
                             qPrintable(a->objectName() + " " + b->objectName() + " " + c->note().noteSpelling()));
            }
        }
        CardWidget* c = card(layer.get(), "/");
        QCOMPARE(c->note().noteSpelling() + " " + text(c, "octaveShiftLabel"), note + " " + mark);
        QCOMPARE(c->staffPosition(), position);
        QCOMPARE(c->ledgerPositions().size(), ledgerLines);
        const QRect at = c->findChild<QLabel*>("octaveShiftLabel")->geometry();
        const int top = c->contentsRect().top();
        QVERIFY(mark.isEmpty() || at.bottom() < top + 2 * c->staffSpacing() || at.top() > top + 6 * c->staffSpacing());
        QVERIFY(c->children().indexOf(c->findChild<QLabel*>("octaveShiftLabel")) > c->children().indexOf(c->clefWidget()));
        qApp->setStyleSheet(QString());
        // Cents round halves upward and always carry a sign.
        const QList<QPair<float, QString>> cents{{-0.4f, "+0"}, {-0.5f, "+0"}, {49.5f, "+50"}, {-49.4f, "-49"}};
        for (const auto& row : cents)
            QCOMPARE(CardWidget::centsText(row.first), row.second);
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir data(QDir::tempPath() + "/arbor display XXXXXX");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName("Elmsby Vudiru Arbor");
    DisplayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_display.moc"
