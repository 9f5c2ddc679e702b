// Writes the benchmark's test material: 300-frame clips that look like what
// people record, with variable delays, as PNG frames plus a delay list.
//
//   clip_generator <out-dir> <width> <height> [clip...]
//
// Clips: "typing", "scrolling", "video" (all three when none is named). Each
// goes to <out-dir>/<clip>-<width>x<height>/ as frame00000.png ...,
// delays.txt (one delay in milliseconds per line) and fps.txt (the frame rate
// the recording was made at). The same arguments always give the same pixels.
#include "ClipScenes.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: clip_generator <out-dir> <width> <height> [typing|scrolling|video ...]\n");
        return 2;
    }
    const QSize size(args[2].toInt(), args[3].toInt());
    if (size.width() < 64 || size.height() < 64) {
        std::fprintf(stderr, "clip_generator: the size must be at least 64 x 64\n");
        return 2;
    }
    QStringList clips = args.mid(4);
    if (clips.isEmpty())
        clips = ClipScenes::names();

    for (const QString &name : clips) {
        const std::optional<ClipScenes::Clip> clip = ClipScenes::make(name, size);
        if (!clip) {
            std::fprintf(stderr, "clip_generator: unknown clip \"%s\"\n", qPrintable(name));
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2-%3x%4").arg(args[1], name).arg(size.width()).arg(size.height());
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "clip_generator: cannot make %s\n", qPrintable(dir));
            return 1;
        }
        QFile delays(dir + QStringLiteral("/delays.txt"));
        QFile fps(dir + QStringLiteral("/fps.txt"));
        if (!delays.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || !fps.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "clip_generator: cannot write in %s\n", qPrintable(dir));
            return 1;
        }
        QTextStream delayOut(&delays);
        QTextStream(&fps) << clip->fps << '\n';
        for (int i = 0; i < ClipScenes::FRAMES; ++i) {
            const QString file = dir + QStringLiteral("/frame%1.png").arg(i, 5, 10, QLatin1Char('0'));
            // Light compression: the files are read once per run, and time
            // spent here is time not spent measuring.
            if (!clip->frame(i).save(file, "PNG", 85)) {
                std::fprintf(stderr, "clip_generator: cannot write %s\n", qPrintable(file));
                return 1;
            }
            delayOut << clip->delaysMs[size_t(i)] << '\n';
        }
        std::printf("%s: %d frames\n", qPrintable(dir), ClipScenes::FRAMES);
    }
    return 0;
}
