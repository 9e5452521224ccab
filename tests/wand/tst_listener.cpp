#include "WandTestSupport.h"

#include "ArborContext.h"
#include "ArborEvent.h"
#include "ArborPath.h"
#include "PdMessageBuffer.h"
#include "Settings.h"
#include "UdpListener.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QUdpSocket>

#include <atomic>
#include <memory>
#include <thread>

using WandTest::LogCapture;

namespace
{
// Generous guard against a hang; never a measure of speed.
constexpr int HANG_GUARD_MS = 30000;

const char* const SENTINEL_TAG = "sentinel";
constexpr int SENTINEL_TYPE = 17;
constexpr float SENTINEL_VALUE = 42.0f;

struct Received
{
    int type;
    float value;
    QString path;
};

// Stands where the engine's serial ring stands: connected directly, it copies
// each event into a real command ring on the wand thread.
class Receiver : public QObject
{
public:
    Receiver() { mRing.init(); }

    void attach(UdpListener& listener)
    {
        connect(&listener, &UdpListener::eventReceived, this,
                [this](const ArborEvent* event) { onEvent(event); }, Qt::DirectConnection);
    }

    // Drains the ring into the list of everything received so far.
    const QList<Received>& drain()
    {
        PdMessageBuffer::ChunkList chunks;
        for (std::uint64_t i = 0; i < 1024; ++i)
            chunks[i] = nullptr;
        mRing.processEvents(chunks);
        for (std::uint64_t i = 0; i < 1024 && chunks[i]; ++i) {
            const PdMessageBuffer::Chunk* chunk = chunks[i];
            mReceived.append({chunk->mType, chunk->mValue, ArborPath::fromRaw(chunk->mPath).toString()});
        }
        return mReceived;
    }

    bool sawSentinel()
    {
        for (const Received& r : drain())
            if (r.type == SENTINEL_TYPE && r.value == SENTINEL_VALUE)
                return true;
        return false;
    }

    std::atomic<int> mCount {0};
    std::atomic<bool> mQueue {true};
    std::atomic<bool> mOnMainThread {false};
    QSemaphore* mGate = nullptr;

private:
    void onEvent(const ArborEvent* event)
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            mOnMainThread = true;
        if (mGate)
            mGate->acquire();
        if (mQueue)
            mRing.queueEvent(event);
        ++mCount;
    }

    PdMessageBuffer mRing;
    QList<Received> mReceived;
};

quint16 freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::Any), 0))
        return 0;
    return probe.localPort();
}

bool ipv6Available()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHostIPv6), 0);
}

bool send(const QString& address, quint16 port, const QByteArray& bytes)
{
    QUdpSocket sender;
    return sender.writeDatagram(bytes, QHostAddress(address), port) == bytes.size();
}

QString rootPath()
{
    return ArborPath().toString();
}
} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void delivery_data();
    void delivery();
    void wrongSizesDiscarded_data();
    void wrongSizesDiscarded();
    void packetsArriveInOrder_data();
    void packetsArriveInOrder();
    void fatalErrors_data();
    void fatalErrors();
    void stopWhileFlooded();
    void stuckReceiverKeepsThreadAlive();
    void lifecycle();

private:
    void addFamilies(const char* name);
    bool startListening(quint16* port);

    QByteArray mMap;
    bool mIpv6 = false;
    Settings mSettings;
    std::unique_ptr<UdpListener> mListener;
    std::unique_ptr<Receiver> mReceiver;
};

void TestListener::initTestCase()
{
    LogCapture::install();
    QJsonObject map;
    auto plain = [](int type, double value) {
        return QJsonObject {{QStringLiteral("event"), type}, {QStringLiteral("value"), value}};
    };
    map.insert(QStringLiteral("04a3b2c1d9"),
               QJsonObject {{QStringLiteral("event"), 0}, {QStringLiteral("value"), QStringLiteral("/2/-3/3")}});
    map.insert(QStringLiteral("04A3"), plain(1, 1));
    map.insert(QStringLiteral("down3"), plain(2, -3));
    map.insert(QStringLiteral("flood"), plain(4, 0.5));
    map.insert(QLatin1String(SENTINEL_TAG), plain(SENTINEL_TYPE, double(SENTINEL_VALUE)));
    for (int i = 0; i < 100; ++i)
        map.insert(QStringLiteral("seq%1").arg(i, 3, 10, QLatin1Char('0')), plain(4, i));
    mMap = QJsonDocument(map).toJson();
    mIpv6 = ipv6Available();
    ArborContext::setSettings(&mSettings);
}

