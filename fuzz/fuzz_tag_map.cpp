// Tag map file bytes -> JSON -> RfidMap::read, then write. Reading what was
// written gives the same map again.
#include "ArborEvent.h"
#include "RfidMap.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <cstdlib>

// Qt 5.15's JSON parser leaks its partly built containers on some syntax
// errors (inside QJsonDocument::fromJson). Leaks whose allocation runs through
// Qt Core are ignored so that leaks of our own objects are still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n";
}

namespace
{
void silent(QtMsgType, const QMessageLogContext&, const QString&)
{
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

    RfidMap again;
    again.read(first);
    QJsonObject second;
    again.write(second);
    if (first != second)
        std::abort();
    return 0;
}
