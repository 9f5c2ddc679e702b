#include "WaylandProgram.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>

namespace {

const QString logPrefix = QStringLiteral("Quillo: ");

} // namespace

WaylandProgram::WaylandProgram(WaylandDesktop desktop)
    : m_desktop(std::move(desktop))
{
}

WaylandProgram::~WaylandProgram()
{
    if (m_program && m_program->state() != QProcess::NotRunning) {
        m_program->kill();
        m_program->waitForFinished(5000);
    }
    for (qint64 pid : m_clients) {
        // A client stopped for a screenshot must run to hear its end.
        ::kill(pid_t(pid), SIGCONT);
        m_desktop.run(WaylandDesktop::helper(QStringLiteral("wl-client.py")), {"stop", QString::number(pid)});
    }
}

QSize WaylandProgram::logicalScreen() const
{
    const double scale = m_desktop.scale();
    return QSize(qRound(m_desktop.outputSize().width() / scale), qRound(m_desktop.outputSize().height() / scale));
}

QString WaylandProgram::screenName() const
{
    const std::optional<QByteArray> monitors = m_desktop.run(QStringLiteral("xrandr"), {"--listmonitors"});
    if (!monitors)
        return {};
    // " 0: +*XWAYLAND0 1280/339x720/190+0+0  XWAYLAND0": the last word.
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral(R"(^\s*0: \S+ \S+\s+(\S+)\s*$)"), QRegularExpression::MultilineOption)
              .match(QString::fromUtf8(*monitors));
    return m.hasMatch() ? m.captured(1) : QString();
}

void WaylandProgram::remember(const QString &key, const QString &value)
{
    QDir().mkpath(m_state.filePath(QStringLiteral("config/Quillo")));
    QFile file(m_state.filePath(QStringLiteral("config/Quillo/Quillo.conf")));
    const bool fresh = !file.exists();
    if (!file.open(QIODevice::Append))
        return;
    if (fresh)
        file.write("[General]\n");
    file.write(QStringLiteral("%1=%2\n").arg(key, value).toUtf8());
}

bool WaylandProgram::launch(const QStringList &arguments, const QProcessEnvironment &overrides)
{
    QProcessEnvironment env = m_desktop.environment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_state.filePath(QStringLiteral("config")));
    // As the desktop starts it: the program picks its platform and backend.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("QUILLO_CAPTURE_BACKEND"));
    env.insert(overrides);
    m_program = std::make_unique<QProcess>();
    m_program->setProcessEnvironment(env);
    m_program->start(QStringLiteral(QUILLO_PROGRAM), arguments);
    m_pending.clear();
    m_lines.clear();
    return m_program->waitForStarted(10000);
}

const QStringList &WaylandProgram::lines()
{
    if (m_program) {
        m_pending += m_program->readAllStandardError();
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            QString line = QString::fromUtf8(m_pending.left(end));
            if (line.startsWith(logPrefix))
                line.remove(0, logPrefix.size());
            m_lines << line;
            m_pending.remove(0, end + 1);
        }
    }
    return m_lines;
}

std::optional<QString> WaylandProgram::waitForLine(const QString &text, int timeoutMs)
{
    std::optional<QString> found;
    waitUntil(
        [&] {
            for (const QString &line : lines()) {
                if (line.contains(text)) {
                    found = line;
                    return true;
                }
            }
            return m_program->state() == QProcess::NotRunning;
        },
        timeoutMs);
    return found;
}

void WaylandProgram::pump(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool WaylandProgram::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        pump(50);
    }
    return true;
}

