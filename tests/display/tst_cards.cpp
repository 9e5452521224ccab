#include "DisplayFixture.h"

#include "Note.h"

#include <QLabel>
#include <QSvgWidget>

class CardTest : public QObject, public DisplayFixture
{
    Q_OBJECT

    static QString text(const CardWidget* card, const char* label)
    {
        const QLabel* l = card->findChild<QLabel*>(label);
        return l ? l->text() : QString("<no %1>").arg(label);
    }

    static int shownGlyphs(const CardWidget* card)
    {
        int n = 0;
        for (QSvgWidget* glyph : card->findChildren<QSvgWidget*>())
            n += glyph->isVisibleTo(card) && glyph->width() > 0;
        return n;
    }

private slots:
    void initTestCase() { QVERIFY(setUp()); }
    void cleanup()
    {
        reset();
        mArbor.onBaseFrequencyChanged(440.0f);
        ArborContext::settings()->mBaseNote = "A 4";
    }

    void staffPositions_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<float>("position");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<int>("ledgerLines");
        const struct {
            const char* note;
            float position;
            const char* mark;
            int ledgers;
        } rows[] = {
            {"F5", 0, "", 0},    {"E4", 4, "", 0},      {"A3", 0, "", 0},       {"G2", 4, "", 0},
            {"C4", 5, "", 1},    {"B3", -0.5f, "", 0},  {"E2", 5, "", 1},       {"C7", 1.5f, "15", 0},
            {"D2", 2, "8", 0},   {"A0", 3.5f, "15", 0}, {"C0", 2.5f, "22", 0},  {"A5", -1, "", 1},
            {"C6", 1.5f, "8", 0}, {"G5", -0.5f, "", 0},
        };
        for (const auto& r : rows)
            QTest::newRow(r.note) << r.note << r.position << r.mark << r.ledgers;
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

    void centsTexts()
    {
        const QList<QPair<float, QString>> rows{{-0.4f, "+0"},   {-0.5f, "+0"},  {49.5f, "+50"},
                                                {-49.4f, "-49"}, {13.7f, "+14"}, {-31.2f, "-31"}};
        for (const auto& row : rows)
            QCOMPARE(CardWidget::centsText(row.first), row.second);
    }

