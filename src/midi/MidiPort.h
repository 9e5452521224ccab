#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

#include <RtMidi.h>

// One MIDI port of the program, "Arbor in" or "Arbor out", on the port system
// the midiApi option names. Without a chosen device the port stands open on
// its own (a virtual port) for other programs to connect to; with one, the
// port is opened connected to that device. A chosen device that disappears
// is reported once: the port falls back to standing on its own, and connects
// again when the device returns.
//
// GUI thread only. RtMidi reports its errors through a callback here, which
// logs them; nothing of RtMidi's throws past this class.
class MidiPort : public QObject
{
    Q_OBJECT

public:
    enum Direction { Input, Output };
    // How often the chosen device is looked for.
    static constexpr int WATCH_MS = 1000;

    MidiPort(Direction direction, const QString& portName, QObject* parent = nullptr);
    ~MidiPort() override;

    // Creates the RtMidi object for `api` ("auto", "alsa" or "jack") and
    // opens the port, connected to `device` when it is listed. False when
    // the port could not be opened; the reasons are debug lines, and the
    // caller tells the user once for all its ports.
    bool init(const QString& api, const QString& device);
    void term();

    // "" for none. Connects at once when the device is listed, else as soon
    // as it appears.
    void setDevice(const QString& device);
    QString device() const { return mDevice; }
    bool isConnected() const { return mConnected; }
    bool isOpen() const;
    // The name of the port system in use ("alsa", "jack"), empty before init.
    QString apiName() const;

    // The devices this port can connect to (the other programs' ports).
    QStringList devices() const;

    // The RtMidi object (RtMidiIn or RtMidiOut), null before a successful
    // init. Set callbacks on an input before init opens it.
    RtMidi* midi() const { return mMidi; }
    RtMidiIn* input() const { return mIn.get(); }
    RtMidiOut* output() const { return mOut.get(); }

    // The port system "auto" chooses: the ALSA sequencer where the machine
    // has one, else JACK.
    static RtMidi::Api chooseApi(const QString& option);

signals:
    // The chosen device went away, or the port connected to a device (one
    // that came back, or another one).
    void connectedChanged(bool connected);
    // The port is about to close to be reopened (another device, or none):
    // the last moment to send to the device it leaves.
    void aboutToReopen();
    // Emitted (on the GUI thread, before the port opens again) whenever the
    // port was closed to be reopened: no RtMidi callback runs meanwhile.
    void closedForReopen();

private:
    void reopen();
    void watch();
    int indexOf(const QString& device) const;
    static void onError(RtMidiError::Type type, const std::string& text, void* self);

    Direction mDirection;
    QString mPortName;
    QString mDevice;
    bool mOpen = false;
    bool mFailed = false; // an error was reported since the last reopen
    bool mStarting = false; // within init: errors are debug lines
    bool mConnected = false;
    bool mMissingReported = false;
    std::unique_ptr<RtMidiIn> mIn;
    std::unique_ptr<RtMidiOut> mOut;
    RtMidi* mMidi = nullptr; // the one of the two in use
    RtMidi::Api mApi = RtMidi::UNSPECIFIED;
    QTimer mWatch;
};
