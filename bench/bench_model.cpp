// Building the default lattice and finding its balls by path and by ratio.
#include "Arbor.h"
#include "ArborBall.h"

#include <QJsonDocument>

#include <benchmark/benchmark.h>

namespace
{
void silent(QtMsgType, const QMessageLogContext&, const QString&)
{
}

void collect(ArborBall* ball, QList<ArborBall*>& out)
{
    out.append(ball);
    for (ArborBall* child : ball->children())
        collect(child, out);
}

void BM_BuildDefaultLattice(benchmark::State& state)
{
    for (auto _ : state) {
        Arbor lattice;
        lattice.initWithDefaults();
        benchmark::DoNotOptimize(lattice.rootBall());
    }
}
BENCHMARK(BM_BuildDefaultLattice)->Unit(benchmark::kMicrosecond);

void BM_ReadLatticeFile(benchmark::State& state)
{
    Arbor source;
    source.initWithDefaults();
    QJsonObject json;
    source.write(json);
    const QByteArray text = QJsonDocument(json).toJson();
    for (auto _ : state) {
        Arbor lattice;
        lattice.read(QJsonDocument::fromJson(text).object());
        benchmark::DoNotOptimize(lattice.rootBall());
    }
}
BENCHMARK(BM_ReadLatticeFile)->Unit(benchmark::kMicrosecond);

// Every ball of the default lattice looked up once per iteration.
void BM_LookupEveryBallByPath(benchmark::State& state)
{
    Arbor lattice;
    lattice.initWithDefaults();
    QList<ArborBall*> balls;
    collect(lattice.rootBall(), balls);
    QList<ArborPath> paths;
    for (ArborBall* b : balls)
        paths.append(b->path());
    for (auto _ : state) {
        for (const ArborPath& p : paths)
            benchmark::DoNotOptimize(lattice.ballFromPath(p));
    }
    state.SetItemsProcessed(state.iterations() * paths.size());
}
BENCHMARK(BM_LookupEveryBallByPath)->Unit(benchmark::kMicrosecond);

void BM_LookupEveryBallByRatio(benchmark::State& state)
{
    Arbor lattice;
    lattice.initWithDefaults();
    QList<ArborBall*> balls;
    collect(lattice.rootBall(), balls);
    QList<ArborRatio> ratios;
    for (ArborBall* b : balls)
        ratios.append(ArborRatio::relativeFromPath(b->path()));
    for (auto _ : state) {
        for (const ArborRatio& r : ratios)
            benchmark::DoNotOptimize(lattice.ballFromRatio(r));
    }
    state.SetItemsProcessed(state.iterations() * ratios.size());
}
BENCHMARK(BM_LookupEveryBallByRatio)->Unit(benchmark::kMicrosecond);

// Path text to ratio, as a tag map entry or a note event would need it.
void BM_ParsePathToRatio(benchmark::State& state)
{
    const QString text = QStringLiteral("/-2/-2/3/3/31/-5");
    for (auto _ : state)
        benchmark::DoNotOptimize(ArborRatio::relativeFromPath(ArborPath(text)));
}
BENCHMARK(BM_ParsePathToRatio);

void BM_CanTransposeTo(benchmark::State& state)
{
    Arbor lattice;
    lattice.initWithDefaults();
    const ArborRatio fifth(3, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(lattice.canTransposeTo(fifth));
}
BENCHMARK(BM_CanTransposeTo)->Unit(benchmark::kMicrosecond);

void BM_TransposeRebuildsMap(benchmark::State& state)
{
    Arbor lattice;
    lattice.initWithDefaults();
    int i = 0;
    for (auto _ : state) {
        const bool up = (i++ % 2) == 0;
        lattice.onTransposed(up ? ArborRatio(3, 2) : ArborRatio(1, 1), up ? 3 : -3);
    }
}
BENCHMARK(BM_TransposeRebuildsMap)->Unit(benchmark::kMicrosecond);
}

int main(int argc, char** argv)
{
    qInstallMessageHandler(silent);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
