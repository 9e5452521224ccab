// Options file bytes -> JSON -> Settings::read, then write. What was written
// must read back to the same options.
#include "Settings.h"

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
