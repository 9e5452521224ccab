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

    const QJsonDocument doc = FuzzSupport::jsonOf(data, size);
    Settings settings;
    settings.read(doc.object());
    QJsonObject first;
    settings.write(first);

    Settings again;
    again.read(first);
    QJsonObject second;
    again.write(second);
    if (first != second || first.size() != 16)
        std::abort();
    return 0;
}
