#include "MidiPort.h"

#include <QDebug>
#include <QFileInfo>

MidiPort::MidiPort(Direction direction, const QString& portName, QObject* parent)
    : QObject(parent)
    , mDirection(direction)
    , mPortName(portName)
{
    mWatch.setInterval(WATCH_MS);
    connect(&mWatch, &QTimer::timeout, this, &MidiPort::watch);
}

MidiPort::~MidiPort()
{
    term();
}

RtMidi::Api MidiPort::chooseApi(const QString& option)
{
    if (option == QLatin1String("alsa"))
        return RtMidi::LINUX_ALSA;
    if (option == QLatin1String("jack"))
        return RtMidi::UNIX_JACK;
    return QFileInfo::exists(QStringLiteral("/dev/snd/seq")) ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

bool MidiPort::init(const QString& api, const QString& device)
{
    term();
    const RtMidi::Api chosen = chooseApi(api);
    const std::string client = "Arbor";
    // RtMidi's constructors report a port system they cannot open by
    // throwing; from then on its errors come through onError.
    try {
        if (mDirection == Input) {
            mIn.reset(new RtMidiIn(chosen, client));
            mMidi = mIn.get();
        } else {
            mOut.reset(new RtMidiOut(chosen, client));
            mMidi = mOut.get();
        }
    } catch (const RtMidiError& error) {
        qDebug().noquote() << QStringLiteral("MIDI is off: the %1 port system could not be used (%2).")
                                    .arg(QString::fromStdString(RtMidi::getApiDisplayName(chosen)),
                                         QString::fromStdString(error.getMessage()));
        return false;
    }
    mApi = chosen;
    mMidi->setErrorCallback(&MidiPort::onError, this);
    mDevice = device;
    mStarting = true; // what goes wrong now the caller reports, once for all ports
    reopen();
    mStarting = false;
    mWatch.start();
    return isOpen();
}

void MidiPort::term()
{
    mWatch.stop();
    if (mMidi)
        mMidi->closePort();
    mMidi = nullptr;
    mOpen = false;
    mIn.reset();
    mOut.reset();
    mApi = RtMidi::UNSPECIFIED;
    mConnected = false;
}

bool MidiPort::isOpen() const
{
    return mMidi && mOpen;
}

QString MidiPort::apiName() const
{
    return mMidi ? QString::fromStdString(RtMidi::getApiName(mApi)) : QString();
}

void MidiPort::setDevice(const QString& device)
{
    if (device == mDevice && (device.isEmpty() || mConnected))
        return;
    mDevice = device;
    mMissingReported = false;
    reopen();
}

QStringList MidiPort::devices() const
{
    QStringList names;
    if (!mMidi)
        return names;
    const unsigned count = mMidi->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        const QString name = QString::fromStdString(mMidi->getPortName(i));
        // Our own ports are no devices to connect to.
        if (!name.isEmpty() && !name.startsWith(QLatin1String("Arbor")))
            names << name;
    }
    return names;
}

int MidiPort::indexOf(const QString& device) const
{
    const unsigned count = mMidi->getPortCount();
    for (unsigned i = 0; i < count; ++i)
        if (QString::fromStdString(mMidi->getPortName(i)) == device)
            return int(i);
    return -1;
}

void MidiPort::reopen()
{
    if (!mMidi)
        return;
    const bool wasConnected = mConnected;
    const int index = mDevice.isEmpty() ? -1 : indexOf(mDevice);
    if (mOpen)
        emit aboutToReopen();
    mMidi->closePort();
    emit closedForReopen();
    // Whether it worked shows in the errors reported meanwhile: RtMidi's
    // JACK API never calls a port of its own open.
    mFailed = false;
    if (index >= 0)
        mMidi->openPort(unsigned(index), mPortName.toStdString());
    else
        mMidi->openVirtualPort(mPortName.toStdString());
    mOpen = !mFailed;
    mConnected = index >= 0 && mOpen;
    if (mConnected) {
        mMissingReported = false;
        qWarning().noquote() << QStringLiteral("MIDI %1 connected to \"%2\".")
                                    .arg(mDirection == Input ? QStringLiteral("input") : QStringLiteral("output"), mDevice);
    } else if (!mDevice.isEmpty() && !mMissingReported) {
        mMissingReported = true;
        qWarning().noquote() << QStringLiteral("MIDI device \"%1\" is not there; \"%2\" stays open and connects to it when it returns.")
                                    .arg(mDevice, mPortName);
    }
    // A switch from one device to another is a connection too.
    if (wasConnected != mConnected || mConnected)
        emit connectedChanged(mConnected);
}

void MidiPort::watch()
{
    if (!mMidi || mDevice.isEmpty())
        return;
    const bool listed = indexOf(mDevice) >= 0;
    if (listed != mConnected)
        reopen();
}

void MidiPort::onError(RtMidiError::Type type, const std::string& text, void* self)
{
    auto* port = static_cast<MidiPort*>(self);
    const QString line = QStringLiteral("MIDI (%1): %2").arg(port->mPortName, QString::fromStdString(text));
    const bool failed = type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING;
    port->mFailed = port->mFailed || failed;
    if (failed && !port->mStarting)
        qWarning().noquote() << line;
    else
        qDebug().noquote() << line;
}
