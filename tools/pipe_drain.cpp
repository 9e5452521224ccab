// Drains a named pipe at a fixed byte rate and appends what it reads to a
// file. An ALSA "file" PCM writing into the pipe blocks once the pipe is
// full, so the drain rate becomes the playback clock of whoever plays into
// it, and the file keeps every sample played.
//
// Usage: pipe_drain FIFO OUTPUT BYTES_PER_SECOND
//
// The pipe is opened for reading and writing, so that writers never block in
// open() and the drain never sees end-of-file when a writer closes and a new
// one opens later. It runs until SIGTERM, SIGINT or SIGHUP (or the death of
// its parent process), then exits 0. Every chunk is written straight to the
// output file, so that another process can analyse it while it grows.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace
{
volatile sig_atomic_t sStop = 0;

void onSignal(int)
{
    sStop = 1;
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool parseRate(const char* text, long& rate)
{
    char* end = nullptr;
    errno = 0;
    rate = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && rate > 0 && rate <= 100L * 1000 * 1000;
}
} // namespace

int main(int argc, char** argv)
{
    long bytesPerSecond = 0;
    if (argc != 4 || !parseRate(argv[3], bytesPerSecond)) {
        std::fprintf(stderr, "usage: %s FIFO OUTPUT BYTES_PER_SECOND (1..100000000)\n", argc > 0 ? argv[0] : "pipe_drain");
        return 2;
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    const int in = ::open(argv[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        std::fprintf(stderr, "pipe_drain: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    // A full default pipe holds 64 KiB, almost 0.2 s of stereo float sound at
    // 44.1 kHz, which would all sit between the player and the file. One page
    // keeps what is written close to what is being played.
#ifdef F_SETPIPE_SZ
    fcntl(in, F_SETPIPE_SZ, 4096);
#endif
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "pipe_drain: cannot open %s: %s\n", argv[2], std::strerror(errno));
        ::close(in);
        return 1;
    }

    // A token bucket: credit grows with time at the byte rate and is capped
    // at 50 ms, so a writer that paused does not get to race ahead afterwards.
    const double rate = double(bytesPerSecond);
    const double maxCredit = rate / 20.0;
    const long step = bytesPerSecond / 200 > 0 ? bytesPerSecond / 200 : 1; // about 5 ms
    std::vector<char> buffer(size_t(maxCredit) + size_t(step) + 16);
    double credit = 0.0;
    double last = now();
    int status = 0;

    while (!sStop) {
        const double t = now();
        credit += (t - last) * rate;
        last = t;
        if (credit > maxCredit)
            credit = maxCredit;
        if (credit < 1.0) {
            const double wait = (double(step) - credit) / rate;
            const timespec ts{time_t(wait), long((wait - double(time_t(wait))) * 1e9)};
            nanosleep(&ts, nullptr);
            continue;
        }
        pollfd p{in, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "pipe_drain: poll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(in, buffer.data(), size_t(credit));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            std::fprintf(stderr, "pipe_drain: read: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        credit -= double(n);
        if (n > 0 && !writeAll(out, buffer.data(), size_t(n))) {
            std::fprintf(stderr, "pipe_drain: write %s: %s\n", argv[2], std::strerror(errno));
            status = 1;
            break;
        }
    }
    // What the last writer left in the pipe is kept too, without pacing.
    while (status == 0) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (!writeAll(out, buffer.data(), size_t(n))) {
            std::fprintf(stderr, "pipe_drain: write %s: %s\n", argv[2], std::strerror(errno));
            status = 1;
        }
    }
    ::close(in);
    if (::close(out) != 0 && status == 0) {
        std::fprintf(stderr, "pipe_drain: close %s: %s\n", argv[2], std::strerror(errno));
        status = 1;
    }
    return status;
}
