#include "VudiruArborApplication.h"

#include "ArborContext.h"
#include "ArborEvent.h"
#include "ArborPath.h"
#include "ArborRatio.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPalette>
#include <QList>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include "ArborView.h"
#include "MainWindow.h"
#include "Recorder.h"
#include "UpdaterPrompt.h"

VudiruArborApplication::VudiruArborApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Elmsby Vudiru Arbor"));
    setApplicationVersion(version());

    // QApplication has already taken its own options (-platform, -style ...)
    // out of argv; what is left are module names for the diagnostics.
    // "--record FILE" is taken out first.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--record") == 0 && i + 1 < argc)
            mRecordPath = QString::fromLocal8Bit(argv[++i]);
        else
            arguments << QString::fromLocal8Bit(argv[i]);
    }
    setFlags(parseFlags(arguments));

    mPlayer.setOutput(&mOutput);
    ArborContext::setLattice(&mArbor);
    ArborContext::setSettings(&mSettings);

    Q_INIT_RESOURCE(resources);
}

VudiruArborApplication::~VudiruArborApplication()
{
    delete mMainWindow;
    mMainWindow = nullptr;
    if (!mTerminated)
        stopWithoutSaving();
    qInstallMessageHandler(nullptr);
    if (ArborContext::lattice() == &mArbor)
        ArborContext::setLattice(nullptr);
    if (ArborContext::settings() == &mSettings)
        ArborContext::setSettings(nullptr);
}

QSet<QString> VudiruArborApplication::parseFlags(const QStringList& arguments)
{
    QSet<QString> flags;
    for (QString argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            argument.remove(0, 1);
        flags.insert(argument.toLower());
    }
    return flags;
}

void VudiruArborApplication::setFlags(const QSet<QString>& flags)
{
    mFlags = flags;
    PdPlayer::sAudioDebug = flags.contains(QStringLiteral("all")) || flags.contains(QStringLiteral("pdplayer"));
}

QString VudiruArborApplication::configDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

QString VudiruArborApplication::resourceDir()
{
    return QCoreApplication::applicationDirPath();
}

QStringList VudiruArborApplication::shellPatchNames()
{
    return {QStringLiteral("arbor_main.pd"), QStringLiteral("arbor_vprep.pd"),
            QStringLiteral("equal-loudness.pd"), QStringLiteral("tb_compressor~.pd"),
            QStringLiteral("tb_compressorUI.pd")};
}

bool VudiruArborApplication::modalBoxesSuppressed()
{
    return UpdaterPrompt::boxesSuppressed();
}

void VudiruArborApplication::showCriticalMessage(const QString& text)
{
    if (modalBoxesSuppressed()) {
        qWarning().noquote() << "Message box not shown (ARBOR_NO_MODAL_BOXES):" << text;
        return;
    }
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(), text, QMessageBox::Ok);
}

bool VudiruArborApplication::fail(const QString& text)
{
    showCriticalMessage(text);
    qCritical().noquote() << text;
    return false;
}

bool VudiruArborApplication::createConfigDir()
{
    const bool created = QDir().mkpath(configDir());
    qDebug() << "Config dir:" << configDir();
    qDebug() << "Resource dir:" << resourceDir();
    if (!created) {
        qCritical() << "Couldn't create config directory" << configDir();
        showCriticalMessage(tr("Creation of config directory failed.\n\nThe program will now shut down."));
        return false;
    }
    return true;
}

