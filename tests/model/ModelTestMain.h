#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Runs a test object with XDG_DATA_HOME pointing at a fresh temporary folder
// whose path contains a space, set before anything asks QStandardPaths.
#define ARBOR_MODEL_TEST_MAIN(TestClass)                                              \
    int main(int argc, char** argv)                                                   \
    {                                                                                 \
        QTemporaryDir home(QDir::tempPath() + QStringLiteral("/arbor model XXXXXX")); \
        if (!home.isValid())                                                          \
            return 2;                                                                 \
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));                     \
        QCoreApplication app(argc, argv);                                             \
        TestClass test;                                                               \
        return QTest::qExec(&test, argc, argv);                                       \
    }
