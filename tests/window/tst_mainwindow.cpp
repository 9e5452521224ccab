#include "WindowFixture.h"

#include "ArborLayer.h"
#include "ArborView.h"
#include "ArborBallWidget.h"
#include "ArborWidget.h"
#include "DiagnosticsDialog.h"
#include "MainWindow.h"
#include "OptionsDialog.h"
#include "TweakDialog.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QToolButton>

using namespace WindowFixture;

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    PdPlayer* mPlayer = nullptr;
    Arbor* mArbor = nullptr;
    Settings* mSettings = nullptr;
    QTemporaryDir mPatchSource{QDir::tempPath() + "/shipped patches XXXXXX"};
    QTemporaryDir mElsewhere{QDir::tempPath() + "/other patches XXXXXX"};
    std::unique_ptr<MainWindow> mWindow;

    QComboBox* menu() { return mWindow->findChild<QComboBox*>("patchMenu"); }
    QLabel* label(const char* name) { return mWindow->findChild<QLabel*>(name); }
    QSlider* slider(const QString& name) { return mWindow->findChild<QSlider*>(name); }
    QToolButton* tool(const char* name) { return mWindow->findChild<QToolButton*>(name); }
    QString shipped(const QString& name) { return QDir(mPatchSource.path()).absoluteFilePath(name); }
    static QString voiceCopy()
    {
        return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/patch/arbor_voice.pd";
    }
    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries()
    {
        QStringList out;
        for (int i = 0; i < menu()->count(); ++i)
            out << menu()->itemText(i);
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(initCore());
        mPlayer = app()->player();
        mArbor = app()->arbor();
        mSettings = app()->settings();
        QVERIFY(app()->initPatchFolder());

        // A shipped folder with two voices, a text file and a subfolder.
        QByteArray sine = contents(ARBOR_SOURCE_DIR "/patches/Sine.pd");
        if (sine.isEmpty())
            sine = "#N canvas 0 0 450 300 12;\n";
        QByteArray bell = contents(ARBOR_SOURCE_DIR "/patches/Bell.pd");
        if (bell.isEmpty())
            bell = sine + "\n";
        for (const auto& file : {qMakePair(QString("Sine.pd"), sine), qMakePair(QString("Bell.pd"), bell),
                                 qMakePair(QString("notes.txt"), QByteArray("not a patch\n")),
                                 qMakePair(QString(".hidden.pd"), sine)}) {
            QFile f(shipped(file.first));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file.second);
        }
        QVERIFY(QDir(mPatchSource.path()).mkdir("shell"));
        MainWindow::setShippedPatchFolder(mPatchSource.path());

        mSettings->mUpdateCheckInterval = 4; // never: no network in tests
        mSettings->mAbsRelView = 2;
        mSettings->mCirclesView = false;
        QSignalSpy loaded(mPlayer, SIGNAL(patchLoaded(QString)));
        mWindow = std::make_unique<MainWindow>(mArbor);
        mWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
        QCOMPARE(loaded.count(), 1);
        drain(mPlayer);
    }

    void init()
    {
        drain(mPlayer); // whatever earlier cases left in the ring
    }

    void cleanupTestCase()
    {
        mWindow.reset();
        MainWindow::setShippedPatchFolder(QString());
    }

    void construction()
    {
        QCOMPARE(mWindow->windowTitle(), QString("Elmsby Vudiru Arbor"));
        QCOMPARE(mSettings->mAbsRelView, 0);
        auto* stack = mWindow->findChild<QStackedWidget*>("centralStack");
        QCOMPARE(stack->currentIndex(), 1); // circlesView false: grapes
        QCOMPARE(mWindow->arborView(), qobject_cast<ArborLayer*>(stack->widget(1))->view());
        for (const char* name : {"presetDecButton", "presetIncButton", "presetMenu", "savePresetButton"})
            QVERIFY2(mWindow->findChild<QWidget*>(name)->isHidden(), name);
        QCOMPARE(mWindow->tweakDialog()->rowCount(), 22);
        QCOMPARE(mWindow->findChild<QSlider*>("volumeSlider")->value(), 120);
        QCOMPARE(mWindow->findChild<QSlider*>("volumeSlider")->maximum(), 140);
    }

    void patchMenuOrder()
    {
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt"}));
        QCOMPARE(menu()->itemData(0).toString(), shipped("Bell.pd"));
        QCOMPARE(menu()->itemData(1).toString(), shipped("Sine.pd"));
        QCOMPARE(menu()->itemData(2).toString(), shipped("notes.txt"));
        QCOMPARE(menu()->currentIndex(), 1); // the default patch
        QCOMPARE(mWindow->rememberedPatchIndex(), 1);
        QCOMPARE(contents(voiceCopy()), contents(shipped("Sine.pd")));
    }

    void sameFileTwice()
    {
        QSignalSpy loaded(mPlayer, SIGNAL(patchLoaded(QString)));
        mWindow->on_patchMenu_activated(0);
        mWindow->loadPatch(shipped("Bell.pd"));
        mWindow->loadPatch(mPatchSource.path() + "/shell/../Bell.pd");
        QCOMPARE(loaded.count(), 3);
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt"}));
        QCOMPARE(menu()->currentIndex(), 0);
        QCOMPARE(contents(voiceCopy()), contents(shipped("Bell.pd")));

        // A patch from elsewhere is appended and stays.
        const QString drone = mElsewhere.path() + "/Drone.pd";
        QVERIFY(QFile::copy(shipped("Sine.pd"), drone));
        mWindow->loadPatch(drone);
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt", "Drone"}));
        QCOMPARE(mWindow->rememberedPatchIndex(), 3);
        mWindow->addPatchToMenu(drone);
        QCOMPARE(menu()->count(), 4);
        mWindow->on_patchMenu_activated(1);
        QCOMPARE(menu()->currentText(), QString("Sine"));
    }

    void failedLoadShowsNoneLoaded()
    {
        mWindow->on_patchMenu_activated(1);
        QCOMPARE(mWindow->rememberedPatchIndex(), 1);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to copy"));
        mWindow->loadPatch(mPatchSource.path() + "/missing.pd");
        QCOMPARE(menu()->currentText(), QString("None loaded"));
        QCOMPARE(menu()->currentData().toString(), QString());
        QCOMPARE(mWindow->rememberedPatchIndex(), -1);
        const int count = menu()->count();
        mWindow->setNoPatchLoaded(true);
        QCOMPARE(menu()->count(), count); // never twice
    }

    void noneLoadedWraps()
    {
        // Continues from the failed load: "None loaded" is the last entry.
        QSignalSpy loaded(mPlayer, SIGNAL(patchLoaded(QString)));
        const int none = menu()->findText("None loaded");
        QCOMPARE(none, menu()->count() - 1);
        menu()->setCurrentIndex(none - 1); // the last real patch
        mWindow->on_patchIncButton_clicked();
        QCOMPARE(menu()->currentIndex(), none);
        QCOMPARE(loaded.count(), 0);
        mWindow->on_patchIncButton_clicked();
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(menu()->currentText(), QString("Bell"));
        QCOMPARE(menu()->findText("None loaded"), -1);
        mWindow->on_patchDecButton_clicked(); // wraps backwards to the last entry
        QCOMPARE(menu()->currentIndex(), menu()->count() - 1);
        QCOMPARE(loaded.count(), 2);
        mWindow->onPatchIncRequested();
        QCOMPARE(menu()->currentIndex(), 0);
    }

    void macroNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("three") << QStringList{"cutoff", "LFO rate", "rEsOnAnCe"}
                               << QStringList{"Cutoff", "Lfo rate", "Resonance"};
        QTest::newRow("empty name") << QStringList{"", "drive"} << QStringList{"Parameter 1", "Drive"};
        QTest::newRow("none") << QStringList{} << QStringList{};
        QTest::newRow("ten") << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}
                             << QStringList{"A", "B", "C", "D", "E", "F", "G", "H"};
    }

    void macroNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, labels);
        mWindow->onMacroNamesReceived(names);
        for (int k = 1; k <= 8; ++k) {
            QLabel* l = mWindow->findChild<QLabel*>(QString("macroLabel%1").arg(k));
            QSlider* s = slider(QString("macroSlider%1").arg(k));
            const bool used = k <= labels.size();
            QCOMPARE(l->text(), used ? labels.at(k - 1) : QString("Unused"));
            QCOMPARE(l->isEnabled(), used);
            QCOMPARE(s->isEnabled(), used);
        }
    }

    void macroValues()
    {
        QSignalSpy values(mPlayer, SIGNAL(macroValueChanged(int, float)));
        mWindow->onMacroValueChanged(3, 0.25f);
        QCOMPARE(slider("macroSlider3")->value(), 30);
        mWindow->onMacroValueChanged(9, 1.0f);
        mWindow->onMacroValueChanged(0, 1.0f);
        drain(mPlayer);
        QCOMPARE(values.count(), 0);

        slider("macroSlider5")->setValue(90);
        drain(mPlayer);
        QCOMPARE(values.count(), 1);
        QCOMPARE(values.at(0).at(0).toInt(), 5);
        QCOMPARE(values.at(0).at(1).toFloat(), 0.75f);

        // Defaults: -0.5 and below mean none; past the eighth are ignored.
        values.clear();
        mWindow->onMacroDefaultsReceived({0.5f, -1.0f, -0.5f, 0.0f, -0.4f, 0.1f, 0.2f, 0.3f, 0.9f});
        drain(mPlayer);
        QList<int> macros;
        for (const auto& args : values)
            macros << args.at(0).toInt();
        QCOMPARE(macros, (QList<int>{1, 4, 5, 6, 7, 8}));
        QCOMPARE(slider("macroSlider1")->value(), 60);
    }

    void volume()
    {
        QSignalSpy volumes(mPlayer, SIGNAL(volumeChanged(float)));
        mWindow->onVolumeChanged(1.0f);
        QCOMPARE(slider("volumeSlider")->value(), 140);
        drain(mPlayer);
        QCOMPARE(volumes.count(), 0);
        slider("volumeSlider")->setValue(70);
        drain(mPlayer);
        QCOMPARE(volumes.count(), 1);
        QCOMPARE(volumes.at(0).at(0).toFloat(), 0.5f);
        QCOMPARE(slider("volumeSlider")->value(), 70);
    }

    void monoPoly()
    {
        QToolButton* mono = tool("monoButton");
        QToolButton* poly = tool("polyButton");
        QVERIFY(!mono->isChecked());
        QVERIFY(poly->isChecked());
        QTest::mouseClick(mono, Qt::LeftButton);
        drain(mPlayer);
        QVERIFY(mono->isChecked());
        QVERIFY(!poly->isChecked());
        QTest::mouseClick(mono, Qt::LeftButton); // the mode in force: switches back
        drain(mPlayer);
        QVERIFY(!mono->isChecked());
        QVERIFY(poly->isChecked());
        QTest::mouseClick(poly, Qt::LeftButton);
        drain(mPlayer);
        QVERIFY(mono->isChecked());
        QTest::mouseClick(poly, Qt::LeftButton);
        drain(mPlayer);
        QVERIFY(poly->isChecked());
    }

    void stopAll()
    {
        QSignalSpy notes(mPlayer, SIGNAL(noteToggled(ArborRatio, bool)));
        ArborNoteEvent fifth(ArborPath("/3"));
        mPlayer->queueEventGui(&fifth);
        drain(mPlayer);
        QCOMPARE(notes.count(), 1);
        QTest::mouseClick(tool("stopAllButton"), Qt::LeftButton);
        drain(mPlayer);
        QCOMPARE(notes.count(), 2);
        QCOMPARE(notes.at(1).at(1).toBool(), false);
    }

    void readout()
    {
        resetLattice(mArbor);
        mArbor->onBaseFrequencyChanged(200.0f);
        QCOMPARE(label("infoLabel1")->text(), QString("Shifted prime steps: /"));
        QCOMPARE(label("infoLabel2")->text(), QString("Frequency of central node [= 1/1 Frequency]: 200.000 Hz"));

        mArbor->onTransposed(ArborRatio(3, 2), 3);
        QCOMPARE(label("infoLabel1")->text(), QString("Shifted prime steps: /3"));
        QCOMPARE(label("infoLabel2")->text(),
                 QString("Frequency of central node: 300.000 Hz        1/1 Frequency: 200.000 Hz"));

        mArbor->onBaseFrequencyChanged(261.6256f);
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        QCOMPARE(label("infoLabel2")->text(), QString("Frequency of central node [= 1/1 Frequency]: 261.626 Hz"));

        // A long list is elided in the middle and keeps to the label's width.
        QLabel* steps = label("infoLabel1");
        const int width = steps->width();
        for (int i = 0; i < 40; ++i)
            mArbor->onTransposed(ArborRatio(1, 1), i % 2 ? 5 : 7);
        QVERIFY(steps->text().startsWith("Shifted prime steps: /7/5"));
        QVERIFY(steps->text().contains(QChar(0x2026)));
        QCOMPARE(steps->width(), width);
        QVERIFY(mWindow->fontMetrics().horizontalAdvance(steps->text()) <= width);
        resetLattice(mArbor);
        mArbor->onBaseFrequencyChanged(440.0f);
    }

    void updateCheckDue_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("daysAgo"); // -1: no stamp
        QTest::addColumn<bool>("due");
        QTest::newRow("always") << 0 << 0 << true;
        QTest::newRow("weekly, 6 days") << 1 << 6 << false;
        QTest::newRow("weekly, 8 days") << 1 << 8 << true;
        QTest::newRow("monthly, 20 days") << 2 << 20 << false;
        QTest::newRow("monthly, 40 days") << 2 << 40 << true;
        QTest::newRow("quarterly, empty stamp") << 3 << -1 << true;
        QTest::newRow("quarterly, 60 days") << 3 << 60 << false;
        QTest::newRow("never") << 4 << 400 << false;
        QTest::newRow("5: every 300 s, 1 day") << 5 << 1 << true;
        QTest::newRow("5: every 300 s, now") << 5 << 0 << false;
        QTest::newRow("6 never") << 6 << 400 << false;
        QTest::newRow("negative never") << -1 << 400 << false;
    }

    void updateCheckDue()
    {
        QFETCH(int, interval);
        QFETCH(int, daysAgo);
        QFETCH(bool, due);
        const QDateTime now = QDateTime::fromString("Tue Mar 3 10:00:00 2026", Qt::TextDate);
        QVERIFY(now.isValid());
        const QString stamp = daysAgo < 0 ? QString() : now.addDays(-daysAgo).toString(Qt::TextDate);
        QCOMPARE(MainWindow::isUpdateCheckDue(interval, stamp, now), due);
    }

    void unreadableStampCountsAsAYearAgo()
    {
        const QDateTime now = QDateTime::currentDateTime();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Unreadable time of the last update check"));
        QVERIFY(MainWindow::isUpdateCheckDue(3, "yesterday-ish", now));
    }

    void diagnosticsKey()
    {
        DiagnosticsDialog* diagnostics = mWindow->diagnosticsDialog();
        QVERIFY(diagnostics);
        QVERIFY(!diagnostics->isVisible());
        QTest::keyClick(mWindow.get(), Qt::Key_9);
        QVERIFY(!diagnostics->isVisible());
        QTest::keyClick(mWindow.get(), Qt::Key_9, Qt::ShiftModifier);
        QVERIFY(!diagnostics->isVisible());
        QTest::keyClick(mWindow.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(diagnostics->isVisible());
        QTest::keyClick(mWindow.get(), Qt::Key_9, Qt::ControlModifier);
        QVERIFY(!diagnostics->isVisible());
    }

    void optionsButton()
    {
        QToolButton* cog = tool("optionsButton");
        QPointer<OptionsDialog> first = mWindow->optionsDialog();
        QVERIFY(first && !first->isVisible());
        cog->click();
        QPointer<OptionsDialog> opened = mWindow->optionsDialog();
        QVERIFY(first.isNull()); // a fresh dialog every time
        QVERIFY(opened->isVisible());
        opened->move(200, 150);
        const QPoint place = opened->pos();
        cog->click();
        QVERIFY(!opened->isVisible());
        QCOMPARE(mWindow->optionsDialogPosition(), place);
        cog->click();
        QVERIFY(opened.isNull());
        QVERIFY(mWindow->optionsDialog()->isVisible());
        QCOMPARE(mWindow->optionsDialog()->pos(), place);
        mWindow->optionsDialog()->close();
    }

    void switcher()
    {
        auto* stack = mWindow->findChild<QStackedWidget*>("centralStack");
        mWindow->onSwitcherClicked("circles");
        QCOMPARE(stack->currentIndex(), 0);
        mWindow->onSwitcherClicked("nonsense");
        QCOMPARE(stack->currentIndex(), 0);
        mWindow->onSwitcherClicked("grapes");
        QCOMPARE(stack->currentIndex(), 1);
        mWindow->onAbsRelSwitcherClicked("absolute2");
        QCOMPARE(mSettings->mAbsRelView, 2);
        mWindow->onAbsRelSwitcherClicked("other");
        QCOMPARE(mSettings->mAbsRelView, 2);
        mWindow->onAbsRelSwitcherClicked("relative");
        QCOMPARE(mSettings->mAbsRelView, 0);
    }

    void updateTweaksRebuildsBothLayers()
    {
        // The reload replaces the lattice's tree; both drawings must show
        // the new balls, the hidden layer's as well as the shown one's.
        auto* stack = mWindow->findChild<QStackedWidget*>("centralStack");
        const ArborBall* oldRoot = mArbor->rootBall();
        mWindow->updateTweaks();
        QVERIFY(mArbor->rootBall());
        QVERIFY(mArbor->rootBall() != oldRoot);
        for (int page = 0; page < 2; ++page) {
            ArborView* view = qobject_cast<ArborLayer*>(stack->widget(page))->view();
            QCOMPARE(int(view->viewKind()), page);
            bool showsNewRoot = false;
            for (ArborBallWidget* item : view->arborWidget()->ballWidgets()) {
                QVERIFY(item->ball());
                showsNewRoot |= item->ball() == mArbor->rootBall();
            }
            QVERIFY2(showsNewRoot, qPrintable(QString("page %1").arg(page)));
        }
    }
};

WINDOW_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