bool VudiruArborApplication::init()
{
    qRegisterMetaType<ArborPath>("ArborPath");
    qRegisterMetaType<ArborRatio>("ArborRatio");
    qRegisterMetaType<QList<float>>();

    setStyle(QStringLiteral("Fusion"));
    // The widgets paint in software (no part of the program uses OpenGL):
    // showing the first window then loads no OpenGL stack, which took most
    // of the time to the window.
    setAttribute(Qt::AA_ForceRasterWidgets);

    if (!createConfigDir())
        return false;

    openLogFile();  // without a log file the program runs on with Qt's own handler

    if (!loadStyleSheet())
        return fail(tr("Initialisation of style sheet failed.\n\nThe program will now shut down."));

    initSettings();  // a bad options file only costs the options

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));

    mPlayerInitialised = mPlayer.init();
    if (!mPlayerInitialised)
        return fail(tr("PD initialisation failed. This means no audio playback will be possible.\n\n"
                       "The program will now shut down."));

    mOutputInitialised = mOutput.init(mSettings.mFramesPerBuffer, mSettings.mAudioDevice, &mPlayer);
    if (!mOutputInitialised) {
        fail(tr("Initialisation of audio device failed. This means no audio playback will be possible.\n\n"
                "The program will now shut down."));
        mOutput.logDevices();
        return false;
    }
    mOutput.logDevices();
    connect(&mOutput, &AudioOutput::deviceStopped, this, &VudiruArborApplication::onAudioDeviceStopped);

    if (!initPatchFolder())
        return fail(tr("Initialisation of patch directory failed. This means no audio playback will be "
                       "possible.\n\nThe program will now shut down."));

    if (!mArbor.init(&mPlayer))
        return fail(tr("Arbor initialisation failed.\n\nThe program will now shut down."));

    initMidiMap();
    createMainWindow();
    syncFromSettings();
    // Opening the MIDI ports (a JACK client each) takes some 15-30 ms: the
    // window is shown first.
    QTimer::singleShot(0, this, &VudiruArborApplication::startMidi);
    QString recordError;
    if (!mRecordPath.isEmpty() && !mOutput.recorder()->start(mRecordPath, &recordError))
        qCritical().noquote() << recordError;

    if (QFileInfo::exists(configDir() + QStringLiteral("/rfid_map.json"))) {
        connect(&mListener, &UdpListener::eventReceived, &mPlayer, &PdPlayer::queueEventSerial,
                Qt::DirectConnection);
        connect(&mListener, &UdpListener::fatalError, this, &VudiruArborApplication::onUdpFatalError,
                Qt::QueuedConnection);
        mListener.start(QThread::InheritPriority);
    }
    return true;
}

void VudiruArborApplication::tellOptionsNotSaved()
{
    if (mToldOptionsNotSaved)
        return;
    mToldOptionsNotSaved = true;
    showCriticalMessage(tr("The options cannot be saved to %1. Options changed in this run will be lost.")
                            .arg(QDir::toNativeSeparators(mSettings.filePath())));
}

void VudiruArborApplication::saveSettings()
{
    if (mSettings.saveOnTerm() && !mSettings.save())
        tellOptionsNotSaved();
}

bool VudiruArborApplication::initSettings()
{
    const bool read = mSettings.init();
    const QFileInfo file(mSettings.filePath());
    if (!QFileInfo(file.absolutePath()).isWritable() || (file.exists() && !file.isWritable()))
        tellOptionsNotSaved();
    if (read)
        return true;
    const QString text = tr("Failed to read saved options. All options will be reset to defaults.");
    showCriticalMessage(text);
    qCritical().noquote() << text;
    // The bad file is overwritten with the defaults at shutdown; keep the
    // user's copy first. When no copy can be made, leave the file alone.
    if (QFileInfo::exists(mSettings.filePath()) && !mSettings.keepBadCopy()) {
        qCritical().noquote() << "Couldn't keep a copy of" << mSettings.filePath()
                              << "- it will not be overwritten at shutdown, options changed in this run are lost.";
        mSettings.setSaveOnTerm(false);
        tellOptionsNotSaved();
    }
    return false;
}

void VudiruArborApplication::createMainWindow()
{
    mMainWindow = new MainWindow(&mArbor);
    mMainWindow->show();
}

bool VudiruArborApplication::loadStyleSheet()
{
    const QString generalPath = resourceDir() + QStringLiteral("/style.qss");
    if (!QFileInfo::exists(generalPath)) {
        qCritical().noquote() << QStringLiteral("Failed to find style sheet file %1.").arg(generalPath);
        return false;
    }
    QFile general(generalPath);
    if (!general.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Failed to open file %1 for reading.").arg(generalPath);
        return false;
    }
    QString sheet = QString::fromLatin1(general.readAll());

    const QString platformPath = resourceDir() + QStringLiteral("/style_mac.qss");
    if (!QFileInfo::exists(platformPath)) {
        qCritical().noquote() << QStringLiteral("Failed to find platform-specific style sheet file %1.")
                                     .arg(platformPath);
        return false;
    }
    QFile platform(platformPath);
    if (!platform.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << QStringLiteral("Failed to open file %1 for reading.").arg(platformPath);
        return false;
    }
    sheet += QString::fromLatin1(platform.readAll());

    // The sheet's light text needs dark grounds everywhere, also in windows
    // and parts it names no rule for (plain top-level windows, the file
    // dialog's parts): the palette gives them.
    QPalette dark(QColor(0x4a, 0x4a, 0x46), QColor(0x2e, 0x2e, 0x2c));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1d));
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x24));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        dark.setColor(role, QColor(0xe4, 0xe4, 0xd8));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa0, 0x98));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa0, 0xa0, 0x98));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa0, 0xa0, 0x98));
    dark.setColor(QPalette::ToolTipBase, QColor(0xf2, 0xf0, 0xe6));
    dark.setColor(QPalette::ToolTipText, QColor(0x20, 0x20, 0x20));
    setPalette(dark);
    setStyleSheet(sheet);
    return true;
}

