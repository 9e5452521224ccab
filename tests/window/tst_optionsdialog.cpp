#include "WindowFixture.h"

#include "FakeAudioOutput.h"
#include "OptionsDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

using namespace WindowFixture;

class OptionsDialogTest : public QObject
{
    Q_OBJECT

private:
    PdPlayer* mPlayer = nullptr;
    Settings* mSettings = nullptr;
    FakeAudioOutput mOutput;

    // Base frequencies the engine received since the last call.
    QList<float> takeBaseFrequencies()
    {
        QSignalSpy spy(mPlayer, SIGNAL(baseFrequencyChanged(float)));
        drain(mPlayer);
        QList<float> out;
        for (const QList<QVariant>& args : spy)
            out << args.at(0).toFloat();
        return out;
    }

    static QComboBox* noteMenu(OptionsDialog& d)
    {
        // The 1/1 note menu is the one with the 137 names.
        for (QComboBox* box : d.findChildren<QComboBox*>())
            if (box->count() == 137)
                return box;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(initCore());
        mPlayer = app()->player();
        mSettings = app()->settings();
    }

    void init()
    {
        mSettings->mCalibrationFrequency = 440;
        mSettings->mBaseNote = "A 4";
        mSettings->mBaseFrequency = 440.0f;
        mSettings->mUpdateCheckInterval = 4;
        mOutput.mFailing.clear();
        mOutput.mCalls.clear();
        mOutput.mCurrent = 1;
        takeBaseFrequencies();
    }