void TestListener::init()
{
    QVERIFY(WandTest::writeMapFile(mMap));
    mSettings.mUdpPort = 8888;
    mListener.reset(new UdpListener);
    mReceiver.reset(new Receiver);
    mReceiver->attach(*mListener);
    LogCapture::clear();
}

void TestListener::cleanup()
{
    if (mListener && mListener->isRunning() && !mListener->term())
        mListener->waitUntilStopped();
    if (mListener)
        QVERIFY(!mListener->isRunning());
    mListener.reset();
    mReceiver.reset();
}

void TestListener::cleanupTestCase()
{
    ArborContext::setSettings(nullptr);
}

void TestListener::addFamilies(const char* name)
{
    QTest::newRow(qPrintable(QStringLiteral("%1 over IPv4").arg(QLatin1String(name)))) << QStringLiteral("127.0.0.1");
    QTest::newRow(qPrintable(QStringLiteral("%1 over IPv6").arg(QLatin1String(name)))) << QStringLiteral("::1");
}

bool TestListener::startListening(quint16* port)
{
    *port = freePort();
    if (*port == 0)
        return false;
    mListener->setPort(*port);
    mListener->start();
    const QString opened = QStringLiteral("UDP socket opened on port %1").arg(*port);
    for (int waited = 0; waited < HANG_GUARD_MS && !LogCapture::has(opened); waited += 10) {
        if (mListener->isFinished())
            return false;
        QTest::qWait(10);
    }
    return LogCapture::has(opened);
}

// Each row: a packet, whether it maps to something, and what reaches the ring.
void TestListener::delivery_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<bool>("mapped");
    QTest::addColumn<int>("type");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("logLine");

    struct Row
    {
        const char* name;
        QByteArray packet;
        bool mapped;
        int type;
        float value;
        QString path;
        QString logLine;
    };
    const QList<Row> rows = {
        {"upper-case tag toggles its note", WandTest::packet(5, "04A3B2C1D9"), true, 0, 1.0f,
         ArborPath(QStringLiteral("/2/-3/3")).toString(), QStringLiteral("Wand ID: 5 , RFID: \"04A3B2C1D9\"")},
        {"zero at byte 43 cuts the tag", WandTest::packet(7, QByteArray("04A3\0B2C1D", 10)), true, 1, 1.0f,
         rootPath(), QStringLiteral("Wand ID: 7 , RFID: \"04A3\"")},
        {"negative wand id, transpose", WandTest::packet(-3, "down3"), true, 2, -3.0f, rootPath(),
         QStringLiteral("Wand ID: -3 , RFID: \"down3\"")},
        {"unmapped tag", WandTest::packet(1, "nothere"), false, 0, 0.0f, QString(),
         QStringLiteral("RFID nothere not found in mapping table. Ignoring.")},
        {"empty tag", WandTest::packet(1, ""), false, 0, 0.0f, QString(),
         QStringLiteral("RFID  not found in mapping table. Ignoring.")},
    };
    for (const Row& row : rows) {
        for (const char* address : {"127.0.0.1", "::1"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(QLatin1String(row.name), QLatin1String(address))))
                << QString::fromLatin1(address) << row.packet << row.mapped << row.type << row.value << row.path
                << row.logLine;
        }
    }
}

void TestListener::delivery()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, packet);
    QFETCH(bool, mapped);
    QFETCH(int, type);
    QFETCH(float, value);
    QFETCH(QString, path);
    QFETCH(QString, logLine);
    if (address.contains(QLatin1Char(':')) && !mIpv6)
        QSKIP("no IPv6 loopback here");

    quint16 port = 0;
    QVERIFY(startListening(&port));
    QVERIFY(send(address, port, packet));
    QVERIFY(send(address, port, WandTest::packet(0, SENTINEL_TAG)));
    QTRY_VERIFY_WITH_TIMEOUT(mReceiver->sawSentinel(), HANG_GUARD_MS);

    const QList<Received> got = mReceiver->drain();
    QCOMPARE(got.size(), mapped ? 2 : 1);
    if (mapped) {
        QCOMPARE(got[0].type, type);
        QCOMPARE(got[0].value, value);
        QCOMPARE(got[0].path, path);
    }
    QVERIFY2(LogCapture::has(logLine), qPrintable(LogCapture::all().join(QLatin1Char('\n'))));
    QCOMPARE(LogCapture::countContaining(QStringLiteral("Received a UDP packet from")), 2);
    QVERIFY(!mReceiver->mOnMainThread);
}