bool VudiruArborApplication::initPatchFolder()
{
    return initPatchFolder(resourceDir() + QStringLiteral("/patches/shell"),
                           configDir() + QStringLiteral("/patch"));
}

bool VudiruArborApplication::initPatchFolder(const QString& shellSourceDir, const QString& patchDir)
{
    if (!QDir().mkpath(patchDir))
        return false;
    bool ok = true;
    for (const QString& name : shellPatchNames())
        ok = copyFile(shellSourceDir + QLatin1Char('/') + name, patchDir + QLatin1Char('/') + name) && ok;
    return ok;
}

QDateTime VudiruArborApplication::creationTime(const QString& path)
{
    const QFileInfo info(path);
    QDateTime time = info.birthTime();
    if (!time.isValid())
        time = info.metadataChangeTime();
    if (!time.isValid())
        time = info.lastModified();
    return time;
}

bool VudiruArborApplication::copyFile(const QString& source, const QString& destination)
{
    if (QFileInfo::exists(destination)) {
        if (!(creationTime(destination) < creationTime(source)))
            return true;  // the installed copy is as new or newer
        if (!QFile::remove(destination)) {
            qCritical() << "Failed to delete" << destination << "before copying";
            return false;
        }
    }
    if (!QFile::copy(source, destination)) {
        qCritical() << "Failed to copy" << source << "to" << destination;
        return false;
    }
    return true;
}

void VudiruArborApplication::fitWindowToScreen(Settings& settings)
{
    const QPoint none(-1, -1);
    const QScreen* screen = settings.mWindowPos == none ? nullptr : screenAt(settings.mWindowPos);
    if (!screen && !(screen = primaryScreen()))
        return;
    const QRect area = screen->availableGeometry();
    const QSize saved = settings.mWindowSize;
    if (saved != QSize(-1, -1)) {
        settings.mWindowSize = QSize(qBound(1, saved.width(), area.width()), qBound(1, saved.height(), area.height()));
        if (settings.mWindowSize != saved)
            Settings::warnReplaced("windowSize", Settings::pairText(saved.width(), saved.height()),
                                   Settings::pairText(settings.mWindowSize.width(), settings.mWindowSize.height()));
    }
    const QPoint at = settings.mWindowPos;
    if (at != none) {
        const QSize size = settings.mWindowSize.expandedTo(QSize(0, 0));
        settings.mWindowPos = QPoint(qBound(area.left(), at.x(), area.right() + 1 - size.width()),
                                     qBound(area.top(), at.y(), area.bottom() + 1 - size.height()));
        if (settings.mWindowPos != at)
            Settings::warnReplaced("windowPos", Settings::pairText(at.x(), at.y()),
                                   Settings::pairText(settings.mWindowPos.x(), settings.mWindowPos.y()));
    }
}

void VudiruArborApplication::syncFromSettings()
{
    fitWindowToScreen(mSettings);
    if (mMainWindow) {
        if (mSettings.mWindowSize.width() != -1 || mSettings.mWindowSize.height() != -1)
            mMainWindow->resize(mSettings.mWindowSize);
        if (mSettings.mWindowPos.x() != -1 || mSettings.mWindowPos.y() != -1)
            mMainWindow->move(mSettings.mWindowPos);
        if (mSettings.mWindowMaximized)
            mMainWindow->showMaximized();
    }

    const ArborEvent baseFrequency(ArborEvent::BaseFrequency, mSettings.mBaseFrequency);
    mPlayer.queueEventGui(&baseFrequency);
    const ArborEvent volume(ArborEvent::MasterVolumeSet, mSettings.mMasterVolume);
    mPlayer.queueEventGui(&volume);
    const ArborEvent monophonic(ArborEvent::Monophonic, mSettings.mMonophonic ? 1.0f : 0.0f);
    mPlayer.queueEventGui(&monophonic);

    connect(&mPlayer, &PdPlayer::baseFrequencyChanged, &mSettings, &Settings::onBaseFrequencyChanged,
            Qt::QueuedConnection);
    connect(&mPlayer, &PdPlayer::volumeChanged, &mSettings, &Settings::onMasterVolumeChanged,
            Qt::QueuedConnection);
    connect(&mPlayer, &PdPlayer::monophonicChanged, &mSettings, &Settings::onMonophonicChanged,
            Qt::QueuedConnection);
}

void VudiruArborApplication::initMidiMap()
{
    // The map logs what it cannot read, naming the file; the keys stay unbound.
    if (!mMidiMap.init(mArbor, mSettings.mBaseNote))
        qWarning() << "MIDI keys and controllers play nothing in this run";
}

