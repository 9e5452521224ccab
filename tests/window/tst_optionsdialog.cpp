#include "WindowFixture.h"

#include "AudioOutput.h"
#include "OptionsDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>

// There is no sound card: an output with a fixed device list, whose devices
// in mFailing refuse to open. It records every device it is asked for.
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

class OptionsDialogTest : public QObject, public WindowFixture
{
    Q_OBJECT

    DeviceList mOutput;

    static QComboBox* menu(OptionsDialog& dialog, int entries = 137) // the 1/1 note menu by default
    {
        for (QComboBox* box : dialog.findChildren<QComboBox*>())
            if (box->count() == entries)
                return box;
        return nullptr;
    }

private slots:
    void initTestCase() { QVERIFY(setUp()); }

    void init()
    {
        mSettings->mCalibrationFrequency = 440;
        mSettings->mBaseNote = "A 4";
        mOutput.mFailing.clear();
        mOutput.mCalls.clear();
        mOutput.mCurrent = 1;
    }

    void edits_data()
    {
        QTest::addColumn<QString>("note");       // the 1/1 note when the dialog opens
        QTest::addColumn<QStringList>("chosen"); // notes chosen from the menu, "name@index"
        QTest::addColumn<int>("typed");          // calibration typed, 0: none
        QTest::addColumn<QList<float>>("sent");
        QTest::addColumn<int>("calibration");
        const QStringList none;
        QTest::newRow("A 8 first entry") << "A 4" << QStringList{"A 8@0"} << 0 << QList<float>{7040} << 440;
        QTest::newRow("Ab 8, G# 8") << "A 4" << QStringList{"Ab 8@1", "G# 8@2"} << 0
                                    << QList<float>{6644.875f, 6644.875f} << 440;
        QTest::newRow("C 8") << "A 4" << QStringList{"C 8@13"} << 0 << QList<float>{4186.009f} << 440;
        QTest::newRow("C# 4, Db 4, A 4") << "A 4" << QStringList{"C# 4@80", "Db 4@79", "A 4@68"} << 0
                                         << QList<float>{277.183f, 277.183f, 440} << 440;
        QTest::newRow("B 0 after C 1") << "A 4" << QStringList{"C 1@132", "B 0@133"} << 0
                                       << QList<float>{32.703f, 30.868f} << 440;
        QTest::newRow("A 0 last entry") << "A 4" << QStringList{"A 0@136"} << 0 << QList<float>{27.5f} << 440;
        QTest::newRow("A 4 at 432") << "A 4" << none << 432 << QList<float>{432} << 432;
        QTest::newRow("C 4 at 442") << "C 4" << none << 442 << QList<float>{442.0f * 261.626f / 440.0f} << 442;
        QTest::newRow("below range") << "A 4" << none << 348 << QList<float>{349} << 349;
        QTest::newRow("above range") << "A 4" << none << 500 << QList<float>{499} << 499;
        QTest::newRow("opening queues nothing") << "C 4" << none << 0 << QList<float>{} << 440;
        QTest::newRow("unknown note opens as A 4") << "H 4" << none << 0 << QList<float>{} << 440;
    }

    // Every edit stores its field and queues the resulting 1/1 frequency.
    void edits()
    {
        QFETCH(QString, note);
        QFETCH(QStringList, chosen);
        QFETCH(int, typed);
        QFETCH(QList<float>, sent);
        QFETCH(int, calibration);
        mSettings->mBaseNote = note;
        mSettings->mBaseFrequency = 123.0f;
        QSignalSpy spy(mPlayer, &PdPlayer::baseFrequencyChanged);
        OptionsDialog dialog(nullptr, &mOutput);
        QCOMPARE(mSettings->mBaseFrequency, note == "C 4" ? 261.626f : 440.0f);
        QCOMPARE(dialog.findChild<QSpinBox*>()->value(), 440);
        QCOMPARE(menu(dialog)->currentText(), note == "C 4" ? "C 4" : "A 4");
        for (const QString& entry : chosen) {
            const QString name = entry.section('@', 0, 0);
            QCOMPARE(menu(dialog)->itemText(entry.section('@', 1).toInt()), name);
            menu(dialog)->setCurrentText(name);
            QCOMPARE(mSettings->mBaseNote, name);
        }
        if (typed)
            dialog.findChild<QSpinBox*>()->setValue(typed);
        QCOMPARE(drained<float>(spy), sent);
        QCOMPARE(mSettings->mCalibrationFrequency, calibration);
        if (!sent.isEmpty())
            QCOMPARE(mSettings->mBaseFrequency, sent.last());
        QTabWidget* tabs = dialog.findChild<QTabWidget*>();
        QCOMPARE(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2), QString("OptionsUpdateAbout"));
    }

    void audioDevice_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QList<int>>("failing");
        QTest::addColumn<QList<int>>("calls");
        QTest::addColumn<int>("finalDevice");
        QTest::newRow("works") << 3 << QList<int>{} << QList<int>{3} << 3;
        QTest::newRow("fails, previous reopened") << 2 << QList<int>{2} << QList<int>{2, 1} << 1;
        QTest::newRow("fails, previous fails too") << 2 << QList<int>{2, 1} << QList<int>{2, 1} << 1;
    }

    void audioDevice()
    {
        QFETCH(int, choice);
        QFETCH(QList<int>, failing);
        QFETCH(QList<int>, calls);
        QFETCH(int, finalDevice);
        OptionsDialog dialog(nullptr, &mOutput);
        QComboBox* devices = menu(dialog, mOutput.mNames.size());
        QCOMPARE(devices->currentIndex(), 1);
        mOutput.mFailing = failing;
        if (failing.contains(choice))
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to open audio device"));
        if (failing.contains(1))
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to reopen the previous audio device"));
        devices->setCurrentIndex(choice);
        emit devices->activated(choice);
        QCOMPARE(mOutput.mCalls, calls);
        QCOMPARE(devices->currentIndex(), finalDevice);
        QCOMPARE(mOutput.mCurrent, finalDevice);
    }

    void updatePageAndVersion()
    {
        for (int interval : {2, 7}) {
            mSettings->mUpdateCheckInterval = interval;
            OptionsDialog dialog(nullptr, &mOutput);
            auto* box = dialog.findChild<QComboBox*>("updateIntervalBox");
            QCOMPARE(box->itemText(0) + "," + box->itemText(4), QString("always,never"));
            QCOMPARE(box->currentIndex(), interval == 2 ? 2 : -1);
            box->setCurrentIndex(3);
            emit box->activated(3);
            QCOMPARE(mSettings->mUpdateCheckInterval, 3);
        }
        OptionsDialog dialog(nullptr, &mOutput);
        const QString about = dialog.findChild<QLabel*>("aboutLabel")->text();
        QVERIFY(about.contains("Elmsby Vudiru Arbor") && about.contains("version 1.5.0"));
        QVERIFY(!about.contains("version>"));
        QVERIFY(about.contains("Qt, libpd and PortAudio"));
        bool updatePage = false;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            updatePage |= label->text() == "The current version is: 1.5.0";
        QVERIFY(updatePage);
    }
};

WINDOW_TEST_MAIN(OptionsDialogTest)
#include "tst_optionsdialog.moc"
