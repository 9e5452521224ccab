#include "AllocationCounter.h"
#include "Recorder.h"
#include "support/Sound.h"
#include "support/TestSupport.h"

#include <csignal>
#include <sys/resource.h>
#include <vector>

using namespace TestSupport;

namespace {
// One second is pushed (440 Hz left, 550 Hz right), then perhaps a block larger than the ring; the file may
// be limited in size (a disk that fills) or its folder removed. How the recording ends, and what its WAV holds.
const struct { rlim_t limit; bool removeFolder; unsigned long bigBlock; bool failed; const char* says; } CASES[] = {
    {RLIM_INFINITY, false, 0, false, "Recorded 1.0 s"},
    {RLIM_INFINITY, false, Recorder::RING_FRAMES + 1, false, "1 block(s) could not be written"},
    {150000, false, 0, true, "Writing the recording failed"},
    {RLIM_INFINITY, true, 0, true, "folder disappeared"},
};

void setFileSizeLimit(rlim_t limit) {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = limit;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &r), 0);
}
} // namespace

class TestRecorder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { std::signal(SIGXFSZ, SIG_IGN); }   // a write beyond the limit fails instead

    void records_data() { tableRows(CASES); }
    void records() {
        const auto& c = tableRow(CASES);
        QTemporaryDir dir;
        const QString folder = dir.filePath("music"), mine = folder + "/take.wav";
        QVERIFY(QDir().mkpath(folder) && writeFile(mine, "mine"));
        Recorder recorder;
        QSignalSpy stopped(&recorder, &Recorder::stopped);
        setFileSizeLimit(c.limit);
        QVERIFY(recorder.start(mine));
        QCOMPARE(recorder.path(), folder + "/take (2).wav");   // never replacing a file
        QCOMPARE(readFile(mine), QByteArray("mine"));
        std::vector<float> block(512), big(c.bigBlock * 2);
        PlayerTest::armAllocationCounter();
        const int pushed = Sound::RATE / 256 * 256;
        for (int frame = 0; frame < pushed; frame += 256) {
            for (int i = 0; i < 256; ++i)
                for (int ch : {0, 1})
                    block[2 * i + ch] = 0.5f * std::sin(2 * M_PI * (440 + 110 * ch) * (frame + i) / Sound::RATE);
            recorder.push(block.data(), 256);
        }
        recorder.push(big.data(), c.bigBlock);
        const long allocations = PlayerTest::disarmAllocationCounter().total();   // on any thread
        QVERIFY(allocations == 0 || c.limit != RLIM_INFINITY);   // a writer that fails meanwhile makes its message
        if (c.removeFolder)
            QVERIFY(QDir(folder).removeRecursively());
        if (!c.failed)
            recorder.stop();
        QVERIFY(stopped.count() == 1 || stopped.wait(5000));
        setFileSizeLimit(RLIM_INFINITY);
        QVERIFY2(stopped[0][0].toString().contains(c.says), qPrintable(stopped[0][0].toString()));
        QCOMPARE(stopped[0][1].toBool(), c.failed);
        if (c.removeFolder)
            return;

        const QByteArray wav = readFile(recorder.path());   // a valid header: RIFF and data sizes as written
        QCOMPARE(qFromLittleEndian<quint32>(wav.constData() + 4), quint32(wav.size() - 8));
        const int data = wav.indexOf("data");
        QVERIFY(data > 0 && qFromLittleEndian<quint32>(wav.constData() + data + 4) == quint32(wav.size() - data - 8));
        SF_INFO info{};
        const auto sound = Sound::readStereo(recorder.path(), info);
        QVERIFY(info.samplerate == Sound::RATE && info.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT));
        QVERIFY(c.limit == RLIM_INFINITY ? info.frames == pushed : info.frames > 10000 && info.frames < pushed);
        for (int ch : {0, 1})
            QVERIFY(sound[ch].size() == info.frames && std::abs(Sound::frequency(sound[ch]) - (440 + 110 * ch)) < 0.5);
    }
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
