#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QToolButton;
class Recorder;

// The record button and, while it records, the running time; afterwards
// where the recording went (and what went wrong, if anything did). A new
// recording goes to the music folder under a name of its start time.
class RecordWidget : public QWidget
{
    Q_OBJECT
public:
    // Without a recorder (no sound engine) the button is disabled.
    RecordWidget(Recorder* recorder, QWidget* parent);

private:
    void onClicked();
    void onStarted();
    void onStopped(const QString& message, bool failed);
    void showTime();

    Recorder* mRecorder;
    QToolButton* mButton;
    QLabel* mTime;
    QTimer mTicker;
    QElapsedTimer mElapsed;
};
