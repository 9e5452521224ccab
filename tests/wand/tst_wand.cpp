// Wand input: the tag map file, and the listener thread over real UDP on the loopback (IPv4 and IPv6) with a
// real map file in a temporary config folder.
#include "ArborContext.h"
#include "ArborEvent.h"
#include "RfidMap.h"
#include "Settings.h"
#include "UdpListener.h"
#include "model/ModelFixture.h"

#include <QtNetwork>

#include <atomic>
#include <memory>
#include <thread>

using namespace ModelTest;

namespace {
constexpr int HANG_GUARD_MS = 10000; // against a hang only, never a measure of speed
constexpr int NO_PORT = -100000, TAKEN = -100001;
const QString SENTINEL = QStringLiteral("17 42");
const QByteArray LONG_NAME = R"({"04A3B2C1D9E8F7": {"event": 1, "value": "/2/-3/3"}})";

// A map file (null: none), a tag, its event ("type value [path]"; empty: none; "refused": init() fails), a log line.
const struct { QByteArray json; const char* tag; const char* event; const char* log; } MAPS[] = {
    {LONG_NAME, "04A3B2C1D9", "0 1 /2/-3/3", "RFID 04a3b2c1d9 mapped to: event 0, value /2/-3/3"}, // cut, lower-cased
    {LONG_NAME, "04a3b2c1d9e8f7", "", ""}, {LONG_NAME, "04a3b2c1d", "", ""}, {LONG_NAME, "", "", ""},
    {R"({"abc": {"event": 2, "value": "2/-3"}})", "abc", "2 0", "event 2, value 0"}, // no leading slash
    {R"({"a": {"event": 0, "value": 7}})", "A", "0 7", "RFID a mapped to: event 0, value 7"},
    {R"({"t": {"event": 2.9, "value": 0.1}})", "t", "2 0.100000001", "event 2, value 0.1"},
    {R"({"t": {"event": -1.5, "value": -3}})", "t", "-1 -3", "event -1, value -3"},
    {R"({"t": {"event": 1e10, "value": 1}})", "t", "-1 1", "event number 1e+10 out of range; using -1."},
    {R"({"t": {"event": -1e300, "value": -1e-300}})", "t", "-1 0", "event -1, value 0"},
    {R"({"t": {"event": 2147483647.5, "value": 1}})", "t", "2147483647 1", "event 2147483647,"},
    {R"({"t": {"event": 6, "value": 1e300}})", "t", "6 0", "value 1e+300 out of range; using 0."},
    {R"({"t": {"event": 9, "value": 261.6255653}})", "t", "9 261.62558", "value 261.626"}, // 6 digits logged
    {R"({"t": {"event": "3", "value": true}})", "t", "0 0", "event 0, value 0"},
    {R"({"t": 5})", "t", "0 0", "RFID t mapped to: event 0, value 0"},
    {R"({"t": {"event": 0, "value": "/4/3"}})", "t", "", "RFID t was assigned invalid path /4/3. Ignoring."},
    {R"({"t": {"event": 0, "value": "/2/x"}})", "t", "", "invalid path /2/x. Ignoring."},
    {R"({"abcdefghij2": {"event": 2, "value": 3}, "ABCDEFGHIJ1": {"event": 1, "value": 1}})", "abcdefghij", "2 3",
     "RFID abcdefghij mapped to: event 2, value 3"}, // the last of equal keys wins
    {R"({"ABCDEFGHIJ": {"event": 1, "value": 1}, "abcdefghijX": {"event": 5, "value": 0.5}})", "AbCdEfGhIj", "5 0.5",
     "RFID abcdefghij mapped to: event 5, value 0.5"},
    {R"({"%2%1": {"event": 3, "value": 1}})", "%2%1", "3 1", "RFID %2%1 mapped to: event 3, value 1"},
    {R"([{"t": {"event": 1, "value": 1}}])", "t", "", ""}, {QByteArray(), "t", "", ""},
    {"{ \"t\": {\"event\": 1,, }", "t", "refused", "JSON error:"}, {"", "t", "refused", "JSON error:"},
    {QByteArray("\xff\xfe garbage \x00\x01", 16), "t", "refused", "JSON error:"},
    {"{\"t\": {\"event\": 1, \"value\": 1}, \"p\": \"" + QByteArray(int(RfidMap::MAX_FILE_SIZE), 'x') + "\"}", "t",
     "refused", "is too large"},
};

// The udpPort option, the port given to setPort (NO_PORT: none; TAKEN: one in use), whether the map is bad.
const struct { int option, port; bool badMap = false; } FATAL[] = {
    {8888, TAKEN}, {0, NO_PORT}, {70000, NO_PORT}, {8888, -1}, {8888, 65536}, {8888, 1, true},
};

// A wand packet cut or padded to a size, the event it yields and a log line. Each row ends with a mapped
// sentinel packet, which ends the wait; a burst row first sends SEQ000 .. SEQ098, each with its own event.
const QString WRONG_SIZE = QStringLiteral("Discarding UDP packet due to wrong size ");
const struct { signed char id; QByteArray tag; int size; const char* event; QString log; bool burst = false; } PACKETS[] = {
    {5, "04A3B2C1D9", 72, "0 1 /2/-3/3", "Wand ID: 5 , RFID: \"04A3B2C1D9\""},
    {7, QByteArray("04A3\0B2C1D", 10), 72, "1 1", "Wand ID: 7 , RFID: \"04A3\""}, // a 0 at byte 43 cuts the tag
    {-3, "down3", 72, "2 -3", "Wand ID: -3 , RFID: \"down3\""},
    {1, "nothere", 72, nullptr, "RFID nothere not found in mapping table. Ignoring."},
    {1, "", 72, nullptr, "RFID  not found in mapping table. Ignoring."}, {5, "04A3B2C1D9", 0, nullptr, WRONG_SIZE + "0"},
    {5, "04A3B2C1D9", 71, nullptr, WRONG_SIZE + "71"}, {5, "04A3B2C1D9", 73, nullptr, WRONG_SIZE + "73"},
    {5, "04A3B2C1D9", 1500, nullptr, WRONG_SIZE + "1500"}, {1, "SEQ099", 72, "4 99", "RFID: \"SEQ099\"", true},
};

QMutex sLogMutex;
QStringList sLog; // every message since the last setMap(), from any thread

int logged(const QString& part) {
    QMutexLocker lock(&sLogMutex);
    return int(std::count_if(sLog.cbegin(), sLog.cend(), [&](const QString& m) { return m.contains(part); }));
}

QString mapPath() {
    return ConfigFolder::file("rfid_map.json");
}

// Replaces the map file (a null array removes it) and clears the log.
void setMap(const QByteArray& bytes) {
    QVERIFY(writeFile(mapPath(), bytes));
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
} // namespace

class TestWand : public QObject {
    Q_OBJECT

