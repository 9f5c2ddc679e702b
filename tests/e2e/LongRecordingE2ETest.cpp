// The longest recording the program keeps, at full HD, in a memory control
// group of 2 GiB: 3,000 frames of 1920 x 1080 (8.3 MB each raw, 24.9 GB in
// all) of typing and of scrolling from the synthetic backend, recorded with the
// record key, opened in the editor and written by the built-in GIF encoder
// through the save dialog. Only a recording whose frames live compressed on
// disk fits. The group needs root; elsewhere the cases skip.
#include "capture/X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t GROUP_LIMIT = int64_t(2) << 30;
constexpr int FRAMES = 3000;

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

std::optional<int64_t> numberIn(const QString &path)
{
    const std::optional<QByteArray> text = readFile(path);
    bool ok = false;
    const int64_t value = text ? text->trimmed().toLongLong(&ok) : 0;
    return ok ? std::optional(value) : std::nullopt;
}

// A memory control group of its own for the program, beside this process's
// (cgroup v1: a child of its memory group; v2: a sibling, since a v2 group
// with processes cannot hand controllers to children). Removed at the end.
class MemoryGroup {
public:
    static std::unique_ptr<MemoryGroup> make(int64_t limit, QString &why)
    {
        const std::optional<QByteArray> self = readFile(QStringLiteral("/proc/self/cgroup"));
        if (!self) {
            why = QStringLiteral("no /proc/self/cgroup");
            return nullptr;
        }
        static int made = 0;
        const QString name = QStringLiteral("/quillo-long-recording-%1-%2").arg(::getpid()).arg(++made);
        for (const QByteArray &line : self->split('\n')) {
            const QList<QByteArray> parts = line.split(':');
            if (parts.size() < 3)
                continue;
            const QString path = QString::fromUtf8(parts.mid(2).join(':'));
            if (parts[1].split(',').contains("memory")) {
                auto group = std::unique_ptr<MemoryGroup>(new MemoryGroup);
                group->m_dir
                    = QStringLiteral("/sys/fs/cgroup/memory") + (path == QLatin1String("/") ? QString() : path) + name;
                group->m_v1 = true;
                if (group->create(limit, QStringLiteral("memory.limit_in_bytes"), why))
                    return group;
                return nullptr;
            }
        }
        for (const QByteArray &line : self->split('\n')) {
            if (!line.startsWith("0::"))
                continue;
            QString parent = QString::fromUtf8(line.mid(3));
            parent = parent.left(parent.lastIndexOf(QLatin1Char('/')));
            auto group = std::unique_ptr<MemoryGroup>(new MemoryGroup);
            group->m_dir = QStringLiteral("/sys/fs/cgroup") + parent + name;
            if (group->create(limit, QStringLiteral("memory.max"), why))
                return group;
            return nullptr;
        }
        why = QStringLiteral("no memory controller in /proc/self/cgroup");
        return nullptr;
    }

    ~MemoryGroup()
    {
        if (m_dir.isEmpty())
            return;
        // A killed program leaves the group a moment after it is reaped, and
        // any child it started leaves with it.
        const QByteArray dir = QFile::encodeName(m_dir);
        QDeadlineTimer deadline(10000);
        while (::rmdir(dir.constData()) != 0 && errno == EBUSY && !deadline.hasExpired()) {
            for (const QByteArray &pid : readFile(m_dir + QStringLiteral("/cgroup.procs")).value_or("").split('\n')) {
                if (pid.toInt() > 0)
                    ::kill(pid.toInt(), SIGKILL);
            }
            QThread::msleep(50);
        }
    }

    // For QProcess::setChildProcessModifier: moves the child, between fork
    // and exec, into the group ("0" names the writer).
    std::function<void()> joiner() const
    {
        const QByteArray procs = QFile::encodeName(m_dir + QStringLiteral("/cgroup.procs"));
        return [procs] {
            const int fd = ::open(procs.constData(), O_WRONLY | O_CLOEXEC);
            if (fd >= 0) {
                if (::write(fd, "0", 1) != 1) { }
                ::close(fd);
            }
        };
    }

    bool holds(qint64 pid) const
    {
        const std::optional<QByteArray> procs = readFile(m_dir + QStringLiteral("/cgroup.procs"));
        return procs && procs->split('\n').contains(QByteArray::number(pid));
    }

