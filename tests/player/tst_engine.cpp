// The engine over real libpd and real patches; the test plays the audio thread. One engine serves the module.

#include "PlayerTestSupport.h"

#include "Arbor.h"
#include "ArborContext.h"

#include "z_libpd.h"

using namespace PlayerTest;

namespace
{
// Sends a list to `name` (a float, and a symbol when `text` is given); returns how many bound receivers got it.
int sendList(const char* name, float value = 0.0f, const char* text = nullptr)
{
    static int seen = 0;
    seen = 0;
    libpd_set_listhook([](const char* source, int argc, t_atom* argv) { ++seen, PdPlayer::pdListHook(source, argc, argv); });
    libpd_start_message(2);
    libpd_add_float(value);
    if (text)
        libpd_add_symbol(text);
    libpd_finish_list(name);
    libpd_set_listhook(reinterpret_cast<t_libpd_listhook>(&PdPlayer::pdListHook));
    return seen;
}

// A signal argument as text; lists are joined by ",".
QString argText(const QVariant& a)
{
    QStringList items = a.toStringList();
    if (a.userType() == qMetaTypeId<ArborRatio>())
        return a.value<ArborRatio>().toString();
    for (float f : a.value<QList<float>>())
        items << QString::number(double(f));
    return items.isEmpty() ? a.toString() : items.join(',');
}

// Every signal of the engine as "name arg...", grouped by signal in the order of declaration, joined by "; ".
struct SignalLog : std::vector<std::unique_ptr<QSignalSpy>>
{
    explicit SignalLog(PdPlayer* player)
    {
        const QMetaObject& mo = PdPlayer::staticMetaObject;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            if (mo.method(i).methodType() == QMetaMethod::Signal)
                emplace_back(new QSignalSpy(player, "2" + mo.method(i).methodSignature()));
    }
    QString text() const
    {
        QStringList out;
        for (const auto& spy : *this)
            for (const QList<QVariant>& args : *spy) {
                QString line = QString::fromLatin1(spy->signal().left(spy->signal().indexOf('(')));
                for (const QVariant& a : args)
                    line += ' ' + argText(a);
                out << line;
            }
        return out.join("; ");
    }
};

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCatcher> mLog; // installed once the test runner has its own handler
    RuntimeFolder mFolder;
    Arbor mLattice;
    FakePaApi mApi;
    PaAudioOutput mOutput {nullptr, &mApi}; // its stream "runs" from init to closeDevice
    PdPlayer mPlayer;
    QString mOpen; // the patch opened last by open()

    // Opens `patch` unless it is open, restores the start-up state, then holds the first `held` distinct notes.
    void open(const QFileInfo& patch, int held = 0)
    {
        if (mOpen != patch.filePath() || !mPlayer.isPatchOpen())
            QVERIFY(mPlayer.loadPatch(patch));
        mOpen = patch.filePath();
        for (const auto& e : {qMakePair(1, 1.0f), {2, 0.0f}, {4, 1.0f}, {6, 0.8f}, {7, 0.0f}, {9, 440.0f}})
            queue(mPlayer, e.first, e.second);
        for (int p = 0; p < 32; ++p)
            if (!mPlayer.isPrimeEnabled(p))
                queue(mPlayer, ArborEvent::PrimeToggle, float(p));
        mPlayer.processEvents();
        for (int v = 1; v <= PdPlayer::VOICE_COUNT; ++v)
            sendList("voice-stop", float(v));
        for (const QString& path : distinctPaths(held))
            toggle(mPlayer, path);
        mPlayer.processEvents();
        mLog->clear();
    }

private slots:
    // The lattice's transposition (twenty steps along 31) has no absolute ratio: using it would log.
    void initTestCase()
    {
        PdPlayer::sAudioDebug = true;
        mLog.reset(new LogCatcher);
        mLattice.initWithDefaults();
        for (int i = 0; i < 20; ++i)
            mLattice.onTransposed(ArborRatio(31, 16), 31);
        ArborContext::setLattice(&mLattice);
        const ArborRatio probe(ArborPath(QStringLiteral("/3")));
        QVERIFY(mLog->contains(QStringLiteral("ArborRatio: no absolute ratio")));
        QVERIFY(mPlayer.init());
        mPlayer.initAudio(2, 44100);
        mPlayer.setOutput(&mOutput);
    }
    void cleanupTestCase() { ArborContext::setLattice(nullptr); }

