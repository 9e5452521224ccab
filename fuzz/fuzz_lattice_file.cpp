// Lattice file bytes -> JSON -> Arbor::read on a fresh lattice, then the
// operations that walk the tree. Whatever was read must write back to a
// document that reads again to the same thing.
#define ARBOR_FUZZ_READS_JSON
#include "FuzzSupport.h"
#include "Arbor.h"
#include "ArborBall.h"

#include <QJsonDocument>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

namespace
{
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
    FuzzSupport::silenceQtMessages();

    const QJsonDocument doc = FuzzSupport::jsonOf(data, size);

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
    if (FuzzSupport::rewritten<Arbor>(first) != first)
        std::abort();
    return 0;
}
