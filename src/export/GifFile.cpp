#include "export/GifFile.h"

#include <QFile>

#include <algorithm>

namespace GifFile {

namespace {

// Skips a run of data sub-blocks (length byte, data, ..., zero). False when
// the file ends first.
bool skipSubBlocks(QFile &file)
{
    for (;;) {
        char length = 0;
        if (!file.getChar(&length))
            return false;
        if (length == 0)
            return true;
        if (!file.seek(file.pos() + uchar(length)) || file.pos() > file.size())
            return false;
    }
}

bool skipColorTable(QFile &file, uchar packed)
{
    if (!(packed & 0x80))
        return true;
    const qint64 bytes = 3 * (qint64(1) << ((packed & 0x07) + 1));
    return file.seek(file.pos() + bytes) && file.pos() <= file.size();
}

} // namespace

std::optional<Structure> read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.read(13);
    if (header.size() < 13 || !(header.startsWith("GIF87a") || header.startsWith("GIF89a")))
        return std::nullopt;
    if (!skipColorTable(file, uchar(header[10])))
        return std::nullopt;
    Structure structure;
    // The graphic control extension seen since the last image, if any.
    std::optional<int> delay;
    qint64 delayOffset = -1;
    for (;;) {
        char introducer = 0;
        if (!file.getChar(&introducer))
            return std::nullopt;
        switch (uchar(introducer)) {
        case 0x3B: // trailer
            return structure;
        case 0x21: { // extension: label, then sub-blocks
            char label = 0;
            if (!file.getChar(&label))
                return std::nullopt;
            if (uchar(label) == 0xF9) {
                const qint64 start = file.pos();
                const QByteArray block = file.read(6);
                if (block.size() < 6 || block[0] != 4)
                    return std::nullopt;
                delay = int(uchar(block[2])) | (int(uchar(block[3])) << 8);
                delayOffset = start + 2;
                if (!file.seek(start + 5))
                    return std::nullopt;
            }
            if (!skipSubBlocks(file))
                return std::nullopt;
            break;
        }
        case 0x2C: { // image descriptor, colour table, LZW size, data
            const QByteArray descriptor = file.read(9);
            char lzwSize = 0;
            if (descriptor.size() < 9 || !skipColorTable(file, uchar(descriptor[8])) || !file.getChar(&lzwSize)
                || !skipSubBlocks(file))
                return std::nullopt;
            structure.delays.push_back(std::exchange(delay, std::nullopt));
            structure.delayOffsets.push_back(std::exchange(delayOffset, -1));
            break;
        }
        default:
            return std::nullopt;
        }
    }
}

bool setDelays(const QString &path, const std::vector<int> &delaysCs)
{
    const std::optional<Structure> structure = read(path);
    if (!structure || structure->delayOffsets.size() != delaysCs.size())
        return false;
    if (std::find(structure->delayOffsets.begin(), structure->delayOffsets.end(), -1) != structure->delayOffsets.end())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    for (size_t i = 0; i < delaysCs.size(); ++i) {
        const int delay = std::clamp(delaysCs[i], 0, 65535);
        const char bytes[] = {char(delay & 0xff), char(delay >> 8)};
        if (!file.seek(structure->delayOffsets[i]) || file.write(bytes, 2) != 2)
            return false;
    }
    return file.flush();
}

} // namespace GifFile
