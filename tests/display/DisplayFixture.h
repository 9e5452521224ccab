#pragma once

// The display tests' set-up: the real default lattice in a temporary data
// folder with a space in its name, and a real sound engine (no audio stream)
// connected to it as the application connects them. A click on a ball goes
// into the engine's ring; executing the ring makes the engine report the
// toggle, and the lattice then lights the ball.

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborBallWidget.h"
#include "ArborContext.h"
#include "ArborLayer.h"
#include "ArborLeavesWidget.h"
#include "ArborView.h"
#include "ArborWidget.h"
#include "CardConnectorOverlay.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "LayoutConstants.h"
#include "PdPlayer.h"
#include "Settings.h"

#include <QApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class DisplayFixture
{
protected:
    PdPlayer mEngine;
    Arbor mArbor;

    bool setUp()
    {
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
        ArborContext::setLattice(&mArbor);
        return mEngine.init() && mArbor.init(&mEngine);
    }

    // Silent, untransposed, every prime on, default layout, relative colours.
    void reset(ArborBall* from = nullptr)
    {
        if (!from) {
            mArbor.onTransposed(ArborRatio(1, 1), 0);
            mArbor.onPrimeEnabledToggled(3, true);
            ArborContext::settings()->mAbsRelView = 0;
            ArborConstants::resetLayoutConstants();
            ArborLeavesWidget::clearPositionTables();
        }
        from = from ? from : mArbor.rootBall();
        if (from->isPlaying())
            play(from->path().toString(), false);
        for (ArborBall* child : from->children())
            reset(child);
    }

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
};

// "<test> screenshots <folder>" runs only the test function screenshots,
// which writes its pictures into the folder.
#define DISPLAY_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        if (argc == 3 && qstrcmp(argv[1], "screenshots") == 0) {                                                       \
            qputenv("ARBOR_SHOTS_DIR", QDir(argv[2]).absolutePath().toLocal8Bit());                                    \
            argc = 2;                                                                                                  \
        }                                                                                                              \
        QTemporaryDir data(QDir::tempPath() + "/arbor display XXXXXX");                                                \
        qputenv("XDG_DATA_HOME", data.path().toUtf8());                                                                \
        QApplication app(argc, argv);                                                                                  \
        QApplication::setApplicationName("Elmsby Vudiru Arbor");                                                       \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
