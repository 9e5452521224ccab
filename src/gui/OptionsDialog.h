#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QPoint>
#include <QStringList>

class AudioOutput;
class MidiInput;
class MidiOutput;
class MidiPort;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;

// The floating options window: audio device, A4 calibration and the note
// of 1/1; the MIDI devices, port system and output mode; the automatic
// update-check interval and a manual check; and the About text. Every edit takes effect at once (options document and, for
// the base frequency, an event to the sound engine); the only button is
// Close.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    // The audio output defaults to the application's own; tests pass theirs.
    explicit OptionsDialog(QWidget* parent, AudioOutput* output = nullptr);

    void rePosition();
    void rePosition(const QPoint& point);

    // Note table, highest first: "A 8" ... "A 0", 137 entries.
    const QStringList& noteNames() const { return mNoteNames; }
    const QList<float>& noteFrequencies() const { return mNoteFrequencies; }
    // Index of the stored base note in the table, "A 4" when it is unknown.
    int baseNoteIndex() const;

    static constexpr int A4_INDEX = 68;

signals:
    // The 1/1 note's name changed (also to another name of the same pitch).
    void baseNoteChanged();

public slots:
    void onAudioDeviceMenuActivated(int index);
    void onCalibrationFreqEditValueChanged(int hz);
    void onOneOneNoteChanged(int index);
    void onUpdateCheckFrequencyActivated(int index);
    void onUpdateButtonClicked();
    void onMidiChoiceActivated();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildNoteTable();
    QWidget* buildOptionsPage();
    QWidget* buildMidiPage();
    QComboBox* addMidiRow(QGridLayout* grid, const QString& label, const char* name, const QString& tip,
                          const QList<QPair<QString, QString>>& entries, const QString& current);
    static QList<QPair<QString, QString>> deviceEntries(const MidiPort* port, const QString& chosen);
    QWidget* buildUpdatePage();
    QWidget* buildAboutPage();
    float baseFrequencyFor(int calibration, int noteIndex) const;
    void queueBaseFrequency(float frequency);

    AudioOutput* mOutput = nullptr;
    QTabWidget* mTabWidget = nullptr;
    QComboBox* mAudioDeviceMenu = nullptr;
    QComboBox* mUpdateIntervalBox = nullptr;
    MidiInput* mMidiInput = nullptr;
    MidiOutput* mMidiOutput = nullptr;
    QLabel* mMidiRestartLabel = nullptr;
    QComboBox* mOneOneNoteMenu = nullptr;
    QSpinBox* mCalibrationSpinBox = nullptr;
    QLabel* mAboutLabel = nullptr;
    QList<float> mNoteFrequencies;
    QStringList mNoteNames;
    QStringList mUpdateIntervalNames;
    QPushButton* mUpdateCheckButton = nullptr;
    QPoint mPosition;
};
