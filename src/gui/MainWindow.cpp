#include "MainWindow.h"

#include "Arbor.h"
#include "ArborContext.h"
#include "ArborLayer.h"
#include "ArborLeavesWidget.h"
#include "ArborRatio.h"
#include "ArborView.h"
#include "DiagnosticsDialog.h"
#include "LayoutConstants.h"
#include "OptionsDialog.h"
#include "AudioOutput.h"
#include "PdPlayer.h"
#include "RecordWidget.h"
#include "Settings.h"
#include "TransposeWidget.h"
#include "TuningExport.h"
#include "TweakDialog.h"
#include "UpdateDialog.h"
#include "VudiruArborApplication.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSlider>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QResizeEvent>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QToolButton>

namespace
{
const char* const NONE_LOADED = "None loaded";

QString configFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

QString macroLabelText(const QString& name, int number)
{
    // A patch may announce a macro without a name; it is still a macro.
    if (name.isEmpty())
        return QStringLiteral("Parameter %1").arg(number);
    return name.left(1).toUpper() + name.mid(1).toLower();
}
}

MainWindow::MainWindow(Arbor* arbor)
    : QMainWindow(nullptr)
    , mArbor(arbor)
    , mStopAllEvent(ArborEvent::AllNotesOff, 1.0f)
{
    Settings* settings = ArborContext::settings();

    // 1. the form, icons, volume slider centred
    buildForm();

    // 2. transpose column and the two lattice layers
    mTransposeWidget->init(Qt::Vertical);
    mCircleLayer->init(ArborLeavesWidget::Circles, arbor);
    mGrapeLayer->init(ArborLeavesWidget::Grapes, arbor);
    mCentralStack->setCurrentIndex(settings->mCirclesView ? 0 : 1);

    // 3. switchers, relative view, hidden preset controls
    mSwitcher = new QLabel(mCentralStack); // in the lattice's top left corner, over the pages
    mSwitcher->move(8, 6);
    mSwitcher->setObjectName(QStringLiteral("viewSwitcher"));
    mSwitcher->setTextFormat(Qt::RichText);
    mSwitcher->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    showActiveView();
    mAbsRelSwitcher = new QLabel(mCentralWidget);
    mAbsRelSwitcher->setObjectName(QStringLiteral("absRelSwitcher"));
    settings->mAbsRelView = 0;
    mPresetDecButton->hide();
    mPresetIncButton->hide();
    mPresetMenu->hide();
    mSavePresetButton->hide();

    // 4. connections
    for (QSlider* slider : qAsConst(mMacroSliders))
        connect(slider, &QSlider::valueChanged, this, &MainWindow::onMacroSliderValueChanged);
    connect(mSwitcher, &QLabel::linkActivated, this, &MainWindow::onSwitcherClicked);
    connect(mAbsRelSwitcher, &QLabel::linkActivated, this, &MainWindow::onAbsRelSwitcherClicked);
    if (arbor)
        connect(arbor, &Arbor::transposeOrBaseFrequencyChanged, this, &MainWindow::onTransposeChanged);
    if (PdPlayer* player = PdPlayer::sThis) {
        connect(player, &PdPlayer::volumeChanged, this, &MainWindow::onVolumeChanged, Qt::QueuedConnection);
        connect(player, &PdPlayer::monophonicChanged, this, &MainWindow::onMonophonicChanged,
                Qt::QueuedConnection);
        connect(player, &PdPlayer::macroValueChanged, this, &MainWindow::onMacroValueChanged,
                Qt::QueuedConnection);
        connect(player, &PdPlayer::macroNamesReceived, this, &MainWindow::onMacroNamesReceived,
                Qt::QueuedConnection);
        connect(player, &PdPlayer::macroDefaultsReceived, this, &MainWindow::onMacroDefaultsReceived,
                Qt::QueuedConnection);
        connect(player, &PdPlayer::patchDecRequested, this, &MainWindow::onPatchDecRequested,
                Qt::QueuedConnection);
        connect(player, &PdPlayer::patchIncRequested, this, &MainWindow::onPatchIncRequested,
                Qt::QueuedConnection);
    } else {
        qWarning() << "Main window built without a sound engine";
    }
    QMetaObject::connectSlotsByName(this);

    // 5. patches and readout
    initPatchMenu();
    // Opening the patch (its voices) takes longer than building the window:
    // the window is shown first.
    QTimer::singleShot(0, this, &MainWindow::loadDefaultPatch);
    onTransposeChanged();

    // 6. dialogs
    mDiagnosticsDialog = new DiagnosticsDialog(this);
    mTweakDialog = new TweakDialog(this);
    connect(mTweakDialog, &TweakDialog::updateRequested, this, &MainWindow::updateTweaks);
    mOptionsDialog = newOptionsDialog();

    // 7. layout constants
    registerTweaks();

    // 8. update check
    applicationUpdateCheck();
}

