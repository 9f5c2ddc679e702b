// Decodes an animated WebP into one PNG per frame (frame00000.png, ...), each
// the whole canvas as a player shows it, so that the fidelity script can
// compare it with the source frames: this machine's ffmpeg cannot decode
// animated WebP.
//
//   webp_frames <in.webp> <out-dir>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>

#include <webp/demux.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: webp_frames <in.webp> <out-dir>\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "webp_frames: cannot read %s\n", argv[1]);
        return 1;
    }
    const QByteArray bytes = file.readAll();
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    const WebPData data {reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPAnimDecoder *decoder = WebPAnimDecoderNew(&data, &options);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder, &info)) {
        std::fprintf(stderr, "webp_frames: %s is not an animated WebP\n", argv[1]);
        return 1;
    }
    int index = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t *pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &pixels, &timestamp)) {
            std::fprintf(stderr, "webp_frames: frame %d cannot be decoded\n", index);
            return 1;
        }
        const QImage frame(pixels, int(info.canvas_width), int(info.canvas_height), int(info.canvas_width) * 4,
            QImage::Format_RGBA8888);
        if (!frame.save(out + QStringLiteral("/frame%1.png").arg(index, 5, 10, QLatin1Char('0')), "png", 10)) {
            std::fprintf(stderr, "webp_frames: cannot write frame %d\n", index);
            return 1;
        }
        ++index;
    }
    WebPAnimDecoderDelete(decoder);
    std::printf("%d\n", index);
    return 0;
}
