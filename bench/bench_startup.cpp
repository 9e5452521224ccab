// Times, from outside, how long the program takes from process start to its
// main window being mapped on the X display, beside a bare Qt main window
// started the same way (through scripts/audio-sink.sh), which gives the
// baseline of process start and window-system set-up.
//
// The map is seen when it happens: xev watches the root window for it, and
// xdotool names the window mapped. (`xdotool search --sync` looks only twice
// a second, too coarse for a start-up time.)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

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

// Starts `command` through the audio file sink in a fresh data folder and
// returns the milliseconds until its window titled `title` is mapped.
double startUntilMapped(const QStringList& command, const QString& title)
{
    QTemporaryDir temp(QDir::tempPath() + "/arbor bench XXXXXX");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", temp.path() + "/data");
    env.insert("ARBOR_NO_MODAL_BOXES", "1");
    env.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh", QStringList{temp.path() + "/audio.raw", "--"} + command);
    const double ms = sWatcher->waitFor(title, clock);
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(5000);
    return ms;
}

void mapTime(benchmark::State& state, const QStringList& command, const QString& title)
{
    for (auto _ : state) {
        const double ms = startUntilMapped(command, title);
        if (ms < 0) {
            state.SkipWithError("the window was not mapped within 30 s");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

void BM_BareQtWindowMapped(benchmark::State& state)
{
    mapTime(state, {QCoreApplication::applicationFilePath(), "--bare-window"}, BARE_TITLE);
}

void BM_ArborWindowMapped(benchmark::State& state)
{
    mapTime(state, {ARBOR_BINARY_DIR "/arbor"}, ARBOR_TITLE);
}

int bareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(BARE_TITLE);
    window.resize(687, 409);
    window.show();
    return app.exec();
}
} // namespace

BENCHMARK(BM_BareQtWindowMapped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArborWindowMapped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--bare-window")
        return bareWindow(argc, argv);
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
    return 0;
}