    void changeSvgColor_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("transposeStep");
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("colour");
        const QByteArray both =
            "<svg><path style=\"fill:#000000\"/><path style=\"stroke:#000000;fill:#000000\"/></svg>";
        QTest::newRow("fill and stroke") << "/5" << 0 << both << "#9c0404";
        QTest::newRow("largest prime of the whole way") << "/3" << 7 << both << "#2838d0";
        QTest::newRow("root") << "/" << 0 << both << "#202020";
        QTest::newRow("nothing black") << "/5" << 0 << QByteArray("<svg><path style=\"fill:#123456\"/></svg>") << "";
    }

    void changeSvgColor()
    {
        QFETCH(QString, path);
        QFETCH(int, transposeStep);
        QFETCH(QByteArray, document);
        QFETCH(QString, colour);
        if (transposeStep)
            mArbor.onTransposed(ArborRatio(7, 4), transposeStep);
        QByteArray recoloured = document;
        CardWidget::changeSvgColor(&recoloured, ball(path));
        QCOMPARE(recoloured, colour.isEmpty() ? document : document.replace("#000000", colour.toLatin1()));
    }

    void cardShowsItsBall()
    {
        mArbor.onBaseFrequencyChanged(261.63f);
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        play("/3");
        CardWidget* c = card(layer.get(), "/3");
        QCOMPARE(text(c, "freqLabel"), QString("392.445 Hz"));
        QCOMPARE(text(c, "ratioLabel"), QString("3/2"));
        QCOMPARE(text(c, "noteLabel") + text(c, "centsLabel"), QString("G+2"));
        const QImage image = c->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int headPixels = 0; // the note head is drawn in the colour of prime 3
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                headPixels += image.pixel(x, y) == QColor("#5173b6").rgb();
        QVERIFY(headPixels > 20);
    }

    void accidentals()
    {
        ArborContext::settings()->mBaseNote = "C 4";
        auto layer = makeLayer(ArborLeavesWidget::Circles);
        for (const char* path : {"/", "/3", "/-3", "/5", "/2/3/3", "/-2/-3"}) {
            play(path);
            CardWidget* c = card(layer.get(), path);
            QCOMPARE(shownGlyphs(c), c->note().mAccidental == 0 ? 2 : 4); // clef, head, two accidentals
            QCOMPARE(c->findChild<QLabel*>("enharmonicLabel")->isVisibleTo(c), c->note().mEnharmonic);
        }
    }

    void cardsSitBesideTheirBalls()
    {
        auto layer = makeLayer(ArborLeavesWidget::Circles, QSize(700, 320));
        ArborView* view = layer->view();
        QMap<qreal, ArborBallWidget*> byHeight;
        for (ArborBallWidget* it : view->arborWidget()->ballWidgets())
            if (it->diameter() == ArborConstants::BALL_DIAMETER)
                byHeight.insert(it->scenePos().y(), it);
        for (ArborBallWidget* it : {byHeight.first(), byHeight.last(), item(layer.get(), "/")})
            play(it->ball()->path().toString());
        CardStackWidget* stack = layer->cardStack();
        QCOMPARE(stack->cardForBall(byHeight.first())->pos(), QPoint(0, 0));
        CardWidget* low = stack->cardForBall(byHeight.last());
        QCOMPARE(low->y() + low->height(), view->height() - 12);
        CardWidget* middle = card(layer.get(), "/");
        QCOMPARE(middle->y(), view->mapFromScene(QPointF(0, 0)).y() - middle->height() / 2);
        layer->resize(700, 420);
        QTRY_COMPARE(middle->y(), view->mapFromScene(QPointF(0, 0)).y() - middle->height() / 2);
    }

    void hierarchyKeptWhenCardsAreRebuilt()
    {
        auto layer = makeLayer(ArborLeavesWidget::Grapes);
        play("/3");
        play("/-3");
        card(layer.get(), "/3")->setCardHirarchy(4);
        ArborContext::settings()->mAbsRelView = 1;
        layer->view()->updateCardStack();
        QCOMPARE(layer->cardStack()->cardCount(), 2);
        QCOMPARE(card(layer.get(), "/3")->cardHirarchy(), 4);
        QCOMPARE(layer->overlay()->connectorCount(), 2);
        layer->cardStack()->raiseCardForBall(item(layer.get(), "/3"));
        QCOMPARE(card(layer.get(), "/3")->cardHirarchy(), 0);
        layer->cardStack()->hideCardForBall(item(layer.get(), "/5")); // has none: nothing happens
        QCOMPARE(layer->cardStack()->cardCount(), 2);
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
        for (int g = 0; g < CardStackWidget::GlyphCount; ++g)
            layer->cardStack()->setSvg(CardStackWidget::Glyph(g), document);
        play("/-3");
        CardWidget* c = card(layer.get(), "/-3");
        c->resize(c->width(), c->height() + 1); // lay out again
        QCOMPARE(shownGlyphs(c), 0);
        QVERIFY(!text(c, "noteLabel").isEmpty() && text(c, "freqLabel").endsWith(" Hz"));
        c->repaint();
    }

    void glyphFilesAndBadFrequency()
    {
        QByteArray data = "old";
        QTest::ignoreMessage(QtCriticalMsg, "\"Failed to load no such glyph.svg.\"");
        QVERIFY(!CardStackWidget::loadSvgFile("no such glyph.svg", data) && data.isEmpty());
        QVERIFY(CardStackWidget::loadSvgFile("note.svg", data) && data.contains("fill:#000000"));
        mArbor.onBaseFrequencyChanged(0.0f);
        CardWidget c(ball("/3"), nullptr);
        QVERIFY(!text(&c, "freqLabel").isEmpty() && !text(&c, "centsLabel").isEmpty());
    }

    // Pictures of both arrangements with a chord and its cards, written by
    // "display_cards_test screenshots <folder>".
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("ARBOR_SHOTS_DIR");
        if (dir.isEmpty())
            QSKIP("no folder for pictures given");
        QFile style(QCoreApplication::applicationDirPath() + "/style.qss");
        if (style.open(QIODevice::ReadOnly))
            qApp->setStyleSheet(style.readAll());
        for (auto kind : {ArborLeavesWidget::Circles, ArborLeavesWidget::Grapes}) {
            auto layer = makeLayer(kind, QSize(900, 560));
            for (const char* path : {"/", "/3", "/2/5", "/-3", "/-2/3/7"})
                play(path);
            QVERIFY(layer->grab().save(dir + (kind ? "/display-grapes.png" : "/display-circles.png")));
            reset();
        }
    }
};

DISPLAY_TEST_MAIN(CardTest)
#include "tst_cards.moc"
