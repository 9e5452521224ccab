// Tag map file bytes -> JSON -> RfidMap::read, then write. Reading what was
// written gives the same map again.
#define ARBOR_FUZZ_READS_JSON
#include "FuzzSupport.h"
#include "ArborEvent.h"
#include "RfidMap.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::silenceQtMessages();

    const QJsonDocument doc = FuzzSupport::jsonOf(data, size);
    RfidMap map;
    map.read(doc.object());
    if (map.size() > doc.object().size())
        std::abort();
    QJsonObject first;
    map.write(first);
    if (first.size() != map.size())
        std::abort();

    bool keysKept = true;
    for (auto it = first.constBegin(); it != first.constEnd(); ++it) {
        const ArborEvent* event = map.lookup(it.key());
        if (!event || !std::isfinite(event->value()))
            std::abort();
        // Lower-casing can lengthen a name (a few letters become two
        // characters); such keys are cut again when read back.
        keysKept = keysKept && RfidMap::keyFor(it.key()) == it.key();
    }
    if (!keysKept)
        return 0;

    if (FuzzSupport::rewritten<RfidMap>(first) != first)
        std::abort();
    return 0;
}
