// Saves a picture of one window of the X display, as the window system shows
// it: window_shot WINDOW_ID FILE.png. scripts/screenshots.sh uses it to
// photograph the real program.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    bool ok = false;
    const WId window = argc == 3 ? WId(QString(argv[1]).toULongLong(&ok)) : 0;
    if (!ok) {
        std::fprintf(stderr, "usage: window_shot WINDOW_ID FILE.png\n");
        return 2;
    }
    return QGuiApplication::primaryScreen()->grabWindow(window).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
