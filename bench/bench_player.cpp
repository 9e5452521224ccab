// Cost of the audio callback, which drains the command rings, executes the
// requests and renders one 256-frame block at 44.1 kHz (5.8 ms of sound),
// with 0, 1, 16 and 128 sounding voices of the Sine voice patch; the cost of
// draining and executing a full ring of 1023 requests; and the heap
// allocations made on the audio path. The same shell under the stand-alone
// Pd in batch mode gives the patch's own cost for comparison.
//
// Allocations are counted by replacing operator new and the malloc family
// (Qt's containers allocate through malloc). The counter is armed only
// around the measured call. The timed benchmarks run on the main thread,
// which owns the engine; the allocation summary runs the audio work on a
// second thread, as the callback does, while the main thread waits.

#include "AllocationCounter.h"
#include "PlayerTestSupport.h"
#include "ArborPath.h"
#include "ArborRatio.h"
#include "PaAudioOutput.h"
#include "PdPlayer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <ctime>
#include <thread>
#include <cstdio>
#include <vector>

// ------------------------------------------------------------ allocation count

using PlayerTest::distinctPaths;

using PlayerTest::Allocations;

namespace
{
void arm() { PlayerTest::armAllocationCounter(); }
Allocations disarm() { return PlayerTest::disarmAllocationCounter(); }

// Runs `work` on a thread of its own with the counter armed around it.
template <typename F>
Allocations onAudioThread(F work)
{
    Allocations a;
    std::thread audio([&] {
        arm();
        work();
        a = disarm();
    });
    audio.join();
    return a;
}
}

// ------------------------------------------------------------ set-up