// A packet of the wrong size is dropped unread, even when it holds a mapped
// tag at the usual places; the next good packet still gets through.
void TestListener::wrongSizesDiscarded_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("packet");

    const QByteArray good = WandTest::packet(5, "04A3B2C1D9");
    const QList<QPair<const char*, QByteArray>> sizes = {
        {"0 bytes", QByteArray()},
        {"71 bytes", good.left(71)},
        {"73 bytes", good + '\0'},
        {"1500 bytes", good + QByteArray(1500 - 72, char(0x55))},
    };
    for (const auto& size : sizes)
        for (const char* address : {"127.0.0.1", "::1"})
            QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(QLatin1String(size.first), QLatin1String(address))))
                << QString::fromLatin1(address) << size.second;
}

void TestListener::wrongSizesDiscarded()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, packet);
    if (address.contains(QLatin1Char(':')) && !mIpv6)
        QSKIP("no IPv6 loopback here");

    quint16 port = 0;
    QVERIFY(startListening(&port));
    QVERIFY(send(address, port, packet));
    QVERIFY(send(address, port, WandTest::packet(0, SENTINEL_TAG)));
    QTRY_VERIFY_WITH_TIMEOUT(mReceiver->sawSentinel(), HANG_GUARD_MS);

    QCOMPARE(mReceiver->drain().size(), 1);
    QCOMPARE(LogCapture::count(QStringLiteral("Discarding UDP packet due to wrong size %1").arg(packet.size())), 1);
    QCOMPARE(LogCapture::countContaining(QStringLiteral("Received a UDP packet from")), 1);
    QVERIFY(mListener->isRunning());
}

void TestListener::packetsArriveInOrder_data()
{
    QTest::addColumn<QString>("address");
    addFamilies("100 packets");
}

void TestListener::packetsArriveInOrder()
{
    QFETCH(QString, address);
    if (address.contains(QLatin1Char(':')) && !mIpv6)
        QSKIP("no IPv6 loopback here");

    quint16 port = 0;
    QVERIFY(startListening(&port));
    QUdpSocket sender;
    for (int i = 0; i < 100; ++i) {
        const QByteArray tag = QStringLiteral("SEQ%1").arg(i, 3, 10, QLatin1Char('0')).toLatin1();
        QCOMPARE(sender.writeDatagram(WandTest::packet(1, tag), QHostAddress(address), port), qint64(72));
    }
    QTRY_VERIFY_WITH_TIMEOUT(mReceiver->drain().size() >= 100, HANG_GUARD_MS);
    const QList<Received> got = mReceiver->drain();
    QCOMPARE(got.size(), 100);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(got[i].type, 4);
        QCOMPARE(got[i].value, float(i));
    }
}

// Every way the thread cannot work: one critical line, one fatalError with
// the exact text, and the thread ends without listening.
void TestListener::fatalErrors_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("message");

    const QString bind = QStringLiteral("Can't open UDP socket on port %1. UDP thread shutting down.");
    QTest::newRow("port already taken") << "taken" << 0 << bind;
    QTest::newRow("udpPort option 0") << "option" << 0 << bind;
    QTest::newRow("udpPort option 70000") << "option" << 70000 << bind;
    QTest::newRow("port set to 0") << "set" << 0 << bind;
    QTest::newRow("port set to 70000") << "set" << 70000 << bind;
    QTest::newRow("port set to -1") << "set" << -1 << bind;
    QTest::newRow("port set to 65536") << "set" << 65536 << bind;
    QTest::newRow("unreadable map file") << "badmap" << 0
                                         << "Failed to load RFID mapping file, UDP thread shutting down.";
}