MainWindow::~MainWindow() = default;

// ---------------------------------------------------------------- patches

QString MainWindow::shippedPatchFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/patches");
}

void MainWindow::initPatchMenu()
{
    const QString folder = shippedPatchFolder();
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    if (files.isEmpty()) {
        qCritical() << "Found no presets in patch dir" << folder;
        return;
    }
    for (const QFileInfo& file : files)
        addPatchToMenu(file.absoluteFilePath());
}

void MainWindow::addPatchToMenu(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString name = absolute.mid(absolute.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.endsWith(QLatin1String(".pd")))
        name.chop(3);
    for (int i = 0; i < mPatchMenu->count(); ++i) {
        if (mPatchMenu->itemData(i).toString() == absolute)
            return;
    }
    mPatchMenu->addItem(name, absolute);
}

void MainWindow::setNoPatchLoaded(bool none)
{
    const int index = mPatchMenu->findText(QLatin1String(NONE_LOADED), Qt::MatchExactly);
    if (none) {
        if (index < 0)
            mPatchMenu->addItem(QLatin1String(NONE_LOADED), QString());
        mPatchMenu->setCurrentIndex(mPatchMenu->count() - 1);
    } else if (index >= 0) {
        mPatchMenu->removeItem(index);
    }
}

void MainWindow::loadDefaultPatch()
{
    const QString folder = shippedPatchFolder();
    const QString defaultPatch = ArborContext::settings()->mDefaultPatch;
    if (!defaultPatch.isEmpty() && QFileInfo::exists(folder + QLatin1Char('/') + defaultPatch)) {
        loadPatch(folder + QLatin1Char('/') + defaultPatch);
        return;
    }
    qWarning() << "No default patch name found, use Sine.";
    const QString sine = folder + QStringLiteral("/Sine.pd");
    if (QFileInfo::exists(sine)) {
        loadPatch(sine);
        return;
    }
    qWarning() << "Sine patch not found, set None loaded.";
    setNoPatchLoaded(true);
}

bool MainWindow::copyInAndOpen(const QString& absolutePath)
{
    PdPlayer* player = PdPlayer::sThis;
    if (!player) {
        qCritical() << "No sound engine to load" << absolutePath;
        return false;
    }
    player->unloadPatch();

    const QString patchFolder = configFolder() + QStringLiteral("/patch");
    const QString voiceCopy = patchFolder + QStringLiteral("/arbor_voice.pd");
    if (QFile::exists(voiceCopy) && !QFile::remove(voiceCopy)) {
        qCritical() << "Failed to delete" << voiceCopy;
        return false;
    }
    if (!QFile::copy(absolutePath, voiceCopy)) {
        qCritical() << "Failed to copy" << absolutePath << "to the runtime patch location" << voiceCopy;
        return false;
    }
    const QString mainPatch = patchFolder + QStringLiteral("/arbor_main.pd");
    if (!player->loadPatch(QFileInfo(mainPatch))) {
        qCritical() << "Failed to load" << mainPatch << "after copying in voice" << voiceCopy;
        return false;
    }
    return true;
}