    // Requests against the test patch, which prints what it gets: "TYPE VALUE" from the GUI, "w TYPE VALUE" from the wand, "t PATH"
    // a toggle ("t #N": the N-th distinct path), "run" the audio thread, "stop V" the patch reporting voice V, "raw HEX" a toggle
    // chunk with these path bytes, "fill" 128 held notes; then a run and the results delivered. Prints: "on F V L" the three note-on
    // messages to voice V (frequency, level, gate), "off V" its note-off. Emitted: "+R", "-R" for noteToggled R.
    void script_data()
    {
        QTest::addColumn<QStringList>("row");
        const auto row = [](const char* name, const QString& script, const QString& prints, const QString& emitted) {
            QTest::newRow(name) << QStringList {script, prints, emitted};
        };
        QStringList transposed;
        for (quint64 i = 1, n = 31; i <= 12; ++i, n *= 31) // (31/16)^12 is the last that fits 64 bits
            transposed << QStringLiteral("transposed %1/%2 31").arg(n).arg(1ull << (4 * i));
        row("toggle twice", "t; t", "on 440 1 1; off 1", "+1/1; -1/1");
        row("master volume", "6 0.5; 5 0.25", "master-vol: 0.5; master-vol: 0.75", "volumeChanged 0.5; volumeChanged 0.75");
        row("macros", "11 0.25; 18 1", "arbor-in: 0.25 4 0; arbor-in: 1 11 0", "macroValueChanged 1 0.25; macroValueChanged 8 1");
        row("voice volume", "4 0.5; 3 0.25; t", "on 440 1 0.75", "+1/1; voiceVolumeChanged 0.5; voiceVolumeChanged 0.75");
        row("base frequency", "9 432; t /5", "on 540 1 1", "+5/4; baseFrequencyChanged 432");
        row("transpose 2.5 is 3", "2 2.5; t", "on 660 1 1", "+3/2; transposed 3/2 3");
        row("transpose -2.5 is -2", "2 -2.5; t", "on 220 1 1", "+1/2; transposed 1/2 -2");
        row("transpose 0 resets", "2 3; 2 0; t", "on 440 1 1", "+1/1; transposed 3/2 3; transposed 1/1 0");
        row("transposed toggle", "2 5; t /3", "on 825 1 1", "+15/8; transposed 5/4 5");
        row("bad steps", "2 4; 2 -4; 2 1e9; 2 -1e9; 2 nan; 2 inf; 2 259; t", "on 440 1 1", "+1/1");
        row("transposition overflow", QString("w 2 31; ").repeated(20) + "t /31/31/31/31/31/31", "", transposed.join("; "));
        row("disabled prime", "10 3; 10 31.5; t /3", "", "primeEnabledToggled 3 false; primeEnabledToggled 31 false");
        row("prime again", "10 3.9; 10 3; t /3", "on 660 1 1", "+3/2; primeEnabledToggled 3 false; primeEnabledToggled 3 true");
        row("root stays", "10 0; 10 2; t", "on 440 1 1", "+1/1; primeEnabledToggled 0 false; primeEnabledToggled 2 false");
        row("bad primes", "10 40; 10 -3; 10 -1.5; 10 nan; 10 1e12; t /3", "on 660 1 1", "+3/2");
        row("20 Hz, 20 kHz unsent", "9 20; t; 9 40000; t /-2", "", "+1/1; +1/2; baseFrequencyChanged 20; baseFrequencyChanged 40000");
        row("mono, poly, patch steps", "7 0.6; 7 0.5; 8 1; 8 0", "",
            "monophonicChanged true; monophonicChanged false; patchDecRequested; patchIncRequested");
        row("unknown types, plain open", "23 1; -1 1; 1000 1; 19 1; t", "on 440 1 1", "+1/1");
        row("key down and up", "21 0.5; 21 1; 22 0; 22 0", "on 440 1 0.5; off 1", "+1/1; -1/1"); // held: no new voice
        row("key on releasing, velocity bounded", "4 0.5; 21 2; 22 0; 21 -1; 22 0; 21 nan", "on 440 1 0.5; off 1; on 440 2 0; off 2; on 440 3 0.5",
            "+1/1; -1/1; +1/1; -1/1; +1/1; voiceVolumeChanged 0.5");
        row("mono", "7 1; t; t /3; t /3", "on 440 1 1; off 1; on 660 2 1; off 2", "+1/1; -1/1; +3/2; -3/2; monophonicChanged true");
        row("poly", "7 1; t /5; 7 0; t /7", "on 550 1 1; on 770 2 1", "+5/4; +7/4; monophonicChanged true; monophonicChanged false");
        row("releasing restarts elsewhere", "t; t; t", "on 440 1 1; off 1; on 440 2 1", "+1/1; -1/1; +1/1");
        row("late stop", "t; t; t; stop 1; t", "on 440 1 1; off 1; on 440 2 1; off 2", "+1/1; -1/1; +1/1; -1/1");
        row("stop frees", "t; t; stop 1; t", "on 440 1 1; off 1; on 440 1 1", "+1/1; -1/1; +1/1");
        row("odd stops", "t; stop 1; t; stop 0; stop 129; stop nan; t", "on 440 1 1; off 1; on 440 2 1", "+1/1; -1/1; +1/1");
        row("steals the oldest", "fill; t #128", "off 1; on 739.2 1 1", "-2048/17325; +42/25"); // #128 is /3/-5/-5/7
        row("steals a releasing oldest", "fill; t #0; t #128", "off 1; on 739.2 1 1", "-2048/17325; +42/25");
        row("wand before GUI", "4 10; w 4 20; 4 11; w 4 21", "",
            "voiceVolumeChanged 20; voiceVolumeChanged 21; voiceVolumeChanged 10; voiceVolumeChanged 11");
        row("bad path bytes", "raw 04; raw ff; raw 01; raw 80; raw 7f; raw 25; raw 030506", "", "");
        row("six steps count", "raw 03030303030309", "on 5011.88 1 1", "+729/64");
        row("macro lists", "macros a(0.5):b:c(x); macros (0.3); macros; macros a::b; macros x)1(; macros cut_off_(2)", "",
            "macroNamesReceived a,b,c; macroNamesReceived ; macroNamesReceived ; macroNamesReceived a,,b; macroNamesReceived x)1(; "
            "macroNamesReceived cut off ; macroDefaultsReceived 0.5,-1,0; macroDefaultsReceived 0.3; macroDefaultsReceived -1; "
            "macroDefaultsReceived -1,-1,-1; macroDefaultsReceived -1; macroDefaultsReceived 2");
        row("own results after waiting ones", "t /3; run; raw 03", "on 660 1 1; off 1", "+3/2; -3/2");
    }
    void script()
    {
        QFETCH(QStringList, row); // script, prints, emitted
        open(mFolder.protocol(), row[0].startsWith("fill") ? PdPlayer::VOICE_COUNT : 0);
        SignalLog signalLog(&mPlayer);
        for (const QString& line : (row[0] + "; run").split("; ")) { // then the results are delivered
            const QStringList w = line.split(' ');
            if (w[0] == "t") {
                toggle(mPlayer, w.value(1).startsWith('#') ? distinctPaths(129).at(w[1].mid(1).toInt()) : w.value(1));
            } else if (w[0] == "run" || w[0] == "stop") {
                std::thread([this] { mPlayer.processEvents(); }).join();
                w[0] == "stop" && sendList("voice-stop", w[1].toFloat());
            } else if (w[0] == "raw") {
                PdMessageBuffer::Chunk chunk {ArborEvent::NoteToggle};
                const QByteArray bytes = QByteArray::fromHex(w[1].toLatin1());
                std::copy(bytes.begin(), bytes.end(), chunk.mPath);
                mPlayer.processChunk(&chunk);
            } else if (w[0] == "macros") {
                mPlayer.onMacroNamesReceived(w.value(1).replace('_', ' ').toLatin1().constData());
            } else if (w[0] != "fill") { // held before the script
                const bool wand = w[0] == "w";
                queue(mPlayer, w[wand].toInt(), w[1 + wand].toFloat(), wand);
            }
        }
        mPlayer.deliverResults();
        QCOMPARE(mLog->pdPrints().join("; "), row[1].replace(QRegularExpression("(^|; )on (\\S+) (\\S+) ([^ ;]+)"),
                                                             "\\1arbor-in: \\2 2 \\3; arbor-in: \\4 3 \\3; arbor-in: 1 1 \\3")
                                                    .replace(QRegularExpression("(^|; )off "), "\\1arbor-in: 0 1 "));
        QCOMPARE(signalLog.text(), row[2].replace(QRegularExpression("(^|; )\\+([^; ]+)"), "\\1noteToggled \\2 true")
                                         .replace(QRegularExpression("(^|; )-([^; ]+)"), "\\1noteToggled \\2 false"));
        QVERIFY(mPlayer.isPatchOpen() && !mLog->contains("ArborRatio:"));
    }

