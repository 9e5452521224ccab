// The main window and the options dialog on the application with its real engine
// (no audio stream), options and default lattice, in a temporary data folder with
// a space in its name. Only drain() runs the engine's ring: the engine reports what
// the controls queued at once, and the queued deliveries to the windows follow.

#include "ArborBallWidget.h"
#include "ArborConstants.h"
#include "ArborContext.h"
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
#include "VudiruArborApplication.h"

#include <QtTest>
#include <QtWidgets>

#include <RtMidi.h>

// An output with a fixed device list whose devices in mFailing refuse to open; it records each one asked for.
class DeviceList : public AudioOutput
{
public:
    QStringList mNames{"Built-in Output", "USB Interface", "Broken Card", "HDMI"};
    QList<int> mFailing, mCalls;
    int mCurrent = 1;

    QStringList devices() const override { return mNames; }
    int selectedDevice() const override { return mCurrent; }
    bool selectDevice(int index) override
    {
        mCalls << index;
        mCurrent = mFailing.contains(index) ? mCurrent : index;
        return !mFailing.contains(index);
    }
};

class WindowTest : public QObject
{
    Q_OBJECT

    VudiruArborApplication* mApp = qobject_cast<VudiruArborApplication*>(qApp);
    PdPlayer* mPlayer = mApp->player();
    Arbor* mArbor = mApp->arbor();
    Settings* mSettings = mApp->settings();

    // The program's patch folder, with a second voice, a text file and a hidden patch added.
    const QString mShipped = QCoreApplication::applicationDirPath() + "/patches";
    const QStringList mAdded{"Bell.pd", "notes.txt", ".hidden.pd"};
    QTemporaryDir mElsewhere{QDir::tempPath() + "/other patches XXXXXX"};
    std::unique_ptr<MainWindow> mWindow;

    void drain()
    {
        mPlayer->processEvents();
        QCoreApplication::processEvents(); // the lattice hears the engine
        QCoreApplication::processEvents(); // the windows hear the lattice
    }

    // Argument `argument` of every signal the spy caught, once the queued requests ran.
    template <typename T> QList<T> drained(QSignalSpy& spy, int argument = 0)
    {
        drain();
        QList<T> out;
        for (const QList<QVariant>& args : spy)
            out << args.at(argument).value<T>();
        spy.clear();
        return out;
    }

    void queue(ArborEvent::Type type, float value = 0.0f)
    {
        const ArborEvent event(type, value);
        mPlayer->queueEventGui(&event);
        drain();
    }

    static QComboBox* menuOf(QWidget* dialog, int entries = 137) // the 1/1 note menu by default
    {
        for (QComboBox* box : dialog->findChildren<QComboBox*>())
            if (box->count() == entries)
                return box;
        return nullptr;
    }

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