void MainWindow::loadPatch(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    qWarning() << "Loading voice patch" << absolute;

    if (copyInAndOpen(absolute)) {
        on_volumeSlider_valueChanged(mVolumeSlider->value());
        for (int k = 1; k <= 8; ++k)
            setMacro(k - 1, macroSlider(k)->value());
        setNoPatchLoaded(false);
        addPatchToMenu(absolute);
        mRememberedPatchIndex = mPatchMenu->findData(absolute);
        mPatchMenu->setCurrentIndex(mRememberedPatchIndex);
        return;
    }

    VudiruArborApplication::showCriticalMessage(tr("Failed to load patch %1.").arg(absolute));
    // The engine closed the old patch before the new one failed, so no
    // patch is loaded now whatever the menu showed before.
    mRememberedPatchIndex = -1;
    setNoPatchLoaded(true);
}

void MainWindow::on_patchMenu_activated(int index)
{
    loadPatch(mPatchMenu->itemData(index).toString());
}

void MainWindow::on_patchDecButton_clicked()
{
    const int count = mPatchMenu->count();
    if (count == 0)
        return;
    mPatchMenu->setCurrentIndex((mPatchMenu->currentIndex() + count - 1) % count);
    loadPatch(mPatchMenu->currentData().toString());
}

void MainWindow::on_patchIncButton_clicked()
{
    const int count = mPatchMenu->count();
    if (count == 0)
        return;
    mPatchMenu->setCurrentIndex((mPatchMenu->currentIndex() + 1) % count);
    loadPatch(mPatchMenu->currentData().toString());
}

void MainWindow::onPatchDecRequested()
{
    on_patchDecButton_clicked();
}

void MainWindow::onPatchIncRequested()
{
    on_patchIncButton_clicked();
}

void MainWindow::on_presetDecButton_clicked() {}
void MainWindow::on_presetIncButton_clicked() {}

void MainWindow::on_loadPatchButton_clicked()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Open Patch"), mLastPatchFolder,
                                                      tr("PD Patches (*.pd)"));
    if (file.isEmpty())
        return;
    mLastPatchFolder = QFileInfo(file).absolutePath();
    loadPatch(file);
}

// ---------------------------------------------------------------- events out

void MainWindow::queue(const ArborEvent& event)
{
    if (!PdPlayer::sThis) {
        qWarning() << "No sound engine, event dropped of type" << int(event.type());
        return;
    }
    PdPlayer::sThis->queueEventGui(&event);
}

QSlider* MainWindow::macroSlider(int number) const
{
    return number >= 1 && number <= mMacroSliders.size() ? mMacroSliders.at(number - 1) : nullptr;
}

QLabel* MainWindow::macroLabel(int number) const
{
    return number >= 1 && number <= mMacroLabels.size() ? mMacroLabels.at(number - 1) : nullptr;
}

void MainWindow::onMacroSliderValueChanged(int value)
{
    const QObject* slider = sender();
    if (!slider)
        return;
    const QString name = slider->objectName();
    const int number = name.isEmpty() ? 0 : name.right(1).toInt();
    if (number < 1 || number > 8)
        return;
    setMacro(number - 1, value);
}

void MainWindow::setMacro(int index, float value)
{
    if (index < 0 || index > 7)
        return;
    const QSlider* range = mMacroSliders.first();
    const float span = float(range->maximum() - range->minimum());
    const float normalised = span > 0 ? (value - range->minimum()) / span : 0.0f;
    queue(ArborEvent(static_cast<ArborEvent::Type>(ArborEvent::MacroValue1 + index), normalised));
}

void MainWindow::onMacroValueChanged(int macro, float value)
{
    if (macro < 1 || macro > 8)
        return;
    QSlider* slider = findChild<QSlider*>(QStringLiteral("macroSlider%1").arg(macro));
    if (!slider)
        return;
    const QSignalBlocker blocker(slider);
    slider->setValue(qRound(slider->minimum() + (slider->maximum() - slider->minimum()) * value));
}

