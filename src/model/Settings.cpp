#include "Settings.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QRegularExpression>
#include <QStringList>
#include <QVariant>

#include <cmath>
#include <limits>

namespace
{
// A JSON number that fits an int, truncated toward zero. Anything else
// (wrong type, out of range) leaves `field` as it is.
void readInt(const QJsonObject& json, const char* key, int& field)
{
    const QJsonValue value = json.value(QLatin1String(key));
    if (!value.isDouble())
        return;
    const double d = std::trunc(value.toDouble());
    if (!std::isfinite(d) || d < double(std::numeric_limits<int>::min())
        || d > double(std::numeric_limits<int>::max())) {
        qWarning() << "Option" << key << "value" << value.toDouble() << "is out of range, ignored";
        return;
    }
    field = int(d);
}

void readFloat(const QJsonObject& json, const char* key, float& field)
{
    const QJsonValue value = json.value(QLatin1String(key));
    if (!value.isDouble())
        return;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::fabs(d) > double(std::numeric_limits<float>::max())) {
        qWarning() << "Option" << key << "value" << d << "is out of range, ignored";
        return;
    }
    field = float(d);
}

void readBool(const QJsonObject& json, const char* key, bool& field)
{
    const QJsonValue value = json.value(QLatin1String(key));
    if (value.isBool())
        field = value.toBool();
}

void readString(const QJsonObject& json, const char* key, QString& field)
{
    const QJsonValue value = json.value(QLatin1String(key));
    if (value.isString())
        field = value.toString();
}

// "a,b" into two ints; fewer than two parts leaves the fields unchanged, a
// part that is not a (32-bit) number gives 0.
bool readPair(const QJsonObject& json, const char* key, int& first, int& second)
{
    const QStringList parts = json.value(QLatin1String(key)).toString().split(QLatin1Char(','));
    if (parts.size() < 2)
        return false;
    first = parts.at(0).toInt(nullptr, 10);
    second = parts.at(1).toInt(nullptr, 10);
    return true;
}

const int DEFAULT_ABS_REL_VIEW = 1;
const int DEFAULT_UPDATE_CHECK_INTERVAL = 4;
const char* const DEFAULT_PATCH = "Sine.pd";
// Copies of unreadable options files kept at most.
const int BAD_COPIES = 5;

// Replaces field by used when they differ, with a warning.
template <typename T> void use(const char* key, T& field, const T& used)
{
    if (field == used)
        return;
    Settings::warnReplaced(key, QVariant(field).toString(), QVariant(used).toString());
    field = used;
}

// A file name alone, so that it names a file in the patch folder itself.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QRegularExpression(QStringLiteral("[/\\\\:]")));
}
}

Settings::Settings(QObject* parent)
    : SerializableRoot(parent)
    , mAudioDevice(-1)
    , mFramesPerBuffer(256)
    , mBaseFrequency(440.0f)
    , mCalibrationFrequency(440)
    , mBaseNote(QStringLiteral("A 4"))
    , mMasterVolume(0.75f)
    , mMonophonic(false)
    , mDefaultPatch(QLatin1String(DEFAULT_PATCH))
    , mUdpPort(8888)
    , mCirclesView(false)
    , mAbsRelView(DEFAULT_ABS_REL_VIEW)
    , mUpdateCheckInterval(DEFAULT_UPDATE_CHECK_INTERVAL)
    , mTSysLastUpdateCheck()
    , mWindowSize(-1, -1)
    , mWindowPos(-1, -1)
    , mWindowMaximized(false)
    , mMidiApi(QStringLiteral("auto"))
    , mMidiOutMode(QStringLiteral("mpe"))
    , mMidiBendRange(2)
{
}

Settings::~Settings() = default;

bool Settings::init()
{
    return SerializableRoot::init(QStringLiteral("options.json"));
}

void Settings::read(const QJsonObject& json)
{
    readInt(json, "audioDevice", mAudioDevice);
    readInt(json, "framesPerBuffer", mFramesPerBuffer);
    readFloat(json, "baseFrequency", mBaseFrequency);
    readInt(json, "calibrationFrequency", mCalibrationFrequency);
    readString(json, "baseNote", mBaseNote);
    readFloat(json, "masterVolume", mMasterVolume);
    readBool(json, "monophonic", mMonophonic);
    readString(json, "defaultPatch", mDefaultPatch);
    readInt(json, "udpPort", mUdpPort);
    readBool(json, "circlesView", mCirclesView);
    readInt(json, "absRelView", mAbsRelView);
    readInt(json, "updateCheckInterval", mUpdateCheckInterval);
    readString(json, "tSysLastUpdateCheck", mTSysLastUpdateCheck);
    int a = 0;
    int b = 0;
    if (readPair(json, "windowSize", a, b))
        mWindowSize = QSize(a, b);
    if (readPair(json, "windowPos", a, b))
        mWindowPos = QPoint(a, b);
    readBool(json, "windowMaximized", mWindowMaximized);
    readString(json, "midiInput", mMidiInput);
    readString(json, "midiOutput", mMidiOutput);
    readString(json, "midiApi", mMidiApi);
    readString(json, "midiOutMode", mMidiOutMode);
    readInt(json, "midiBendRange", mMidiBendRange);

    // Values no part of the program can use are replaced, each with a warning.
    use("baseFrequency", mBaseFrequency, qBound(20.0f, mBaseFrequency, 20000.0f));
    use("calibrationFrequency", mCalibrationFrequency, qBound(300, mCalibrationFrequency, 600));
    use("masterVolume", mMasterVolume, qBound(0.0f, mMasterVolume, 1.0f));
    use("defaultPatch", mDefaultPatch, isPlainFileName(mDefaultPatch) ? mDefaultPatch : QLatin1String(DEFAULT_PATCH));
    use("udpPort", mUdpPort, qBound(1, mUdpPort, 65535));
    use("absRelView", mAbsRelView, mAbsRelView >= 0 && mAbsRelView <= 2 ? mAbsRelView : DEFAULT_ABS_REL_VIEW);
    const bool known = mUpdateCheckInterval >= 0 && mUpdateCheckInterval <= 5;
    use("updateCheckInterval", mUpdateCheckInterval, known ? mUpdateCheckInterval : DEFAULT_UPDATE_CHECK_INTERVAL);
    const QStringList apis {QStringLiteral("auto"), QStringLiteral("alsa"), QStringLiteral("jack")};
    use("midiApi", mMidiApi, apis.contains(mMidiApi) ? mMidiApi : apis.first());
    const QStringList modes {QStringLiteral("mpe"), QStringLiteral("mts")};
    use("midiOutMode", mMidiOutMode, modes.contains(mMidiOutMode) ? mMidiOutMode : modes.first());
    use("midiBendRange", mMidiBendRange, mMidiBendRange == 48 ? 48 : 2);
}

