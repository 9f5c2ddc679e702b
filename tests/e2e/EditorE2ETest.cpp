// The editor window of the built program, driven with real X input: a private
// X server, the program in its "--selftest" mode, keys and mouse from xdotool.
// The editor writes its status line to its log after every change, which is
// how these tests read the frame number, count and delay.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

QString run(
    const QString &program, const QStringList &arguments, const QProcessEnvironment &env, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(30000);
    const QByteArray out = process.readAllStandardOutput();
    if (output)
        *output = out;
    return QString::fromUtf8(out).trimmed();
}

bool waitFor(const std::function<bool()> &done, int ms = 10000)
{
    for (int waited = 0; waited < ms; waited += 50) {
        if (done())
            return true;
        QThread::msleep(50);
    }
    return done();
}

struct Status {
    int frame = 0;
    int count = 0;
    int delayMs = 0;
};

// A private 1600 x 1000 x 24 X server, so the window opens at its full size
// and colours can be compared, whatever display the test runner has.
class EditorSession {
public:
    // `configure` adds to the program's environment (stand-in tools, TMPDIR).
    explicit EditorSession(const std::function<void(QProcessEnvironment &)> &configure = {})
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
            return;
        m_toolsFound = true;
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start(QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1600x1000x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_server.waitForStarted(10000))
            return;
        while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) { }
        if (!m_server.canReadLine())
            return;
        const QString display = QStringLiteral(":") + QString::fromUtf8(m_server.readLine()).trimmed();

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), display);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("QUILLO_LOG_STATUS"), QStringLiteral("1"));
        m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (configure)
            configure(m_env);

        m_app.setProcessEnvironment(m_env);
        m_app.start(QStringLiteral(QUILLO_BINARY_DIR "/src/app/quillo"), {QStringLiteral("--selftest")});
        if (!m_app.waitForStarted(10000))
            return;
        waitFor(
            [this] {
                m_window = run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                        QStringLiteral("Quillo — Editor")},
                    m_env)
                               .section(QLatin1Char('\n'), 0, 0);
                return !m_window.isEmpty() && status().has_value();
            },
            // A loaded machine (a parallel build, other tests) can take this long.
            60000);
        if (m_window.isEmpty())
            return;
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window});
        const QString shell = run(QStringLiteral("xdotool"),
            {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), m_window}, m_env);
        for (const QString &line : shell.split(QLatin1Char('\n'))) {
            const QString value = line.section(QLatin1Char('='), 1);
            if (line.startsWith(QStringLiteral("X=")))
                m_origin.setX(value.toInt());
            else if (line.startsWith(QStringLiteral("Y=")))
                m_origin.setY(value.toInt());
            else if (line.startsWith(QStringLiteral("HEIGHT=")))
                m_height = value.toInt();
        }
        m_ready = true;
    }

    ~EditorSession()
    {
        m_app.kill();
        m_app.waitForFinished(5000);
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
    }

    bool toolsFound() const { return m_toolsFound; }
    // What went wrong when the window never came up.
    QString diagnosis()
    {
        QString text = m_app.state() == QProcess::NotRunning
            ? QStringLiteral("the program ended (status %1); ").arg(m_app.exitCode())
            : QStringLiteral("the program runs; ");
        text += QStringLiteral("window '%1'; stderr: ").arg(m_window)
            + QString::fromUtf8(m_app.readAllStandardError().right(2000));
        text += QStringLiteral("; log: ")
            + logLines().mid(std::max<qsizetype>(0, logLines().size() - 10)).join(QStringLiteral(" | "));
        return text;
    }
    QProcess &program() { return m_app; }
    bool ready() const { return m_ready; }
    QString homePath(const QString &name) const { return m_home.filePath(name); }

    void xdotool(const QStringList &arguments) const { run(QStringLiteral("xdotool"), arguments, m_env); }
    void key(const QString &keys) const
    {
        xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), keys});
    }
    void type(const QString &text) const
    {
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
    }

    // Window-relative point to screen.
    QStringList moveTo(QPoint p) const
    {
        return {
            QStringLiteral("mousemove"), QString::number(m_origin.x() + p.x()), QString::number(m_origin.y() + p.y())};
    }

    QStringList logLines() const
    {
        QFile file(homePath(QStringLiteral("state/Quillo/Quillo.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The last status line in the log.
    std::optional<Status> status() const
    {
        static const QRegularExpression pattern(
            QStringLiteral("^status Frame (\\d+) / (\\d+)   ·   \\d+×\\d+   ·   total [0-9.]+s   ·   delay (\\d+)ms$"));
        const QStringList lines = logLines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            const auto match = pattern.match(*it);
            if (match.hasMatch())
                return Status {match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt()};
        }
        return std::nullopt;
    }

    // Waits until the status line satisfies `expected`.
    bool statusBecomes(const std::function<bool(const Status &)> &expected) const
    {
        return waitFor([&] {
            const auto s = status();
            return s && expected(*s);
        });
    }

    QImage screenshot() const
    {
        QByteArray png;
        run(QStringLiteral("import"), {QStringLiteral("-window"), m_window, QStringLiteral("png:-")}, m_env, &png);
        return QImage::fromData(png, "PNG");
    }

    // The delay field: the leftmost run of the text-field background in the
    // control rows.
    std::optional<QPoint> delayFieldCentre() const
    {
        const QImage shot = screenshot();
        const QRgb fieldBase = qRgb(20, 20, 20);
        for (int y = 30; y < std::min(shot.height(), 160); ++y) {
            int run = 0;
            for (int x = 0; x < std::min(shot.width(), 400); ++x) {
                run = (shot.pixel(x, y) & 0xffffff) == (fieldBase & 0xffffff) ? run + 1 : 0;
                if (run == 30)
                    return QPoint(x - 10, y + 6);
            }
        }
        return std::nullopt;
    }

    // The centre of thumbnail box `index` (before any scrolling of the strip).
    QPoint thumbnailCentre(int index) const { return {8 + 90 * index + 42, m_height - 8 - 104 + 8 + 31}; }

    const QProcessEnvironment &env() const { return m_env; }

private:
    QTemporaryDir m_home;
    QProcess m_server;
    QProcess m_app;
    QProcessEnvironment m_env;
    QString m_window;
    QPoint m_origin;
    int m_height = 0;
    bool m_toolsFound = false;
    bool m_ready = false;
};

#define REQUIRE_SESSION(s, ...)                                                                                        \
    EditorSession s {__VA_ARGS__};                                                                                     \
    if (!s.toolsFound())                                                                                               \
        GTEST_SKIP() << "Xvfb, xdotool or ImageMagick import not installed";                                           \
    ASSERT_TRUE(s.ready()) << "the editor window did not come up: " << s.diagnosis().toStdString();

} // namespace

TEST(EditorE2E, SpaceArrowsBackspaceAndUndoRedoActOnTheFrames)
{
    REQUIRE_SESSION(s);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 1 && st.count == 30; }));

    s.key(QStringLiteral("Right"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 2; }));
    s.key(QStringLiteral("Right"));
    s.key(QStringLiteral("Left"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 2; }));

    // Play for a while, stop, and step once: the frame number has moved on.
    s.key(QStringLiteral("space"));
    QThread::msleep(700);
    s.key(QStringLiteral("space"));
    s.key(QStringLiteral("Right"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame > 4; }));
    const int afterPlay = s.status()->frame;
    // Stopped means stopped: nothing moves while we wait.
    QThread::msleep(400);
    EXPECT_EQ(s.status()->frame, afterPlay);

    s.key(QStringLiteral("BackSpace"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
    s.key(QStringLiteral("Delete"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 28; }));
    s.key(QStringLiteral("ctrl+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
    s.key(QStringLiteral("ctrl+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));
    s.key(QStringLiteral("ctrl+shift+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
}

TEST(EditorE2E, DelayFieldTakesArithmeticAndReturnHandsTheKeysBack)
{
    REQUIRE_SESSION(s);
    std::optional<QPoint> field;
    // The window may still be painting its first picture.
    waitFor([&] { return (field = s.delayFieldCentre()).has_value(); });
    ASSERT_TRUE(field) << "delay field not found on screen";
    QStringList click = s.moveTo(*field);
    click << QStringLiteral("click") << QStringLiteral("1");
    s.xdotool(click);
    s.key(QStringLiteral("ctrl+a"));
    // Arrows move the caret while the field is edited, not the frame.
    s.type(QStringLiteral("60*2"));
    s.key(QStringLiteral("Left Right"));
    s.key(QStringLiteral("Return"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 1 && st.delayMs == 120; }));

    // Return gave the keys back to the window: Right moves the frame again.
    s.key(QStringLiteral("Right"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 2 && st.delayMs == 60; }));
}

TEST(EditorE2E, DraggingAThumbnailMovesTheFrame)
{
    REQUIRE_SESSION(s);
    const QPoint from = s.thumbnailCentre(0);
    QStringList drag = s.moveTo(from);
    drag << QStringLiteral("mousedown") << QStringLiteral("1");
    for (const int dx : {6, 60, 150, 230}) {
        drag << s.moveTo(from + QPoint(dx, 0));
        drag << QStringLiteral("sleep") << QStringLiteral("0.1");
    }
    drag << QStringLiteral("mouseup") << QStringLiteral("1");
    s.xdotool(drag);
    // To slot 3: the first frame now stands third and stays current.
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 3 && st.count == 30; }));
    const QStringList lines = s.logLines();
    EXPECT_TRUE(lines.filter(QStringLiteral("strip mouseDown")).size() == 1);

    s.key(QStringLiteral("ctrl+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 3; }));
}

TEST(EditorE2E, ControlSSavesAGifThatGifsicleReads)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gifsicle")).isEmpty())
        GTEST_SKIP() << "gifsicle not installed";
    REQUIRE_SESSION(s);
    QDir().mkpath(s.homePath(QStringLiteral("out")));
    const QString target = s.homePath(QStringLiteral("out/Clip.gif"));

    s.key(QStringLiteral("ctrl+s"));
    QThread::msleep(1500);
    s.key(QStringLiteral("ctrl+a"));
    s.type(target);
    s.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor([&] { return !s.logLines().filter(QStringLiteral("export done ok=")).isEmpty(); }, 60000));
    EXPECT_FALSE(s.logLines().filter(QStringLiteral("export done ok=true")).isEmpty());

    QProcess gifsicle;
    gifsicle.start(QStringLiteral("gifsicle"), {QStringLiteral("--info"), target});
    ASSERT_TRUE(gifsicle.waitForFinished(30000));
    EXPECT_EQ(gifsicle.exitCode(), 0);
    const QString info = QString::fromUtf8(gifsicle.readAllStandardOutput());
    EXPECT_TRUE(info.contains(QStringLiteral("30 images"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("320x200"))) << info.toStdString();

    // The name and folder are remembered for the next export.
    QFile settings(s.homePath(QStringLiteral("config/Quillo/Quillo.conf")));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QString conf = QString::fromUtf8(settings.readAll());
    EXPECT_TRUE(conf.contains(QStringLiteral("lastExportName=Clip"))) << conf.toStdString();
}

TEST(EditorE2E, CloseAsksFirstAndOnlyDiscardLeavesTheEditor)
{
    REQUIRE_SESSION(s);
    const auto editorWindows = [&s] {
        QProcess search;
        search.setProcessEnvironment(s.env());
        search.start(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                QStringLiteral("Quillo — Editor")});
        search.waitForFinished(10000);
        return QString::fromUtf8(search.readAllStandardOutput()).trimmed();
    };

    // The question is a window of its own: wait for it to take the keys.
    const auto activeIsEditor = [&s] {
        QProcess active;
        active.setProcessEnvironment(s.env());
        active.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus"), QStringLiteral("getwindowname")});
        active.waitForFinished(10000);
        return QString::fromUtf8(active.readAllStandardOutput()).startsWith(QStringLiteral("Quillo — Editor"));
    };

    // "Cancel" is the default answer: the editor stays, keys still reach it.
    s.key(QStringLiteral("ctrl+w"));
    ASSERT_TRUE(waitFor([&] { return !activeIsEditor(); }));
    QThread::msleep(200);
    s.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitFor(activeIsEditor));
    EXPECT_FALSE(editorWindows().isEmpty());
    s.key(QStringLiteral("Right"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 2 && st.count == 30; }));

    // "Discard & Record" closes it.
    s.key(QStringLiteral("ctrl+w"));
    ASSERT_TRUE(waitFor([&] { return !activeIsEditor(); }));
    QThread::msleep(200);
    s.key(QStringLiteral("Tab"));
    s.key(QStringLiteral("space"));
    EXPECT_TRUE(waitFor([&] { return editorWindows().isEmpty(); }));
}