    // The arrow's centroid lies a third into its bounding square.
    static QRgb arrowColour(TransposeButton* button)
    {
        QImage image(button->size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        button->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        const QRect r = button->contentsRect();
        const qreal s = r.width() / 2.0, x0 = r.x() + (r.width() - s) / 2.0, y0 = r.y() + (r.height() - s) / 2.0;
        return image.pixel(int(button->step() < 0 ? x0 + 2 * s / 3 : x0 + s / 3), int(y0 + s / 2));
    }

    TransposeWidget* transpose() { return child<TransposeWidget>("transposeWidget"); }
    TransposeButton* arrow(int step) { return transpose()->transposeButton(step); }
    QString counter(int step) { return arrow(step)->label()->text(); }

    static double contrast(QColor a, QColor b)
    {
        auto luminance = [](QColor c) {
            auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        const double x = luminance(a), y = luminance(b);
        return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
    }

    // Every text of a window (labels, buttons, tabs, menus, fields, lists, enabled or not) against
    // the colour most of its place shows on the screen: the text's colour is the one that stands
    // out most there, in fields and lists the palette's text colour.
    static QString unreadable(QWidget* window)
    {
        const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QStringList out;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool field =
                qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTextEdit*>(w) || qobject_cast<QLineEdit*>(w);
            QString text = field ? "field" : w->property(qobject_cast<QComboBox*>(w) ? "currentText" : "text").toString();
            if (auto* tabs = qobject_cast<QTabBar*>(w))
                text = tabs->tabText(0);
            const QRect place = QRect(w->mapTo(window, QPoint()), w->size()) & shot.rect();
            if (!w->isVisible() || w->window() != window || text.isEmpty() || place.isEmpty())
                continue;
            QHash<QRgb, int> counts;
            for (int y = place.top(); y <= place.bottom(); ++y)
                for (int x = place.left(); x <= place.right(); ++x)
                    ++counts[shot.pixel(x, y)];
            const QColor ground(std::max_element(counts.begin(), counts.end()).key());
            double ratio = field ? contrast(w->palette().color(QPalette::Text), ground) : 1;
            for (auto it = counts.cbegin(); !field && it != counts.cend(); ++it)
                ratio = std::max(ratio, contrast(QColor(it.key()), ground));
            if (ratio < 4.5)
                out << QString("%1 %2 \"%3\": %4").arg(w->metaObject()->className(), w->objectName(), text).arg(ratio);
        }
        return out.join("; ");
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        ArborContext::setSettings(mSettings);
        ArborContext::setLattice(mArbor);
        QVERIFY(mApp->createConfigDir() && mPlayer->init() && mArbor->init(mPlayer) && mApp->initPatchFolder());
        QVERIFY(mApp->midiMap()->init(*mArbor, "A 4"));
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
        QTest::newRow("+11") << QList<int>{11} << 11 << "+1" << "";
        QTest::newRow("+3 -5 +3") << QList<int>{3, -5, 3} << 3 << "+2" << "";
        QTest::newRow("-19 -19 +19, darker") << QList<int>{-19, -19, 19} << 19 << "" << "-1";
        QTest::newRow("+13 +11 +13") << QList<int>{13, 11, 13} << 13 << "+2" << "";
    }

    // Each arrow moves its own prime; counters, tooltip, the shifted arrow's colour and reset follow.
    void steps()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, prime);
        QFETCH(QString, up);
        QFETCH(QString, down);
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        for (int step : clicks)
            QTest::mouseClick(arrow(step), Qt::LeftButton);
        QCOMPARE(drained<int>(transposed, 1), clicks);
        QCOMPARE(counter(prime) + "|" + counter(-prime), up + "|" + down);
        const int n = (up + down).mid(1).toInt();
        const QString along = QString("Transposed %1 step%2 %3").arg(n).arg(n > 1 ? "s" : "", up.isEmpty() ? "down" : "up");
        QVERIFY(arrow(prime)->toolTip().endsWith(QString("%1 along %2").arg(n ? along : "not transposed").arg(prime)));
        QCOMPARE(transpose()->resetButton()->isEnabled(), n > 0);
        if (n) {
            const QColor colour = mArbor->lookupColor(prime);
            QCOMPARE(arrowColour(arrow(up.isEmpty() ? -prime : prime)), (prime == 19 ? colour.darker(120) : colour).rgba());
            QTest::mouseClick(transpose()->resetButton(), Qt::LeftButton);
            drain();
            QCOMPARE(mArbor->transposeRatio(), ArborRatio(1, 1));
        }
        QVERIFY(!transpose()->resetButton()->isEnabled());
        const QRgb text = transpose()->palette().color(QPalette::Active, QPalette::WindowText).rgba();
        for (int p : ArborConstants::PRIMES) // back in the text colour, without counters
            for (int step : {p, -p})
                QVERIFY(p == 1 || (counter(step).isEmpty() && arrowColour(arrow(step)) == text));
    }

    // 440 Hz x 2^5 = 14080 Hz is allowed, one octave more is not.
    void refusedStepAndPrimeButtons()
    {
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(arrow(2), Qt::LeftButton);
        drain();
        QCOMPARE(counter(2), QString("+5"));
        QVERIFY(!arrow(2)->isEnabled() && arrow(-2)->isEnabled());
        QCOMPARE(arrowColour(arrow(2)), QRgb(0)); // not painted
        QSignalSpy transposed(mPlayer, &PdPlayer::transposed);
        arrow(2)->click();
        QCOMPARE(drained<int>(transposed, 1), QList<int>());

        // 1, 2 and 3 cannot be switched; another prime's button switches its own prime.
        // As a row each prime is a column: up arrow above down arrow, primes left to right.
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

        // After a failed load "None loaded" shows (once). Inc from the last real patch selects
        // it and loads nothing; Inc again wraps to the first entry; Dec wraps back to the last.
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to copy"));
        mWindow->loadPatch(mShipped + "/missing.pd");
        QCOMPARE(menu()->currentText(), QString("None loaded"));
        const int none = menu()->count() - 1;
        mWindow->setNoPatchLoaded(true);
        QCOMPARE(menu()->count(), none + 1);
        loaded.clear();
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

    // Macro names label the sliders and enable the used ones.
    void macrosAndModes()
    {
        const QList<QPair<QStringList, QStringList>> rows{
            {{"cutoff", "LFO rate", "rEsOnAnCe"}, {"Cutoff", "Lfo rate", "Resonance"}},
            {{"", "drive"}, {"Parameter 1", "Drive"}},
            {{}, {}},
            {{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, {"A", "B", "C", "D", "E", "F", "G", "H"}}};
        for (const auto& [names, labels] : rows) {
            emit mPlayer->macroNamesReceived(names);
            QCoreApplication::processEvents();
            for (int k = 1; k <= 8; ++k) {
                const bool used = k <= labels.size();
                QCOMPARE(text(QString("macroLabel%1").arg(k)), used ? labels.at(k - 1) : QString("Unused"));
                QCOMPARE(child(QString("macroLabel%1").arg(k))->isEnabled(), used);
                QCOMPARE(child(QString("macroSlider%1").arg(k))->isEnabled(), used);
            }
        }

        // Values from the engine move the controls without echo; a moved control sends its value.
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
        QCOMPARE(drained<float>(volumes), QList<float>{0.5f});
        QCOMPARE(QList<QList<QVariant>>(macros), (QList<QList<QVariant>>{{5, 0.75f}}));
        macros.clear();
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
        QVERIFY(text("infoLabel1").startsWith("Shifted prime steps: /3/7/5") && text("infoLabel1").contains(QChar(0x2026)));
        QCOMPARE(child("infoLabel1")->width(), width);
        QVERIFY(mWindow->fontMetrics().horizontalAdvance(text("infoLabel1")) <= width);
        mWindow->resize(mWindow->width() - 150, mWindow->height()); // and again when the window narrows
        QTRY_VERIFY(mWindow->fontMetrics().horizontalAdvance(text("infoLabel1")) <= child("infoLabel1")->width());
        mWindow->resize(mWindow->width() + 150, mWindow->height());
        mArbor->onTransposed(ArborRatio(1, 1), 0);
        mArbor->onBaseFrequencyChanged(440.0f);
    }

    // Days since the last check (or none, or an unreadable time) against the interval chosen.
    void updateCheckDue()
    {
        const QDateTime now = QDateTime::fromString("Tue Mar 3 10:00:00 2026", Qt::TextDate);
        const QList<std::tuple<int, QString, bool>> rows{
            {0, "0", true},    {1, "6", false},    {1, "8", true},     {2, "20", false}, {2, "40", true},
            {3, "none", true}, {3, "yesterday-ish", true}, {3, "60", false}, {4, "400", false},
            {5, "1", true},    {5, "0", false},    {6, "400", false},  {-1, "400", false}};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Unreadable time of the last update check"));
        for (const auto& [interval, age, due] : rows) {
            bool days = false;
            const int back = age.toInt(&days);
            const QString stamp = days ? now.addDays(-back).toString(Qt::TextDate) : age == "none" ? QString() : age;
            QVERIFY2(MainWindow::isUpdateCheckDue(interval, stamp, now) == due, qPrintable(QString::number(interval) + " " + age));
        }
    }

    // Ctrl+9 opens and closes the diagnostics. The cog closes an open options
    // dialog and remembers its place; the next click opens a fresh dialog there.
    void dialogs()
    {
        for (auto press : {std::make_pair(Qt::NoModifier, false), std::make_pair(Qt::ShiftModifier, false),
                           std::make_pair(Qt::ControlModifier, true), std::make_pair(Qt::ControlModifier, false)}) {
            QTest::keyClick(mWindow.get(), Qt::Key_9, press.first);
            QCOMPARE(mWindow->diagnosticsDialog()->isVisible(), press.second);
        }
        click("optionsButton");
        QPointer<OptionsDialog> first = mWindow->optionsDialog();
        QVERIFY(first->isVisible());
        // A new name for the same 1/1 pitch respells the cards of both layers.
        mArbor->onNoteToggled(ArborRatio(1, 1), true);
        for (const char* note : {"C# 4", "Db 4"}) {
            menuOf(first)->setCurrentText(note);
            drain();
            for (ArborLayer* layer : mWindow->findChildren<ArborLayer*>())
                QCOMPARE(layer->cardStack()->cards().values().first()->note().noteSpelling(), QString(note).remove(' '));
        }
        mArbor->onNoteToggled(ArborRatio(1, 1), false);
        first->move(200, 150);
        const QPoint place = first->pos();
        click("optionsButton");
        QVERIFY(first && !first->isVisible() && first == mWindow->optionsDialog());
        click("optionsButton");
        QVERIFY(first.isNull() && mWindow->optionsDialog()->isVisible());
        QCOMPARE(mWindow->optionsDialog()->pos(), place);
        mWindow->optionsDialog()->close();
    }

    // At its smallest the window fits a 1280 x 720 screen with usable sliders
    // and balls, and the view switcher sits clear of the patch box.
    void layoutAndSwitchers()
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

        // Both switchers; the window starts in grapes (as saved) and relative mode.
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

        // "Update" in the tweak dialog (all 22 constants) reloads the lattice under both drawings.
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

    // Every button and slider of the main window has a tooltip. Every text in every window
    // the program opens reads at 4.5:1 or more (WCAG AA) with the style sheet: the main window, each options page, the diagnostics, the "Open Patch" file
    // dialog, a failed download and the update window with its changelog.
    void contrast()
    {
        QVERIFY(mApp->loadStyleSheet());
        QCOMPARE(unreadable(mWindow.get()), QString());
        QStringList unexplained; // every button and slider explains itself
        for (QWidget* control : mWindow->findChildren<QWidget*>())
            if (control->isVisible() && control->toolTip().isEmpty()
                && (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractSlider*>(control)))
                unexplained << control->objectName() + " " + control->metaObject()->className();
        QVERIFY2(unexplained.isEmpty(), qPrintable(unexplained.join(", ")));
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

    // Every edit stores its field and queues the resulting 1/1 frequency. Rows: the
    // 1/1 note when the dialog opens, notes chosen from its menu ("name@index"),
    // a calibration typed (0: none); the frequencies queued, the calibration kept.
    void edits()
    {
        const QStringList none;
        const QList<std::tuple<QString, QStringList, int, QList<float>, int>> rows{
            {"A 4", {"A 8@0"}, 0, {7040}, 440},
            {"A 4", {"Ab 8@1", "G# 8@2"}, 0, {6644.875f, 6644.875f}, 440},
            {"A 4", {"C 8@13"}, 0, {4186.009f}, 440},
            {"A 4", {"C# 4@80", "Db 4@79", "A 4@68"}, 0, {277.183f, 277.183f, 440}, 440},
            {"A 4", {"C 1@132", "B 0@133"}, 0, {32.703f, 30.868f}, 440},
            {"A 4", {"A 0@136"}, 0, {27.5f}, 440},
            {"A 4", none, 432, {432}, 432},
            {"C 4", none, 442, {442.0f * 261.626f / 440.0f}, 442},
            {"A 4", none, 348, {349}, 349}, // below the range
            {"A 4", none, 500, {499}, 499}, // above it
            {"C 4", none, 0, {}, 440},      // opening queues nothing
            {"H 4", none, 0, {}, 440}};     // an unknown note opens as A 4
        for (const auto& [note, chosen, typed, sent, calibration] : rows) {
            mSettings->mCalibrationFrequency = 440;
            mSettings->mBaseNote = note;
            mSettings->mBaseFrequency = 123.0f;
            QSignalSpy spy(mPlayer, &PdPlayer::baseFrequencyChanged);
            DeviceList output;
            OptionsDialog dialog(nullptr, &output);
            QCOMPARE(mSettings->mBaseFrequency, note == "C 4" ? 261.626f : 440.0f);
            QCOMPARE(dialog.findChild<QSpinBox*>()->value(), 440);
            QCOMPARE(menuOf(&dialog)->currentText(), note == "C 4" ? "C 4" : "A 4");
            for (const QString& entry : chosen) {
                const QString name = entry.section('@', 0, 0);
                QCOMPARE(menuOf(&dialog)->itemText(entry.section('@', 1).toInt()), name);
                menuOf(&dialog)->setCurrentText(name);
                QCOMPARE(mSettings->mBaseNote, name);
            }
            if (typed)
                dialog.findChild<QSpinBox*>()->setValue(typed);
            QCOMPARE(drained<float>(spy), sent);
            QCOMPARE(mSettings->mCalibrationFrequency, calibration);
            if (!sent.isEmpty())
                QCOMPARE(mSettings->mBaseFrequency, sent.last());
        }
    }

    // A device chosen while some fail: the devices asked for, the one in use at the end.
    void audioDeviceAndUpdatePage()
    {
        const QList<std::tuple<int, QList<int>, QList<int>, int>> rows{
            {3, {}, {3}, 3}, {2, {2}, {2, 1}, 1}, {2, {2, 1}, {2, 1}, 1}};
        for (const auto& [choice, failing, calls, finalDevice] : rows) {
            DeviceList output;
            OptionsDialog dialog(nullptr, &output);
            QComboBox* devices = menuOf(&dialog, output.mNames.size());
            QCOMPARE(devices->currentIndex(), 1);
            output.mFailing = failing;
            if (failing.contains(choice))
                QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to open audio device"));
            if (failing.contains(1))
                QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to reopen the previous audio device"));
            devices->setCurrentIndex(choice);
            emit devices->activated(choice);
            QCOMPARE(output.mCalls, calls);
            QCOMPARE(devices->currentIndex(), finalDevice);
            QCOMPARE(output.mCurrent, finalDevice);
        }

        DeviceList output;
        for (int interval : {2, 7}) {
            mSettings->mUpdateCheckInterval = interval;
            OptionsDialog dialog(nullptr, &output);
            auto* box = dialog.findChild<QComboBox*>("updateIntervalBox");
            QCOMPARE(box->itemText(0) + "," + box->itemText(4), QString("always,never"));
            QCOMPARE(box->currentIndex(), interval == 2 ? 2 : -1);
            box->setCurrentIndex(3);
            emit box->activated(3);
            QCOMPARE(mSettings->mUpdateCheckInterval, 3);
        }
        OptionsDialog dialog(nullptr, &output);
        const QString about = dialog.findChild<QLabel*>("aboutLabel")->text();
        QVERIFY(about.contains("Elmsby Vudiru Arbor") && about.contains("version 1.5.0") && !about.contains("version>"));
        QVERIFY(about.contains("Qt, libpd and PortAudio"));
        const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* l) { return l->text() == "The current version is: 1.5.0"; }));
        QTabWidget* tabs = dialog.findChild<QTabWidget*>();
        QCOMPARE(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2) + tabs->tabText(3), QString("OptionsMIDIUpdateAbout"));
    }

    // On real ports of the test's JACK server: every MIDI control explains itself, and each choice lands in
    // options.json by name and applies at once (devices connect, the bend range goes out to the synth).
    void midiPage()
    {
        MidiInput* in = mApp->midiInput();
        MidiOutput* out = mApp->midiOutput();
        QVERIFY(in->init("jack", "", mApp->midiMap()) && out->init("jack", "", MidiOutput::Mpe, 2, 440.0f));
        RtMidiOut keyboard(RtMidi::UNIX_JACK, "Test keys");
        RtMidiIn synth(RtMidi::UNIX_JACK, "Test synth");
        keyboard.openVirtualPort("keys");
        synth.openVirtualPort("synth");
        mSettings->setFilePath(VudiruArborApplication::configDir() + "/options.json");
        std::vector<unsigned char> message, range{0xB1, 6, 48}; // data entry of RPN 0 on a member channel
        const QList<std::tuple<QString, QString, QVariant>> rows{ // menu, entry chosen, option saved
            {"midiInput", "Test keys:keys", "Test keys:keys"}, {"midiOutput", "Test synth:synth", "Test synth:synth"},
            {"midiBendRange", "48 semitones", 48}, {"midiOutMode", "MIDI Tuning Standard", "mts"},
            {"midiApi", "ALSA", "alsa"}, {"midiInput", "None", ""}};
        for (const auto& [name, entry, value] : rows) {
            DeviceList audio;
            OptionsDialog dialog(nullptr, &audio);
            for (QComboBox* menu : dialog.findChildren<QComboBox*>(QRegularExpression("^midi")))
                QVERIFY2(menu->toolTip().size() > 60, qPrintable(menu->objectName()));
            auto* menu = dialog.findChild<QComboBox*>(name + "Menu");
            menu->setCurrentIndex(menu->findText(entry));
            emit menu->activated(menu->currentIndex());
            QVERIFY(mSettings->save());
            QCOMPARE(QJsonDocument::fromJson(contents(mSettings->filePath()))[name].toVariant(), value);
            QCOMPARE(in->port().device() + "|" + out->port().device(), mSettings->mMidiInput + "|" + mSettings->mMidiOutput);
            QCOMPARE(!dialog.findChild<QLabel*>("midiRestartLabel")->isHidden(), name == "midiApi");
            if (name == "midiBendRange") // before the next row changes the mode
                QTRY_VERIFY_WITH_TIMEOUT(message == range || (synth.getMessage(&message), message == range), 3000);
        }
        QVERIFY(out->port().isConnected());
    }

    // With the lattice focused the letter keys play the map's octave from its root key (A). Rows: keys pressed (+),
    // repeated (*), released (-), released by autorepeat (~), the focus lost (o); after each, the keys whose balls
    // sound.
    void keyboard()
    {
        const QList<QPair<QString, QString>> rows{{"+A -A", "A,"}, {"+S *S ~S *S -S", "S,S,S,S,"},
            {"+W +K -W -K", "W,WK,K,"}, {"+A +H o -A -H", "A,AH,,,"}, {"+Q -Q +L +^A", ",,,"}};
        const MidiMap* map = mApp->midiMap();
        QApplication::setActiveWindow(mWindow.get());
        ArborView* view = mWindow->arborView();
        QSignalSpy notes(mPlayer, &PdPlayer::noteToggled);
        QHash<ArborRatio, bool> sounding; // as the engine says
        for (const auto& [actions, heard] : rows) {
            view->setFocus();
            QTRY_VERIFY(view->hasFocus());
            QStringList got;
            for (const QString& a : actions.split(' ')) {
                QKeyEvent key(a[0] == '+' || a[0] == '*' ? QEvent::KeyPress : QEvent::KeyRelease, a.back().unicode(),
                              a[1] == '^' ? Qt::ControlModifier : Qt::NoModifier, a.back(), a[0] == '*' || a[0] == '~');
                if (a == "o")
                    child("patchMenu")->setFocus();
                else
                    QApplication::sendEvent(view, &key);
                drain();
                for (const QList<QVariant>& args : qAsConst(notes))
                    sounding[args[0].value<ArborRatio>()] = args[1].toBool();
                notes.clear();
                got << QString();
                for (int offset = 0; offset < 13; ++offset) // the keys whose balls sound
                    if (auto* n = dynamic_cast<const ArborNoteEvent*>(map->key(map->rootKey() + offset));
                        n && sounding.value(ArborRatio::relativeFromPath(n->path())))
                        got.last() += QString("AWSEDFTGYHUJK")[offset];
            }
            QCOMPARE(got.join(','), heard);
        }
    }
};

int main(int argc, char** argv)
{
    QTemporaryDir data(QDir::tempPath() + "/arbor window XXXXXX");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("ARBOR_NO_MODAL_BOXES", "1");
    VudiruArborApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
