#include "OptionsDialog.h"

#include "ArborContext.h"
#include "ArborEvent.h"
#include "AudioOutput.h"
#include "MainWindow.h"
#include "MidiInput.h"
#include "MidiOutput.h"
#include "NoteNames.h"
#include "PdPlayer.h"
#include "Settings.h"
#include "UpdateDialog.h"
#include "VudiruArborApplication.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>

namespace
{
VudiruArborApplication* arborApp()
{
    return qobject_cast<VudiruArborApplication*>(QCoreApplication::instance());
}

QString versionText()
{
    if (VudiruArborApplication* app = arborApp())
        return app->version();
    return QCoreApplication::applicationVersion();
}
}

OptionsDialog::OptionsDialog(QWidget* parent, AudioOutput* output)
    : QDialog(parent)
    , mOutput(output)
{
    if (VudiruArborApplication* app = arborApp()) {
        if (!mOutput)
            mOutput = app->output();
        mMidiInput = app->midiInput();
        mMidiOutput = app->midiOutput();
    }

    setWindowFlags(Qt::Tool);
    buildNoteTable();
    mUpdateIntervalNames << QStringLiteral("always") << QStringLiteral("weekly")
                         << QStringLiteral("monthly") << QStringLiteral("quarterly")
                         << QStringLiteral("never");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    mTabWidget = new QTabWidget(this);
    layout->addWidget(mTabWidget);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    buttons->setStyleSheet(QStringLiteral("margin: 12px;"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    layout->addWidget(buttons);

    mTabWidget->addTab(buildOptionsPage(), tr("Options"));
    mTabWidget->addTab(buildMidiPage(), tr("MIDI"));
    mTabWidget->addTab(buildUpdatePage(), tr("Update"));
    mTabWidget->addTab(buildAboutPage(), tr("About"));

    setMinimumSize(450, 260);
    setMaximumSize(450, 260);
}

void OptionsDialog::buildNoteTable()
{
    // The menu lists the highest note first.
    mNoteNames = NoteNames::names();
    mNoteFrequencies = NoteNames::frequencies();
    std::reverse(mNoteNames.begin(), mNoteNames.end());
    std::reverse(mNoteFrequencies.begin(), mNoteFrequencies.end());
}

int OptionsDialog::baseNoteIndex() const
{
    const int index = mNoteNames.indexOf(ArborContext::settings()->mBaseNote);
    return index < 0 ? A4_INDEX : index;
}

float OptionsDialog::baseFrequencyFor(int calibration, int noteIndex) const
{
    if (noteIndex < 0 || noteIndex >= mNoteFrequencies.size())
        noteIndex = A4_INDEX;
    return float(calibration) * mNoteFrequencies.at(noteIndex) / 440.0f;
}

QWidget* OptionsDialog::buildOptionsPage()
{
    Settings* settings = ArborContext::settings();
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 12, 12, 12);

    grid->addWidget(new QLabel(tr("Audio Device"), page), 0, 0);
    mAudioDeviceMenu = new QComboBox(page);
    mAudioDeviceMenu->setMaximumWidth(250);
    if (mOutput) {
        mAudioDeviceMenu->addItems(mOutput->devices());
        mAudioDeviceMenu->setCurrentIndex(mOutput->selectedDevice());
    } else {
        qWarning() << "Options dialog has no audio output to list";
    }
    grid->addWidget(mAudioDeviceMenu, 0, 1);

    auto* calibrationLabels = new QHBoxLayout;
    calibrationLabels->setSpacing(0);
    calibrationLabels->addWidget(new QLabel(tr("Calibration"), page));
    calibrationLabels->addSpacing(12);
    calibrationLabels->addWidget(new QLabel(tr("A4 ="), page));
    grid->addLayout(calibrationLabels, 1, 0);

    auto* calibrationRow = new QHBoxLayout;
    calibrationRow->setSpacing(6);
    mCalibrationSpinBox = new QSpinBox(page);
    mCalibrationSpinBox->setMaximumWidth(80);
    mCalibrationSpinBox->setRange(349, 499);
    mCalibrationSpinBox->setValue(settings->mCalibrationFrequency);
    calibrationRow->addWidget(mCalibrationSpinBox);
    calibrationRow->addWidget(new QLabel(tr("Hz"), page));
    calibrationRow->addStretch();
    grid->addLayout(calibrationRow, 1, 1);

    grid->addWidget(new QLabel(tr("1/1 Note"), page), 2, 0);
    auto* noteRow = new QHBoxLayout;
    noteRow->setSpacing(6);
    mOneOneNoteMenu = new QComboBox(page);
    mOneOneNoteMenu->addItems(mNoteNames);
    const int noteIndex = baseNoteIndex();
    mOneOneNoteMenu->setCurrentIndex(noteIndex);
    noteRow->addWidget(mOneOneNoteMenu);
    noteRow->addStretch();
    grid->addLayout(noteRow, 2, 1);
    settings->mBaseFrequency = baseFrequencyFor(settings->mCalibrationFrequency, noteIndex);

    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 3, 0);

    connect(mAudioDeviceMenu, QOverload<int>::of(&QComboBox::activated), this,
            &OptionsDialog::onAudioDeviceMenuActivated);
    connect(mCalibrationSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &OptionsDialog::onCalibrationFreqEditValueChanged);
    connect(mOneOneNoteMenu, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &OptionsDialog::onOneOneNoteChanged);
    return page;
}

