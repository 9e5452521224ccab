#include "UdpListener.h"

#include "ArborContext.h"
#include "ArborEvent.h"
#include "RfidMap.h"
#include "Settings.h"
#include "WandDatagram.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>

namespace
{
// Lets the first few warnings of one kind through each second and counts the
// rest, which one line sums up once the second is over: a flood of bad
// packets cannot flood the log.
class WarningLimiter
{
public:
    explicit WarningLimiter(const char* what) : mWhat(what) {}
    bool admit()
    {
        flushIfDue();
        if (mAdmitted < BURST) {
            ++mAdmitted;
            return true;
        }
        ++mSuppressed;
        return false;
    }
    void flushIfDue()
    {
        if (mWindow.isValid() && mWindow.elapsed() < 1000)
            return;
        if (mSuppressed > 0)
            qWarning().noquote() << QStringLiteral("%1 more %2 in the last second").arg(mSuppressed).arg(QLatin1String(mWhat));
        mWindow.start();
        mAdmitted = 0;
        mSuppressed = 0;
    }

private:
    static constexpr int BURST = 10;
    const char* mWhat;
    QElapsedTimer mWindow;
    int mAdmitted = 0;
    int mSuppressed = 0;
};
} // namespace

UdpListener::UdpListener(QObject* parent)
    : QThread(parent)
    , mStopRequested(false)
    , mPort(0)
    , mPortSet(false)
{
}

UdpListener::~UdpListener()
{
    if (isRunning())
        waitUntilStopped();
}

void UdpListener::setPort(int port)
{
    mPort = port;
    mPortSet = true;
}

int UdpListener::port() const
{
    return mPortSet ? mPort.load() : ArborContext::settings()->mUdpPort;
}

bool UdpListener::term()
{
    if (!isRunning())
        return true;
    qWarning() << "Stopping UDP thread...";
    mStopRequested = true;
    if (!wait(STOP_TIMEOUT_MS)) {
        qCritical() << "UDP thread couldn't be stopped, exiting anyway";
        return false;
    }
    return true;
}

bool UdpListener::waitUntilStopped()
{
    mStopRequested = true;
    wait();
    return true;
}

void UdpListener::run()
{
    qWarning() << "UDP thread starting...";

    RfidMap map;
    if (!map.init()) {
        const QString message = QStringLiteral("Failed to load RFID mapping file, UDP thread shutting down.");
        qCritical().noquote() << message;
        emit fatalError(message);
        return;
    }

    const int configuredPort = port();
    QUdpSocket socket;
    const bool portInRange = configuredPort >= 1 && configuredPort <= 65535;
    if (!portInRange || !socket.bind(QHostAddress::Any, static_cast<quint16>(configuredPort))) {
        const QString message =
            QStringLiteral("Can't open UDP socket on port %1. UDP thread shutting down.").arg(configuredPort);
        qCritical().noquote() << message
                              << (portInRange ? socket.errorString() : QStringLiteral("(ports are 1 to 65535)"));
        emit fatalError(message);
        map.term();
        return;
    }
    qWarning() << "UDP socket opened on port" << configuredPort;

    char buffer[WandDatagram::SIZE];
    WarningLimiter wrongSize("UDP packets of a wrong size discarded");
    WarningLimiter unmapped("RFID tags not in the mapping table ignored");
    while (!mStopRequested) {
        if (!socket.waitForReadyRead(WAIT_MS)) {
            wrongSize.flushIfDue();
            unmapped.flushIfDue();
            if (socket.error() != QAbstractSocket::SocketTimeoutError) {
                // Keeps a socket in a persistent error state from spinning.
                qWarning() << "UDP socket error:" << socket.errorString();
                msleep(100);
            }
            continue;
        }
        while (!mStopRequested && socket.hasPendingDatagrams()) {
            const qint64 size = socket.pendingDatagramSize();
            if (size != WandDatagram::SIZE) {
                if (wrongSize.admit())
                    qWarning().noquote() << QStringLiteral("Discarding UDP packet due to wrong size %1").arg(size);
                socket.readDatagram(nullptr, 0);
                continue;
            }
            QHostAddress sender;
            const qint64 read = socket.readDatagram(buffer, sizeof(buffer), &sender);
            int wandId = 0;
            QString tag;
            if (!parseWandDatagram(buffer, read, &wandId, &tag)) {
                qWarning() << "Couldn't read UDP packet:" << socket.errorString();
                continue;
            }
            qDebug().noquote() << QStringLiteral("Received a UDP packet from %1 on port %2")
                                      .arg(sender.toString(), QString::number(configuredPort));
            qDebug() << "Wand ID:" << wandId << ", RFID:" << tag;
            const ArborEvent* event = map.lookup(tag);
            if (!event) {
                if (unmapped.admit())
                    qWarning().noquote() << QStringLiteral("RFID %1 not found in mapping table. Ignoring.").arg(tag);
                continue;
            }
            emit eventReceived(event);
        }
    }

    socket.close();
    map.term();
    qWarning() << "UDP thread exits run";
}
