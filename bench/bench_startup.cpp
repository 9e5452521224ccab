// Times, from outside, how long the program takes from process start to its
// main window being shown, and from a click on the root ball to the first
// non-silent audio in the file sink; a bare Qt main window started the same
// way gives the baseline of process start and window-system set-up.
//
// Both programs write an information file as soon as their window is shown
// (ARBOR_WINDOW_INFO_FILE); the time until that file appears is the figure.

#include <cmath>
#include <cstring>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace
{
QString sSelf;

QString sinkScript()
{
    return QStringLiteral(ARBOR_SOURCE_DIR "/scripts/audio-sink.sh");
}

struct Run
{
    QTemporaryDir temp{QDir::tempPath() + "/arbor bench XXXXXX"};
    QProcess process;
    QString info() const { return temp.path() + "/info.json"; }
    QString audio() const { return temp.path() + "/audio.raw"; }

    void start(const QString& program, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", temp.path() + "/data");
        env.insert("ARBOR_WINDOW_INFO_FILE", info());
        env.insert("ARBOR_NO_MODAL_BOXES", "1");
        env.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
        process.waitForStarted(10000);
    }

    // Milliseconds until `done` holds, or -1 after the time-out.
    template <typename F> static double waitFor(const QElapsedTimer& clock, F done, int timeoutMs = 30000)
    {
        while (!done()) {
            if (clock.elapsed() > timeoutMs)
                return -1;
            QThread::usleep(500);
        }
        return clock.nsecsElapsed() / 1e6;
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    ~Run() { stop(); }
};

// The sink writes raw float32 little-endian stereo frames.
bool hasSound(const QString& path, qint64 from)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= from)
        return false;
    f.seek(from - from % 4);
    const QByteArray bytes = f.readAll();
    for (int i = 0; i + 3 < bytes.size(); i += 4) {
        float v;
        std::memcpy(&v, bytes.constData() + i, sizeof v);
        if (std::fabs(v) > 0.002f)
            return true;
    }
    return false;
}

void startArbor(Run& run)
{
    run.start(sinkScript(), {run.audio(), "--", ARBOR_BINARY_DIR "/arbor"});
}

void BM_BareQtWindowShown(benchmark::State& state)
{
    for (auto _ : state) {
        Run run;
        QElapsedTimer clock;
        clock.start();
        run.start(sSelf, {"--bare-window"});
        const double ms = Run::waitFor(clock, [&] { return QFile::exists(run.info()); });
        if (ms < 0) {
            state.SkipWithError("bare window never showed");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
        run.process.waitForFinished(5000);
    }
}

void BM_ArborWindowShown(benchmark::State& state)
{
    for (auto _ : state) {
        Run run;
        QElapsedTimer clock;
        clock.start();
        startArbor(run);
        const double ms = Run::waitFor(clock, [&] { return QFile::exists(run.info()); });
        if (ms < 0) {
            state.SkipWithError("main window never showed");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

void BM_ArborClickToFirstSound(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Run run;
        QElapsedTimer setup;
        setup.start();
        startArbor(run);
        Run::waitFor(setup, [&] { return QFile::exists(run.info()); });
        QThread::msleep(1500); // layout settled, stream running
        QFile infoFile(run.info());
        infoFile.open(QIODevice::ReadOnly);
        const QJsonObject ball = QJsonDocument::fromJson(infoFile.readAll()).object().value("rootBall").toObject();
        if (ball.isEmpty() || QFileInfo(run.audio()).size() == 0) {
            state.SkipWithError("no root ball position or no audio stream");
            break;
        }
        QProcess::execute("xdotool", {"mousemove", QString::number(ball.value("x").toInt()),
                                      QString::number(ball.value("y").toInt()), "sleep", "0.2"});
        const qint64 before = QFileInfo(run.audio()).size();
        state.ResumeTiming();

        QElapsedTimer clock;
        clock.start();
        QProcess::execute("xdotool", {"click", "1"});
        const double ms = Run::waitFor(clock, [&] { return hasSound(run.audio(), before); }, 10000);
        if (ms < 0) {
            state.SkipWithError("click gave no sound");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

int bareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("bare");
    window.resize(687, 409);
    window.show();
    QTimer::singleShot(0, [&] {
        QSaveFile f(qEnvironmentVariable("ARBOR_WINDOW_INFO_FILE"));
        if (f.open(QIODevice::WriteOnly) && f.write("{}") == 2)
            f.commit();
        app.quit();
    });
    return app.exec();
}
}

BENCHMARK(BM_BareQtWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArborWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ArborClickToFirstSound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--bare-window")
        return bareWindow(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        fprintf(stderr, "bench_startup needs an X display; run bench/startup.sh\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    sSelf = QCoreApplication::applicationFilePath();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
