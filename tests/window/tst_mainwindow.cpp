#include "WindowFixture.h"

#include "ArborBallWidget.h"
#include "ArborConstants.h"
#include "ArborLayer.h"
#include "ArborView.h"
#include "ArborWidget.h"
#include "CardStackWidget.h"
#include "CardWidget.h"
#include "DiagnosticsDialog.h"
#include "Downloader.h"
#include "LayoutConstants.h"
#include "MainWindow.h"
#include "OptionsDialog.h"
#include "PrimeToggleButton.h"
#include "TransposeButton.h"
#include "TransposeWidget.h"
#include "TweakDialog.h"
#include "UpdateDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>

class MainWindowTest : public QObject, public WindowFixture
{
    Q_OBJECT

    // The program's patch folder beside the executable, with a second voice,
    // a text file and a hidden patch added while the test runs.
    const QString mShipped = QCoreApplication::applicationDirPath() + "/patches";
    const QStringList mAdded{"Bell.pd", "notes.txt", ".hidden.pd"};
    QTemporaryDir mElsewhere{QDir::tempPath() + "/other patches XXXXXX"};
    std::unique_ptr<MainWindow> mWindow;

    template <typename T = QWidget> T* child(const QString& name) { return mWindow->findChild<T*>(name); }
    QComboBox* menu() { return child<QComboBox>("patchMenu"); }
    void click(const char* button) { QTest::mouseClick(child<QAbstractButton>(button), Qt::LeftButton); }
    QString text(const QString& label) { return child<QLabel>(label)->text(); }
    QStringList entries()
    {
        QStringList out;
        for (int i = 0; i < menu()->count(); ++i)
            out << menu()->itemText(i);
        return out;
    }
    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray voice()
    {
        return contents(QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/patch/arbor_voice.pd");
    }

    static QImage render(QWidget* button)
    {
        QImage image(button->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        button->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    // The arrow's centroid lies a third into its bounding square.
    static QRgb arrowColour(TransposeButton* button)
    {
        const QRect r = button->contentsRect();
        const qreal s = r.width() / 2.0, x0 = r.x() + (r.width() - s) / 2.0, y0 = r.y() + (r.height() - s) / 2.0;
        return render(button).pixel(int(button->step() < 0 ? x0 + 2 * s / 3 : x0 + s / 3), int(y0 + s / 2));
    }

    TransposeWidget* transpose() { return child<TransposeWidget>("transposeWidget"); }
    QString counter(int step) { return transpose()->transposeButton(step)->label()->text(); }

    static double luminance(QColor c)
    {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    }

    // Every text of a window (its labels, buttons, tabs, menus, fields and
    // lists, enabled or not) against the colour that most of its place shows
    // on the screen: the text's colour is the one that stands out most there,
    // in fields and lists the palette's text colour.
    static QString unreadable(QWidget* window)
    {
        const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QStringList out;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool field = qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTextEdit*>(w) ||
                               qobject_cast<QLineEdit*>(w);
            QString text = field ? "field" : w->property("text").toString();
            if (auto* combo = qobject_cast<QComboBox*>(w))
                text = combo->currentText();
            if (auto* tabs = qobject_cast<QTabBar*>(w))
                text = tabs->tabText(0);
            const QRect place = QRect(w->mapTo(window, QPoint()), w->size()) & shot.rect();
            if (!w->isVisible() || w->window() != window || text.isEmpty() || place.isEmpty())
                continue;
            QHash<QRgb, int> counts;
            for (int y = place.top(); y <= place.bottom(); ++y)
                for (int x = place.left(); x <= place.right(); ++x)
                    ++counts[shot.pixel(x, y)];
            const QRgb ground = std::max_element(counts.begin(), counts.end()).key();
            double ratio = 21;
            auto against = [&](QColor c) {
                const double a = luminance(c), b = luminance(QColor(ground));
                return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
            };
            if (field) {
                ratio = against(w->palette().color(QPalette::Text));
            } else {
                ratio = 1;
                for (auto it = counts.cbegin(); it != counts.cend(); ++it)
                    ratio = std::max(ratio, against(QColor(it.key())));
            }
            if (ratio < 4.5)
                out << QString("%1 %2 \"%3\": %4").arg(w->metaObject()->className(), w->objectName(), text).arg(ratio);
        }
        return out.join("; ");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(setUp() && mApp->initPatchFolder());
        for (const QString& name : mAdded) {
            QFile f(mShipped + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(contents(mShipped + "/Sine.pd") + "\n") > 0);
        }
        mSettings->mUpdateCheckInterval = 4; // never: no network in tests
        mSettings->mAbsRelView = 2;
        mSettings->mCirclesView = false;
        QSignalSpy loaded(mPlayer, &PdPlayer::patchLoaded);
        mWindow = std::make_unique<MainWindow>(mArbor);
        mWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(mWindow->windowTitle(), QString("Elmsby Vudiru Arbor"));
        for (const char* name : {"presetDecButton", "presetIncButton", "presetMenu", "savePresetButton"})
            QVERIFY2(child(name)->isHidden(), name);
    }

    void cleanupTestCase()
    {
        mWindow.reset();
        for (const QString& name : mAdded)
            QFile::remove(mShipped + "/" + name);
    }

    void init() { drain(); }

    void cleanup()
    {
        queue(ArborEvent::Transpose, 0.0f); // through the engine: engine and lattice agree
        QVERIFY(mArbor->transposeSteps().isEmpty());
    }

    void steps_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("prime");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        QTest::newRow("none") << QList<int>{} << 5 << "" << "";
        QTest::newRow("+5 +5") << QList<int>{5, 5} << 5 << "+2" << "";
        QTest::newRow("+5 -5 cancel") << QList<int>{5, -5} << 5 << "" << "";
        QTest::newRow("-7") << QList<int>{-7} << 7 << "" << "-1";
        QTest::newRow("+3 -5 +3") << QList<int>{3, -5, 3} << 3 << "+2" << "";
        QTest::newRow("-19 -19 +19, darker") << QList<int>{-19, -19, 19} << 19 << "" << "-1";
        QTest::newRow("+13 +11 +13") << QList<int>{13, 11, 13} << 13 << "+2" << "";
    }

    // Each arrow moves its own prime; the counters, the shifted arrow's
    // colour and the reset button follow, and reset returns to 1/1.
    void steps()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, prime);
        QFETCH(QString, up);
        QFETCH(QString, down);
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        for (int step : clicks)
            QTest::mouseClick(transpose()->transposeButton(step), Qt::LeftButton);
        QCOMPARE(drained<int>(transposed, 1), clicks);
        QCOMPARE(counter(prime), up);
        QCOMPARE(counter(-prime), down);
        const QString along = up == "+2" ? "Transposed 2 steps up" : down == "-1" ? "Transposed 1 step down" : "not transposed";
        QVERIFY(transpose()->transposeButton(prime)->toolTip().endsWith(QString("%1 along %2").arg(along).arg(prime)));
        const bool shifted = !(up + down).isEmpty();
        QCOMPARE(transpose()->resetButton()->isEnabled(), shifted);
        if (shifted) {
            const QColor colour = mArbor->lookupColor(prime);
            QCOMPARE(arrowColour(transpose()->transposeButton(up.isEmpty() ? -prime : prime)),
                     (prime == 19 ? colour.darker(120) : colour).rgba());
            QTest::mouseClick(transpose()->resetButton(), Qt::LeftButton);
            drain();
            QCOMPARE(mArbor->transposeRatio(), ArborRatio(1, 1));
        }
        QVERIFY(!transpose()->resetButton()->isEnabled());
        const QRgb text = transpose()->palette().color(QPalette::Active, QPalette::WindowText).rgba();
        for (int p : ArborConstants::PRIMES) // back in the text colour, without counters
            for (int step : {p, -p})
                QVERIFY(p == 1 || (counter(step).isEmpty() && arrowColour(transpose()->transposeButton(step)) == text));
    }

    void refusedStepIsDisabledAndNotPainted()
    {
        // 440 Hz x 2^5 = 14080 Hz is allowed, one octave more is not.
        TransposeButton* octaveUp = transpose()->transposeButton(2);
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(octaveUp, Qt::LeftButton);
        drain();
        QCOMPARE(counter(2), QString("+5"));
        QVERIFY(!octaveUp->isEnabled() && transpose()->transposeButton(-2)->isEnabled());
        QImage blank(octaveUp->size(), QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        QCOMPARE(render(octaveUp), blank);
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        octaveUp->click();
        QCOMPARE(drained<int>(transposed, 1), QList<int>());
    }

    // 1, 2 and 3 cannot be switched; another prime's button switches its own prime.
    void primeButtons()
    {
        for (int p : ArborConstants::PRIMES)
            QVERIFY(transpose()->primeButton(p)->text() == QString::number(p) && transpose()->primeButton(p)->isEnabled() == p > 3);
        QSignalSpy toggled(mPlayer, &PdPlayer::primeEnabledToggled);
        for (int p : {1, 2, 3, 7, 7, 11})
            QTest::mouseClick(transpose()->primeButton(p), Qt::LeftButton);
        drain();
        QCOMPARE(QList<QList<QVariant>>(toggled), (QList<QList<QVariant>>{{7, false}, {7, true}, {11, false}}));
        QVERIFY(mPlayer->isPrimeEnabled(7) && transpose()->primeButton(7)->isChecked());
        QVERIFY(!mPlayer->isPrimeEnabled(11) && !transpose()->primeButton(11)->isChecked());
        queue(ArborEvent::PrimeToggle, 11.0f);
    }

    // As a row each prime is a column: up arrow above down arrow, primes left to right.
    void horizontalOrientation()
    {
        TransposeWidget row;
        row.init(Qt::Horizontal);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        auto at = [&row](int step) { return row.transposeButton(step)->mapTo(&row, QPoint()); };
        QVERIFY(at(5).x() == at(-5).x() && at(5).y() < at(-5).y() && at(5).x() < at(7).x());
    }

    void patchMenu()
    {
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt"}));
        QCOMPARE(menu()->itemData(0).toString(), mShipped + "/Bell.pd");
        QCOMPARE(menu()->currentText(), QString("Sine")); // the default patch
        QCOMPARE(voice(), contents(mShipped + "/Sine.pd"));
        // The same file from the menu and by path, also spelled differently: one entry.
        QSignalSpy loaded(mPlayer, &PdPlayer::patchLoaded);
        emit menu()->activated(0);
        mWindow->loadPatch(mShipped + "/Bell.pd");
        mWindow->loadPatch(mShipped + "/shell/../Bell.pd");
        QCOMPARE(loaded.count(), 3);
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt"}));
        QCOMPARE(voice(), contents(mShipped + "/Bell.pd"));
        // A patch from elsewhere is appended once and copied in as the voice.
        const QString drone = mElsewhere.path() + "/Drone.pd";
        QVERIFY(QFile::copy(mShipped + "/Sine.pd", drone));
        mWindow->loadPatch(drone);
        mWindow->addPatchToMenu(drone);
        QCOMPARE(entries(), (QStringList{"Bell", "Sine", "notes.txt", "Drone"}));
        QCOMPARE(menu()->currentText(), QString("Drone"));
        QCOMPARE(voice(), contents(drone));
    }

    // After a failed load "None loaded" shows (once). Inc from the last real
    // patch selects it and loads nothing; Inc again wraps to the first
    // entry; Dec wraps back to the last.
    void failedLoadAndWrapping()
    {
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to copy"));
        mWindow->loadPatch(mShipped + "/missing.pd");
        QCOMPARE(menu()->currentText(), QString("None loaded"));
        const int none = menu()->count() - 1;
        mWindow->setNoPatchLoaded(true);
        QCOMPARE(menu()->count(), none + 1);
        QSignalSpy loaded(mPlayer, &PdPlayer::patchLoaded);
        menu()->setCurrentIndex(none - 1);
        click("patchIncButton");
        QCOMPARE(menu()->currentIndex(), none);
        QCOMPARE(loaded.count(), 0);
        click("patchIncButton");
        QCOMPARE(entries().first(), menu()->currentText());
        QCOMPARE(menu()->findText("None loaded"), -1);
        click("patchDecButton");
        QCOMPARE(menu()->currentIndex(), menu()->count() - 1);
        QCOMPARE(loaded.count(), 2);
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
        emit mPlayer->macroNamesReceived(names);
        QCoreApplication::processEvents();
        for (int k = 1; k <= 8; ++k) {
            const bool used = k <= labels.size();
            QCOMPARE(text(QString("macroLabel%1").arg(k)), used ? labels.at(k - 1) : QString("Unused"));
            QCOMPARE(child(QString("macroLabel%1").arg(k))->isEnabled(), used);
            QCOMPARE(child(QString("macroSlider%1").arg(k))->isEnabled(), used);
        }
    }

    // Values from the engine move the controls without echo; moving a
    // control sends its value; patch defaults are sent as they arrive.
    void controlsAndEngine()
    {
        QSignalSpy macros(mPlayer, &PdPlayer::macroValueChanged);
        QSignalSpy volumes(mPlayer, &PdPlayer::volumeChanged);
        queue(ArborEvent::MacroValue3, 0.25f);
        queue(ArborEvent::MasterVolumeSet, 1.0f);
        QCOMPARE(child<QSlider>("macroSlider3")->value(), 30);
        QCOMPARE(child<QSlider>("volumeSlider")->value(), 140);
        QCOMPARE(drained<int>(macros), QList<int>{3});
        QCOMPARE(drained<float>(volumes), QList<float>{1.0f});
        child<QSlider>("macroSlider5")->setValue(90);
        child<QSlider>("volumeSlider")->setValue(70);
        QCOMPARE(drained<float>(macros, 1), QList<float>{0.75f});
        QCOMPARE(drained<float>(volumes), QList<float>{0.5f});
        // Defaults of -0.5 and below mean none; past the eighth are ignored.
        emit mPlayer->macroDefaultsReceived({0.5f, -1.0f, -0.5f, 0.0f, -0.4f, 0.1f, 0.2f, 0.3f, 0.9f});
        QCoreApplication::processEvents();
        QCOMPARE(drained<int>(macros), (QList<int>{1, 4, 5, 6, 7, 8}));
        QCOMPARE(child<QSlider>("macroSlider1")->value(), 60);

        // A click on the mode in force switches to the other one.
        for (const char* button : {"monoButton", "monoButton", "polyButton", "polyButton"}) {
            const bool wasMono = mPlayer->isMonophonic();
            click(button);
            drain();
            QVERIFY(mPlayer->isMonophonic() != wasMono);
            QCOMPARE(child<QAbstractButton>("monoButton")->isChecked(), !wasMono);
            QCOMPARE(child<QAbstractButton>("polyButton")->isChecked(), wasMono);
        }
        QSignalSpy notes(mPlayer, &PdPlayer::noteToggled);
        const ArborNoteEvent fifth(ArborPath("/3"));
        mPlayer->queueEventGui(&fifth);
        click("stopAllButton");
        QCOMPARE(drained<bool>(notes, 1), (QList<bool>{true, false}));
    }

    void readout()
    {
        mArbor->onBaseFrequencyChanged(200.0f);
        QCOMPARE(text("infoLabel1"), QString("Shifted prime steps: /"));
        QCOMPARE(text("infoLabel2"), QString("Frequency of central node [= 1/1 Frequency]: 200.000 Hz"));
        mArbor->onTransposed(ArborRatio(3, 2), 3);
        QCOMPARE(text("infoLabel1"), QString("Shifted prime steps: /3"));
        QCOMPARE(text("infoLabel2"), QString("Frequency of central node: 300.000 Hz        1/1 Frequency: 200.000 Hz"));
        // A long list is elided in the middle and keeps to the label's width.
        const int width = child("infoLabel1")->width();
        for (int i = 0; i < 40; ++i)
            mArbor->onTransposed(ArborRatio(1, 1), i % 2 ? 5 : 7);
        QVERIFY(text("infoLabel1").startsWith("Shifted prime steps: /3/7/5"));
        QVERIFY(text("infoLabel1").contains(QChar(0x2026)));
        QCOMPARE(child("infoLabel1")->width(), width);
        QVERIFY(mWindow->fontMetrics().horizontalAdvance(text("infoLabel1")) <= width);
        mWindow->resize(mWindow->width() - 150, mWindow->height()); // and again when the window narrows
        QTRY_VERIFY(mWindow->fontMetrics().horizontalAdvance(text("infoLabel1")) <= child("infoLabel1")->width());
        mWindow->resize(mWindow->width() + 150, mWindow->height());
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        mArbor->onBaseFrequencyChanged(440.0f);
    }

    void updateCheckDue_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("age"); // days since the last check; "none"; or unreadable text
        QTest::addColumn<bool>("due");
        const QList<std::tuple<int, QString, bool>> rows{
            {0, "0", true},    {1, "6", false},    {1, "8", true},     {2, "20", false}, {2, "40", true},
            {3, "none", true}, {3, "yesterday-ish", true}, {3, "60", false}, {4, "400", false},
            {5, "1", true},    {5, "0", false},    {6, "400", false},  {-1, "400", false}};
        for (const auto& [interval, age, due] : rows)
            QTest::addRow("interval %d, %s", interval, qPrintable(age)) << interval << age << due;
    }

    void updateCheckDue()
    {
        QFETCH(int, interval);
        QFETCH(QString, age);
        QFETCH(bool, due);
        const QDateTime now = QDateTime::fromString("Tue Mar 3 10:00:00 2026", Qt::TextDate);
        bool days = false;
        QString stamp = age == "none" ? QString() : now.addDays(-age.toInt(&days)).toString(Qt::TextDate);
        if (!days && age != "none") {
            stamp = age;
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Unreadable time of the last update check"));
        }
        QCOMPARE(MainWindow::isUpdateCheckDue(interval, stamp, now), due);
    }

    void diagnosticsKey()
    {
        auto* diagnostics = mWindow->findChild<DiagnosticsDialog*>();
        for (auto press : {std::make_pair(Qt::NoModifier, false), std::make_pair(Qt::ShiftModifier, false),
                           std::make_pair(Qt::ControlModifier, true), std::make_pair(Qt::ControlModifier, false)}) {
            QTest::keyClick(mWindow.get(), Qt::Key_9, press.first);
            QCOMPARE(diagnostics->isVisible(), press.second);
        }
    }

    // The cog closes an open dialog and remembers its place; the next click
    // opens a fresh dialog there.
    void optionsButton()
    {
        auto shown = [this]() -> OptionsDialog* {
            for (OptionsDialog* d : mWindow->findChildren<OptionsDialog*>())
                if (d->isVisible())
                    return d;
            return nullptr;
        };
        click("optionsButton");
        QPointer<OptionsDialog> first = shown();
        // A new name for the same 1/1 pitch respells the cards of both layers.
        mArbor->onNoteToggled(ArborRatio(1, 1), true);
        QComboBox* notes = nullptr;
        for (QComboBox* box : first->findChildren<QComboBox*>())
            notes = box->count() == 137 ? box : notes; // the 1/1 note menu
        for (const char* note : {"C# 4", "Db 4"}) {
            notes->setCurrentText(note);
            drain();
            for (ArborLayer* layer : mWindow->findChildren<ArborLayer*>())
                QCOMPARE(layer->cardStack()->cards().values().first()->note().noteSpelling(), QString(note).remove(' '));
        }
        mArbor->onNoteToggled(ArborRatio(1, 1), false);
        first->move(200, 150);
        const QPoint place = first->pos();
        click("optionsButton");
        QVERIFY(first && !shown());
        click("optionsButton");
        QVERIFY(first.isNull());
        QCOMPARE(shown()->pos(), place);
        shown()->close();
    }

    // At its smallest the window fits a 1280 x 720 screen with usable sliders
    // and balls, and the view switcher sits clear of the patch box.
    void smallestWindow()
    {
        const QSize before = mWindow->size();
        mWindow->resize(1, 1);
        QTRY_COMPARE(mWindow->size(), mWindow->minimumSize());
        QVERIFY(mWindow->minimumSizeHint().height() <= 640 && mWindow->width() <= 1280 && mWindow->height() <= 640);
        QVERIFY(child("macroSlider1")->width() >= 60);
        QVERIFY(child<ArborLayer>("grapeLayer")->view()->transform().m11() * ArborConstants::BALL_DIAMETER >= 8);
        auto place = [this](QWidget* w) { return QRect(w->mapTo(mWindow.get(), QPoint()), w->size()); };
        QVERIFY(!place(menu()).intersects(place(child("viewSwitcher"))));
        mWindow->resize(before);
    }

    // Both switchers; the window starts in grapes (as saved) and relative mode.
    void switchers()
    {
        QCOMPARE(mSettings->mAbsRelView, 0);
        auto* stack = child<QStackedWidget>("centralStack");
        QCOMPARE(stack->currentWidget(), child("grapeLayer"));
        for (auto view : {std::make_pair("circles", "circleLayer"), std::make_pair("nonsense", "circleLayer"),
                          std::make_pair("grapes", "grapeLayer")}) {
            emit child<QLabel>("viewSwitcher")->linkActivated(view.first);
            QCOMPARE(stack->currentWidget(), child(view.second));
            QVERIFY(text("viewSwitcher").contains(view.second[0] == 'c' ? "<u>Flowers" : "<u>Grapes"));
        }
        for (auto mode : {std::make_pair("absolute2", 2), std::make_pair("other", 2), std::make_pair("absolute", 1),
                          std::make_pair("relative", 0)}) {
            emit child<QLabel>("absRelSwitcher")->linkActivated(mode.first);
            QCOMPARE(mSettings->mAbsRelView, mode.second);
        }
    }

    // "Update" in the tweak dialog (all 22 constants) reloads the lattice:
    // both drawings, the hidden one too, must show the new balls.
    void tweakUpdateRebuildsBothLayers()
    {
        auto* tweaks = mWindow->findChild<TweakDialog*>();
        QCOMPARE(tweaks->findChildren<QSpinBox*>().size(), 22);
        const ArborBall* oldRoot = mArbor->rootBall();
        tweaks->findChild<QPushButton*>()->click();
        QVERIFY(mArbor->rootBall() && mArbor->rootBall() != oldRoot);
        for (ArborLayer* layer : mWindow->findChildren<ArborLayer*>()) {
            const QList<ArborBallWidget*> items = layer->view()->arborWidget()->ballWidgets();
            QVERIFY(std::any_of(items.begin(), items.end(), [this](auto* i) { return i->ball() == mArbor->rootBall(); }));
        }
    }

    // Every text in every window the program opens reads at 4.5:1 or more
    // (WCAG AA) with the program's style sheet: the main window, each page of
    // the options, the diagnostics, the "Open Patch" file dialog, a failed
    // download and the update window with its changelog.
    void contrast()
    {
        QVERIFY(mApp->loadStyleSheet());
        QCOMPARE(unreadable(mWindow.get()), QString());
        click("optionsButton");
        auto* tabs = mWindow->optionsDialog()->findChild<QTabWidget*>();
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QCOMPARE(unreadable(mWindow->optionsDialog()), QString());
        }
        mWindow->optionsDialog()->close();
        mWindow->diagnosticsDialog()->show();
        QCOMPARE(unreadable(mWindow->diagnosticsDialog()), QString());
        QString inFileDialog = "not opened";
        QTimer::singleShot(0, [&] {
            QWidget* files = QApplication::activeModalWidget();
            inFileDialog = files->windowTitle() == "Open Patch" ? unreadable(files) : files->windowTitle();
            files->close();
        });
        click("loadPatchButton");
        QCOMPARE(inFileDialog, QString());
        Downloader download;
        download.setDownloadDir(mElsewhere.path());
        download.show();
        download.startDownload(QUrl("http://127.0.0.1:9/Arbor.zip"));
        QTRY_COMPARE(download.findChild<QLabel*>("downloadLabel")->text(), QString("Download failed"));
        QCOMPARE(unreadable(&download), QString());
        UpdateDialog update;
        update.findChild<QTextEdit*>()->setPlainText("Cards that a musician can read.");
        update.show();
        for (QWidget* part : update.findChildren<QWidget*>())
            part->show();
        QCOMPARE(unreadable(&update), QString());
    }
};

WINDOW_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
