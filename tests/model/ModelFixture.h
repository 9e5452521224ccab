#pragma once

#include "SerializableRoot.h"

#include <QtTest>

typedef QList<int> Steps;
typedef unsigned long long U64;

namespace ModelTest {
// One data row per entry of a case table; the test function reads its entry with tableRow(TABLE).
template <typename T, int N> void tableRows(const T (&)[N]) {
    QTest::addColumn<int>("row");
    for (int i = 0; i < N; ++i)
        QTest::addRow("%d", i) << i;
}

template <typename T, int N> const T& tableRow(const T (&table)[N]) {
    QFETCH(int, row);
    return table[row];
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QJsonObject json(const QByteArray& text) {
    return QJsonDocument::fromJson(text).object();
}

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
};
