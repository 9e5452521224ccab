// MIDI map file bytes -> JSON -> MidiMap::read, then write. Reading what was
// written gives the same map again; every lookup answers, in range or not.
// The same bytes as a note name give no key or a key of 0..127.
#define ARBOR_FUZZ_READS_JSON
#include "FuzzSupport.h"
#include "ArborEvent.h"
#include "MidiMap.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::silenceQtMessages();

    const int key = MidiMap::keyOfNote(QString::fromUtf8(FuzzSupport::bytesOf(data, size)));
    if (key < -1 || key >= MidiMap::KEYS)
        std::abort();

    const QJsonDocument doc = FuzzSupport::jsonOf(data, size);
    MidiMap map;
    map.read(doc.object());
    QJsonObject first;
    map.write(first);
    if (first.size() > doc.object().size())
        std::abort();

    int bound = map.program() ? 1 : 0;
    for (int i = -1; i <= MidiMap::KEYS; ++i) {
        for (const ArborEvent* event : {map.key(i), map.controller(i)}) {
            if (event && (i < 0 || i >= MidiMap::KEYS || !std::isfinite(event->value())))
                std::abort();
            bound += event ? 1 : 0;
        }
    }
    if (bound != first.size())
        std::abort();

    if (FuzzSupport::rewritten<MidiMap>(first) != first)
        std::abort();
    return 0;
}
