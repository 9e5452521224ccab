#pragma once

#include "SerializableRoot.h"
#include "support/TestSupport.h"

typedef QList<int> Steps;
typedef unsigned long long U64;

namespace ModelTest {
using namespace TestSupport;

inline QJsonObject written(const SerializableNode& node) {
    QJsonObject json;
    node.write(json);
    return json;
}
} // namespace ModelTest

// Gives a test object its own config folder, in a fresh temporary folder whose path contains a space.
struct ConfigFolder {
    QTemporaryDir home{QDir::tempPath() + QStringLiteral("/arbor model XXXXXX")};
    bool made = qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()) && QDir().mkpath(SerializableRoot::configFolder());

    static QString file(const char* name) { return SerializableRoot::configFolder() + '/' + name; }
};