QImage WaylandProgram::screenshot() const
{
    const QString path = m_state.filePath(QStringLiteral("shot.png"));
    QFile::remove(path);
    if (!m_desktop.run(WaylandDesktop::helper(QStringLiteral("screenshot.py")), {path}))
        return {};
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

bool WaylandProgram::xdotool(const QStringList &arguments) const
{
    return m_desktop.run(QStringLiteral("xdotool"), arguments).has_value();
}

bool WaylandProgram::click(QPoint p) const
{
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
}

QStringList WaylandProgram::windowsNamed(const QString &pattern) const
{
    // xdotool search fails when nothing matches.
    const std::optional<QByteArray> ids
        = m_desktop.run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", pattern});
    return ids ? QString::fromUtf8(*ids).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList();
}

std::optional<QRect> WaylandProgram::windowRect(const QString &id) const
{
    const std::optional<QByteArray> shell
        = m_desktop.run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", id});
    if (!shell)
        return std::nullopt;
    QMap<QString, int> values;
    for (const QString &line : QString::fromUtf8(*shell).split(QLatin1Char('\n'))) {
        const QStringList pair = line.split(QLatin1Char('='));
        if (pair.size() == 2)
            values[pair[0]] = pair[1].toInt();
    }
    return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
}

std::optional<QRect> WaylandProgram::controlBar() const
{
    for (const QString &id : windowsNamed(QStringLiteral("^Quillo$"))) {
        const std::optional<QRect> rect = windowRect(id);
        // The top bar is 22 high; handles and border pieces are thin or small.
        if (rect && rect->height() >= 40 && rect->height() <= 80 && rect->width() >= 200)
            return rect;
    }
    return std::nullopt;
}

std::optional<WaylandProgram::BarButtons> WaylandProgram::barButtons(const QImage &shot, const QRect &bar) const
{
    const double scale = m_desktop.scale();
    // Near the top of the fields and buttons, above their texts.
    const int y = qRound((bar.top() + 14) * scale);
    const int x0 = qRound(bar.left() * scale), x1 = qRound((bar.right() + 1) * scale) - 1;
    if (y < 0 || y >= shot.height() || x0 < 0 || x1 >= shot.width())
        return std::nullopt;
    std::vector<std::pair<int, int>> runs;
    // Where the current run of light pixels began; -1 outside one.
    int start = -1;
    for (int x = x0; x <= x1 + 1; ++x) {
        const bool light = x <= x1 && qGray(shot.pixel(x, y)) > 200;
        if (light && start < 0)
            start = x;
        if (!light && start >= 0) {
            if (x - start >= 20 * scale)
                runs.emplace_back(start, x - 1);
            start = -1;
        }
    }
    if (runs.size() < 3)
        return std::nullopt;
    const auto centre = [&](const std::pair<int, int> &run) {
        return QPoint(qRound((run.first + run.second) / 2.0 / scale), bar.center().y());
    };
    return BarButtons {centre(runs[runs.size() - 3]), centre(runs[runs.size() - 2])};
}

std::optional<std::pair<QRect, WaylandProgram::BarButtons>> WaylandProgram::waitForBar(
    const std::function<bool(const QRect &)> &accept, int timeoutMs)
{
    std::optional<std::pair<QRect, BarButtons>> found;
    std::optional<QRect> last;
    waitUntil(
        [&] {
            const std::optional<QRect> bar = controlBar();
            const bool still = bar && bar == last;
            last = bar;
            if (!still || !accept(*bar))
                return false;
            if (const std::optional<BarButtons> buttons = barButtons(screenshot(), *bar))
                found = std::pair {*bar, *buttons};
            return found.has_value();
        },
        timeoutMs);
    return found;
}

std::optional<WaylandProgram::Client> WaylandProgram::startClient(QPoint at)
{
    const std::optional<QByteArray> out = m_desktop.run(WaylandDesktop::helper(QStringLiteral("wl-client.py")),
        {"start", QString::number(at.x()), QString::number(at.y())});
    if (!out)
        return std::nullopt;
    const QStringList words = QString::fromUtf8(*out).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() != 5)
        return std::nullopt;
    Client client {
        words[0].toLongLong(), QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt())};
    m_clients.push_back(client.pid);
    return client;
}
