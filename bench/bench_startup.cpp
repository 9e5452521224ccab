// Times, from outside, how long the program takes from process start to its
// main window being mapped on the X display, beside a bare Qt main window
// started the same way (through scripts/audio-sink.sh), which gives the
// baseline of process start and window-system set-up; and how long a wand
// request takes to reach the file sink.
//
// Click to sound is timed from inside (--click-to-sound, run through the
// sink as well): the real application with its real PortAudio stream, a
// mouse press sent to the root ball with QTest, or the root's key sent to
// "Arbor in" on a JACK server started for it (scripts/with-jack.sh), and
// the first non-silent block the stream's callback renders after it. The
// callback is observed by wrapping Pa_OpenStream here (this executable's
// definition comes before PortAudio's), which also reads the output latency
// PortAudio reports.
//
// The map is seen when it happens: xev watches the root window for it, and
// xdotool names the window mapped. (`xdotool search --sync` looks only twice
// a second, too coarse for a start-up time.)

#include "ArborBall.h"
#include "ArborBallWidget.h"
#include "ArborContext.h"
#include "ArborView.h"
#include "AudioOutput.h"
#include "MidiInput.h"
#include "MidiMap.h"
#include "Settings.h"
#include "VudiruArborApplication.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <portaudio.h>
#include <RtMidi.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>

namespace
{
const QString BARE_TITLE = QStringLiteral("bench_startup bare window");
const QString ARBOR_TITLE = QStringLiteral("Elmsby Vudiru Arbor");

// Reports the top-level windows being mapped on the display.
class MapWatcher
{
public:
    // Starts xev on the root window and returns once it has reported a
    // property change made after it started, so that it misses no map.
    bool start()
    {
        mXev.start("xev", {"-root", "-event", "substructure", "-event", "property"});
        QElapsedTimer clock;
        clock.start();
        while (mXev.waitForStarted(5000) && clock.elapsed() < 10000) {
            QProcess::execute("xprop", {"-root", "-f", "BENCH_STARTUP_SYNC", "8s", "-set", "BENCH_STARTUP_SYNC", "1"});
            while (mXev.canReadLine() || mXev.waitForReadyRead(200)) {
                if (mXev.readLine().contains("BENCH_STARTUP_SYNC"))
                    return true;
            }
        }
        return false;
    }

    // Milliseconds on `clock` until a window titled `title` is mapped; -1
    // after 30 seconds.
    double waitFor(const QString& title, const QElapsedTimer& clock)
    {
        static const QRegularExpression mapped(QStringLiteral("^\\s+event 0x[0-9a-f]+, window 0x([0-9a-f]+), override"));
        while (clock.elapsed() < 30000) {
            if (!mXev.canReadLine() && !mXev.waitForReadyRead(100))
                continue;
            const double ms = clock.nsecsElapsed() / 1e6;
            while (mXev.canReadLine()) {
                const QRegularExpressionMatch m = mapped.match(QString::fromLatin1(mXev.readLine()));
                if (!m.hasMatch())
                    continue;
                QProcess name;
                name.start("xdotool", {"getwindowname", QString::number(m.captured(1).toULongLong(nullptr, 16))});
                if (name.waitForFinished(5000) && name.readAllStandardOutput().trimmed() == title)
                    return ms;
            }
        }
        return -1;
    }

    ~MapWatcher()
    {
        mXev.kill();
        mXev.waitForFinished(5000);
    }

private:
    QProcess mXev;
};

MapWatcher* sWatcher = nullptr;

// A program started through the audio file sink with a fresh data folder.
struct Run
{
    QTemporaryDir temp{QDir::tempPath() + "/arbor bench XXXXXX"};
    QProcess process;
    const QString audio = temp.path() + "/audio.raw";
    const QString config = temp.path() + "/data/Elmsby Vudiru Arbor";

    // Starts `command`; the milliseconds until its window titled `title` is
    // mapped, -1 after 30 seconds.
    double start(const QStringList& command, const QString& title)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", temp.path() + "/data");
        env.insert("ARBOR_NO_MODAL_BOXES", "1");
        env.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer clock;
        clock.start();
        process.start(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh", QStringList{audio, "--"} + command);
        return sWatcher->waitFor(title, clock);
    }