TEST(EditorE2E, UndoAndSelectAllFromTheEditMenuActOnTheFrames)
{
    REQUIRE_SESSION(s);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));
    s.key(QStringLiteral("Delete"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));

    // Alt+E opens "Edit" with its first item, Undo, highlighted; Select All
    // is two steps down (past Redo and a separator).
    auto chooseFromEdit = [&](int stepsDown) {
        s.key(QStringLiteral("alt+e"));
        QThread::msleep(400);
        for (int i = 0; i < stepsDown; ++i)
            s.key(QStringLiteral("Down"));
        s.key(QStringLiteral("Return"));
    };
    chooseFromEdit(0);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));
    chooseFromEdit(1);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
    chooseFromEdit(0);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));

    // Select All, then take the first frame out of the selection: Delete
    // leaves only that one.
    chooseFromEdit(2);
    QStringList toggle = s.moveTo(s.thumbnailCentre(0));
    toggle << QStringLiteral("keydown") << QStringLiteral("ctrl") << QStringLiteral("click") << QStringLiteral("1")
           << QStringLiteral("keyup") << QStringLiteral("ctrl");
    s.xdotool(toggle);
    s.key(QStringLiteral("Delete"));
    EXPECT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 1; }));
}

TEST(EditorE2E, HomeEndAndBothRedoKeysActOnTheFrames)
{
    REQUIRE_SESSION(s);
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 1 && st.count == 30; }));
    s.key(QStringLiteral("End"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 30; }));
    s.key(QStringLiteral("Left"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 29; }));
    s.key(QStringLiteral("Home"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 1; }));

    s.key(QStringLiteral("Delete"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
    s.key(QStringLiteral("ctrl+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));
    s.key(QStringLiteral("ctrl+y"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));
    s.key(QStringLiteral("ctrl+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 30; }));
    s.key(QStringLiteral("ctrl+shift+z"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.count == 29; }));

    // In the delay field Home and End move the caret, not the frame.
    std::optional<QPoint> field;
    waitFor([&] { return (field = s.delayFieldCentre()).has_value(); });
    ASSERT_TRUE(field) << "delay field not found on screen";
    s.key(QStringLiteral("End"));
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 29; }));
    QStringList click = s.moveTo(*field);
    click << QStringLiteral("click") << QStringLiteral("1");
    s.xdotool(click);
    s.key(QStringLiteral("Home"));
    s.type(QStringLiteral("1"));
    s.key(QStringLiteral("End"));
    s.type(QStringLiteral("0"));
    s.key(QStringLiteral("Return"));
    // "60" became "1600": typed at both ends of the text.
    ASSERT_TRUE(s.statusBecomes([](const Status &st) { return st.delayMs == 1600; }));
    EXPECT_EQ(s.status()->frame, 29);
}

namespace {

// A gifski that never finishes, with a child of its own: the shape of a
// hanging tool. It notes both process ids in `marks`.
QString writeHangingGifski(const QString &folder, const QString &marks)
{
    const QString path = folder + QStringLiteral("/gifski");
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write(QStringLiteral("#!/bin/sh\n"
                                "echo $$ > '%1/tool.pid'\n"
                                "sleep 300 &\n"
                                "echo $! > '%1/child.pid'\n"
                                "wait\n")
                     .arg(marks)
                     .toUtf8());
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    return path;
}

bool processGone(const QString &pidFile)
{
    QFile file(pidFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString pid = QString::fromUtf8(file.readAll()).trimmed();
    QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    // A zombie nobody has reaped yet is gone too.
    return QString::fromLatin1(stat.readAll()).section(QLatin1Char(')'), 1).trimmed().startsWith(QLatin1Char('Z'));
}

// Everything a test of an interrupted export needs: a hanging gifski as the
// only tool, a private TMPDIR for the staging, and an existing destination.
struct HangingExport {
    QTemporaryDir dir;
    QString tools, marks, tmp, out, target;
    QByteArray previous = QByteArrayLiteral("GIF89a: the export from yesterday");

    HangingExport()
    {
        tools = dir.filePath(QStringLiteral("tools"));
        marks = dir.filePath(QStringLiteral("marks"));
        tmp = dir.filePath(QStringLiteral("tmp"));
        out = dir.filePath(QStringLiteral("out"));
        target = out + QStringLiteral("/Clip.gif");
        for (const QString &folder : {tools, marks, tmp, out})
            QDir().mkpath(folder);
        writeHangingGifski(tools, marks);
        QFile file(target);
        if (file.open(QIODevice::WriteOnly))
            file.write(previous);
    }

    void configure(QProcessEnvironment &env) const
    {
        env.insert(QStringLiteral("QUILLO_TOOL_DIRS"), tools);
        env.insert(QStringLiteral("TMPDIR"), tmp);
        // The size estimate would run the hanging tool before the export does.
        const QString config = env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/Quillo");
        QDir().mkpath(config);
        QFile conf(config + QStringLiteral("/Quillo.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("[General]\nsizeEstimate=false\n");
    }

    // Ctrl+S, the destination, the overwrite question, then waits for the
    // tool to run.
    bool start(EditorSession &s) const
    {
        s.key(QStringLiteral("ctrl+s"));
        QThread::msleep(1500);
        s.key(QStringLiteral("ctrl+a"));
        s.type(target);
        s.key(QStringLiteral("Return"));
        QThread::msleep(800);
        // "Clip.gif already exists. Do you want to replace it?"
        s.key(QStringLiteral("y"));
        return waitFor([&] { return QFile::exists(marks + QStringLiteral("/child.pid")); }, 30000);
    }

    QByteArray destination() const
    {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList leftInTmp() const { return QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
    QStringList leftInOut() const { return QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
};

} // namespace

TEST(EditorE2E, EscapeCancelsAHangingExportAtOnce_LeavingTheOldFileAndNoTool)
{
    HangingExport hanging;
    REQUIRE_SESSION(s, [&](QProcessEnvironment &env) { hanging.configure(env); });
    ASSERT_TRUE(hanging.start(s)) << "the stand-in gifski never ran";

    QElapsedTimer clock;
    s.key(QStringLiteral("Escape"));
    clock.start();
    ASSERT_TRUE(waitFor([&] { return !s.logLines().filter(QStringLiteral("export done ok=")).isEmpty(); }, 10000));
    const qint64 took = clock.elapsed();
    std::printf("cancel took %lld ms\n", static_cast<long long>(took));
    EXPECT_LT(took, 1000);
    EXPECT_FALSE(s.logLines().filter(QStringLiteral("export done ok=false Export cancelled.")).isEmpty());

    EXPECT_EQ(hanging.destination(), hanging.previous);
    EXPECT_EQ(hanging.leftInOut(), QStringList {QStringLiteral("Clip.gif")});
    EXPECT_TRUE(waitFor([&] { return hanging.leftInTmp().isEmpty(); }, 2000))
        << hanging.leftInTmp().join(' ').toStdString();
    EXPECT_TRUE(processGone(hanging.marks + QStringLiteral("/tool.pid")));
    EXPECT_TRUE(waitFor([&] { return processGone(hanging.marks + QStringLiteral("/child.pid")); }, 2000));

    // The editor is back, and the folder of an export that did not happen is
    // not the next proposal.
    QFile settings(s.homePath(QStringLiteral("config/Quillo/Quillo.conf")));
    const QString conf = settings.open(QIODevice::ReadOnly) ? QString::fromUtf8(settings.readAll()) : QString();
    EXPECT_FALSE(conf.contains(QStringLiteral("lastExportDir"))) << conf.toStdString();
    s.key(QStringLiteral("Right"));
    EXPECT_TRUE(s.statusBecomes([](const Status &st) { return st.frame == 2; }));
}

TEST(EditorE2E, SigtermDuringAnExport_EndsTheProgramWithoutToolOrStagingLeft)
{
    HangingExport hanging;
    REQUIRE_SESSION(s, [&](QProcessEnvironment &env) { hanging.configure(env); });
    ASSERT_TRUE(hanging.start(s)) << "the stand-in gifski never ran";

    s.program().terminate();
    ASSERT_TRUE(s.program().waitForFinished(15000));
    // It ends the way SIGTERM ends a program, after tidying up.
    EXPECT_EQ(s.program().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(s.program().exitCode(), SIGTERM);
    EXPECT_FALSE(s.logLines().filter(QStringLiteral("signal 15 (TERM): stopping")).isEmpty());

    EXPECT_EQ(hanging.destination(), hanging.previous);
    EXPECT_EQ(hanging.leftInOut(), QStringList {QStringLiteral("Clip.gif")});
    EXPECT_EQ(hanging.leftInTmp(), QStringList {}) << hanging.leftInTmp().join(' ').toStdString();
    EXPECT_TRUE(processGone(hanging.marks + QStringLiteral("/tool.pid")));
    EXPECT_TRUE(waitFor([&] { return processGone(hanging.marks + QStringLiteral("/child.pid")); }, 2000));
}

namespace {

// The file manager's side of the fake desktop.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList items;
public slots:
    void ShowItems(const QStringList &uris, const QString &) { items << uris; }
};

// A session bus of the test's own with a notification server and a file
// manager that only note what they are asked.
class FakeDesktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        QString app, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };

    FakeDesktop()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000) || !m_daemon.waitForReadyRead(5000))
            return;
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_bus
            = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("fake-desktop")));
        m_bus->registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
        m_bus->registerObject(
            QStringLiteral("/org/freedesktop/FileManager1"), &m_files, QDBusConnection::ExportAllSlots);
        ready = m_bus->registerService(QStringLiteral("org.freedesktop.Notifications"))
            && m_bus->registerService(QStringLiteral("org.freedesktop.FileManager1"));
    }
    ~FakeDesktop() override
    {
        if (m_bus)
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-desktop"));
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    // Presses the notification's button `key`.
    void invoke(uint id, const QString &key)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << id << key;
        m_bus->send(signal);
    }

    QString address;
    bool ready = false;
    std::vector<Notice> notices;
    QStringList shownItems() const { return m_files.items; }

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary, const QString &body,
        const QStringList &actions, const QVariantMap &hints, int)
    {
        notices.push_back({app, icon, summary, body, actions, hints});
        return uint(notices.size());
    }

private:
    QProcess m_daemon;
    std::unique_ptr<QDBusConnection> m_bus;
    FakeFileManager m_files;
};

