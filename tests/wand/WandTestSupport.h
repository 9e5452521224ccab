#pragma once

// Shared pieces of the wand tests: a config folder in a temporary directory
// with a space in its path, a thread-safe log capture, map file helpers and
// packet building.

#include "SerializableRoot.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace WandTest
{

// Collects every log message (from any thread); forwards critical and fatal
// messages to stderr so that failures stay visible. Qt Test installs its own
// handler when the run starts, so install() belongs in initTestCase().
class LogCapture
{
public:
    static void install()
    {
        qInstallMessageHandler(&LogCapture::handler);
    }

    static void clear()
    {
        QMutexLocker lock(&mutex());
        messages().clear();
    }

    static QStringList all()
    {
        QMutexLocker lock(&mutex());
        return messages();
    }

    static int count(const QString& text)
    {
        QMutexLocker lock(&mutex());
        return messages().count(text);
    }

    static int countContaining(const QString& text)
    {
        QMutexLocker lock(&mutex());
        int n = 0;
        for (const QString& m : messages())
            n += m.contains(text) ? 1 : 0;
        return n;
    }

    static bool has(const QString& text) { return count(text) > 0; }

private:
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        {
            QMutexLocker lock(&mutex());
            if (messages().size() < 200000)
                messages().append(message);
        }
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "[critical] %s\n", qPrintable(message));
    }
};

inline QString mapFilePath()
{
    return SerializableRoot::configFolder() + QStringLiteral("/rfid_map.json");
}

inline bool writeMapFile(const QByteArray& bytes)
{
    QFile file(mapFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

inline QByteArray readMapFile()
{
    QFile file(mapFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline void removeMapFile()
{
    QFile::remove(mapFilePath());
}

// A 72-byte wand packet. Bytes that the listener does not read are filled
// with 0x55 so that a parser reading the wrong offsets shows up.
inline QByteArray packet(signed char wandId, const QByteArray& tag)
{
    QByteArray bytes(72, char(0x55));
    bytes[23] = char(wandId);
    for (int i = 0; i < 10; ++i)
        bytes[27 + 4 * i] = i < tag.size() ? tag.at(i) : '\0';
    return bytes;
}

} // namespace WandTest

// main() that points XDG_DATA_HOME at a fresh temporary folder (with a space
// in its path) before anything asks for the standard paths, and creates the
// config folder the way start-up does.
#define WAND_TEST_MAIN(TestClass)                                                       \
    int main(int argc, char** argv)                                                     \
    {                                                                                   \
        QTemporaryDir home(QDir::tempPath() + QStringLiteral("/wand data XXXXXX"));     \
        if (!home.isValid())                                                            \
            return 2;                                                                   \
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));                       \
        QCoreApplication::setApplicationName(QStringLiteral("Elmsby Vudiru Arbor"));    \
        QCoreApplication app(argc, argv);                                               \
        if (!QDir().mkpath(SerializableRoot::configFolder()))                           \
            return 2;                                                                   \
        TestClass test;                                                                 \
        return QTest::qExec(&test, argc, argv);                                         \
    }