void MainWindow::onMacroNamesReceived(const QStringList& names)
{
    const int used = qMin(names.size(), 8);
    for (int k = 1; k <= 8; ++k) {
        const bool inUse = k <= used;
        macroLabel(k)->setText(inUse ? macroLabelText(names.at(k - 1), k) : tr("Unused"));
        macroLabel(k)->setEnabled(inUse);
        macroSlider(k)->setEnabled(inUse);
        macroSlider(k)->setToolTip(inUse ? tr("Macro %1 of the voice patch: %2").arg(k).arg(names.at(k - 1))
                                         : tr("Macro %1: not used by this voice patch").arg(k));
    }
}

void MainWindow::onMacroDefaultsReceived(const QList<float>& defaults)
{
    for (int i = 0; i < qMin(defaults.size(), 8); ++i) {
        if (defaults.at(i) > -0.5f)
            queue(ArborEvent(static_cast<ArborEvent::Type>(ArborEvent::MacroValue1 + i), defaults.at(i)));
    }
}

void MainWindow::on_volumeSlider_valueChanged(int value)
{
    const float span = float(mVolumeSlider->maximum() - mVolumeSlider->minimum());
    const float level = span > 0 ? (value - mVolumeSlider->minimum()) / span : 0.0f;
    queue(ArborEvent(ArborEvent::MasterVolumeSet, level));
    mVolumeSlider->setToolTip(tr("Master volume: %1 %").arg(qRound(level * 100.0f)));
}

void MainWindow::onVolumeChanged(float level)
{
    const QSignalBlocker blocker(mVolumeSlider);
    mVolumeSlider->setValue(
        qRound(mVolumeSlider->minimum() + (mVolumeSlider->maximum() - mVolumeSlider->minimum()) * level));
}

void MainWindow::on_monoButton_clicked()
{
    queue(ArborEvent(ArborEvent::Monophonic, mMonoButton->isChecked() ? 1.0f : 0.0f));
}

void MainWindow::on_polyButton_clicked()
{
    queue(ArborEvent(ArborEvent::Monophonic, mPolyButton->isChecked() ? 0.0f : 1.0f));
}

void MainWindow::onMonophonicChanged(bool mono)
{
    mMonoButton->setChecked(mono);
    mPolyButton->setChecked(!mono);
}

void MainWindow::on_stopAllButton_clicked()
{
    queue(mStopAllEvent);
}

// ---------------------------------------------------------------- views

ArborLayer* MainWindow::shownLayer() const
{
    return qobject_cast<ArborLayer*>(mCentralStack->currentWidget());
}

ArborView* MainWindow::arborView() const
{
    ArborLayer* layer = shownLayer();
    return layer ? layer->view() : nullptr;
}

// The active arrangement is shown bold and underlined, the other one as a link;
// it takes the keyboard focus.
void MainWindow::showActiveView()
{
    auto entry = [this](int index, const char* link, const QString& name) {
        return mCentralStack->currentIndex() == index ? QStringLiteral("<b><u>%1</u></b>").arg(name)
                                                      : QStringLiteral("<a href='%1'>%2</a>").arg(link, name);
    };
    mSwitcher->setText(QStringLiteral("<style type='text/css'>a { text-decoration: none; color: #b4b4aa; }</style>")
                       + entry(1, "grapes", tr("Grapes")) + QStringLiteral(" | ") + entry(0, "circles", tr("Flowers")));
    mSwitcher->adjustSize();
    mSwitcher->raise(); // the stack raises the page it shows
    if (ArborView* view = arborView())
        view->setFocus(); // the letter keys play the lattice shown
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (mInfoLabel1)
        onTransposeChanged(); // the readout is elided to the new width
}