// waitFor, with the test's own event loop turning, for the fake desktop.
bool waitServing(const std::function<bool()> &done, int ms = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

} // namespace

TEST(EditorE2E, ASuccessfulExportIsNotified_AndOpenFolderShowsTheFile)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        GTEST_SKIP() << "dbus-daemon not installed";
    FakeDesktop desktop;
    ASSERT_TRUE(desktop.ready);
    REQUIRE_SESSION(
        s, [&](QProcessEnvironment &env) { env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), desktop.address); });
    QDir().mkpath(s.homePath(QStringLiteral("out")));
    const QString target = s.homePath(QStringLiteral("out/Notified.gif"));
    s.key(QStringLiteral("ctrl+s"));
    QThread::msleep(1500);
    s.key(QStringLiteral("ctrl+a"));
    s.type(target);
    s.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitServing([&] { return !desktop.notices.empty(); }));

    const FakeDesktop::Notice &notice = desktop.notices.front();
    EXPECT_EQ(notice.app, QStringLiteral("Quillo"));
    EXPECT_EQ(notice.icon, QStringLiteral("org.quillo.Quillo"));
    EXPECT_EQ(notice.summary, QStringLiteral("Exported Notified.gif"));
    // The self-test project: 30 frames of 60 ms; the size as the file has it.
    const QString size = QLocale::system().formattedDataSize(QFileInfo(target).size(), 1, QLocale::DataSizeSIFormat);
    EXPECT_EQ(notice.body, size + QStringLiteral(" · 1.8 s"));
    EXPECT_EQ(notice.actions, (QStringList {QStringLiteral("open-folder"), QStringLiteral("Open Folder")}));
    EXPECT_EQ(notice.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("org.quillo.Quillo"));
    // The folder opens only when asked.
    EXPECT_TRUE(desktop.shownItems().isEmpty());

    desktop.invoke(1, QStringLiteral("open-folder"));
    ASSERT_TRUE(waitServing([&] { return !desktop.shownItems().isEmpty(); }, 10000));
    EXPECT_EQ(desktop.shownItems(), QStringList {QUrl::fromLocalFile(target).toString()});
}

#include "EditorE2ETest.moc"
