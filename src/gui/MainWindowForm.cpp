// The widget tree of the main window, with the object names the style
// sheets and the tests address.

#include "MainWindow.h"

#include "ArborLayer.h"
#include "AudioOutput.h"
#include "PdPlayer.h"
#include "RecordWidget.h"
#include "TransposeWidget.h"
#include "TuningExport.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QToolButton>

namespace
{
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
}

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
    mOptionsButton->setToolTip(tr("Options: audio device, calibration, 1/1 note, MIDI keyboard and synth, update checks"));
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