    // The most the group has used, page cache included: the kernel's own
    // record where there is one, else the largest of the samples taken.
    int64_t peak()
    {
        sample();
        const std::optional<int64_t> recorded
            = numberIn(m_dir + (m_v1 ? QStringLiteral("/memory.max_usage_in_bytes") : QStringLiteral("/memory.peak")));
        return std::max(recorded.value_or(0), m_sampled);
    }
    void sample()
    {
        const std::optional<int64_t> now
            = numberIn(m_dir + (m_v1 ? QStringLiteral("/memory.usage_in_bytes") : QStringLiteral("/memory.current")));
        m_sampled = std::max(m_sampled, now.value_or(0));
    }
    // Times the group's limit refused memory (v1) or the OOM killer ran.
    QString pressure() const
    {
        if (m_v1)
            return QStringLiteral("failcnt=%1").arg(numberIn(m_dir + QStringLiteral("/memory.failcnt")).value_or(-1));
        return QString::fromUtf8(readFile(m_dir + QStringLiteral("/memory.events")).value_or(QByteArray()))
            .simplified();
    }

private:
    MemoryGroup() = default;

    bool create(int64_t limit, const QString &limitFile, QString &why)
    {
        if (::mkdir(QFile::encodeName(m_dir).constData(), 0755) != 0) {
            why = QStringLiteral("cannot make %1: %2").arg(m_dir, QString::fromLocal8Bit(std::strerror(errno)));
            m_dir.clear();
            return false;
        }
        if (!writeFile(m_dir + QLatin1Char('/') + limitFile, QByteArray::number(limit))) {
            why = QStringLiteral("cannot set %1/%2").arg(m_dir, limitFile);
            return false;
        }
        return true;
    }

    QString m_dir;
    bool m_v1 = false;
    int64_t m_sampled = 0;
};