QList<QPair<QString, QString>> OptionsDialog::deviceEntries(const MidiPort* port, const QString& chosen)
{
    QList<QPair<QString, QString>> entries{{tr("None"), QString()}};
    const QStringList devices = port ? port->devices() : QStringList();
    for (const QString& device : devices)
        entries.append({device, device});
    // A chosen device that is not plugged in stays chosen (by name).
    if (!chosen.isEmpty() && !devices.contains(chosen))
        entries.append({tr("%1 (not connected)").arg(chosen), chosen});
    return entries;
}

QComboBox* OptionsDialog::addMidiRow(QGridLayout* grid, const QString& label, const char* name, const QString& tip,
                                     const QList<QPair<QString, QString>>& entries, const QString& current)
{
    const int row = grid->rowCount();
    auto* text = new QLabel(label);
    text->setToolTip(tip);
    grid->addWidget(text, row, 0);
    auto* menu = new QComboBox;
    menu->setObjectName(QLatin1String(name));
    menu->setToolTip(tip);
    menu->setMaximumWidth(250);
    for (const auto& entry : entries)
        menu->addItem(entry.first, entry.second);
    menu->setCurrentIndex(qMax(0, menu->findData(current)));
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    line->addWidget(menu);
    line->addStretch();
    grid->addLayout(line, row, 1);
    connect(menu, QOverload<int>::of(&QComboBox::activated), this, &OptionsDialog::onMidiChoiceActivated);
    return menu;
}

QWidget* OptionsDialog::buildMidiPage()
{
    const Settings* settings = ArborContext::settings();
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(12, 12, 12, 12);
    grid->setVerticalSpacing(6);
    addMidiRow(grid, tr("Keyboard in"), "midiInputMenu",
               tr("The MIDI keyboard or controller that plays the lattice: each key sounds its ball while you "
                  "hold it, as set in midi_map.json in the settings folder. Other programs can also play "
                  "into \"Arbor in\"."),
               deviceEntries(mMidiInput ? &mMidiInput->port() : nullptr, settings->mMidiInput),
               settings->mMidiInput);
    addMidiRow(grid, tr("Synth out"), "midiOutputMenu",
               tr("A synth that plays along in just intonation: every ball that sounds is sent to it at its "
                  "exact pitch. Other programs can also listen to \"Arbor out\"."),
               deviceEntries(mMidiOutput ? &mMidiOutput->port() : nullptr, settings->mMidiOutput),
               settings->mMidiOutput);
    addMidiRow(grid, tr("Port system"), "midiApiMenu",
               tr("Where MIDI devices are found: ALSA for keyboards and synths on this computer, JACK when you "
                  "play through a JACK server. Automatic takes ALSA where there is one. A change applies the "
                  "next time Arbor starts."),
               {{tr("Automatic"), QStringLiteral("auto")}, {tr("ALSA"), QStringLiteral("alsa")},
                {tr("JACK"), QStringLiteral("jack")}},
               settings->mMidiApi);
    mMidiRestartLabel = new QLabel(tr("Applies at the next start."), page);
    mMidiRestartLabel->setObjectName(QStringLiteral("midiRestartLabel"));
    mMidiRestartLabel->hide();
    static_cast<QBoxLayout*>(grid->itemAtPosition(grid->rowCount() - 1, 1)->layout())->insertWidget(1, mMidiRestartLabel);
    addMidiRow(grid, tr("Output mode"), "midiOutModeMenu",
               tr("How the synth is told the exact pitches. MPE: each note on a channel of its own, bent to "
                  "its pitch; for MPE synths and for any synth that bends each channel. MIDI Tuning Standard: "
                  "each key is retuned before it plays; for synths that accept tuning messages."),
               {{tr("MPE"), QStringLiteral("mpe")}, {tr("MIDI Tuning Standard"), QStringLiteral("mts")}},
               settings->mMidiOutMode);
    addMidiRow(grid, tr("Bend range"), "midiBendRangeMenu",
               tr("How far the synth's pitch bend reaches in MPE mode. 2 semitones tunes most finely. Pick 48 "
                  "only when the synth ignores the range Arbor sends, so that its notes come out of tune, "
                  "and set the synth itself to 48 semitones."),
               {{tr("2 semitones"), QStringLiteral("2")}, {tr("48 semitones"), QStringLiteral("48")}},
               QString::number(settings->mMidiBendRange));
    grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0);
    return page;
}

