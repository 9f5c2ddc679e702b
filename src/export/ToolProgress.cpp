#include "export/ToolProgress.h"

#include <QRegularExpression>

#include <algorithm>
#include <memory>

namespace ToolProgress {

std::function<void(const QByteArray &)> reader(ExportJob *job, Tool tool, int64_t frames, double from, double to)
{
    if (!job)
        return {};
    // gifski redraws one line with carriage returns; ffmpeg writes key=value
    // lines. Either may split a line between two pieces.
    auto pending = std::make_shared<QByteArray>();
    const double total = double(std::max<int64_t>(frames, 1));
    return [job, tool, pending, total, from, to](const QByteArray &piece) {
        *pending += piece;
        const qsizetype end = std::max(pending->lastIndexOf('\n'), pending->lastIndexOf('\r'));
        if (end < 0)
            return;
        const QString text = QString::fromUtf8(pending->left(end));
        pending->remove(0, end + 1);
        static const QRegularExpression ffmpegFrame(QStringLiteral("(?:^|\\n)frame=(\\d+)"));
        static const QRegularExpression gifskiFrame(QStringLiteral("Frame (\\d+) / (\\d+)"));
        double done = -1;
        QRegularExpressionMatchIterator matches = (tool == Tool::ffmpeg ? ffmpegFrame : gifskiFrame).globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch m = matches.next();
            const double of = tool == Tool::gifski ? std::max(m.captured(2).toDouble(), 1.0) : total;
            done = m.captured(1).toDouble() / of;
        }
        if (done >= 0)
            job->reportProgress(from + (to - from) * std::min(done, 1.0));
    };
}

} // namespace ToolProgress