// Frames of a GIF as gifsicle counts them.
std::optional<int> gifImages(const QString &path)
{
    QProcess gifsicle;
    gifsicle.start(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    if (!gifsicle.waitForFinished(120000) || gifsicle.exitCode() != 0)
        return std::nullopt;
    const auto match = QRegularExpression(QStringLiteral("(\\d+) images?"))
                           .match(QString::fromUtf8(gifsicle.readAllStandardOutput()));
    return match.hasMatch() ? std::optional(match.captured(1).toInt()) : std::nullopt;
}

class LongRecordingE2E : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        for (const char *tool : {"xdotool", "gifsicle"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit the group's limit";
#endif
        QString why;
        group = MemoryGroup::make(GROUP_LIMIT, why);
        if (!group)
            GTEST_SKIP() << "cannot make a memory control group (" << why.toStdString()
                         << "); run as root on a system with cgroup v1 or v2";
        ASSERT_TRUE(scratch.isValid());
        display = std::make_unique<X11TestDisplay>(QSize(2400, 1400), X11TestDisplay::Desktop::bare);
        ASSERT_TRUE(display->isRunning()) << display->failure().toStdString();
    }

    void TearDown() override
    {
        if (program && program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(10000);
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display->name());
        env.insert(QStringLiteral("XDG_STATE_HOME"), scratch.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        env.insert(QStringLiteral("QUILLO_CAPTURE_BACKEND"), QStringLiteral("synthetic"));
        env.insert(QStringLiteral("QUILLO_SYNTHETIC_CONTENT"), QString::fromLatin1(GetParam()));
        // As fast as the program keeps them: the store's backlog at its
        // ceiling, and no minute of waiting for 60 fps.
        env.insert(QStringLiteral("QUILLO_SYNTHETIC_UNPACED"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    bool xdotool(const QStringList &arguments, QString *output = nullptr) const
    {
        QProcess run;
        run.setProcessEnvironment(environment());
        run.start(QStringLiteral("xdotool"), arguments);
        if (!run.waitForFinished(30000) || run.exitCode() != 0)
            return false;
        if (output)
            *output = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        return true;
    }

    // Reads the program's log lines from standard error until one contains
    // `text`; samples the group's memory meanwhile.
    bool waitForLine(const QString &text, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!log.contains(text)) {
            if (deadline.hasExpired() || program->state() == QProcess::NotRunning)
                return false;
            program->waitForReadyRead(200);
            log += QString::fromUtf8(program->readAllStandardError());
            group->sample();
        }
        return true;
    }

    std::unique_ptr<MemoryGroup> group;
    QTemporaryDir scratch;
    std::unique_ptr<X11TestDisplay> display;
    std::unique_ptr<QProcess> program;
    QString log;
};

} // namespace

TEST_P(LongRecordingE2E, ThreeThousandFullHdFrames_RecordOpenAndExportInTwoGigabytes)
{
    // The region fills 1920 x 1080 of the screen at 60 fps; the built-in
    // encoder, and the save dialog proposes out/<content>.gif.
    const QString out = scratch.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(out));
    ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("config/Quillo"))));
    const QString output = out + QLatin1Char('/') + QString::fromLatin1(GetParam()) + QStringLiteral(".gif");
    ASSERT_TRUE(writeFile(scratch.filePath(QStringLiteral("config/Quillo/Quillo.conf")),
        QStringLiteral("[General]\nfps=60\nlastRegion=\"200,100,1920,1080\"\nlastRegionScreen=screen\n"
                       "encoder=imageIO\nlastExportDir=%1\nlastExportName=%2\n")
            .arg(out, QString::fromLatin1(GetParam()))
            .toUtf8()));

    program = std::make_unique<QProcess>();
    program->setProcessEnvironment(environment());
    program->setChildProcessModifier(group->joiner());
    program->start(QStringLiteral(QUILLO_PROGRAM), {});
    ASSERT_TRUE(program->waitForStarted(10000));
    ASSERT_TRUE(group->holds(program->processId())) << "the program is not in the memory group";
    ASSERT_TRUE(waitForLine(QStringLiteral("record key Ctrl+Alt+R: X11 key grab"), 30000)) << log.toStdString();

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+r")}));
    ASSERT_TRUE(waitForLine(QStringLiteral("first frame "), 30000)) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("first frame 1920x1080"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("frame store: "))) << log.toStdString();
    ASSERT_TRUE(waitForLine(QStringLiteral("→ opening editor with "), 600000)) << log.right(3000).toStdString();
    const double recordSeconds = double(clock.elapsed()) / 1000;
    EXPECT_TRUE(log.contains(QStringLiteral("→ opening editor with %1 frames").arg(FRAMES))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("memory low"))) << log.toStdString();
    const int64_t recordingPeak = group->peak();

    QString editor;
    ASSERT_TRUE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                            QStringLiteral("--name"), QStringLiteral("Quillo — Editor")},
        &editor));
    editor = editor.section(QLatin1Char('\n'), 0, 0);
    ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), editor}));
    clock.restart();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+s")}));
    ASSERT_TRUE(xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
        QStringLiteral("--name"), QStringLiteral("^Export$")}));
    // The dialog proposes the file; its name field has the focus.
    QThread::msleep(500);
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(waitForLine(QStringLiteral("export done ok="), 900000)) << log.right(3000).toStdString();
    const double exportSeconds = double(clock.elapsed()) / 1000;
    EXPECT_TRUE(log.contains(QStringLiteral("export done ok=true"))) << log.right(3000).toStdString();

    QString hwm;
    if (const std::optional<QByteArray> status
        = readFile(QStringLiteral("/proc/%1/status").arg(program->processId()))) {
        hwm = QString::fromUtf8(*status)
                  .section(QStringLiteral("VmHWM:"), 1)
                  .section(QLatin1Char('\n'), 0, 0)
                  .simplified();
    }
    const int64_t peak = group->peak();
    const std::optional<int> images = gifImages(output);
    EXPECT_EQ(images, FRAMES);

    const QString report = QStringLiteral("%1: recorded %2 frames in %3 s, exported in %4 s (%5 MB, %6 images); group "
                                          "peak %7 MB while recording, %8 MB in all (%9); program's peak resident "
                                          "set %10")
                               .arg(QString::fromLatin1(GetParam()))
                               .arg(FRAMES)
                               .arg(recordSeconds, 0, 'f', 1)
                               .arg(exportSeconds, 0, 'f', 1)
                               .arg(double(QFileInfo(output).size()) / 1e6, 0, 'f', 1)
                               .arg(images.value_or(-1))
                               .arg(recordingPeak >> 20)
                               .arg(peak >> 20)
                               .arg(group->pressure(), hwm);
    std::printf("%s\n", qPrintable(report));
    RecordProperty("measured", report.toStdString());
    // Still there: the kernel did not have to end it for the group's limit.
    EXPECT_EQ(program->state(), QProcess::Running);
}

INSTANTIATE_TEST_SUITE_P(Content, LongRecordingE2E, ::testing::Values("typing", "scrolling"),
    [](const ::testing::TestParamInfo<const char *> &info) { return std::string(info.param); });
