#pragma once

#include <QString>
#include <QThread>

#include <atomic>

class ArborEvent;

// The wand thread. run() loads the tag map (rfid_map.json), binds a UDP
// socket on every local address (IPv4 and IPv6) and, until a stop is
// requested, turns each 72-byte wand packet into the mapped engine event.
//
// eventReceived is meant for a direct connection: the receiver runs on this
// thread and must copy the event before returning, because the event belongs
// to the thread's tag map, which is gone when run() returns.
//
// Stopping, for the owner (GUI thread), before the receiver of eventReceived
// (the engine and its serial ring) is destroyed:
//
//     if (!listener.term())              // waits up to STOP_TIMEOUT_MS
//         listener.waitUntilStopped();   // must not destroy the engine yet
//
// term() returns false, after the critical line "UDP thread couldn't be
// stopped, exiting anyway", when the thread still runs; it may then still
// emit eventReceived, so the engine must outlive it until waitUntilStopped()
// returns (or isRunning() is false). The loop tests the stop flag before
// every packet and after every wait of at most WAIT_MS, so a steady flood of
// packets cannot keep it going and waitUntilStopped() returns as soon as the
// receiver of the packet in hand returns. The destructor does the same wait.
class UdpListener : public QThread
{
    Q_OBJECT

public:
    static constexpr int WAIT_MS = 1000;        // longest wait for a packet
    static constexpr int STOP_TIMEOUT_MS = 2000; // how long term() waits

    explicit UdpListener(QObject* parent = nullptr);
    // Stops the thread and waits for it if it still runs.
    ~UdpListener() override;

    // Port to listen on instead of the udpPort option (any int; values
    // outside 1..65535 make run() fail). Call before start().
    void setPort(int port);
    // The port set with setPort, or the udpPort option when none was set.
    int port() const;

    // Requests a stop and waits up to STOP_TIMEOUT_MS for the thread to end.
    // Returns true when the thread is not running afterwards (also when it
    // never started); false, after a critical log line, when it still runs.
    // Safe to call more than once. A stopped listener is not restarted.
    bool term();
    // Requests a stop and blocks until the thread has ended. Returns true.
    bool waitUntilStopped();
    bool stopRequested() const { return mStopRequested.load(); }

signals:
    void eventReceived(const ArborEvent* event);
    void fatalError(QString message);

protected:
    void run() override;

private:
    std::atomic<bool> mStopRequested;
    std::atomic<int> mPort;
    std::atomic<bool> mPortSet;
};
