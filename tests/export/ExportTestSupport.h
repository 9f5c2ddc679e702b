#pragma once

// Helpers shared by the export tests: environment overrides, stand-in tools,
// and running the real checkers (gifsicle, ffprobe, ffmpeg).

#include "model/GifProject.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <ostream>

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char *name, const std::optional<QByteArray> &value)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvOverride()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvOverride(const EnvOverride &) = delete;
    EnvOverride &operator=(const EnvOverride &) = delete;

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

// A folder of stand-in "ffmpeg" and "gifski" scripts that the tool search sees
// instead of the real ones (QUILLO_TOOL_DIRS). Every run appends "== <tool>",
// "cwd=<dir>" and one line per argument to the log, keeps a copy of the
// working directory's list.txt and video.txt, writes QUILLO_STUB_STDERR to standard error,
// and exits with 3 when its run number is QUILLO_STUB_FAIL_AT. Like the real
// tools it leaves a file where its last argument says: a GIF of `gifFrames`
// frames when that ends in ".gif" (none without frames), a minimal MP4 when
// it ends in ".mp4". With QUILLO_STUB_SLEEP it waits that many seconds for a
// child of its own (a "sleep", whose pid goes to the log's ".sleeper" file).
class StubTools {
public:
    explicit StubTools(const QStringList &tools, int gifFrames = 0);

    QString dir() const { return m_dir.path(); }
    QString logPath() const { return m_dir.filePath(QStringLiteral("log.txt")); }
    // The log's runs, each as its lines (tool name first, then cwd, then args).
    QList<QStringList> runs() const;
    // The list.txt (kind "list") or video.txt (kind "video") the given run
    // (1-based) saw in its working directory.
    QString listSeenBy(int run, const QString &kind = QStringLiteral("list")) const;

private:
    QTemporaryDir m_dir;
    EnvOverride m_dirs;
    EnvOverride m_log;
    EnvOverride m_gif;
    EnvOverride m_mp4;
};

// The smallest file with an MP4's box structure (ftyp, then moov).
QByteArray minimalMp4();

void writeFile(const QString &path, const QByteArray &bytes);

struct ToolOutput {
    int status = -1;
    QString out;
};

// Runs a real checker and collects its standard output.
ToolOutput runChecker(const QString &program, const QStringList &arguments);

// Frames decoded from `gif` by ffmpeg, one image per GIF frame.
QList<QImage> decodeGifFrames(const QString &gif);

// Peak signal-to-noise ratio over R, G and B; infinity for identical images.
double psnr(const QImage &a, const QImage &b);

// `count` frames of `w` x `h` filled with `color`, each with `delayMs`.
GifProjectRef solidProject(int count, int w, int h, QColor color, int64_t delayMs, int64_t fps = 15);

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