QWidget* OptionsDialog::buildUpdatePage()
{
    Settings* settings = ArborContext::settings();
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    layout->addWidget(new QLabel(tr("The current version is: ") + versionText(), page));

    auto* intervalRow = new QHBoxLayout;
    intervalRow->setSpacing(0);
    auto* intervalLabel = new QLabel(tr("Check for updates automatically at startup:"), page);
    intervalLabel->setWordWrap(true);
    intervalLabel->setMinimumWidth(300);
    intervalRow->addWidget(intervalLabel);
    mUpdateIntervalBox = new QComboBox(page);
    mUpdateIntervalBox->setObjectName(QStringLiteral("updateIntervalBox"));
    mUpdateIntervalBox->addItems(mUpdateIntervalNames);
    const int interval = settings->mUpdateCheckInterval;
    mUpdateIntervalBox->setCurrentIndex(interval >= 0 && interval < mUpdateIntervalNames.size() ? interval : -1);
    intervalRow->addWidget(mUpdateIntervalBox);
    intervalRow->addStretch();
    layout->addLayout(intervalRow);

    layout->addStretch();

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(0);
    mUpdateCheckButton = new QPushButton(tr("Search for updates now ..."), page);
    mUpdateCheckButton->setObjectName(QStringLiteral("updateCheckButton"));
    mUpdateCheckButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    buttonRow->addStretch();
    buttonRow->addWidget(mUpdateCheckButton);
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    connect(mUpdateIntervalBox, QOverload<int>::of(&QComboBox::activated), this,
            &OptionsDialog::onUpdateCheckFrequencyActivated);
    connect(mUpdateCheckButton, &QPushButton::clicked, this, &OptionsDialog::onUpdateButtonClicked);
    return page;
}

QWidget* OptionsDialog::buildAboutPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    QString text;
    QFile about(QStringLiteral(":/text/about.html"));
    if (about.open(QIODevice::ReadOnly)) {
        QByteArray bytes = about.readAll();
        const int zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        text = QString::fromUtf8(bytes);
        text.replace(QStringLiteral("<version>"), versionText());
    } else {
        qWarning() << "Missing about text resource" << about.fileName();
    }

    mAboutLabel = new QLabel(page);
    mAboutLabel->setObjectName(QStringLiteral("aboutLabel"));
    mAboutLabel->setTextFormat(Qt::RichText);
    mAboutLabel->setOpenExternalLinks(true);
    mAboutLabel->setWordWrap(true);
    mAboutLabel->setText(text);
    layout->addWidget(mAboutLabel);
    layout->addStretch();
    return page;
}

void OptionsDialog::rePosition()
{
    move(mPosition);
}

void OptionsDialog::rePosition(const QPoint& point)
{
    move(point);
}

void OptionsDialog::queueBaseFrequency(float frequency)
{
    if (!PdPlayer::sThis) {
        qWarning() << "No sound engine, base frequency not sent:" << frequency;
        return;
    }
    ArborEvent event(ArborEvent::BaseFrequency, frequency);
    PdPlayer::sThis->queueEventGui(&event);
}

