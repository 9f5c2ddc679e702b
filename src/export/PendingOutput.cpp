#include "export/PendingOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t currentUmask()
{
    // Setting the umask to read it would change it for every thread for a
    // moment; Linux shows it in the process status instead.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return 022;
}

QString quoted(const QString &text)
{
    return QStringLiteral("\u201c") + text + QStringLiteral("\u201d");
}

} // namespace

PendingOutput::Opened PendingOutput::open(const QString &destination)
{
    const QFileInfo info(QDir::current().absoluteFilePath(destination));
    const QString target = QDir::cleanPath(info.absoluteFilePath());
    const QString folder = info.absolutePath();
    const QString name = info.fileName();
    if (name.isEmpty())
        return {std::nullopt, QStringLiteral("No file name was given.")};

    struct stat existing { };
    if (::lstat(QFile::encodeName(target).constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            return {std::nullopt, QStringLiteral("%1 is a folder.").arg(quoted(name))};
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
            return {std::nullopt, QStringLiteral("%1 is not a regular file.").arg(quoted(name))};
    }
    struct stat parent { };
    if (::stat(QFile::encodeName(folder).constData(), &parent) != 0 || !S_ISDIR(parent.st_mode))
        return {std::nullopt, QStringLiteral("The folder %1 does not exist.").arg(quoted(folder))};

    // A hidden sibling with the destination's extension: the tools choose
    // nothing by it, but a file manager showing it mid-export shows its kind.
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QByteArray pattern
        = QFile::encodeName(folder + QStringLiteral("/.") + name + QStringLiteral(".part-XXXXXX") + suffix);
    const int fd = ::mkostemps(pattern.data(), int(QFile::encodeName(suffix).size()), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == EROFS)
            return {std::nullopt, QStringLiteral("There is no permission to write in %1.").arg(quoted(folder))};
        return {std::nullopt, QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.')};
    }
    ::close(fd);
    return {PendingOutput(QFile::decodeName(pattern), target), QString()};
}

PendingOutput::PendingOutput(QString path, QString destination)
    : m_path(std::move(path))
    , m_destination(std::move(destination))
{
}

PendingOutput::PendingOutput(PendingOutput &&other) noexcept
    : m_path(std::exchange(other.m_path, QString()))
    , m_destination(std::move(other.m_destination))
{
}

PendingOutput::~PendingOutput()
{
    if (!m_path.isEmpty())
        ::unlink(QFile::encodeName(m_path).constData());
}

bool PendingOutput::commit()
{
    const QByteArray from = QFile::encodeName(m_path);
    const QByteArray to = QFile::encodeName(m_destination);
    // mkstemp made the file private; it gets what a saved file gets, or keeps
    // the permissions of the regular file it replaces.
    mode_t mode = 0666 & ~currentUmask();
    struct stat existing { };
    if (::lstat(to.constData(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;
    ::chmod(from.constData(), mode);
    if (::rename(from.constData(), to.constData()) != 0)
        return false;
    m_path.clear();
    return true;
}
