#include "base/Log.h"

#include "base/SerialQueue.h"

#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString computePath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = state + QStringLiteral("/Quillo");
    QDir().mkpath(folder); // a failure only means the file writes fail quietly
    return folder + QStringLiteral("/Quillo.log");
}

SerialQueue &queue()
{
    // Deliberately leaked: writes may come from other threads while static
    // destructors run at exit.
    static SerialQueue *q = new SerialQueue(QStringLiteral("org.quillo.Quillo.log"));
    return *q;
}

void replaceWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(bytes);
    file.commit();
}

void append(const QString &path, const QByteArray &line)
{
    // Open an existing file only; a missing one is created atomically below.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        replaceWhole(path, line);
        return;
    }
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        data += n;
        left -= n;
    }
    ::close(fd);
}

} // namespace

namespace Log {

QString path()
{
    static const QString p = computePath();
    return p;
}

void write(const QString &message)
{
    qInfo().noquote() << QStringLiteral("Quillo: ") + message;
    QByteArray line = message.toUtf8();
    line.append('\n');
    const QString target = path();
    queue().async([target, line] { append(target, line); });
}

void reset()
{
    const QString target = path();
    queue().async([target] { replaceWhole(target, QByteArray()); });
}

void flush()
{
    queue().drain();
}

} // namespace Log