    ~Run()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A bare Qt window, the real program and a bare window that paints in
// software only as the program does, in turn, so that a load that comes and
// goes meets all alike: the medians of their times to the window being
// mapped and the ratio of the program's to the bare window's. The iteration
// time is the program's.
void BM_WindowMapped(benchmark::State& state)
{
    std::vector<double> bare, arbor, raster;
    for (auto _ : state) {
        const double b = Run().start({QCoreApplication::applicationFilePath(), "--bare-window"}, BARE_TITLE);
        const double a = Run().start({ARBOR_BINARY_DIR "/arbor"}, ARBOR_TITLE);
        const double r = Run().start({QCoreApplication::applicationFilePath(), "--bare-window", "raster"}, BARE_TITLE);
        if (a < 0 || b < 0 || r < 0) {
            state.SkipWithError("a window was not mapped within 30 s");
            return;
        }
        bare.push_back(b);
        arbor.push_back(a);
        raster.push_back(r);
        state.SetIterationTime(a / 1000.0);
    }
    state.counters["bare_median_ms"] = median(bare);
    state.counters["arbor_median_ms"] = median(arbor);
    state.counters["bare_raster_median_ms"] = median(raster);
    state.counters["ratio"] = median(arbor) / median(bare);
}

// The largest magnitude of the float samples the sink wrote from byte `from`
// on (up to `bytes` of them; all when negative).
float loudest(const QString& path, qint64 from, qint64 bytes = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(from - from % 4))
        return 0;
    const QByteArray data = bytes < 0 ? f.readAll() : f.read(bytes);
    float most = 0;
    for (int i = 0; i + 4 <= data.size(); i += 4)
        most = std::fmax(most, std::fabs(qFromLittleEndian<float>(data.constData() + i)));
    return most;
}

// Waits, polling every millisecond (events handled meanwhile), until `done`
// holds; false after `ms`.
template <typename F> bool waitUntil(F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

// From a wand datagram that toggles the root ball's note to the first sound
// in the file sink, the program running with its stream started. (Without
// anything in the window that tells where a ball is, a click cannot be timed
// the same way.)
void BM_ArborWandToFirstSound(benchmark::State& state)
{
    Run run;
    QUdpSocket wand;
    wand.bind(QHostAddress(QHostAddress::LocalHost), 0); // a free port for the program's wand listener
    const quint16 port = wand.localPort();
    wand.close();
    QDir().mkpath(run.config);
    const QMap<QString, QJsonObject> files{
        {"options.json", {{"udpPort", port}, {"updateCheckInterval", 4}}},
        {"rfid_map.json", {{"04a3b2c1d9", QJsonObject{{"event", 0}, {"value", "/"}}}}}};
    for (auto it = files.begin(); it != files.end(); ++it) {
        QFile f(run.config + "/" + it.key());
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(it.value()).toJson());
    }
    QByteArray packet(72, '\0'); // the wand touching tag 04A3B2C1D9
    packet[23] = 5;
    for (int i = 0; i < 10; ++i)
        packet[27 + 4 * i] = "04A3B2C1D9"[i];
    const qint64 second = 44100 * 8;
    if (run.start({ARBOR_BINARY_DIR "/arbor"}, ARBOR_TITLE) < 0
        || !waitUntil([&] { return QFileInfo(run.audio).size() > second; }, 10000)) {
        state.SkipWithError("the program did not start or play");
        return;
    }
    for (auto _ : state) {
        const qint64 from = QFileInfo(run.audio).size();
        QElapsedTimer clock;
        clock.start();
        wand.writeDatagram(packet, QHostAddress::LocalHost, port);
        if (!waitUntil([&] { return loudest(run.audio, from) > 0.002f; }, 5000)) {
            state.SkipWithError("the wand gave no sound");
            break;
        }
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        // The note off again, and its release died away.
        wand.writeDatagram(packet, QHostAddress::LocalHost, port);
        waitUntil([&] {
            const qint64 end = QFileInfo(run.audio).size();
            return loudest(run.audio, end - second / 10, second / 10) < 0.0005f;
        }, 10000);
    }
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What the wrapped stream callback saw.
struct StreamObserver
{
    PaStreamCallback* callback = nullptr;
    void* userData = nullptr;
    double outputLatency = 0;                    // seconds, as PortAudio reports it
    double sampleRate = 44100;
    std::atomic<long> blocks{0};
    std::atomic<long> silentBlocks{0};           // in a row
    std::atomic<qint64> firstSound{-1};          // -1: waiting for a loud block; 0: not waiting
} sStream;

int observedCallback(const void* in, void* out, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                     PaStreamCallbackFlags flags, void*)
{
    const qint64 start = nowNs(); // the block is played the output latency after this
    const int result = sStream.callback(in, out, frames, time, flags, sStream.userData);
    const float* samples = static_cast<const float*>(out);
    const bool loud = std::any_of(samples, samples + 2 * frames, [](float x) { return std::fabs(x) > 0.001f; });
    qint64 waiting = -1;
    if (loud)
        sStream.firstSound.compare_exchange_strong(waiting, start);
    sStream.silentBlocks = loud ? 0 : sStream.silentBlocks + 1;
    ++sStream.blocks;
    return result;
}

// Presses `count` times at random moments (a player's press comes at any
// moment of a block, not just after a callback, which is when the wait for
// silence ends): `press` starts the root's note, `release` ends it, `since`
// gives the time each press counts from once it sounded. The times from it
// to the start of the callback that renders the first loud block (which the
// device plays the output latency later), sorted.
template <typename Press, typename Release, typename Since>
std::vector<double> pressesToSound(int count, Press press, Release release, Since since)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        QThread::usleep(QRandomGenerator::global()->bounded(2 * 256 * 1000000 / 44100));
        sStream.firstSound = -1;
        press();
        if (!waitUntil([] { return sStream.firstSound > 0; }, 5000))
            break;
        ms.push_back((sStream.firstSound - since()) / 1e6);
        sStream.firstSound = 0;
        release(); // and its release died away
        waitUntil([] { return sStream.silentBlocks > 50; }, 10000);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

QString figures(const std::vector<double>& ms)
{
    return ms.empty() ? QStringLiteral("no sound")
                      : QString::asprintf("median %.2f ms (min %.2f, max %.2f, %zu presses)", ms[ms.size() / 2], ms.front(),
                                          ms.back(), ms.size());
}

int portIndex(RtMidi& midi, const QString& name)
{
    for (unsigned i = 0; i < midi.getPortCount(); ++i)
        if (QString::fromStdString(midi.getPortName(i)).endsWith(name))
            return int(i);
    return -1;
}

std::atomic<qint64> sKeyArrived{-1}; // when the key reached the program's side of the JACK server

// The root ball's key on "Arbor in" (the program's port, or one opened here
// as the program opens it) from a keyboard port of this process on the JACK
// server scripts/with-jack.sh started. The key counts from when the server
// delivered it (a listener beside "Arbor in" receives it in the same cycle).
std::vector<double> keysToSound(VudiruArborApplication& app, int count, std::vector<double>& delivery)
{
    if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER"))
        return {};
    RtMidiOut keys(RtMidi::UNIX_JACK, "Bench keys");
    RtMidiIn listener(RtMidi::UNIX_JACK, "Bench listener");
    MidiMap map;
    std::unique_ptr<MidiInput> input;
    if (portIndex(keys, "Arbor in") < 0) {
        map.init(*app.arbor(), ArborContext::settings()->mBaseNote);
        input = std::make_unique<MidiInput>(*app.player());
        input->init(QStringLiteral("jack"), QString(), &map);
    }
    const int arborIn = portIndex(keys, "Arbor in");
    if (arborIn < 0)
        return {};
    keys.openPort(unsigned(arborIn), "out");
    listener.openPort(unsigned(portIndex(listener, "Bench keys:out")), "in");
    listener.setCallback([](double, std::vector<unsigned char>*, void*) {
        qint64 waiting = -1;
        sKeyArrived.compare_exchange_strong(waiting, nowNs());
    });
    const unsigned char key = (unsigned char)MidiMap::keyOfNote(ArborContext::settings()->mBaseNote);
    qint64 sent = 0;
    const auto send = [&](unsigned char status) {
        const std::vector<unsigned char> message{status, key, 0x7f};
        sKeyArrived = -1;
        sent = nowNs();
        keys.sendMessage(&message);
    };
    std::vector<double> ms = pressesToSound(count, [&] { send(0x90); }, [&] { send(0x80); }, [&] {
        const qint64 arrived = sKeyArrived > 0 ? qint64(sKeyArrived) : sent;
        delivery.push_back((arrived - sent) / 1e6);
        return arrived;
    });
    std::sort(delivery.begin(), delivery.end());
    if (input)
        input->term();
    return ms;
}

// The application's wand-free start-up, then presses on the root ball: mouse
// clicks, and keys of a MIDI keyboard. Prints the figures.
int clickToSound(char** argv)
{
    int argc = 1;
    VudiruArborApplication app(argc, argv);
    if (!app.init())
        return 1;
    const ArborBallWidget* root = nullptr;
    ArborView* view = nullptr;
    for (ArborView* v : app.mainWindow()->findChildren<ArborView*>())
        for (QGraphicsItem* item : v->isVisible() ? v->scene()->items() : QList<QGraphicsItem*>())
            if (auto* ball = dynamic_cast<ArborBallWidget*>(item); ball && ball->ball()->path().length() == 0)
                root = ball, view = v;
    if (!root || !waitUntil([] { return sStream.blocks > 200; }, 10000)) {
        fprintf(stderr, "bench_startup: no root ball or no stream running\n");
        return 1;
    }
    const QPoint at = view->mapFromScene(root->scenePos());
    const int presses = 40;
    qint64 pressed = 0;
    const auto click = [&] {
        pressed = nowNs();
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    };
    const std::vector<double> clicks = pressesToSound(presses, click, click, [&] { return pressed; });
    std::vector<double> delivery;
    const std::vector<double> keys = keysToSound(app, presses, delivery);
    const double latency = sStream.outputLatency * 1000, block = 256 * 1000.0 / 44100;
    const double median = clicks.empty() ? 0 : clicks[clicks.size() / 2];
    printf("To the start of the callback that renders the first non-silent block (block %.2f ms):\n"
           "  mouse press: %s\n  MIDI key, from its arrival: %s\n  (JACK delivered the keys %s after they were sent)\n"
           "PortAudio output latency %.2f ms; click to sound at the device: median %.2f ms (target %.2f ms)\n",
           block, qPrintable(figures(clicks)),
           qPrintable(delivery.empty() ? QStringLiteral("no JACK server (scripts/with-jack.sh)") : figures(keys)),
           qPrintable(figures(delivery)), latency, median + latency, block + latency);
    // The file sink calls back in pairs, every two blocks (its pipe frees
    // room a page, two blocks, at a time). JACK's output calls back once a
    // cycle, as a sound card does.
    AudioOutput* output = app.player()->output();
    const int jack = output->devices().indexOf(QRegularExpression(QStringLiteral("^JACK.*")));
    if (jack >= 0 && output->selectDevice(jack) && waitUntil([] { return sStream.blocks > 400; }, 10000)) {
        const std::vector<double> jackClicks = pressesToSound(presses, click, click, [&] { return pressed; });
        const double jackMedian = jackClicks.empty() ? 0 : jackClicks[jackClicks.size() / 2];
        printf("Through JACK (a callback every %.2f ms of 256 frames at %.0f Hz): mouse press: %s;\n"
               "PortAudio output latency %.2f ms; click to sound at the device: median %.2f ms (target %.2f ms)\n",
               256 * 1000.0 / sStream.sampleRate, sStream.sampleRate, qPrintable(figures(jackClicks)),
               sStream.outputLatency * 1000, jackMedian + sStream.outputLatency * 1000,
               256 * 1000.0 / sStream.sampleRate + sStream.outputLatency * 1000);
    }
    app.term();
    return int(clicks.size()) == presses ? 0 : 1;
}

int bareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 2 && QByteArray(argv[2]) == "raster")
        app.setAttribute(Qt::AA_ForceRasterWidgets);
    QMainWindow window;
    window.setWindowTitle(BARE_TITLE);
    window.resize(687, 409);
    window.show();
    return app.exec();
}
} // namespace