    // The shell with the Sine voice, rendered; fitted at the expected notes, what is off them is out of tune or distorted. Chords
    // never clip at master 1.0 (nor at 20: limited), 16 notes keep the rest 40 dB below the weakest; one note at 0.9 is heard.
    void sound_data()
    {
        QTest::addColumn<QString>("request"); // before the toggles
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QList<double>>("notes");
        QTest::newRow("root") << "" << QStringList {""} << QList<double> {440};
        QTest::newRow("fifth") << "" << QStringList {"/3"} << QList<double> {660};
        QTest::newRow("octave down at 432") << "9 432" << QStringList {"/-2"} << QList<double> {216};
        QTest::newRow("root transposed") << "2 3" << QStringList {""} << QList<double> {660};
        QTest::newRow("/7/-3 at 300") << "9 300" << QStringList {"/7/-3"} << QList<double> {350};
        for (int voices : {8, 16, 32, 128}) // the notes of the paths
            QTest::addRow("%d voices", voices) << "" << distinctPaths(voices) << QList<double>();
        QTest::newRow("128 voices at master 20: limited") << "5 19" << distinctPaths(128) << QList<double>();
    }
    void sound()
    {
        QFETCH(QString, request);
        QFETCH(QStringList, paths);
        QFETCH(QList<double>, notes);
        for (int i = notes.size(); i < paths.size(); ++i)
            notes << ArborRatio::relativeFromPath(ArborPath(paths[i])).toDouble() * 440.0;
        open(mFolder.main());
        QVERIFY(mOutput.isStreamRunning() || mOutput.init(256, 0, &mPlayer)); // the test calls the stream back
        QSignalSpy toggled(&mPlayer, &PdPlayer::noteToggled);
        queue(mPlayer, ArborEvent::MasterVolumeSet, notes.size() > 1 ? 1.0f : 0.9f);
        queue(mPlayer, request.section(' ', 0, 0).toInt() - request.isEmpty(), request.section(' ', 1).toFloat());
        for (const QString& path : paths)
            toggle(mPlayer, path);
        const std::vector<float> sound = mApi.render(120);
        const long clipped = std::count_if(sound.begin(), sound.end(), [](float x) { return std::abs(x) >= 1.0f; });
        const double off = notes.size() > 16 ? -99.0 : offNoteLevel({sound.begin() + 12800, sound.end()}, notes.toVector().toStdVector());
        QVERIFY(clipped == 0 && off < -40.0 && peak(sound, 12800) >= (notes.size() > 1 ? 0.0f : 0.1f)); // after 0.3 s
        for (const QString& path : paths)
            toggle(mPlayer, path);
        int blocks = 0;
        for (; mPlayer.noteCount() > 0 && blocks < 400; ++blocks)
            mApi.render(1);
        QVERIFY(blocks > 2 && mPlayer.noteCount() == 0 && mPlayer.voice(0).mSeqId == 0); // not cut short, then freed
        QCOMPARE(toggled.count(), 2 * paths.size());
        QVERIFY(peak(mApi.render(20)) < 1e-3f);
    }