    void noteTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<float>("frequency");
        QTest::newRow("A 8 first") << "A 8" << 0 << 7040.0f;
        QTest::newRow("Ab 8") << "Ab 8" << 1 << 6644.875f;
        QTest::newRow("G# 8") << "G# 8" << 2 << 6644.875f;
        QTest::newRow("C 8") << "C 8" << -1 << 4186.009f;
        QTest::newRow("A 4") << "A 4" << 68 << 440.0f;
        QTest::newRow("C 4") << "C 4" << -1 << 261.626f;
        QTest::newRow("A# 0") << "A# 0" << 135 << 29.135f;
        QTest::newRow("A 0 last") << "A 0" << 136 << 27.5f;
    }

    void noteTable()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        QFETCH(float, frequency);
        OptionsDialog dialog(nullptr, &mOutput);
        QCOMPARE(dialog.noteNames().size(), 137);
        QCOMPARE(dialog.noteFrequencies().size(), 137);
        const int at = dialog.noteNames().indexOf(name);
        QVERIFY(at >= 0);
        if (index >= 0)
            QCOMPARE(at, index);
        QCOMPARE(dialog.noteFrequencies().at(at), frequency);
        QCOMPARE(dialog.noteNames().count("B 0"), 1);
        QCOMPARE(dialog.noteNames().indexOf("C 1") + 1, dialog.noteNames().indexOf("B 0"));
        QCOMPARE(noteMenu(dialog)->itemText(at), name);
    }

    void openingQueuesNothing()
    {
        mSettings->mBaseNote = "C 4";
        mSettings->mBaseFrequency = 123.0f;
        OptionsDialog dialog(nullptr, &mOutput);
        QCOMPARE(dialog.findChild<QSpinBox*>()->value(), 440);
        QCOMPARE(noteMenu(dialog)->currentText(), QString("C 4"));
        QCOMPARE(mSettings->mBaseFrequency, 261.626f);
        QCOMPARE(takeBaseFrequencies(), QList<float>());
        QCOMPARE(dialog.size(), QSize(450, 260));
        QTabWidget* tabs = dialog.findChild<QTabWidget*>();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QString("Options"));
        QCOMPARE(tabs->tabText(1), QString("Update"));
        QCOMPARE(tabs->tabText(2), QString("About"));
    }

    void unknownBaseNoteUsesA4()
    {
        mSettings->mBaseNote = "H 4";
        mSettings->mCalibrationFrequency = 442;
        OptionsDialog dialog(nullptr, &mOutput);
        QCOMPARE(noteMenu(dialog)->currentIndex(), 68);
        QCOMPARE(mSettings->mBaseFrequency, 442.0f);
    }

    void calibration()
    {
        OptionsDialog dialog(nullptr, &mOutput);
        QSpinBox* spin = dialog.findChild<QSpinBox*>();
        QCOMPARE(spin->minimum(), 349);
        QCOMPARE(spin->maximum(), 499);
        spin->setValue(432);
        QCOMPARE(mSettings->mCalibrationFrequency, 432);
        QCOMPARE(takeBaseFrequencies(), QList<float>{432.0f});
        spin->setValue(348);
        QCOMPARE(spin->value(), 349);
        spin->setValue(500);
        QCOMPARE(spin->value(), 499);
        QCOMPARE(mSettings->mCalibrationFrequency, 499);
    }

    void calibrationWithOtherNote()
    {
        mSettings->mBaseNote = "C 4";
        OptionsDialog dialog(nullptr, &mOutput);
        dialog.findChild<QSpinBox*>()->setValue(442);
        const float expected = 442.0f * 261.626f / 440.0f;
        QCOMPARE(takeBaseFrequencies(), QList<float>{expected});
        QCOMPARE(mSettings->mBaseFrequency, expected);
    }

    void enharmonicNotes()
    {
        OptionsDialog dialog(nullptr, &mOutput);
        QComboBox* menu = noteMenu(dialog);
        menu->setCurrentIndex(dialog.noteNames().indexOf("C# 4"));
        QCOMPARE(mSettings->mBaseNote, QString("C# 4"));
        menu->setCurrentIndex(dialog.noteNames().indexOf("Db 4"));
        QCOMPARE(mSettings->mBaseNote, QString("Db 4"));
        const QList<float> sent = takeBaseFrequencies();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0), 277.183f);
        QCOMPARE(sent.at(1), 277.183f);
    }

    void audioDevice_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("choiceFails");
        QTest::addColumn<bool>("previousFails");
        QTest::addColumn<int>("finalDevice");
        QTest::addColumn<QList<int>>("calls");
        QTest::newRow("works") << 3 << false << false << 3 << QList<int>{3};
        QTest::newRow("fails, previous reopened") << 2 << true << false << 1 << QList<int>{2, 1};
        QTest::newRow("fails, previous fails too") << 2 << true << true << 1 << QList<int>{2, 1};
    }

    void audioDevice()
    {
        QFETCH(int, choice);
        QFETCH(bool, choiceFails);
        QFETCH(bool, previousFails);
        QFETCH(int, finalDevice);
        QFETCH(QList<int>, calls);
        OptionsDialog dialog(nullptr, &mOutput);
        QComboBox* menu = nullptr;
        for (QComboBox* box : dialog.findChildren<QComboBox*>())
            if (box->count() == mOutput.mNames.size())
                menu = box;
        QVERIFY(menu);
        QCOMPARE(menu->currentIndex(), 1);
        if (choiceFails)
            mOutput.mFailing << choice;
        if (previousFails)
            mOutput.mFailing << 1;
        if (choiceFails)
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to open audio device"));
        if (previousFails)
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to reopen the previous audio device"));
        menu->setCurrentIndex(choice);
        dialog.onAudioDeviceMenuActivated(choice);
        QCOMPARE(mOutput.mCalls, calls);
        QCOMPARE(menu->currentIndex(), finalDevice);
        if (!previousFails)
            QCOMPARE(mOutput.mCurrent, finalDevice);
    }

    void updatePage()
    {
        mSettings->mUpdateCheckInterval = 2;
        OptionsDialog dialog(nullptr, &mOutput);
        auto* box = dialog.findChild<QComboBox*>("updateIntervalBox");
        QVERIFY(box);
        QCOMPARE(box->count(), 5);
        QCOMPARE(box->itemText(0), QString("always"));
        QCOMPARE(box->itemText(4), QString("never"));
        QCOMPARE(box->currentIndex(), 2);
        dialog.onUpdateCheckFrequencyActivated(3);
        QCOMPARE(mSettings->mUpdateCheckInterval, 3);
        QVERIFY(dialog.findChild<QPushButton*>("updateCheckButton"));
        bool versionShown = false;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            versionShown |= label->text() == "The current version is: 1.5.0";
        QVERIFY(versionShown);

        mSettings->mUpdateCheckInterval = 7;
        OptionsDialog other(nullptr, &mOutput);
        QCOMPARE(other.findChild<QComboBox*>("updateIntervalBox")->currentIndex(), -1);
    }

    void aboutPage()
    {
        OptionsDialog dialog(nullptr, &mOutput);
        QLabel* about = dialog.findChild<QLabel*>("aboutLabel");
        QVERIFY(about);
        QVERIFY(about->text().contains("Elmsby Vudiru Arbor"));
        QVERIFY(about->text().contains("version 1.5.0"));
        QVERIFY(!about->text().contains("<version>"));
        QVERIFY(!about->text().contains("version>"));
        QVERIFY(about->text().contains("Qt, libpd and PortAudio"));
        QCOMPARE(about->textFormat(), Qt::RichText);
        QVERIFY(about->openExternalLinks());
    }

    void closeRemembersPosition()
    {
        OptionsDialog dialog(nullptr, &mOutput);
        dialog.show();
        dialog.rePosition(QPoint(140, 90));
        QCOMPARE(dialog.pos(), QPoint(140, 90));
        dialog.close();
        dialog.rePosition(QPoint(0, 0));
        dialog.rePosition();
        QCOMPARE(dialog.pos(), QPoint(140, 90));
    }
};

WINDOW_TEST_MAIN(OptionsDialogTest)
#include "tst_optionsdialog.moc"