extern "C" PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters* input, const PaStreamParameters* output,
                                 double sampleRate, unsigned long framesPerBuffer, PaStreamFlags flags,
                                 PaStreamCallback* callback, void* userData)
{
    using Open = PaError (*)(PaStream**, const PaStreamParameters*, const PaStreamParameters*, double, unsigned long,
                             PaStreamFlags, PaStreamCallback*, void*);
    static const auto open = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "Pa_OpenStream"));
    sStream.callback = callback;
    sStream.blocks = 0;
    sStream.userData = userData;
    const PaError error = open(stream, input, output, sampleRate, framesPerBuffer, flags,
                               callback ? observedCallback : nullptr, userData);
    if (const PaStreamInfo* info = error == paNoError ? Pa_GetStreamInfo(*stream) : nullptr)
        sStream.outputLatency = info->outputLatency, sStream.sampleRate = info->sampleRate;
    return error;
}

BENCHMARK(BM_WindowMapped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);
BENCHMARK(BM_ArborWandToFirstSound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--bare-window")
        return bareWindow(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--click-to-sound") {
        Q_INIT_RESOURCE(resources);
        return clickToSound(argv);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        fprintf(stderr, "bench_startup needs an X display; run bench/startup.sh\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    MapWatcher watcher;
    if (!watcher.start()) {
        fprintf(stderr, "bench_startup: xev (x11-utils) does not report the display's events\n");
        return 1;
    }
    sWatcher = &watcher;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Run click; // click to sound, from inside, through the sink like the others, beside a JACK server for the keyboard
    const bool clicked = click.start({ARBOR_SOURCE_DIR "/scripts/with-jack.sh", QCoreApplication::applicationFilePath(),
                                      "--click-to-sound"}, ARBOR_TITLE) >= 0
                         && click.process.waitForFinished(120000) && click.process.exitCode() == 0;
    return clicked ? 0 : 1;
}
