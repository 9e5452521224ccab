#include "RecordWidget.h"

#include "Recorder.h"
#include "VudiruArborApplication.h"

#include <QBoxLayout>
#include <QLabel>
#include <QToolButton>

RecordWidget::RecordWidget(Recorder* recorder, QWidget* parent)
    : QWidget(parent)
    , mRecorder(recorder)
    , mButton(new QToolButton(this))
    , mTime(new QLabel(this))
{
    setObjectName(QStringLiteral("recordWidget"));
    mButton->setObjectName(QStringLiteral("recordButton"));
    mButton->setText(tr("Record"));
    mButton->setCheckable(true);
    mButton->setToolTip(tr("Record what plays into a WAV file in %1").arg(Recorder::defaultFolder()));
    mTime->setObjectName(QStringLiteral("recordTime"));
    mTime->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mButton);
    layout->addWidget(mTime);
    mTicker.setInterval(200);
    connect(&mTicker, &QTimer::timeout, this, &RecordWidget::showTime);
    connect(mButton, &QToolButton::clicked, this, &RecordWidget::onClicked);
    mButton->setEnabled(recorder != nullptr);
    if (!recorder)
        return;
    connect(recorder, &Recorder::started, this, &RecordWidget::onStarted);
    connect(recorder, &Recorder::stopped, this, &RecordWidget::onStopped);
    if (recorder->isRecording())
        onStarted();
}

void RecordWidget::onClicked()
{
    if (mRecorder->isRecording()) {
        mRecorder->stop();
        return;
    }
    QString error;
    if (!mRecorder->start(Recorder::newFilePath(Recorder::defaultFolder()), &error)) {
        mButton->setChecked(false);
        qWarning().noquote() << error;
        VudiruArborApplication::showCriticalMessage(error);
    }
}

void RecordWidget::onStarted()
{
    mButton->setChecked(true);
    mButton->setText(tr("Stop\nrecording"));
    mElapsed.start();
    mTicker.start();
    showTime();
}

void RecordWidget::onStopped(const QString& message, bool failed)
{
    mTicker.stop();
    mButton->setChecked(false);
    mButton->setText(tr("Record"));
    mTime->setText(failed ? tr("failed") : tr("saved"));
    mTime->setToolTip(message);
    setToolTip(message);
    if (failed || message.contains(tr("missing")))
        VudiruArborApplication::showCriticalMessage(message);
}

void RecordWidget::showTime()
{
    const qint64 seconds = mElapsed.elapsed() / 1000;
    mTime->setText(QStringLiteral("● %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
}
