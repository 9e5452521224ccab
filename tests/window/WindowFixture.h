#pragma once

// Shared set-up of the window tests: the data folder is a temporary
// directory with a space in its name (set before the application exists),
// the lattice is the real default lattice built there, and the sound engine
// is a real PdPlayer without an audio stream. Nothing drains its GUI ring
// but the tests: drain() executes whatever the controls queued, and the
// engine's signals then tell what arrived.

#include "Arbor.h"
#include "ArborContext.h"
#include "ArborEvent.h"
#include "PdPlayer.h"
#include "Settings.h"
#include "VudiruArborApplication.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The compiled-in icons and texts live in the static GUI library.
inline void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace WindowFixture
{
inline QTemporaryDir& dataDir()
{
    static QTemporaryDir dir(QDir::tempPath() + "/arbor window XXXXXX");
    return dir;
}

// Must run before the application object is built.
inline void prepareEnvironment()
{
    qputenv("XDG_DATA_HOME", dataDir().path().toUtf8());
    qputenv("ARBOR_NO_MODAL_BOXES", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline VudiruArborApplication* app()
{
    return qobject_cast<VudiruArborApplication*>(QCoreApplication::instance());
}

// The application's engine, options and lattice, brought up without an
// audio stream (no device is needed) and registered as the program's own.
inline bool initCore()
{
    initResources();
    VudiruArborApplication* a = app();
    if (!a || !a->createConfigDir())
        return false;
    ArborContext::setSettings(a->settings());
    if (!a->player()->init())
        return false;
    PdPlayer::sThis = a->player();
    if (!a->arbor()->init(a->player()))
        return false;
    ArborContext::setLattice(a->arbor());
    return true;
}

// Executes everything queued into the engine's rings, then delivers the
// engine's (queued) signals to the lattice and the windows.
inline void drain(PdPlayer* player)
{
    player->processEvents();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Puts the lattice back to untransposed and every prime on.
inline void resetLattice(Arbor* arbor)
{
    arbor->onTransposed(ArborRatio(1, 1), 0);
    for (int p : {5, 7, 11, 13, 17, 19, 23, 29, 31})
        arbor->onPrimeEnabledToggled(p, true);
}
}

#define WINDOW_TEST_MAIN(TestClass)                                                                                    \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        WindowFixture::prepareEnvironment();                                                                           \
        VudiruArborApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
