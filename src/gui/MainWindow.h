#pragma once

#include "ArborEvent.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QStringList>

class Arbor;
class ArborLayer;
class ArborView;
class DiagnosticsDialog;
class OptionsDialog;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;
class QToolButton;
class TransposeWidget;
class TweakDialog;

// The application's one main window: the lattice display (circles and
// grapes layers), the transpose column, the patch selector, eight macro
// sliders, the master volume, Stop all / Mono / Poly and the readout of the
// current transposition. Everything that concerns sound is queued to the
// engine as an event; the engine's answers come back as signals.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(Arbor* arbor);
    ~MainWindow() override;

    ArborView* arborView() const;
    void updateTweaks();
    void setOptionsDialogPosition(const QPoint& point);
    void loadPatch(const QString& path);
    void setNoPatchLoaded(bool none);
    void addPatchToMenu(const QString& path);

    QPoint optionsDialogPosition() const { return mOptionsDialogPosition; }
    OptionsDialog* optionsDialog() const { return mOptionsDialog; }
    DiagnosticsDialog* diagnosticsDialog() const { return mDiagnosticsDialog; }
    TweakDialog* tweakDialog() const { return mTweakDialog; }
    int rememberedPatchIndex() const { return mRememberedPatchIndex; }

    // Folder of the shipped voice patches: the resource folder's "patches"
    // unless overridden (an empty text restores the default). Read when
    // the window is built.
    static QString shippedPatchFolder();

    // Whether the automatic update check is due for the interval option
    // and the stored stamp of the last check (Qt text date format).
    static bool isUpdateCheckDue(int interval, const QString& lastCheck, const QDateTime& now);

public slots:
    void on_patchMenu_activated(int index);
    void on_patchDecButton_clicked();
    void on_patchIncButton_clicked();
    void on_presetDecButton_clicked();
    void on_presetIncButton_clicked();
    void on_loadPatchButton_clicked();
    void onMacroSliderValueChanged(int value);
    void on_optionsButton_clicked();
    void on_volumeSlider_valueChanged(int value);
    void onSwitcherClicked(const QString& link);
    void onAbsRelSwitcherClicked(const QString& link);
    void on_stopAllButton_clicked();
    void on_monoButton_clicked();
    void on_polyButton_clicked();
    void onTransposeChanged();
    void onVolumeChanged(float level);
    void onMonophonicChanged(bool mono);
    void onMacroValueChanged(int macro, float value);
    void onMacroNamesReceived(const QStringList& names);
    void onMacroDefaultsReceived(const QList<float>& defaults);
    void onPatchDecRequested();
    void onPatchIncRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showActiveView();
    OptionsDialog* newOptionsDialog();
    void buildForm();
    void initPatchMenu();
    void loadDefaultPatch();
    bool copyInAndOpen(const QString& absolutePath);
    void setMacro(int index, float value);
    void queue(const ArborEvent& event);
    void applicationUpdateCheck();
    void registerTweaks();
    QSlider* macroSlider(int number) const;
    QLabel* macroLabel(int number) const;
    ArborLayer* shownLayer() const;

    Arbor* mArbor = nullptr;

    // The widget tree (object names as set in buildForm()).
    QWidget* mCentralWidget = nullptr;
    QToolButton* mPatchDecButton = nullptr;
    QToolButton* mPatchIncButton = nullptr;
    QComboBox* mPatchMenu = nullptr;
    QPushButton* mLoadPatchButton = nullptr;
    QToolButton* mPresetDecButton = nullptr;
    QToolButton* mPresetIncButton = nullptr;
    QComboBox* mPresetMenu = nullptr;
    QPushButton* mSavePresetButton = nullptr;
    QList<QLabel*> mMacroLabels;
    QList<QSlider*> mMacroSliders;
    QToolButton* mOptionsButton = nullptr;
    QSlider* mVolumeSlider = nullptr;
    TransposeWidget* mTransposeWidget = nullptr;
    QStackedWidget* mCentralStack = nullptr;
    ArborLayer* mCircleLayer = nullptr;
    ArborLayer* mGrapeLayer = nullptr;
    QToolButton* mStopAllButton = nullptr;
    QToolButton* mMonoButton = nullptr;
    QToolButton* mPolyButton = nullptr;
    QLabel* mInfoLabel1 = nullptr;
    QLabel* mInfoLabel2 = nullptr;
    QLabel* mSwitcher = nullptr;
    QLabel* mAbsRelSwitcher = nullptr;

    DiagnosticsDialog* mDiagnosticsDialog = nullptr;
    TweakDialog* mTweakDialog = nullptr;
    OptionsDialog* mOptionsDialog = nullptr;
    QPoint mOptionsDialogPosition;
    ArborEvent mStopAllEvent;
    int mRememberedPatchIndex = -1;
    QString mLastPatchFolder;

};