bool Settings::keepBadCopy() const
{
    const QString bad = filePath() + QStringLiteral(".bad");
    auto numbered = [&bad](int n) { return n ? bad + QLatin1Char('.') + QString::number(n) : bad; };
    for (int n = BAD_COPIES - 1; n > 0; --n) {
        const QString from = numbered(n - 1);
        const QString to = numbered(n);
        if (!QFileInfo::exists(from))
            continue;
        if (!QFileInfo(from).isFile() || (QFileInfo::exists(to) && !QFile::remove(to)) || !QFile::rename(from, to)) {
            qCritical().noquote() << QStringLiteral("Couldn't move %1 to %2.").arg(from, to);
            return false;
        }
    }
    return backupFile(QStringLiteral(".bad"));
}

QString Settings::pairText(int first, int second)
{
    return QStringLiteral("%1,%2").arg(first).arg(second);
}

void Settings::warnReplaced(const char* key, const QString& value, const QString& used)
{
    qWarning().noquote() << QStringLiteral("Option %1 value %2 is not usable, using %3 instead.")
                                .arg(QLatin1String(key), value, used);
}

void Settings::write(QJsonObject& json) const
{
    json.insert(QStringLiteral("audioDevice"), mAudioDevice);
    json.insert(QStringLiteral("framesPerBuffer"), mFramesPerBuffer);
    json.insert(QStringLiteral("baseFrequency"), double(mBaseFrequency));
    json.insert(QStringLiteral("calibrationFrequency"), mCalibrationFrequency);
    json.insert(QStringLiteral("baseNote"), mBaseNote);
    json.insert(QStringLiteral("masterVolume"), double(mMasterVolume));
    json.insert(QStringLiteral("monophonic"), mMonophonic);
    json.insert(QStringLiteral("defaultPatch"), mDefaultPatch);
    json.insert(QStringLiteral("udpPort"), mUdpPort);
    json.insert(QStringLiteral("circlesView"), mCirclesView);
    json.insert(QStringLiteral("absRelView"), mAbsRelView);
    json.insert(QStringLiteral("updateCheckInterval"), mUpdateCheckInterval);
    json.insert(QStringLiteral("tSysLastUpdateCheck"), mTSysLastUpdateCheck);
    json.insert(QStringLiteral("windowSize"), pairText(mWindowSize.width(), mWindowSize.height()));
    json.insert(QStringLiteral("windowPos"), pairText(mWindowPos.x(), mWindowPos.y()));
    json.insert(QStringLiteral("windowMaximized"), mWindowMaximized);
    json.insert(QStringLiteral("midiInput"), mMidiInput);
    json.insert(QStringLiteral("midiOutput"), mMidiOutput);
    json.insert(QStringLiteral("midiApi"), mMidiApi);
    json.insert(QStringLiteral("midiOutMode"), mMidiOutMode);
    json.insert(QStringLiteral("midiBendRange"), mMidiBendRange);
}

void Settings::onAudioDeviceChanged(int device)
{
    if (device != mAudioDevice)
        mAudioDevice = device;
}

void Settings::onFramesPerBufferChanged(int frames)
{
    if (frames != mFramesPerBuffer)
        mFramesPerBuffer = frames;
}

void Settings::onBaseFrequencyChanged(float frequency)
{
    if (frequency != mBaseFrequency)
        mBaseFrequency = frequency;
}

void Settings::onCalibrationFrequencyChanged(int frequency)
{
    if (frequency != mCalibrationFrequency)
        mCalibrationFrequency = frequency;
}

void Settings::onBaseNoteChanged(QString note)
{
    if (note != mBaseNote)
        mBaseNote = note;
}

void Settings::onMasterVolumeChanged(float volume)
{
    if (volume != mMasterVolume)
        mMasterVolume = volume;
}

void Settings::onMonophonicChanged(bool monophonic)
{
    if (monophonic != mMonophonic)
        mMonophonic = monophonic;
}
