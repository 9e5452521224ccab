#pragma once

#include "Arbor.h"
#include "ArborVersion.h"
#include "MidiInput.h"
#include "MidiMap.h"
#include "MidiOutput.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"
#include "Settings.h"
#include "UdpListener.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

class QMainWindow;

// The application object: owns every long-lived model and engine object,
// starts them in a fixed order (init), runs the event loop (exec) and stops
// them again (term). Other code reaches it through qApp.
//
// Start-up failures show a modal critical message box. Setting the
// environment variable ARBOR_NO_MODAL_BOXES=1 logs the box's text instead of
// showing it, so that headless runs (tests, offscreen platform) never block.
class VudiruArborApplication : public QApplication
{
    Q_OBJECT

public:
    VudiruArborApplication(int& argc, char** argv);
    ~VudiruArborApplication() override;

    // The start-up sequence; true when the program may run.
    bool init();
    // The shutdown sequence after the event loop. Safe to call twice.
    void term();

    QString version() const { return QStringLiteral(ARBOR_VERSION_STRING); }
    // Per-user writable folder of options, lattice, tag map, log and patches.
    static QString configDir();
    // Folder of the executable, with the shell and voice patches, the style
    // sheets and the note glyphs.
    static QString resourceDir();

    Arbor* arbor() { return &mArbor; }
    UdpListener* listener() { return &mListener; }
    PdPlayer* player() { return &mPlayer; }
    PaAudioOutput* output() { return &mOutput; }
    Settings* settings() { return &mSettings; }
    MidiMap* midiMap() { return &mMidiMap; }
    MidiInput* midiInput() { return &mMidiInput; }
    MidiOutput* midiOutput() { return &mMidiOutput; }
    // Null until the main window was created during init().
    QMainWindow* mainWindow() const { return mMainWindow; }

    // The command-line flags: lower-case module names (or "all") whose
    // messages go to the diagnostics window.
    const QSet<QString>& flags() const { return mFlags; }
    // Replaces the flag set. Only while no other thread logs (tests).
    // The modules whose debug output is logged; the engine composes its
    // audio-thread lines only when it is one of them.
    void setFlags(const QSet<QString>& flags);
    // Each argument without one leading "-", in lower case.
    static QSet<QString> parseFlags(const QStringList& arguments);

    // Start-up steps, public so that they can be run one by one.
    bool createConfigDir();          // steps 3-5: folder, its log lines, the failure box
    bool openLogFile();              // step 6: log file, header, message handler
    bool loadStyleSheet();           // step 7 (also the tweak reload)
    bool initSettings();             // step 8: false when the saved options could not be read
    // Saves the options at shutdown. The user is told once, here or in
    // initSettings (when the folder or file is not writable, or the file
    // must be left alone), that the options cannot be saved, and where.
    void saveSettings();
    bool initPatchFolder();          // step 12
    static bool initPatchFolder(const QString& shellSourceDir, const QString& patchDir);
    static bool copyFile(const QString& source, const QString& destination);
    // The time copyFile compares: the birth time where the file system keeps
    // one, else the last status change, else the last modification.
    static QDateTime creationTime(const QString& path);
    static QStringList shellPatchNames();
    void syncFromSettings();
    // The MIDI map for the lattice, and the MIDI ports (after the engine and
    // the lattice, once the window shows). What cannot start is logged and
    // costs only MIDI.
    void initMidiMap();
    void startMidi();
    // Brings the saved main window size within the available area of the
    // screen the window opens on (the one at the saved position, else the
    // primary one) and the position onto it, so that the whole window is on
    // that screen; each value changed is logged. "-1,-1" (none saved) stays.
    static void fitWindowToScreen(Settings& settings);
    void syncToSettings();

    QString logFilePath() const;

    // A critical message box with the application name as title and an OK
    // button, or a log line when ARBOR_NO_MODAL_BOXES is set.
    static void showCriticalMessage(const QString& text);
    static bool modalBoxesSuppressed();

    // Installed as Qt's message handler while the log file is open.
    static void loggingMessageHandler(QtMsgType type, const QMessageLogContext& context,
                                      const QString& message);

signals:
    void diagnosticMessage(const QString& text);

public slots:
    void onUdpFatalError(QString error);
    // The sound device stopped responding and was given up: offers to reopen
    // it or the default device.
    void onAudioDeviceStopped(int deviceIndex);

private:
    bool fail(const QString& text);
    void createMainWindow();
    void stopListener();
    void stopWithoutSaving();
    void writeLogEntry(QtMsgType type, const QString& stamp, const QString& message);
    void tellOptionsNotSaved();

    // Constructed in this order, destroyed in reverse.
    Arbor mArbor;
    UdpListener mListener;
    PdPlayer mPlayer;
    PaAudioOutput mOutput;
    Settings mSettings;
    MidiMap mMidiMap;
    MidiInput mMidiInput{mPlayer}; // writes into the engine's MIDI ring: stopped before the engine
    MidiOutput mMidiOutput;
    QSet<QString> mFlags;
    QString mRecordPath;   // from "--record FILE": recorded from start-up
    QFile mLogFile;
    QMutex mLogMutex;

    QMainWindow* mMainWindow = nullptr;

    bool mPlayerInitialised = false;
    bool mOutputInitialised = false;
    bool mTerminated = false;
    bool mToldOptionsNotSaved = false;
};
