#pragma once

// Shared set-up of the display tests: a QApplication whose data folder is a
// temporary directory with a space in its name, and a real lattice built
// from the default layout there and registered as the program's lattice.

#include "Arbor.h"
#include "ArborBall.h"
#include "ArborBallWidget.h"
#include "ArborContext.h"
#include "ArborRatio.h"
#include "ArborWidget.h"
#include "Settings.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace DisplayFixture
{
inline QTemporaryDir& dataDir()
{
    static QTemporaryDir dir(QDir::tempPath() + "/arbor display XXXXXX");
    return dir;
}

// Must run before the QApplication is built.
inline void prepareEnvironment()
{
    qputenv("XDG_DATA_HOME", dataDir().path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline std::unique_ptr<Arbor> makeLattice()
{
    // The application creates its config folder at start; so do we.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
    auto arbor = std::make_unique<Arbor>();
    if (!arbor->init(nullptr))
        return nullptr;
    ArborContext::setLattice(arbor.get());
    return arbor;
}

inline ArborBall* findBall(ArborBall* from, const QString& path)
{
    if (!from)
        return nullptr;
    if (from->path().toString() == path)
        return from;
    const auto children = from->children();
    for (ArborBall* child : children)
        if (ArborBall* found = findBall(child, path))
            return found;
    return nullptr;
}

inline ArborBallWidget* findItem(const ArborWidget* widget, const QString& path)
{
    if (!widget)
        return nullptr;
    for (ArborBallWidget* item : widget->ballWidgets())
        if (item->ball() && item->ball()->path().toString() == path)
            return item;
    return nullptr;
}

inline void play(Arbor* arbor, const QString& path, bool on)
{
    arbor->onNoteToggled(ArborRatio(ArborPath(path)), on);
}

inline void silenceFrom(Arbor* arbor, ArborBall* ball)
{
    if (ball->isPlaying())
        play(arbor, ball->path().toString(), false);
    const auto children = ball->children();
    for (ArborBall* child : children)
        silenceFrom(arbor, child);
}

inline void silenceAll(Arbor* arbor)
{
    arbor->onTransposed(ArborRatio(1, 1), 0);
    silenceFrom(arbor, arbor->rootBall());
}
}

#define DISPLAY_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        DisplayFixture::prepareEnvironment();                                                                          \
        QApplication app(argc, argv);                                                                                  \
        QApplication::setApplicationName("Elmsby Vudiru Arbor");                                                      \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