void VudiruArborApplication::startMidi()
{
    const bool input = mMidiInput.init(mSettings.mMidiApi, mSettings.mMidiInput, &mMidiMap);
    connect(&mPlayer, &PdPlayer::noteToggled, &mMidiOutput, &MidiOutput::onNoteToggled, Qt::QueuedConnection);
    connect(&mPlayer, &PdPlayer::baseFrequencyChanged, &mMidiOutput, &MidiOutput::onBaseFrequencyChanged,
            Qt::QueuedConnection);
    const bool output = mMidiOutput.init(mSettings.mMidiApi, mSettings.mMidiOutput,
                                         MidiOutput::modeFromOption(mSettings.mMidiOutMode),
                                         mSettings.mMidiBendRange, mSettings.mBaseFrequency);
    if (input && output)
        return;
    // No ALSA sequencer, no JACK server: one line, and the program runs on
    // without MIDI. The ports' own reasons are debug lines.
    const bool jack = MidiPort::chooseApi(mSettings.mMidiApi) == RtMidi::UNIX_JACK;
    const QString ports = input    ? QStringLiteral("\"Arbor out\"")
                          : output ? QStringLiteral("\"Arbor in\"")
                                   : QStringLiteral("\"Arbor in\" and \"Arbor out\"");
    qWarning().noquote() << QStringLiteral("MIDI is off: %1 could not be opened on the %2 port system (%3). The "
                                           "port system is chosen on the MIDI page of the options; the argument "
                                           "\"midiport\" shows the details in the diagnostics window.")
                                .arg(ports, jack ? QStringLiteral("JACK") : QStringLiteral("ALSA"),
                                     jack ? QStringLiteral("is a JACK server running?")
                                          : QStringLiteral("does this computer have an ALSA sequencer?"));
}

void VudiruArborApplication::syncToSettings()
{
    if (mMainWindow) {
        if (auto* window = qobject_cast<MainWindow*>(mMainWindow)) {
            if (ArborView* view = window->arborView())
                mSettings.mCirclesView = view->viewKind() == ArborLeavesWidget::Circles;
        }
        mSettings.mWindowMaximized = mMainWindow->isMaximized();
        if (!mSettings.mWindowMaximized) {
            mSettings.mWindowSize = mMainWindow->size();
            mSettings.mWindowPos = mMainWindow->pos();
        }
    }
    mSettings.mAudioDevice = mOutput.selectedDevice();
}

void VudiruArborApplication::stopListener()
{
    mListener.term();
    if (mListener.isRunning()) {
        // The listener thread writes straight into the engine's ring: the
        // engine must not go away before the thread has ended.
        qCritical() << "UDP thread still running, waiting for it before shutting down the engine";
        mListener.wait();
    }
}

void VudiruArborApplication::term()
{
    if (mTerminated)
        return;
    syncToSettings();
    stopListener();
    mMidiInput.term();
    mArbor.term();
    mPlayer.term();
    mMidiOutput.term(); // note-offs for everything it sent
    mOutput.term();
    saveSettings();
    qInstallMessageHandler(nullptr);
    mTerminated = true;
}

void VudiruArborApplication::stopWithoutSaving()
{
    // Start-up stopped half way (or term() was never called): stop the
    // threads that may touch the members, in the order of term(), but write
    // no document.
    stopListener();
    mMidiInput.term();
    if (mPlayerInitialised && mOutputInitialised)
        mPlayer.term();  // closes a patch while the stream still runs
    mOutput.term();
    mTerminated = true;
}

void VudiruArborApplication::onAudioDeviceStopped(int deviceIndex)
{
    QMessageBox box(QMessageBox::Warning, tr("Sound stopped"),
                    tr("The sound device stopped responding, so Arbor stopped playing through it.\n\n"
                       "Try it again, or play through the default sound device?"),
                    QMessageBox::Cancel, mMainWindow);
    QPushButton* again = box.addButton(tr("Try again"), QMessageBox::AcceptRole);
    QPushButton* fallback = box.addButton(tr("Use default device"), QMessageBox::AcceptRole);
    box.exec();
    if (box.clickedButton() != again && box.clickedButton() != fallback)
        return;
    if (!mOutput.selectDevice(box.clickedButton() == again ? deviceIndex : -1))
        showCriticalMessage(tr("The sound device could not be opened. Choose another one in the options."));
}

void VudiruArborApplication::onUdpFatalError(QString error)
{
    showCriticalMessage(tr("Failed to connect to the arbor, only screen-based interaction will be possible."
                           "\n\nError: %1").arg(error));
}
