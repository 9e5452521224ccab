// Lattice file bytes -> JSON -> Arbor::read on a fresh lattice, then the
// operations that walk the tree. Whatever was read must write back to a
// document that reads again to the same thing.
#include "Arbor.h"
#include "ArborBall.h"

#include <QJsonDocument>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

// Qt 5.15's JSON parser leaks its partly built containers on some syntax
// errors (a one-off per input, inside QJsonDocument::fromJson). That is not
// ours to fix; leaks whose allocation runs through Qt Core are ignored so that
// leaks of our own objects are still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n";
}

namespace
{
void silent(QtMsgType, const QMessageLogContext&, const QString&)
{
}

void walk(Arbor& lattice, ArborBall* ball)
{
    ball->absPathSteps();
    ball->lastAbsStep();
    ball->highestAbsStep();
    for (const ArborBall::Link& link : ball->links())
        lattice.ballFromPath(link.path());
    if (ball->path().length() > ArborPath::MAX_STEPS || !ball->path().isValid())
        std::abort();
    for (ArborBall* child : ball->children())
        walk(lattice, child);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler(silent);
        return true;
    }();
    (void)quiet;

    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));

    Arbor lattice;
    lattice.read(doc.object());
    lattice.buildBallMap();
    lattice.canTransposeTo(ArborRatio(3, 2));
    lattice.canTransposeTo(ArborRatio(1, 2));
    lattice.onTransposed(ArborRatio(3, 2), 3);
    lattice.onNoteToggled(ArborRatio(3, 2), true);
    lattice.onPrimeEnabledToggled(3, false);
    lattice.onPrimeEnabledToggled(1, false);
    walk(lattice, lattice.rootBall());

    QJsonObject first;
    lattice.write(first);

    // A reload on the same lattice, and a fresh read of what was written.
    lattice.read(doc.object());
    Arbor again;
    again.read(first);
    QJsonObject second;
    again.write(second);
    if (first != second)
        std::abort();
    return 0;
}