void MainWindow::onSwitcherClicked(const QString& link)
{
    if (link == QLatin1String("circles"))
        mCentralStack->setCurrentIndex(0);
    else if (link == QLatin1String("grapes"))
        mCentralStack->setCurrentIndex(1);
    showActiveView();
    if (ArborView* view = arborView())
        view->updateArborBalls();
}

void MainWindow::onAbsRelSwitcherClicked(const QString& link)
{
    Settings* settings = ArborContext::settings();
    if (link == QLatin1String("relative"))
        settings->mAbsRelView = 0;
    else if (link == QLatin1String("absolute"))
        settings->mAbsRelView = 1;
    else if (link == QLatin1String("absolute2"))
        settings->mAbsRelView = 2;
    mCircleLayer->refresh();
    mGrapeLayer->refresh();
}

void MainWindow::onTransposeChanged()
{
    float base = 440.0f;
    float n = 1.0f;
    float d = 1.0f;
    QList<int> steps;
    if (mArbor) {
        base = mArbor->baseFrequency();
        const ArborRatio ratio = mArbor->transposeRatio();
        n = float(ratio.numerator());
        d = float(ratio.denominator());
        steps = mArbor->transposeSteps();
    }

    QString stepText;
    for (int s : qAsConst(steps))
        stepText += QLatin1Char('/') + QString::number(s);
    if (stepText.isEmpty())
        stepText = QStringLiteral("/");

    const QString prefix = tr("Shifted prime steps: ");
    const QFontMetrics metrics(font());
    const int available = qMax(0, mInfoLabel1->width() - metrics.horizontalAdvance(prefix));
    mInfoLabel1->setText(prefix + metrics.elidedText(stepText, Qt::ElideMiddle, available));

    const float central = d != 0.0f ? base * (n / d) : base;
    const QString centralText = QString::number(double(central), 'f', 3);
    if (central == base) {
        mInfoLabel2->setText(tr("Frequency of central node [= 1/1 Frequency]: %1 Hz").arg(centralText));
    } else {
        mInfoLabel2->setText(tr("Frequency of central node: %1 Hz").arg(centralText)
                             + QStringLiteral("        ")
                             + tr("1/1 Frequency: %1 Hz").arg(QString::number(double(base), 'f', 3)));
    }
}

// ---------------------------------------------------------------- dialogs

void MainWindow::setOptionsDialogPosition(const QPoint& point)
{
    mOptionsDialogPosition = point;
}

void MainWindow::on_optionsButton_clicked()
{
    if (mOptionsDialog && mOptionsDialog->isVisible()) {
        mOptionsDialogPosition = mOptionsDialog->pos();
        mOptionsDialog->close();
        return;
    }
    delete mOptionsDialog;
    mOptionsDialog = newOptionsDialog();
    if (!mOptionsDialogPosition.isNull())
        mOptionsDialog->rePosition(mOptionsDialogPosition);
    mOptionsDialog->show();
}

