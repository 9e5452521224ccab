// Wand input: the tag map file, and the listener thread over real UDP on the
// loopback (IPv4 and IPv6) with a real map file in a temporary config folder.
#include "ArborContext.h"
#include "ArborEvent.h"
#include "RfidMap.h"
#include "SerializableRoot.h"
#include "Settings.h"
#include "UdpListener.h"

#include <QtNetwork>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

// A map file (null: none), a tag, the event the tag yields ("type value
// [path]"; empty: none; "refused": init() fails) and a log line it leaves.
struct MapCase { QByteArray json; QString tag; QString event; QString log; };

// Datagrams sent to the listener, the events they yield and a log line.
struct PacketCase { QByteArrayList datagrams; QStringList events; QString log; };

// The udpPort option, the port given to setPort (NO_PORT: none), the map
// file and the message of the fatal error.
struct FatalCase { int option; int port; QByteArray map; QString message; };
Q_DECLARE_METATYPE(MapCase)
Q_DECLARE_METATYPE(PacketCase)
Q_DECLARE_METATYPE(FatalCase)

namespace {
constexpr int HANG_GUARD_MS = 10000; // against a hang only, never a measure of speed
constexpr int NO_PORT = -100000;
const QString SENTINEL = QStringLiteral("17 42");
QMutex sLogMutex;
QStringList sLog; // every message since the last setMap(), from any thread

int logged(const QString& part) {
    QMutexLocker lock(&sLogMutex);
    return int(std::count_if(sLog.cbegin(), sLog.cend(), [&](const QString& m) { return m.contains(part); }));
}

QString mapPath() {
    return SerializableRoot::configFolder() + QStringLiteral("/rfid_map.json");
}

QByteArray mapBytes() {
    QFile file(mapPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the map file (a null array removes it) and clears the log.
void setMap(const QByteArray& bytes) {
    QFile file(mapPath());
    QVERIFY(bytes.isNull() ? !file.exists() || file.remove() : file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    QMutexLocker lock(&sLogMutex);
    sLog.clear();
}

// "type value", plus " path" for a note toggle; empty for no event.
QString describe(const ArborEvent* event) {
    const auto* note = dynamic_cast<const ArborNoteEvent*>(event);
    return !event ? QString()
                  : QStringLiteral("%1 %2").arg(int(event->type())).arg(QString::number(event->value(), 'g', 9))
            + (note ? QLatin1Char(' ') + note->path().toString() : QString());
}

// A 72-byte wand packet; the bytes the listener must not read hold 0x55.
QByteArray packet(signed char wandId, const QByteArray& tag) {
    QByteArray bytes(72, char(0x55));
    bytes[23] = char(wandId);
    for (int i = 0; i < 10; ++i)
        bytes[27 + 4 * i] = i < tag.size() ? tag.at(i) : '\0';
    return bytes;
}
} // namespace

class TestWand : public QObject {
    Q_OBJECT

    QTemporaryDir mHome {QDir::tempPath() + QStringLiteral("/wand data XXXXXX")}; // a space in the path
    Settings mSettings;
    QByteArray mListenerMap;
    QUdpSocket mBlocker;                    // holds a port that the listener cannot have
    std::unique_ptr<UdpListener> mListener; // runs from start to end, with mListenerMap
    quint16 mPort = 0;
    QMutex mMutex;
    QStringList mEvents; // what the receiver copied on the wand thread, in order
    std::atomic<int> mCount {0};
    std::atomic<bool> mOnGuiThread {false};
    QSemaphore* mGate = nullptr; // when set, the receiver waits here before copying

    QStringList eventsSince(int first) {
        QMutexLocker lock(&mMutex);
        return mEvents.mid(first);
    }

    // Connects the receiver the way the engine is connected (directly, so it
    // runs on the wand thread) and waits until the socket is open.
    bool startListening(UdpListener& listener, quint16* port) {
        connect(&listener, &UdpListener::eventReceived, this, [this](const ArborEvent* event) {
            mOnGuiThread = mOnGuiThread || QThread::currentThread() == qApp->thread();
            if (mGate)
                mGate->acquire();
            QMutexLocker lock(&mMutex);
            if (++mCount < 1000)
                mEvents.append(describe(event));
        }, Qt::DirectConnection);
        QUdpSocket probe;
        *port = probe.bind(QHostAddress(QHostAddress::Any), 0) ? probe.localPort() : 0;
        probe.close();
        listener.setPort(*port);
        listener.start();
        const QString opened = QStringLiteral("UDP socket opened on port %1").arg(*port);
        return QTest::qWaitFor([&] { return logged(opened) || listener.isFinished(); }, HANG_GUARD_MS) && logged(opened) == 1;
    }

private slots:
    // The config folder lies in a fresh temporary folder.
    void initTestCase() {
        qputenv("XDG_DATA_HOME", QFile::encodeName(mHome.path()));
        QCoreApplication::setApplicationName(QStringLiteral("Elmsby Vudiru Arbor"));
        QVERIFY(mHome.isValid() && QDir().mkpath(SerializableRoot::configFolder()));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            QMutexLocker lock(&sLogMutex);
            sLog.append(message);
        });
        ArborContext::setSettings(&mSettings);
        QVERIFY(mBlocker.bind(QHostAddress(QHostAddress::Any), 0, QUdpSocket::DontShareAddress));
        QJsonObject map = QJsonDocument::fromJson(R"({"04a3b2c1d9": {"event": 0, "value": "/2/-3/3"},
            "04A3": {"event": 1, "value": 1}, "down3": {"event": 2, "value": -3},
            "flood": {"event": 4, "value": 0.5}, "sentinel": {"event": 17, "value": 42}})").object();
        for (int i = 0; i < 100; ++i)
            map.insert(QStringLiteral("seq%1").arg(i, 3, 10, QLatin1Char('0')), QJsonObject {{"event", 4}, {"value", i}});
        mListenerMap = QJsonDocument(map).toJson();
        setMap(mListenerMap);
        mListener.reset(new UdpListener);
        QVERIFY(startListening(*mListener, &mPort));
    }

