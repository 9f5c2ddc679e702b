#include "export/GifEncoder.h"

#include "export/Tools.h"

std::optional<GifEncoder> gifEncoderFromRaw(const QString &raw)
{
    for (GifEncoder encoder : allGifEncoders) {
        if (rawValue(encoder) == raw)
            return encoder;
    }
    return std::nullopt;
}

QString rawValue(GifEncoder encoder)
{
    switch (encoder) {
    case GifEncoder::ffmpeg:
        return QStringLiteral("ffmpeg");
    case GifEncoder::gifski:
        return QStringLiteral("gifski");
    case GifEncoder::imageIO:
        break;
    }
    return QStringLiteral("imageIO");
}

QString label(GifEncoder encoder)
{
    switch (encoder) {
    case GifEncoder::ffmpeg:
        return QStringLiteral("High quality (ffmpeg)");
    case GifEncoder::gifski:
        return QStringLiteral("Best (gifski)");
    case GifEncoder::imageIO:
        break;
    }
    return QStringLiteral("System (built-in)");
}

bool isAvailable(GifEncoder encoder)
{
    switch (encoder) {
    case GifEncoder::ffmpeg:
        return Tools::ffmpeg().has_value();
    case GifEncoder::gifski:
        return Tools::gifski().has_value();
    case GifEncoder::imageIO:
        break;
    }
    return true;
}
