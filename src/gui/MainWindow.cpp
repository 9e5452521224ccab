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

const QSize MIN_WINDOW_SIZE(880, 640);
const int MIN_MACRO_SLIDER_WIDTH = 60;

QSpacerItem* spacer(int w, int h, QSizePolicy::Policy hp, QSizePolicy::Policy vp)
{
    return new QSpacerItem(w, h, hp, vp);
}

QFrame* plainFrame(QWidget* parent, const char* name)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setFrameShape(QFrame::NoFrame);
    frame->setFrameShadow(QFrame::Plain);
    return frame;
}

QToolButton* arrowButton(QWidget* parent, const char* name)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setArrowType(Qt::NoArrow);
    b->setText(QStringLiteral("..."));
    return b;
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

void MainWindow::buildForm()
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Elmsby Vudiru Arbor"));
    resize(687, 409);
    // Small enough for a 1280 x 720 screen, large enough that sliders and
    // balls stay usable.
    setMinimumSize(MIN_WINDOW_SIZE);

    mCentralWidget = new QWidget(this);
    mCentralWidget->setObjectName(QStringLiteral("centralWidget"));
    auto* verticalLayout_5 = new QVBoxLayout(mCentralWidget);
    verticalLayout_5->setObjectName(QStringLiteral("verticalLayout_5"));
    verticalLayout_5->setSpacing(0);
    verticalLayout_5->setContentsMargins(0, 0, 0, 0);

    // top frame: logo and patch selector, macros, options and volume
    QFrame* topFrame = plainFrame(mCentralWidget, "topFrame");
    topFrame->setLineWidth(0);
    topFrame->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* horizontalLayout_7 = new QHBoxLayout(topFrame);
    horizontalLayout_7->setObjectName(QStringLiteral("horizontalLayout_7"));
    horizontalLayout_7->setSpacing(36);
    horizontalLayout_7->setContentsMargins(12, 12, 12, 12);

    auto* verticalLayout_3 = new QVBoxLayout;
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setSpacing(0);
    verticalLayout_3->addItem(spacer(20, 12, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* horizontalLayout_6 = new QHBoxLayout;
    horizontalLayout_6->setObjectName(QStringLiteral("horizontalLayout_6"));
    horizontalLayout_6->setSpacing(6);
    horizontalLayout_6->addItem(spacer(6, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    auto* logoLabel = new QLabel(topFrame);
    logoLabel->setObjectName(QStringLiteral("logoLabel"));
    logoLabel->setPixmap(QPixmap(QStringLiteral(":/icons/logo.png")));
    logoLabel->setIndent(4);
    logoLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    horizontalLayout_6->addWidget(logoLabel);
    horizontalLayout_6->addItem(spacer(50, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    verticalLayout_3->addLayout(horizontalLayout_6);
    verticalLayout_3->addItem(spacer(20, 13, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* gridLayout = new QGridLayout;
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(6);
    auto* horizontalLayout_3 = new QHBoxLayout;
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    horizontalLayout_3->setSpacing(2);
    mPatchDecButton = arrowButton(topFrame, "patchDecButton");
    mPatchIncButton = arrowButton(topFrame, "patchIncButton");
    mPatchDecButton->setToolTip(tr("Previous voice patch"));
    mPatchIncButton->setToolTip(tr("Next voice patch"));
    horizontalLayout_3->addWidget(mPatchDecButton);
    horizontalLayout_3->addWidget(mPatchIncButton);
    gridLayout->addLayout(horizontalLayout_3, 0, 0);
    mPatchMenu = new QComboBox(topFrame);
    mPatchMenu->setObjectName(QStringLiteral("patchMenu"));
    mPatchMenu->setFrame(false);
    gridLayout->addWidget(mPatchMenu, 0, 1);
    mLoadPatchButton = new QPushButton(tr("Load"), topFrame);
    mLoadPatchButton->setObjectName(QStringLiteral("loadPatchButton"));
    mLoadPatchButton->setFlat(true);
    mLoadPatchButton->setToolTip(tr("Load a voice patch from a file"));
    mLoadPatchButton->setFocusPolicy(Qt::NoFocus);
    mLoadPatchButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    gridLayout->addWidget(mLoadPatchButton, 0, 2);
    auto* horizontalLayout_5 = new QHBoxLayout;
    horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
    horizontalLayout_5->setSpacing(2);
    mPresetDecButton = arrowButton(topFrame, "presetDecButton");
    mPresetIncButton = arrowButton(topFrame, "presetIncButton");
    horizontalLayout_5->addWidget(mPresetDecButton);
    horizontalLayout_5->addWidget(mPresetIncButton);
    gridLayout->addLayout(horizontalLayout_5, 1, 0);
    mPresetMenu = new QComboBox(topFrame);
    mPresetMenu->setObjectName(QStringLiteral("presetMenu"));
    gridLayout->addWidget(mPresetMenu, 1, 1);
    mSavePresetButton = new QPushButton(tr("Save"), topFrame);
    mSavePresetButton->setObjectName(QStringLiteral("savePresetButton"));
    mSavePresetButton->setFlat(true);
    mSavePresetButton->setFocusPolicy(Qt::NoFocus);
    mSavePresetButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    gridLayout->addWidget(mSavePresetButton, 1, 2);
    verticalLayout_3->addLayout(gridLayout);
    horizontalLayout_7->addLayout(verticalLayout_3);

    auto* gridLayout_2 = new QGridLayout;
    gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));
    gridLayout_2->setSpacing(6);
    gridLayout_2->setVerticalSpacing(3);
    for (int k = 1; k <= 8; ++k) {
        auto* label = new QLabel(QStringLiteral("Parameter %1").arg(k), topFrame);
        label->setObjectName(QStringLiteral("macroLabel%1").arg(k));
        if (k <= 2)
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        auto* slider = new QSlider(Qt::Horizontal, topFrame);
        slider->setObjectName(QStringLiteral("macroSlider%1").arg(k));
        slider->setToolTip(tr("Macro %1 of the voice patch").arg(k));
        slider->setMinimumWidth(MIN_MACRO_SLIDER_WIDTH);
        slider->setRange(0, 120);
        slider->setPageStep(12);
        slider->setValue(60);
        slider->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        const int row = (k - 1) % 4;
        const int column = k <= 4 ? 0 : 3;
        gridLayout_2->addWidget(label, row, column);
        gridLayout_2->addWidget(slider, row, column + 1);
        mMacroLabels << label;
        mMacroSliders << slider;
    }
    gridLayout_2->addItem(spacer(12, 1, QSizePolicy::Fixed, QSizePolicy::Minimum), 0, 2, 4, 1);
    horizontalLayout_7->addLayout(gridLayout_2);
    horizontalLayout_7->addItem(spacer(1, 13, QSizePolicy::Expanding, QSizePolicy::Minimum));

    auto* optionsVolumeLayout = new QVBoxLayout;
    optionsVolumeLayout->setObjectName(QStringLiteral("optionsVolumeLayout"));
    optionsVolumeLayout->setSpacing(3);
    mOptionsButton = new QToolButton(topFrame);
    mOptionsButton->setObjectName(QStringLiteral("optionsButton"));
    mOptionsButton->setToolTip(tr("Options: audio device, calibration, 1/1 note, update checks"));
    optionsVolumeLayout->addWidget(mOptionsButton);
    mVolumeSlider = new QSlider(Qt::Vertical, topFrame);
    mVolumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    mVolumeSlider->setToolTip(tr("Master volume"));
    mVolumeSlider->setRange(0, 140);
    mVolumeSlider->setPageStep(14);
    mVolumeSlider->setValue(120);
    mVolumeSlider->setMaximumHeight(140);
    mVolumeSlider->setInvertedAppearance(false);
    mVolumeSlider->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    optionsVolumeLayout->addWidget(mVolumeSlider);
    horizontalLayout_7->addLayout(optionsVolumeLayout);
    verticalLayout_5->addWidget(topFrame);

    // middle: transpose column and the lattice layers
    auto* horizontalLayout_4 = new QHBoxLayout;
    horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    horizontalLayout_4->setSpacing(0);
    QFrame* leftFrame = plainFrame(mCentralWidget, "leftFrame");
    leftFrame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* verticalLayout = new QVBoxLayout(leftFrame);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(12);
    verticalLayout->setContentsMargins(9, 12, 12, 12);
    mTransposeWidget = new TransposeWidget(leftFrame);
    mTransposeWidget->setObjectName(QStringLiteral("transposeWidget"));
    mTransposeWidget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    verticalLayout->addWidget(mTransposeWidget);
    verticalLayout->addItem(spacer(20, 165, QSizePolicy::Minimum, QSizePolicy::Expanding));
    horizontalLayout_4->addWidget(leftFrame);

    mCentralStack = new QStackedWidget(mCentralWidget);
    mCentralStack->setObjectName(QStringLiteral("centralStack"));
    mCentralStack->setFrameShape(QFrame::StyledPanel);
    mCentralStack->setFrameShadow(QFrame::Raised);
    mCentralStack->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    mCircleLayer = new ArborLayer(mCentralStack);
    mCircleLayer->setObjectName(QStringLiteral("circleLayer"));
    mGrapeLayer = new ArborLayer(mCentralStack);
    mGrapeLayer->setObjectName(QStringLiteral("grapeLayer"));
    mCentralStack->addWidget(mCircleLayer);
    mCentralStack->addWidget(mGrapeLayer);
    horizontalLayout_4->addWidget(mCentralStack);
    verticalLayout_5->addLayout(horizontalLayout_4);

    // lower frame: Stop all, Mono, Poly and the readout
    QFrame* lowerFrame = plainFrame(mCentralWidget, "lowerFrame");
    auto* horizontalLayout_2 = new QHBoxLayout(lowerFrame);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalLayout_2->setSpacing(0);
    horizontalLayout_2->setContentsMargins(12, 12, 12, 12);
    auto* horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(12);
    mStopAllButton = new QToolButton(lowerFrame);
    mStopAllButton->setObjectName(QStringLiteral("stopAllButton"));
    mStopAllButton->setToolTip(tr("Stop all: silence every sounding note"));
    mStopAllButton->setText(tr("Stop\nall"));
    mStopAllButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    horizontalLayout->addWidget(mStopAllButton);
    auto* verticalLayout_2 = new QVBoxLayout;
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(0);
    mMonoButton = new QToolButton(lowerFrame);
    mMonoButton->setObjectName(QStringLiteral("monoButton"));
    mMonoButton->setToolTip(tr("Mono: a new note stops the one sounding"));
    mMonoButton->setText(tr("Mono"));
    mMonoButton->setCheckable(true);
    mMonoButton->setAutoExclusive(false);
    mMonoButton->setChecked(false);
    mMonoButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    mPolyButton = new QToolButton(lowerFrame);
    mPolyButton->setObjectName(QStringLiteral("polyButton"));
    mPolyButton->setToolTip(tr("Poly: notes sound together until clicked again"));
    mPolyButton->setText(tr("Poly"));
    mPolyButton->setCheckable(true);
    mPolyButton->setAutoExclusive(false);
    mPolyButton->setChecked(true);
    mPolyButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    verticalLayout_2->addWidget(mMonoButton);
    verticalLayout_2->addWidget(mPolyButton);
    horizontalLayout->addLayout(verticalLayout_2);
    horizontalLayout_2->addLayout(horizontalLayout);

    QFrame* readoutFrame = plainFrame(lowerFrame, "readoutFrame");
    readoutFrame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* verticalLayout_4 = new QVBoxLayout(readoutFrame);
    verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    verticalLayout_4->setSpacing(0);
    verticalLayout_4->setContentsMargins(0, 0, 0, 0);
    mInfoLabel1 = new QLabel(QStringLiteral("Readout"), readoutFrame);
    mInfoLabel1->setObjectName(QStringLiteral("infoLabel1"));
    mInfoLabel1->setTextFormat(Qt::PlainText);
    mInfoLabel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    mInfoLabel1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    mInfoLabel2 = new QLabel(QStringLiteral("Readout"), readoutFrame);
    mInfoLabel2->setObjectName(QStringLiteral("infoLabel2"));
    mInfoLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    mInfoLabel2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    verticalLayout_4->addWidget(mInfoLabel1);
    verticalLayout_4->addWidget(mInfoLabel2);
    horizontalLayout_2->addWidget(readoutFrame);
    auto* exportButton = new QToolButton(lowerFrame);
    exportButton->setObjectName(QStringLiteral("exportTuningButton"));
    exportButton->setText(tr("Export\ntuning…"));
    exportButton->setToolTip(tr("Export tuning: the sounding chord or the whole lattice as a Scala scale and mapping"));
    connect(exportButton, &QToolButton::clicked, this, [this] { exportTuningWithDialogs(this, *mArbor); });
    horizontalLayout_2->addWidget(exportButton);
    AudioOutput* output = PdPlayer::sThis ? PdPlayer::sThis->output() : nullptr;
    horizontalLayout_2->addWidget(new RecordWidget(output ? output->recorder() : nullptr, lowerFrame));
    verticalLayout_5->addWidget(lowerFrame);

    setCentralWidget(mCentralWidget);

    mPatchDecButton->setIcon(QIcon(QStringLiteral(":/icons/arrowleft.png")));
    mPatchIncButton->setIcon(QIcon(QStringLiteral(":/icons/arrowright.png")));
    mPresetDecButton->setIcon(QIcon(QStringLiteral(":/icons/arrowleft.png")));
    mPresetIncButton->setIcon(QIcon(QStringLiteral(":/icons/arrowright.png")));
    mOptionsButton->setIcon(QIcon(QStringLiteral(":/icons/cog.png")));
    optionsVolumeLayout->setAlignment(mVolumeSlider, Qt::AlignHCenter | Qt::AlignVCenter);
}

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

// The active arrangement is shown bold and underlined, the other one as a link.
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