    // An idle listener notices the stop within its longest wait.
    void cleanupTestCase() {
        setMap(mListenerMap);
        QVERIFY(mListener && mListener->term() && mListener->term());
        QCOMPARE(logged(QStringLiteral("Stopping UDP thread...")), 1);
        QCOMPARE(logged(QStringLiteral("UDP thread exits run")), 1);
        QVERIFY(!mOnGuiThread);
    }

    void mapEntries_data() {
        QTest::addColumn<MapCase>("c");
        auto row = [](const char* name, const QByteArray& json, const char* tag, const char* event, const char* log) {
            QTest::newRow(name) << MapCase {json, tag, event, log};
        };
        const QByteArray longName = R"({"04A3B2C1D9E8F7": {"event": 1, "value": "/2/-3/3"}})";
        row("name cut to 10, lower-cased", longName, "04A3B2C1D9", "0 1 /2/-3/3", "RFID 04a3b2c1d9 mapped to: event 0, value /2/-3/3");
        row("lookup does not cut", longName, "04a3b2c1d9e8f7", "", "");
        row("lookup does not match a prefix", longName, "04a3b2c1d", "", "");
        row("empty tag", longName, "", "", "");
        row("no leading slash is value 0", R"({"abc": {"event": 2, "value": "2/-3"}})", "abc", "2 0", "event 2, value 0");
        row("event 0 with a number", R"({"a": {"event": 0, "value": 7}})", "A", "0 7", "RFID a mapped to: event 0, value 7");
        row("event 2.9 is 2", R"({"t": {"event": 2.9, "value": 0.1}})", "t", "2 0.100000001", "event 2, value 0.1");
        row("event -1.5 is -1", R"({"t": {"event": -1.5, "value": -3}})", "t", "-1 -3", "event -1, value -3");
        row("event 1e10 is -1", R"({"t": {"event": 1e10, "value": 1}})", "t", "-1 1", "event number 1e+10 out of range; using -1.");
        row("event -1e300 is -1", R"({"t": {"event": -1e300, "value": -1e-300}})", "t", "-1 0", "event -1, value 0");
        row("event at int limit", R"({"t": {"event": 2147483647.5, "value": 1}})", "t", "2147483647 1", "event 2147483647,");
        row("value beyond float is 0", R"({"t": {"event": 6, "value": 1e300}})", "t", "6 0", "value 1e+300 out of range; using 0.");
        row("6 digits in the log", R"({"t": {"event": 9, "value": 261.6255653}})", "t", "9 261.62558", "value 261.626");
        row("string event, boolean value", R"({"t": {"event": "3", "value": true}})", "t", "0 0", "event 0, value 0");
        row("member not an object", R"({"t": 5})", "t", "0 0", "RFID t mapped to: event 0, value 0");
        row("invalid prime", R"({"t": {"event": 0, "value": "/4/3"}})", "t", "", "RFID t was assigned invalid path /4/3. Ignoring.");
        row("non-number step", R"({"t": {"event": 0, "value": "/2/x"}})", "t", "", "invalid path /2/x. Ignoring.");
        row("last of equal keys wins", R"({"abcdefghij2": {"event": 2, "value": 3}, "ABCDEFGHIJ1": {"event": 1, "value": 1}})",
            "abcdefghij", "2 3", "RFID abcdefghij mapped to: event 2, value 3");
        row("lower after upper wins", R"({"ABCDEFGHIJ": {"event": 1, "value": 1}, "abcdefghijX": {"event": 5, "value": 0.5}})",
            "AbCdEfGhIj", "5 0.5", "RFID abcdefghij mapped to: event 5, value 0.5");
        row("percent signs literal", R"({"%2%1": {"event": 3, "value": 1}})", "%2%1", "3 1", "RFID %2%1 mapped to: event 3, value 1");
        row("top-level array", R"([{"t": {"event": 1, "value": 1}}])", "t", "", "");
        row("missing file", QByteArray(), "t", "", "");
        row("syntax error", "{ \"t\": {\"event\": 1,, }", "t", "refused", "JSON error:");
        row("not json", QByteArray("\xff\xfe garbage \x00\x01", 16), "t", "refused", "JSON error:");
        row("empty file", "", "t", "refused", "JSON error:");
        row("too large", "{\"t\": {\"event\": 1, \"value\": 1}, \"p\": \"" + QByteArray(int(RfidMap::MAX_FILE_SIZE), 'x') + "\"}", "t",
            "refused", "is too large");
    }

