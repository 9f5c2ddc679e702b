#pragma once

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

// A tmpfs of `size` (as mount's "size=" option: "1m", "256k") on a temporary
// folder, unmounted again at the end: a disk that fills at once. Mounting
// needs root; mounted() says whether it is there, for the test to skip.
class SmallDisk {
public:
    explicit SmallDisk(const QString &size)
    {
        const QByteArray options = QStringLiteral("size=%1").arg(size).toLatin1();
        m_mounted = m_dir.isValid() && ::geteuid() == 0
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
