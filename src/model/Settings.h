#pragma once

#include "SerializableRoot.h"

#include <QPoint>
#include <QSize>
#include <QString>

// Every user option, persisted in "options.json". A plain holder: the rest of
// the program reads (and for a few options writes) the fields directly; the
// options the sound engine confirms arrive through the slots. Values read
// that no part of the program can use are replaced with a warning: the
// frequencies, port and volume are brought into their ranges, an unknown
// view or check interval and a default patch that is not a plain file name
// become the defaults.
class Settings : public SerializableRoot
{
    Q_OBJECT

public:
    explicit Settings(QObject* parent = nullptr);
    ~Settings() override;

    using SerializableRoot::init;
    bool init();

    void read(const QJsonObject& json) override;
    void write(QJsonObject& json) const override;

    // Logs "Option <key> value <value> is not usable, using <used> instead."
    static void warnReplaced(const char* key, const QString& value, const QString& used);
    // "first,second", the form of windowSize and windowPos.
    static QString pairText(int first, int second);

    // Keeps a copy of the file as "options.json.bad" before it is replaced:
    // earlier copies move on to "options.json.bad.1" ... ".bad.4" (the
    // oldest beyond goes). False, with a log line, when no copy was made.
    bool keepBadCopy() const;

    int mAudioDevice;
    int mFramesPerBuffer;
    float mBaseFrequency;
    int mCalibrationFrequency;
    QString mBaseNote;
    float mMasterVolume;
    bool mMonophonic;
    QString mDefaultPatch;
    int mUdpPort;
    bool mCirclesView;
    int mAbsRelView;
    int mUpdateCheckInterval;
    QString mTSysLastUpdateCheck;
    QSize mWindowSize;
    QPoint mWindowPos;
    bool mWindowMaximized;
    // MIDI: the devices connected beside the program's own ports (by name,
    // empty for none), the port system ("auto", "alsa" or "jack"), the tuned
    // output's mode ("mpe" or "mts") and its pitch-bend range in semitones
    // (2 or 48).
    QString mMidiInput;
    QString mMidiOutput;
    QString mMidiApi;
    QString mMidiOutMode;
    int mMidiBendRange;

public slots:
    void onAudioDeviceChanged(int device);
    void onFramesPerBufferChanged(int frames);
    void onBaseFrequencyChanged(float frequency);
    void onCalibrationFrequencyChanged(int frequency);
    void onBaseNoteChanged(QString note);
    void onMasterVolumeChanged(float volume);
    void onMonophonicChanged(bool monophonic);
};
