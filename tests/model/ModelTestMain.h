#pragma once

#include "SerializableRoot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

typedef QList<int> Steps;
typedef unsigned long long U64;

namespace ModelTest
{
// One data row per entry of a case table; the test function reads its
// entry with tableRow(TABLE).
template <typename T, int N> void tableRows(const T (&)[N])
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < N; ++i)
        QTest::addRow("%d", i) << i;
}

template <typename T, int N> const T& tableRow(const T (&table)[N])
{
    QFETCH(int, row);
    return table[row];
}

inline QString configFile(const QString& name)
{
    return SerializableRoot::configFolder() + QLatin1Char('/') + name;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QJsonObject written(const SerializableNode& node)
{
    QJsonObject json;
    node.write(json);
    return json;
}
} // namespace ModelTest

// Runs a test object with its config folder in a fresh temporary folder
// whose path contains a space (XDG_DATA_HOME, set before anything asks).
#define ARBOR_MODEL_TEST_MAIN(TestClass)                                              \
    int main(int argc, char** argv)                                                   \
    {                                                                                 \
        QTemporaryDir home(QDir::tempPath() + QStringLiteral("/arbor model XXXXXX")); \
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));                     \
        QCoreApplication app(argc, argv);                                             \
        if (!home.isValid() || !QDir().mkpath(SerializableRoot::configFolder()))      \
            return 2;                                                                 \
        TestClass test;                                                               \
        return QTest::qExec(&test, argc, argv);                                       \
    }