    // The shell routes to 128 voices of a voice that prints what reaches it and reports "voice-stop" during the note-off. With
    // every voice held, stealing, all off and closing remove notes during a walk.
    void shellVoices()
    {
        QVERIFY(mFolder.setVoice(testData() + "/PrintVoice.pd"));
        mOpen.clear();
        mOutput.closeDevice(); // sound() left its stream open: the GUI thread opens the patches here
        open(mFolder.main());
        QVERIFY(mFolder.setVoice(sourcePatches() + "/Sine.pd"));
        QCOMPARE(mPlayer.macroNames(), (QStringList {"cutoff", "drive"}));
        toggle(mPlayer, QString());
        toggle(mPlayer, "/-2/-2/-2"); // 55 Hz: lifted by the loudness curve
        queue(mPlayer, ArborEvent::MacroValue2, 0.5f);
        mPlayer.processEvents();
        QCOMPARE(mLog->pdPrints("voice-1:"), (QStringList {"voice-1: 2 440", "voice-1: 3 1", "voice-1: 1 1", "voice-1: 5 0.5"}));
        const QStringList two = mLog->pdPrints("voice-2:");
        const float lifted = two.value(1).section(' ', 2).toFloat();
        QVERIFY(two.size() == 4 && two[0] == "voice-2: 2 55" && lifted > 1.0f && lifted <= 2.0f);
        QCOMPARE(mLog->pdPrints("voice-").size(), 8); // a macro for all reaches the sounding voices only
        toggle(mPlayer, "/3"); // a voice that starts takes the macros set so far first
        mPlayer.processEvents();
        QCOMPARE(mLog->pdPrints("voice-3:"), (QStringList {"voice-3: 2 660", "voice-3: 3 1", "voice-3: 5 0.5", "voice-3: 1 1"}));
        QVERIFY(!mLog->contains("W libPD:"));
        for (const QString how : {"steal", "all off", "close"}) {
            open(mFolder.main(), PdPlayer::VOICE_COUNT);
            QCOMPARE(mPlayer.noteCount(), PdPlayer::VOICE_COUNT);
            QSignalSpy toggled(&mPlayer, &PdPlayer::noteToggled);
            how == "close" ? mPlayer.unloadPatch()
            : how == "steal" ? toggle(mPlayer, distinctPaths(129).at(128))
                             : queue(mPlayer, ArborEvent::AllNotesOff, 1.0f);
            mPlayer.processEvents();
            const int released = how == "steal" ? 1 : PdPlayer::VOICE_COUNT; // stealing releases voice 1
            QCOMPARE(toggled.count(), how == "steal" ? 2 : released);
            QCOMPARE(mPlayer.noteCount(), PdPlayer::VOICE_COUNT - released + (how == "steal"));
            for (int v = 1; v <= released; ++v) {
                QCOMPARE(mLog->pdPrints(QStringLiteral("voice-%1: 1 0").arg(v)).size(), 1);
                QVERIFY(how == "steal" || mPlayer.voice(v - 1).mSeqId == 0); // released, then free
            }
        }
    }