    // The file is never rewritten, only created (empty) when missing.
    void mapEntries() {
        QFETCH(MapCase, c);
        setMap(c.json);
        {
            RfidMap map;
            QCOMPARE(map.init(), c.event != QLatin1String("refused"));
            QCOMPARE(describe(map.lookup(c.tag)), c.event == QLatin1String("refused") ? QString() : c.event);
            map.term();
        }
        QVERIFY2(c.log.isEmpty() || logged(c.log) == 1, qPrintable(sLog.join(QLatin1Char('\n'))));
        QVERIFY(c.event != QLatin1String("refused") || logged(mapPath()) >= 1);
        if (c.json.isNull())
            QCOMPARE(QJsonDocument::fromJson(mapBytes()), QJsonDocument(QJsonObject()));
        else
            QCOMPARE(mapBytes(), c.json);
    }

    // write() gives the entries back in file form (keys lower-cased, paths as
    // text, invalid entries gone).
    void writeGivesTheFileForm() {
        setMap(R"({"04A3B2C1D9": {"event": 0, "value": "/2/-3/3"}, "stop": {"event": 1, "value": 1},
            "down3": {"event": 2, "value": -3}, "bad": {"event": 0, "value": "/9"}})");
        RfidMap map;
        QVERIFY(map.init());
        QJsonObject written;
        map.write(written);
        QCOMPARE(written, QJsonDocument::fromJson(R"({"04a3b2c1d9": {"event": 0, "value": "/2/-3/3"},
            "stop": {"event": 1, "value": 1}, "down3": {"event": 2, "value": -3}})").object());
    }

    // Each row is followed by a mapped sentinel packet, which ends the wait.
    void packets_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<PacketCase>("c");
        const QByteArray good = packet(5, "04A3B2C1D9");
        const QString wrongSize = QStringLiteral("Discarding UDP packet due to wrong size ");
        PacketCase burst {{}, {}, "RFID: \"SEQ099\""};
        for (int i = 0; i < 100; ++i) {
            burst.datagrams << packet(1, QStringLiteral("SEQ%1").arg(i, 3, 10, QLatin1Char('0')).toLatin1());
            burst.events << QStringLiteral("4 %1").arg(i);
        }
        const QList<QPair<const char*, PacketCase>> rows = {
            {"upper-case tag", {{good}, {"0 1 /2/-3/3"}, "Wand ID: 5 , RFID: \"04A3B2C1D9\""}},
            {"zero at byte 43 cuts the tag", {{packet(7, QByteArray("04A3\0B2C1D", 10))}, {"1 1"}, "Wand ID: 7 , RFID: \"04A3\""}},
            {"negative wand id", {{packet(-3, "down3")}, {"2 -3"}, "Wand ID: -3 , RFID: \"down3\""}},
            {"unmapped tag", {{packet(1, "nothere")}, {}, "RFID nothere not found in mapping table. Ignoring."}},
            {"empty tag", {{packet(1, "")}, {}, "RFID  not found in mapping table. Ignoring."}},
            {"0 bytes", {{QByteArray()}, {}, wrongSize + "0"}},
            {"71 bytes", {{good.left(71)}, {}, wrongSize + "71"}},
            {"73 bytes", {{good + '\0'}, {}, wrongSize + "73"}},
            {"1500 bytes", {{good + QByteArray(1500 - 72, char(0x55))}, {}, wrongSize + "1500"}},
            {"burst of 100 in order", burst},
        };
        for (const auto& row : rows)
            for (const char* address : {"127.0.0.1", "::1"})
                QTest::addRow("%s (%s)", row.first, address) << address << row.second;
    }

    void packets() {
        QFETCH(QString, address);
        QFETCH(PacketCase, c);
        setMap(mListenerMap);
        const int first = mCount;
        QUdpSocket sender;
        int read = 1;
        for (const QByteArray& datagram : c.datagrams) {
            if (sender.writeDatagram(datagram, QHostAddress(address), mPort) != datagram.size())
                QSKIP("cannot send there (no IPv6 loopback?)");
            read += datagram.size() == 72;
        }
        QCOMPARE(sender.writeDatagram(packet(0, "SENTINEL"), QHostAddress(address), mPort), qint64(72));
        QTRY_VERIFY_WITH_TIMEOUT(eventsSince(first).contains(SENTINEL), HANG_GUARD_MS);
        QCOMPARE(eventsSince(first), c.events << SENTINEL);
        QVERIFY2(logged(c.log) == 1, qPrintable(sLog.join(QLatin1Char('\n'))));
        QCOMPARE(logged(QStringLiteral("Received a UDP packet from")), read);
    }

    // Every way the thread cannot work: one critical line, one fatalError
    // with the exact text, and the thread ends without listening.
    void fatalErrors_data() {
        QTest::addColumn<FatalCase>("c");
        const QString bind = QStringLiteral("Can't open UDP socket on port %1. UDP thread shutting down.");
        const int taken = mBlocker.localPort();
        QTest::newRow("port already taken") << FatalCase {8888, taken, mListenerMap, bind.arg(taken)};
        QTest::newRow("udpPort option 0") << FatalCase {0, NO_PORT, mListenerMap, bind.arg(0)};
        QTest::newRow("udpPort option 70000") << FatalCase {70000, NO_PORT, mListenerMap, bind.arg(70000)};
        QTest::newRow("port set to -1") << FatalCase {8888, -1, mListenerMap, bind.arg(-1)};
        QTest::newRow("port set to 65536") << FatalCase {8888, 65536, mListenerMap, bind.arg(65536)};
        QTest::newRow("unreadable map") << FatalCase {8888, 1, "{\"t\": ", "Failed to load RFID mapping file, UDP thread shutting down."};
    }

    void fatalErrors() {
        QFETCH(FatalCase, c);
        setMap(c.map);
        mSettings.mUdpPort = c.option;
        UdpListener listener;
        if (c.port != NO_PORT)
            listener.setPort(c.port);
        QVERIFY(listener.term()); // not started: nothing to stop
        QSignalSpy spy(&listener, &UdpListener::fatalError);
        listener.start();
        QVERIFY(listener.wait(HANG_GUARD_MS));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().toString(), c.message);
        QCOMPARE(logged(c.message), 1);
        QCOMPARE(logged(QStringLiteral("UDP socket opened")) + logged(QStringLiteral("Stopping")), 0);
    }

    // A flood of junk logs ten lines a second at most; one line a second
    // counts the rest (the loopback may drop some of the flood).
    void junkFlood() {
        setMap(mListenerMap);
        QUdpSocket sender;
        for (int size = 100; size < 300; ++size)
            QCOMPARE(sender.writeDatagram(QByteArray(size, 'x'), QHostAddress(QHostAddress::LocalHost), mPort), qint64(size));
        QTRY_VERIFY_WITH_TIMEOUT(logged(" more UDP packets of a wrong size discarded in the last second") > 0, HANG_GUARD_MS);
        QVERIFY(logged("Discarding UDP packet due to wrong size") <= 10);
    }

    // A receiver that does not return keeps the thread from stopping, and
    // term() says so. Once it returns, a sender that never pauses cannot keep
    // the thread going: the packets pending at the stop request are not
    // handed out, and the destructor waits for the end.
    void stopping() {
        setMap(mListenerMap);
        QSemaphore gate;
        mGate = &gate;
        const int first = mCount;
        std::atomic<bool> flooding {true};
        std::thread flood;
        {
            UdpListener listener;
            quint16 port = 0;
            QVERIFY(startListening(listener, &port));
            flood = std::thread([&flooding, port] {
                QUdpSocket sender;
                while (flooding)
                    sender.writeDatagram(packet(9, "flood"), QHostAddress(QHostAddress::LocalHost), port);
            });
            QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("RFID: \"flood\"")) == 1, HANG_GUARD_MS);
            QVERIFY(!listener.term() && listener.isRunning());
            QCOMPARE(logged(QStringLiteral("UDP thread couldn't be stopped, exiting anyway")), 1);
            gate.release(1000000);
        }
        flooding = false;
        flood.join();
        mGate = nullptr;
        QCOMPARE(mCount.load(), first + 1);
        QCOMPARE(logged(QStringLiteral("UDP thread exits run")), 1);
    }
};

QTEST_GUILESS_MAIN(TestWand)
#include "tst_wand.moc"