void OptionsDialog::onAudioDeviceMenuActivated(int index)
{
    if (!mOutput)
        return;
    const int previous = mOutput->selectedDevice();
    if (mOutput->selectDevice(index))
        return;

    const QString name = mAudioDeviceMenu->itemText(index);
    qCritical() << "Failed to open audio device" << name;
    VudiruArborApplication::showCriticalMessage(tr("Failed to open audio device %1.").arg(name));
    if (!mOutput->selectDevice(previous)) {
        const QString previousName = mAudioDeviceMenu->itemText(previous);
        qCritical() << "Failed to reopen the previous audio device" << previousName
                    << "- no audio output is open";
        VudiruArborApplication::showCriticalMessage(
            tr("Failed to reopen the previous audio device %1. "
               "No sound will be heard until a working device is chosen.")
                .arg(previousName));
    }
    mAudioDeviceMenu->setCurrentIndex(previous);
}

void OptionsDialog::onCalibrationFreqEditValueChanged(int hz)
{
    Settings* settings = ArborContext::settings();
    const int noteIndex = baseNoteIndex();
    settings->mCalibrationFrequency = hz;
    settings->mBaseFrequency = baseFrequencyFor(hz, noteIndex);
    queueBaseFrequency(settings->mBaseFrequency);
    qDebug() << "New base frequency" << settings->mBaseFrequency << "for note"
             << mNoteNames.value(noteIndex);
}

void OptionsDialog::onOneOneNoteChanged(int index)
{
    if (index < 0 || index >= mNoteNames.size())
        return;
    Settings* settings = ArborContext::settings();
    settings->mBaseNote = mNoteNames.at(index);
    settings->mBaseFrequency = baseFrequencyFor(settings->mCalibrationFrequency, index);
    queueBaseFrequency(settings->mBaseFrequency);
    qDebug() << "New base frequency" << settings->mBaseFrequency << "for note" << settings->mBaseNote;
    emit baseNoteChanged();
}

// Each choice is stored by name and applied at once; the port system only
// at the next start.
void OptionsDialog::onMidiChoiceActivated()
{
    auto* menu = qobject_cast<QComboBox*>(sender());
    if (!menu)
        return;
    Settings* settings = ArborContext::settings();
    const QString value = menu->currentData().toString();
    const QString name = menu->objectName();
    if (name == QLatin1String("midiInputMenu")) {
        settings->mMidiInput = value;
        if (mMidiInput)
            mMidiInput->port().setDevice(value);
    } else if (name == QLatin1String("midiOutputMenu")) {
        settings->mMidiOutput = value;
        if (mMidiOutput)
            mMidiOutput->port().setDevice(value);
    } else if (name == QLatin1String("midiApiMenu")) {
        settings->mMidiApi = value;
        mMidiRestartLabel->show();
    } else if (name == QLatin1String("midiOutModeMenu")) {
        settings->mMidiOutMode = value;
        if (mMidiOutput)
            mMidiOutput->setMode(MidiOutput::modeFromOption(value));
    } else if (name == QLatin1String("midiBendRangeMenu")) {
        settings->mMidiBendRange = value.toInt();
        if (mMidiOutput)
            mMidiOutput->setBendRange(settings->mMidiBendRange);
    }
}

void OptionsDialog::onUpdateCheckFrequencyActivated(int index)
{
    ArborContext::settings()->mUpdateCheckInterval = index;
}

void OptionsDialog::onUpdateButtonClicked()
{
    const QDateTime now = QDateTime::currentDateTime();
    auto* dialog = new UpdateDialog(this);
    dialog->setNotifyOnFinish(true);
    dialog->setNotifyOnUpdate(true);
    dialog->checkForUpdates();
    ArborContext::settings()->mTSysLastUpdateCheck = now.toString(Qt::TextDate);
}

void OptionsDialog::closeEvent(QCloseEvent* event)
{
    qDebug() << "Options dialog was at" << mPosition;
    mPosition = pos();
    if (auto* window = qobject_cast<MainWindow*>(parentWidget()))
        window->setOptionsDialogPosition(mPosition);
    qDebug() << "Options dialog now at" << mPosition;
    QDialog::closeEvent(event);
}
