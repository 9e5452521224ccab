#pragma once

// The window tests' set-up: the application object with its real engine
// (no audio stream), options and default lattice, in a temporary data folder
// with a space in its name. Nothing drains the engine's ring but drain():
// it executes what the controls queued, the engine reports it at once, and
// the queued deliveries to the lattice and the windows follow.

#include "Arbor.h"
#include "ArborContext.h"
#include "PdPlayer.h"
#include "Settings.h"
#include "VudiruArborApplication.h"

#include <QSignalSpy>
#include <QtTest>

class WindowFixture
{
protected:
    VudiruArborApplication* mApp = qobject_cast<VudiruArborApplication*>(qApp);
    PdPlayer* mPlayer = mApp->player();
    Arbor* mArbor = mApp->arbor();
    Settings* mSettings = mApp->settings();

    bool setUp()
    {
        Q_INIT_RESOURCE(resources);
        ArborContext::setSettings(mSettings);
        ArborContext::setLattice(mArbor);
        return mApp->createConfigDir() && mPlayer->init() && mArbor->init(mPlayer);
    }

    void drain()
    {
        mPlayer->processEvents();
        QCoreApplication::processEvents(); // the lattice hears the engine
        QCoreApplication::processEvents(); // the windows hear the lattice
    }

    // Argument `argument` of every signal the spy caught, once the queued requests ran.
    template <typename T> QList<T> drained(QSignalSpy& spy, int argument = 0)
    {
        drain();
        QList<T> out;
        for (const QList<QVariant>& args : spy)
            out << args.at(argument).value<T>();
        spy.clear();
        return out;
    }

    void queue(ArborEvent::Type type, float value = 0.0f)
    {
        const ArborEvent event(type, value);
        mPlayer->queueEventGui(&event);
        drain();
    }
};

#define WINDOW_TEST_MAIN(TestClass)                                                                                    \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        QTemporaryDir data(QDir::tempPath() + "/arbor window XXXXXX");                                                 \
        qputenv("XDG_DATA_HOME", data.path().toUtf8());                                                                \
        qputenv("ARBOR_NO_MODAL_BOXES", "1");                                                                          \
        VudiruArborApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