    ConfigFolder mConfigFolder;
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

    // Connects the receiver as the engine is (directly: it runs on the wand thread); waits for the open socket.
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
    void initTestCase() {
        QCoreApplication::setApplicationName(QStringLiteral("Elmsby Vudiru Arbor")); // a space in the path
        QVERIFY(mConfigFolder.made && QDir().mkpath(SerializableRoot::configFolder()));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            QMutexLocker lock(&sLogMutex);
            sLog.append(message);
        });
        ArborContext::setSettings(&mSettings);
        QVERIFY(mBlocker.bind(QHostAddress(QHostAddress::Any), 0, QUdpSocket::DontShareAddress));
        QJsonObject map = json(R"({"04a3b2c1d9": {"event": 0, "value": "/2/-3/3"}, "04A3": {"event": 1, "value": 1},
            "down3": {"event": 2, "value": -3}, "flood": {"event": 4, "value": 0.5}, "sentinel": {"event": 17, "value": 42}})");
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
        QVERIFY(logged(QStringLiteral("Stopping UDP thread...")) == 1 && logged(QStringLiteral("UDP thread exits run")) == 1);
        QVERIFY(!mOnGuiThread);
    }

    void mapEntries_data() { tableRows(MAPS); }

    // The file is never rewritten, only created (empty) when missing.
    void mapEntries() {
        const auto& c = tableRow(MAPS);
        const bool refused = QByteArray(c.event) == "refused";
        setMap(c.json);
        {
            RfidMap map;
            QCOMPARE(map.init(), !refused);
            QCOMPARE(describe(map.lookup(c.tag)), refused ? QString() : QString(c.event));
            map.term();
        }
        QVERIFY2(!*c.log || logged(c.log) == 1, qPrintable(sLog.join(QLatin1Char('\n'))));
        QVERIFY(!refused || logged(mapPath()) >= 1);
        QVERIFY(c.json.isNull() ? QJsonDocument::fromJson(readFile(mapPath())) == QJsonDocument(QJsonObject())
                                : readFile(mapPath()) == c.json);
    }

    // write() gives the entries back in file form (keys lower-cased, paths as
    // text, invalid entries gone).
    void writeGivesTheFileForm() {
        setMap(R"({"04A3B2C1D9": {"event": 0, "value": "/2/-3/3"}, "stop": {"event": 1, "value": 1},
            "down3": {"event": 2, "value": -3}, "bad": {"event": 0, "value": "/9"}})");
        RfidMap map;
        QVERIFY(map.init());
        QCOMPARE(written(map), json(R"({"04a3b2c1d9": {"event": 0, "value": "/2/-3/3"},
            "stop": {"event": 1, "value": 1}, "down3": {"event": 2, "value": -3}})"));
    }

    // Each row is sent to 127.0.0.1 and to ::1.
    void packets_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("address");
        for (int i = 0; i < int(std::size(PACKETS)); ++i)
            for (const char* address : {"127.0.0.1", "::1"})
                QTest::addRow("%d (%s)", i, address) << i << QString(address);
    }

    void packets() {
        QFETCH(QString, address);
        const auto& c = tableRow(PACKETS);
        QByteArrayList datagrams;
        QStringList events;
        for (int i = 0; c.burst && i < 99; ++i) {
            datagrams << wandPacket(1, QStringLiteral("SEQ%1").arg(i, 3, 10, QLatin1Char('0')).toLatin1());
            events << QStringLiteral("4 %1").arg(i);
        }
        datagrams << wandPacket(c.id, c.tag).leftJustified(c.size, char(0x55), true) << wandPacket(0, "SENTINEL");
        events << (c.event ? QStringList{c.event, SENTINEL} : QStringList{SENTINEL});
        setMap(mListenerMap);
        const int first = mCount;
        QUdpSocket sender;
        int read = 0;
        for (const QByteArray& datagram : datagrams) {
            if (sender.writeDatagram(datagram, QHostAddress(address), mPort) != datagram.size())
                QSKIP("cannot send there (no IPv6 loopback?)");
            read += datagram.size() == 72;
        }
        QTRY_VERIFY_WITH_TIMEOUT(eventsSince(first).contains(SENTINEL), HANG_GUARD_MS);
        QCOMPARE(eventsSince(first), events);
        QVERIFY2(logged(c.log) == 1, qPrintable(sLog.join(QLatin1Char('\n'))));
        QCOMPARE(logged(QStringLiteral("Received a UDP packet from")), read);
    }

    // Every way the thread cannot work: one critical line, one fatalError
    // with the exact text, and the thread ends without listening.
    void fatalErrors_data() { tableRows(FATAL); }
    void fatalErrors() {
        const auto& c = tableRow(FATAL);
        const int port = c.port == TAKEN ? mBlocker.localPort() : c.port == NO_PORT ? c.option : c.port;
        const QString message = c.badMap ? QStringLiteral("Failed to load RFID mapping file, UDP thread shutting down.")
                                         : QStringLiteral("Can't open UDP socket on port %1. UDP thread shutting down.").arg(port);
        setMap(c.badMap ? "{\"t\": " : mListenerMap);
        mSettings.mUdpPort = c.option;
        UdpListener listener;
        if (c.port != NO_PORT)
            listener.setPort(port);
        QVERIFY(listener.term()); // not started: nothing to stop
        QSignalSpy spy(&listener, &UdpListener::fatalError);
        listener.start();
        QVERIFY(listener.wait(HANG_GUARD_MS));
        QVERIFY(spy.count() == 1 && spy.first().first().toString() == message && logged(message) == 1);
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
                    sender.writeDatagram(wandPacket(9, "flood"), QHostAddress(QHostAddress::LocalHost), port);
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