// The cards spell their notes from the 1/1 note's name: a new name (even of
// the same pitch) rebuilds them in both layers.
OptionsDialog* MainWindow::newOptionsDialog()
{
    auto* dialog = new OptionsDialog(this);
    for (ArborLayer* layer : {mCircleLayer, mGrapeLayer})
        connect(dialog, &OptionsDialog::baseNoteChanged, layer, &ArborLayer::refresh);
    return dialog;
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_9) {
        if ((event->modifiers() & Qt::ControlModifier) && mDiagnosticsDialog)
            mDiagnosticsDialog->setVisible(!mDiagnosticsDialog->isVisible());
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Quit)) {
        // Closing the last window ends the event loop and the normal
        // shutdown saves the window state.
        event->accept();
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::registerTweaks()
{
    using namespace ArborConstants;
    const struct {
        const char* name;
        int* value;
    } tweaks[] = {
        {"ANGLE_2_PLUS", &ANGLE_2_PLUS},
        {"ANGLE_3_PLUS", &ANGLE_3_PLUS},
        {"ANGLE_FRONT_OFFSET", &ANGLE_FRONT_OFFSET},
        {"ANGLE_FRONT_ROTATE_OFFSET", &ANGLE_FRONT_ROTATE_OFFSET},
        {"STRUT_2_LENGTH", &STRUT_2_LENGTH},
        {"STRUT_3_LENGTH", &STRUT_3_LENGTH},
        {"STRUT_WIDTH", &STRUT_WIDTH},
        {"LINK_WIDTH", &LINK_WIDTH},
        {"LEAVES_PLUS_OFFSET_X", &LEAVES_PLUS_OFFSET_X},
        {"LEAVES_PLUS_OFFSET_Y", &LEAVES_PLUS_OFFSET_Y},
        {"GRAPE_LEAVES_WIDTH", &GRAPE_LEAVES_WIDTH},
        {"GRAPE_LEAVES_HEIGHT", &GRAPE_LEAVES_HEIGHT},
        {"BALL_DIAMETER", &BALL_DIAMETER},
        {"LEAF_DIAMETER", &LEAF_DIAMETER},
        {"LEAVES_RADIUS", &LEAVES_RADIUS},
        {"LEAVES_START_ANGLE", &LEAVES_START_ANGLE},
        {"BALL_DIM_FACTOR", &BALL_DIM_FACTOR},
        {"BALL_BRIGHTEN_FACTOR", &BALL_BRIGHTEN_FACTOR},
        {"OUTLINE_BRIGHTEN_FACTOR", &OUTLINE_BRIGHTEN_FACTOR},
        {"BALL_GLOW_SIZE_FACTOR", &BALL_GLOW_SIZE_FACTOR},
        {"GLOW_ALPHA_START", &GLOW_ALPHA_START},
        {"PRIME_DISABLED_DIM_FACTOR", &PRIME_DISABLED_DIM_FACTOR},
    };
    for (const auto& t : tweaks)
        mTweakDialog->addInt(QLatin1String(t.name), t.value);
}

void MainWindow::updateTweaks()
{
    queue(mStopAllEvent);
    QThread::msleep(100);
    QCoreApplication::processEvents();
    if (auto* app = qobject_cast<VudiruArborApplication*>(QCoreApplication::instance()))
        app->loadStyleSheet();
    if (mArbor && !mArbor->load())
        qWarning() << "Reloading the lattice file failed; the lattice keeps its last content";
    ArborLeavesWidget::sCirclePositions.clear();
    ArborLeavesWidget::sGrapePositions.clear();
    // Both layers hold items of the old balls: rebuild the hidden one too.
    mCircleLayer->rebuild();
    mGrapeLayer->rebuild();
}

// ---------------------------------------------------------------- update check

bool MainWindow::isUpdateCheckDue(int interval, const QString& lastCheck, const QDateTime& now)
{
    QDateTime last;
    if (lastCheck.isEmpty()) {
        last = now.addYears(-1);
    } else {
        last = QDateTime::fromString(lastCheck, Qt::TextDate);
        if (!last.isValid()) {
            qWarning() << "Unreadable time of the last update check" << lastCheck
                       << "- treating it as a year ago";
            last = now.addYears(-1);
        }
    }
    switch (interval) {
    case 0:
        return true;
    case 1:
        return last.addDays(7) < now;
    case 2:
        return last.addMonths(1) < now;
    case 3:
        return last.addMonths(3) < now;
    case 5:
        return last.addSecs(300) < now;
    default:
        return false;
    }
}

void MainWindow::applicationUpdateCheck()
{
    Settings* settings = ArborContext::settings();
    const QDateTime now = QDateTime::currentDateTime();
    if (!isUpdateCheckDue(settings->mUpdateCheckInterval, settings->mTSysLastUpdateCheck, now))
        return;
    auto* dialog = new UpdateDialog(this);
    dialog->setNotifyOnFinish(false);
    dialog->setNotifyOnUpdate(true);
    dialog->checkForUpdates();
    settings->mTSysLastUpdateCheck = now.toString(Qt::TextDate);
}
