// Options file bytes -> JSON -> Settings::read, then write. What was written
// must read back to the same options.
#define ARBOR_FUZZ_READS_JSON
#include "FuzzSupport.h"
#include "Settings.h"

#include <QJsonDocument>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::silenceQtMessages();

    const QJsonObject first = FuzzSupport::rewritten<Settings>(FuzzSupport::jsonOf(data, size).object());
    // Every option is written, and what was written reads back the same.
    if (first.size() != FuzzSupport::rewritten<Settings>(QJsonObject()).size()
        || FuzzSupport::rewritten<Settings>(first) != first)
        std::abort();
    return 0;
}