    // Loading closes the open patch and binds each receiver once; a failed load (also a voice Pd cannot build) leaves none open;
    // macros come with every open and go with every close. A second thread plays the callback.
    void loadCycles()
    {
        mPlayer.unloadPatch();
        mLog->clear();
        QSignalSpy loaded(&mPlayer, &PdPlayer::patchLoaded);
        QSignalSpy names(&mPlayer, &PdPlayer::macroNamesReceived);
        const auto state = [this] { // open, lists taken by "voice-stop" and "output-voice-info", macros
            const int bound = sendList("voice-stop", 500.0f) * 10 + sendList("output-voice-info", 0.0f, "late");
            const QString defaults = argText(QVariant::fromValue(mPlayer.macroDefaults()));
            return QStringLiteral("%1 %2 %3 %4").arg(mPlayer.isPatchOpen()).arg(bound).arg(mPlayer.macroNames().join(','), defaults);
        };
        const QString protocol = "1 11 a,b,c 0.5,-1,0", sine = "1 11 attack,release 0.1,0.2", none = "0 0  ";
        const QList<QPair<QString, QString>> steps {{"protocol_main.pd", protocol}, {"arbor_main.pd", sine}, {"arbor_main.pd", sine},
            {"missing.pd", none}, {"arbor_main.pd /none", none}, {"arbor_main.pd /../tests/player/tst_ring.cpp", none},
            {"protocol_main.pd", protocol}}; // then the voice, when it is not Sine: missing or not a patch, Pd cannot build it
        for (const auto& step : steps) {
            const QString voice = step.first.section(' ', 1);
            mFolder.setVoice(sourcePatches() + (voice.isEmpty() ? "/Sine.pd" : voice));
            std::atomic<bool> stop {false};
            QVERIFY(mOutput.init(256, 0, &mPlayer));
            std::thread audio([&] {
                while (!stop.load())
                    mApi.render(1);
            });
            QCOMPARE(mPlayer.loadPatch(mFolder.file(step.first.section(' ', 0, 0))), step.second != none);
            stop = true;
            audio.join();
            mOutput.closeDevice();
            QCOMPARE(state(), step.second);
        }
        QVERIFY(!mLog->contains("handling the patch request on the GUI thread"));
        mPlayer.unloadPatch();
        mPlayer.unloadPatch(); // nothing open: nothing closed
        QCOMPARE(state(), none);
        QVERIFY(names.last().at(0).toStringList().isEmpty());
        QCOMPARE(loaded.count(), 4);
        QCOMPARE(loaded.last().at(0).toString(), mFolder.protocol().absoluteFilePath());
        QCOMPARE(mLog->lines("Closing PD patch...").size(), 4);
        QCOMPARE(mLog->lines("C Opening PD patch failed: ").size(), 3);
        QVERIFY(mLog->contains("errors while Pd built") && !mOutput.isMuted());
    }

