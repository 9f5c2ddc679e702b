#pragma once

#include "export/ExportJob.h"
#include "model/GifProject.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace GifExporter {

// A project staged on disk for an external encoder: "frame00000.png",
// "frame00001.png", ... and the concat list "list.txt" in a private folder
// "quillo-XXXXXX" (mode 0700: the frames show the user's screen) inside the
// temporary folder. The object owns the folder and removes it with everything
// in it (errors ignored) when it goes out of scope, so every return path of
// an export cleans up. While it lives it holds a lock on the folder's ".lock"
// file; a folder whose lock nobody holds was left by a program that died, and
// removeLeftoverStaging() takes it away. Move-only.
class FrameDir {
public:
    // Takes over `dir` and the open, locked `lockFd` inside it.
    FrameDir(QString dir, int lockFd);
    FrameDir(FrameDir &&other) noexcept;
    FrameDir &operator=(FrameDir &&) = delete;
    FrameDir(const FrameDir &) = delete;
    FrameDir &operator=(const FrameDir &) = delete;
    ~FrameDir();

    // Absolute path of the folder.
    const QString &dir() const { return m_dir; }
    // Absolute paths of the PNG files, one per frame, in frame order.
    const QStringList &pngs() const { return m_pngs; }
    void setPngs(QStringList pngs) { m_pngs = std::move(pngs); }
    // dir() + "/" + name.
    QString filePath(const QString &name) const;

private:
    QString m_dir;
    QStringList m_pngs;
    int m_lockFd = -1;
};

// Removes the staging folders of this user that no running export holds,
// left behind by a program that was killed. Cheap; any thread.
void removeLeftoverStaging();

// Writes every frame as PNG (on every core; see StagingPng) and the concat
// list. Blocks the calling thread until done. Absent when the folder cannot be
// made or any file cannot be written; a half-written folder never survives.
// With a job: progress from 0 to `progressShare` as frames are written, and
// absent as soon as the job is cancelled.
std::optional<FrameDir> makeFrameDir(const GifProject &project, ExportJob *job = nullptr, double progressShare = 1.0);

// Writes `text` as UTF-8 to the file `name` in the staging folder, replacing
// it whole or not at all.
bool writeStagedText(const FrameDir &staged, const QString &name, const QString &text);

// The concat list ("ffconcat version 1.0", then per frame its file line, the
// line "option framerate 100" and its duration). The option line is what makes
// ffmpeg keep each duration to the hundredth: without it PNG entries get a
// 1/25 s time base and 60 ms frames come out as 80 and 40 ms. The last frame is
// listed once only, since a repeated entry becomes one more GIF frame; its
// delay reaches the GIF through the muxer's final delay instead.
QString concatList(const GifProject &project);

// The video path's concat list: each frame's own delay (at least 10 ms; a video
// has no 20 ms floor) at a millisecond time base. ffmpeg gives the last entry
// of a list a single tick, so the last frame keeps all but 1 ms of its delay
// and is listed once more for that last millisecond: the video then ends
// exactly at the project's total.
QString videoConcatList(const GifProject &project);

// "frame%05d.png" for `index`; longer than five digits past 99999.
QString frameFileName(qsizetype index);

} // namespace GifExporter