namespace
{
constexpr int FRAMES = 256;
constexpr double RATE = 44100.0;
constexpr double BLOCK_NS = FRAMES / RATE * 1e9; // 5.8 ms
constexpr int RING_CHUNKS = 1023;

PdPlayer* sPlayer = nullptr;
PlayerTest::FakePaApi* sApi = nullptr; // the output's stream opens on it; its callback is the real one
QTemporaryDir* sFolder = nullptr;
std::vector<float> sBlock(FRAMES * 2);

// One audio callback: drain and execute the rings, render one block.
void callback()
{
    sApi->mCallback(nullptr, sBlock.data(), FRAMES, nullptr, 0, sApi->mUserData);
}

float blockPeak()
{
    float p = 0.0f;
    for (float v : sBlock)
        p = std::max(p, std::abs(v));
    return p;
}

bool openShell()
{
    return sPlayer->loadPatch(QFileInfo(sFolder->filePath(QStringLiteral("arbor_main.pd"))));
}

// Opens the shell with the Sine voice and starts `voices` held notes; the
// attacks are over when it returns.
bool startVoices(int voices)
{
    if (!openShell())
        return false;
    for (const QString& p : distinctPaths(voices)) {
        const ArborNoteEvent e(p);
        sPlayer->queueEventGui(&e);
    }
    for (int i = 0; i < 20; ++i)
        callback();
    return sPlayer->noteCount() == voices;
}

enum Mix { Mixed = 0, TogglesOnly = 1, MacrosOnly = 2 };

// A full ring of requests. Mixed, as a busy session sends them: note toggles
// (on and off) over 64 balls, macro moves and master volume changes. The
// other two mixes show the two ends: a note toggle goes to one voice, a
// macro to all 128.
void queueFullRing(const QStringList& paths, Mix mix = Mixed)
{
    for (int i = 0; i < RING_CHUNKS; ++i) {
        if (mix == MacrosOnly || (mix == Mixed && i % 4 == 3)) {
            const ArborEvent e(ArborEvent::Type(ArborEvent::MacroValue1 + i % 8), 0.5f);
            sPlayer->queueEventGui(&e);
        } else if (mix == Mixed && i % 16 == 5) {
            const ArborEvent e(ArborEvent::MasterVolumeSet, 0.7f);
            sPlayer->queueEventGui(&e);
        } else {
            const ArborNoteEvent e(paths.at(i % paths.size()));
            sPlayer->queueEventGui(&e);
        }
    }
}

// ------------------------------------------------------------ benchmarks

void BM_Callback(benchmark::State& state)
{
    const int voices = int(state.range(0));
    if (!startVoices(voices)) {
        state.SkipWithError("the voices did not start");
        sPlayer->unloadPatch();
        return;
    }
    // Processor time of this thread: a busy machine does not inflate it.
    const auto cpuNs = [] {
        timespec t {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
    };
    double ns = 0.0;
    long allocations = 0;
    for (auto _ : state) {
        const double t0 = cpuNs();
        arm();
        callback();
        allocations += disarm().total();
        ns += cpuNs() - t0;
    }
    const double n = double(state.iterations());
    state.counters["budget_share"] = ns / n / BLOCK_NS;
    state.counters["allocs_per_callback"] = double(allocations) / n;
    state.counters["sounding"] = sPlayer->noteCount();
    state.counters["peak"] = blockPeak();
    sPlayer->unloadPatch();
}
BENCHMARK(BM_Callback)->ArgName("voices")->Arg(0)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMicrosecond);

// Draining and executing 1023 requests queued between two callbacks (no
// rendering, so releases never end and later note-ons steal voices).
// patch 1: the shell is open (every message goes through Pd); patch 0: no
// patch is open (the engine's own bookkeeping only). mix: see Mix.
void BM_Drain1023(benchmark::State& state)
{
    const bool withPatch = state.range(0) != 0;
    const Mix mix = Mix(state.range(1));
    if (withPatch && !openShell()) {
        state.SkipWithError("the shell did not open");
        return;
    }
    const QStringList paths = distinctPaths(64);
    long allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        queueFullRing(paths, mix);
        state.ResumeTiming();
        arm();
        sPlayer->processEvents();
        allocations += disarm().total();
    }
    const double n = double(state.iterations());
    state.counters["allocs_per_drain"] = double(allocations) / n;
    state.counters["per_event_us"] =
        benchmark::Counter(n * RING_CHUNKS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    sPlayer->unloadPatch();
}
BENCHMARK(BM_Drain1023)
    ->ArgNames({"patch", "mix"})
    ->ArgsProduct({{0, 1}, {Mixed, TogglesOnly, MacrosOnly}})
    ->Unit(benchmark::kMicrosecond);

// ------------------------------------------------------------ allocation summary

void printAllocations(const char* what, const Allocations& a)
{
    std::printf("  %-68s %6ld  (operator new %ld, malloc family %ld)\n", what, a.total(), a.mNews, a.mMallocs);
}

void allocationSummary()
{
    std::printf("\nHeap allocations on the audio path (counter armed only around the measured call):\n");
    for (int voices : {0, 1, 16, 128}) {
        if (!startVoices(voices)) {
            std::printf("  %d voices did not start\n", voices);
            sPlayer->unloadPatch();
            continue;
        }
        const Allocations a = onAudioThread([] {
            for (int i = 0; i < 1000; ++i)
                callback();
        });
        char what[96];
        std::snprintf(what, sizeof(what), "1000 callbacks, %d voices sounding, no requests:", voices);
        printAllocations(what, a);
        sPlayer->unloadPatch();
    }

    const QStringList paths = distinctPaths(64);
    queueFullRing(paths);
    printAllocations("drain + execute of 1023 requests, no patch open:",
                     onAudioThread([] { sPlayer->processEvents(); }));

    // The application connects the engine's signals queued to objects of
    // the GUI thread; the audio thread leaves result records for them.
    QObject receiver;
    long delivered = 0;
    QObject::connect(sPlayer, &PdPlayer::noteToggled, &receiver, [&delivered](ArborRatio, bool) { ++delivered; },
                     Qt::QueuedConnection);
    QObject::connect(sPlayer, &PdPlayer::macroValueChanged, &receiver, [&delivered](int, float) { ++delivered; },
                     Qt::QueuedConnection);
    QObject::connect(sPlayer, &PdPlayer::volumeChanged, &receiver, [&delivered](float) { ++delivered; },
                     Qt::QueuedConnection);
    openShell();
    sPlayer->deliverResults();
    QCoreApplication::processEvents();
    delivered = 0;
    queueFullRing(paths);
    printAllocations("drain + execute of 1023 requests, shell open, receivers connected:",
                     onAudioThread([] { sPlayer->processEvents(); }));
    printAllocations("the 200 callbacks after it (releases and stolen voices end):", onAudioThread([] {
                         for (int i = 0; i < 200; ++i)
                             callback();
                     }));
    QElapsedTimer gui;
    gui.start();
    sPlayer->deliverResults();
    QCoreApplication::processEvents();
    std::printf("  GUI thread: %ld signals delivered from the result ring in %.2f ms\n", delivered,
                gui.nsecsElapsed() / 1e6);
    QObject::disconnect(sPlayer, nullptr, &receiver, nullptr);
    sPlayer->unloadPatch();
}

// ------------------------------------------------------------ stand-alone Pd

// Seconds `pd -batch` takes for the shell with `voices` notes and `blocks`
// blocks of logical time; -1 without pd.
double pdBatchSeconds(int voices, int blocks)
{
    const QString pd = QStandardPaths::findExecutable(QStringLiteral("pd"));
    if (pd.isEmpty())
        return -1.0;
    QString notes;
    const QStringList paths = distinctPaths(voices);
    for (int v = 0; v < voices; ++v) {
        const double f = ArborRatio::relativeFromPath(ArborPath(paths.at(v))).toDouble() * 440.0;
        notes += QStringLiteral(" \\; arbor-in %1 2 %2 \\; arbor-in 1 3 %2 \\; arbor-in 1 1 %2").arg(f).arg(v + 1);
    }
    const double ms = blocks * FRAMES / (RATE / 1000.0);
    QFile driver(sFolder->filePath(QStringLiteral("bench_driver.pd")));
    if (!driver.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1.0;
    driver.write(QStringLiteral("#N canvas 0 0 400 300 12;\n"
                                "#X obj 20 20 loadbang;\n"
                                "#X msg 20 60 \\; pd dsp 1%1;\n"
                                "#X obj 200 60 delay %2;\n"
                                "#X msg 200 100 \\; pd quit;\n"
                                "#X connect 0 0 1 0;\n#X connect 0 0 2 0;\n#X connect 2 0 3 0;\n")
                     .arg(notes)
                     .arg(ms)
                     .toLocal8Bit());
    driver.close();
    QProcess p;
    p.setWorkingDirectory(sFolder->path());
    QElapsedTimer timer;
    timer.start();
    p.start(pd, {"-nogui", "-batch", "-noprefs", "-noaudio", "-nomidi", "-r", "44100", "-open",
                 sFolder->filePath("arbor_main.pd"), "-open", driver.fileName()});
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return -1.0;
    }
    return timer.nsecsElapsed() / 1e9;
}

void pdBatchComparison()
{
    const int blocks = 4000;
    const double start = pdBatchSeconds(0, 0);
    if (start < 0.0) {
        std::printf("\npd is not installed (or did not finish): no batch comparison\n");
        return;
    }
    std::printf("\nThe shell under pd -batch (start-up and quit alone: %.3f s):\n", start);
    for (int voices : {0, 1, 16, 128}) {
        const double s = pdBatchSeconds(voices, blocks);
        const double perBlock = (s - start) / blocks * 1e9;
        std::printf("  %3d voices, %d blocks: %.3f s, %.1f us per block, %.4f of the budget\n", voices, blocks, s,
                    perBlock / 1e3, perBlock / BLOCK_NS);
    }
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/arbor bench XXXXXX"));
    if (!folder.isValid())
        return 1;
    sFolder = &folder;
    const QDir shell(QStringLiteral(ARBOR_SOURCE_DIR "/patches/shell"));
    for (const QString& f : shell.entryList({QStringLiteral("*.pd")}, QDir::Files))
        QFile::copy(shell.filePath(f), folder.filePath(f));
    QFile::copy(QStringLiteral(ARBOR_SOURCE_DIR "/patches/Sine.pd"), folder.filePath(QStringLiteral("arbor_voice.pd")));

    // The engine's chatter (loads, unloads) would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type >= QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    PdPlayer::sAudioDebug = false;
    PdPlayer player;
    sPlayer = &player;
    if (!player.init())
        return 1;
    PlayerTest::FakePaApi api;
    sApi = &api;
    PaAudioOutput output(nullptr, &api);
    if (!output.init(FRAMES, 0, &player))
        return 1;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nBlock: %d frames at %.0f Hz = %.2f ms of sound per callback.\n", FRAMES, RATE, BLOCK_NS / 1e6);
    allocationSummary();
    pdBatchComparison();
    return 0;
}