void TestListener::fatalErrors()
{
    QFETCH(QString, how);
    QFETCH(int, port);
    QFETCH(QString, message);

    QUdpSocket blocker;
    if (how == QLatin1String("taken")) {
        QVERIFY(blocker.bind(QHostAddress(QHostAddress::Any), 0, QUdpSocket::DontShareAddress));
        port = blocker.localPort();
        mListener->setPort(port);
    } else if (how == QLatin1String("option")) {
        mSettings.mUdpPort = port;
    } else if (how == QLatin1String("set")) {
        mListener->setPort(port);
    } else {
        QVERIFY(WandTest::writeMapFile("{\"t\": "));
        mListener->setPort(freePort());
    }
    if (message.contains(QLatin1String("%1")))
        message = message.arg(port);

    QSignalSpy spy(mListener.get(), &UdpListener::fatalError);
    mListener->start();
    QVERIFY(mListener->wait(HANG_GUARD_MS));
    QVERIFY(mListener->isFinished());

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), message);
    QCOMPARE(LogCapture::countContaining(message), 1);
    QCOMPARE(LogCapture::countContaining(QStringLiteral("UDP socket opened")), 0);
    QVERIFY(mListener->term());
}

// A stop request is seen between two packets, so a sender that never pauses
// cannot keep the thread alive.
void TestListener::stopWhileFlooded()
{
    quint16 port = 0;
    QVERIFY(startListening(&port));
    mReceiver->mQueue = false;

    std::atomic<bool> flooding {true};
    std::thread flood([&] {
        QUdpSocket sender;
        const QByteArray bytes = WandTest::packet(9, "flood");
        while (flooding)
            sender.writeDatagram(bytes, QHostAddress(QHostAddress::LocalHost), port);
    });
    QTRY_VERIFY_WITH_TIMEOUT(mReceiver->mCount > 200, HANG_GUARD_MS);

    const bool stopped = mListener->term();
    if (!stopped)
        QVERIFY(mListener->waitUntilStopped());
    QVERIFY(mListener->isFinished());
    flooding = false;
    flood.join();
    QCOMPARE(LogCapture::count(QStringLiteral("UDP thread exits run")), 1);
}

// A receiver that does not return keeps the thread from stopping: term()
// reports it, and waitUntilStopped() is the way to wait for the end. Packets
// that were pending when the stop was requested are not handed out.
void TestListener::stuckReceiverKeepsThreadAlive()
{
    QSemaphore gate;
    mReceiver->mGate = &gate;
    quint16 port = 0;
    QVERIFY(startListening(&port));
    QVERIFY(send(QStringLiteral("127.0.0.1"), port, WandTest::packet(1, "down3")));
    QTRY_VERIFY_WITH_TIMEOUT(LogCapture::has(QStringLiteral("Wand ID: 1 , RFID: \"down3\"")), HANG_GUARD_MS);
    for (int i = 0; i < 3; ++i)
        QVERIFY(send(QStringLiteral("127.0.0.1"), port, WandTest::packet(1, "down3")));

    QVERIFY(!mListener->term());
    QVERIFY(mListener->isRunning());
    QCOMPARE(LogCapture::count(QStringLiteral("UDP thread couldn't be stopped, exiting anyway")), 1);

    gate.release(100);
    QVERIFY(mListener->waitUntilStopped());
    QVERIFY(mListener->isFinished());
    QCOMPARE(mReceiver->mCount.load(), 1);
    QVERIFY(mListener->term());
}

void TestListener::lifecycle()
{
    // Not started: term() has nothing to do.
    QVERIFY(mListener->term());
    QCOMPARE(LogCapture::count(QStringLiteral("Stopping UDP thread...")), 0);

    // term() twice: one stop.
    {
        UdpListener listener;
        listener.setPort(freePort());
        listener.start();
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::countContaining(QStringLiteral("UDP socket opened")) == 1,
                                 HANG_GUARD_MS);
        if (!listener.term())
            QVERIFY(listener.waitUntilStopped());
        QVERIFY(listener.term());
        QVERIFY(listener.isFinished());
        QCOMPARE(LogCapture::count(QStringLiteral("Stopping UDP thread...")), 1);
    }

    // Destroyed while running, without term().
    LogCapture::clear();
    {
        UdpListener listener;
        listener.setPort(freePort());
        listener.start();
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::countContaining(QStringLiteral("UDP socket opened")) == 1,
                                 HANG_GUARD_MS);
    }
    QCOMPARE(LogCapture::count(QStringLiteral("UDP thread exits run")), 1);
}

WAND_TEST_MAIN(TestListener)
#include "tst_listener.moc"
