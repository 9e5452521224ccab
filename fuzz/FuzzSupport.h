#pragma once

// Pieces every fuzz target shares.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace FuzzSupport
{
// Log lines of the code under test would only slow the fuzzer down.
inline void silenceQtMessages()
{
    static const bool installed = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)installed;
}

// The input bytes, not copied.
inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
}

inline QJsonDocument jsonOf(const uint8_t* data, size_t size)
{
    return QJsonDocument::fromJson(bytesOf(data, size));
}

// What a fresh document (or node) of type T writes after reading `json`.
template <typename T>
QJsonObject rewritten(const QJsonObject& json)
{
    T node;
    node.read(json);
    QJsonObject out;
    node.write(out);
    return out;
}
} // namespace FuzzSupport

// A target that reads JSON defines ARBOR_FUZZ_READS_JSON before including this.
// Qt 5.15's JSON parser leaks its partly built containers on some syntax
// errors (a one-off per input, inside QJsonDocument::fromJson). That is not
// ours to fix; leaks whose allocation runs through Qt Core are ignored so that
// leaks of our own objects are still reported.
#ifdef ARBOR_FUZZ_READS_JSON
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n";
}
#endif