    // A GUI that does not keep up loses the surplus, and says so.
    void resultFlood()
    {
        QSignalSpy volumes(&mPlayer, &PdPlayer::voiceVolumeChanged);
        const int requests = PdResultBuffer::MAX_RESULTS + 100;
        std::thread([&] {
            for (int d = 0; d < requests; ++d) {
                queue(mPlayer, ArborEvent::VoiceVolumeSet, float(d));
                mPlayer.processEvents();
            }
        }).join();
        mPlayer.deliverResults();
        QCOMPARE(volumes.count(), PdResultBuffer::MAX_RESULTS);
        const int dropped = requests - PdResultBuffer::MAX_RESULTS;
        QVERIFY(mLog->contains(QStringLiteral("the GUI fell behind the audio thread: %1 engine changes").arg(dropped)));
    }

    // A stream that "runs" but never drains: a request that does not fit the ring fails. The GUI waits for its own request only
    // (a wand's ClosePatch wakes it); when the callback stops for a second, the GUI does the work and its request goes stale.
    void handOver()
    {
        QVERIFY(mOutput.init(256, 0, &mPlayer));
        for (int i = 0; i < PdMessageBuffer::MAX_CHUNKS; ++i)
            queue(mPlayer, ArborEvent::VoiceVolumeSet, float(i));
        QVERIFY(!mPlayer.loadPatch(mFolder.protocol()) && !mOutput.isMuted() && mLog->contains("could not queue the patch request"));
        mPlayer.processEvents();
        QVERIFY(mPlayer.voiceVolume() == float(PdMessageBuffer::MAX_CHUNKS - 1) && !mPlayer.isPatchOpen());
        mLog->clear();
        bool result = false;
        std::thread gui([&] { result = mPlayer.loadPatch(mFolder.protocol()); });
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains("GUI waiting for audio thread to unload patch"), 10000);
        PdMessageBuffer::Chunk plain {ArborEvent::ClosePatch, {}, 1.0f};
        mPlayer.processChunk(&plain);
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains("still waiting for the audio thread"), 10000);
        QVERIFY(!mLog->contains("GUI waiting for audio thread to load patch"));
        mPlayer.processEvents(); // the GUI's own close request
        QTRY_VERIFY_WITH_TIMEOUT(mLog->contains("GUI waiting for audio thread to load patch"), 10000);
        gui.join(); // no more blocks come
        QVERIFY(result && mPlayer.isPatchOpen() && mLog->lines("finishing it on the GUI thread").size() == 1);
        QVERIFY(!mOutput.isStreamRunning() && mLog->contains("The audio device stopped responding"));
        mPlayer.processEvents();
        QVERIFY(mPlayer.isPatchOpen() && !mOutput.isMuted() && mLog->contains("dropping stale patch request"));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
