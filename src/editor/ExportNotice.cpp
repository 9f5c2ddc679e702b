#include "editor/ExportNotice.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QUrl>
#include <QVariantMap>

#include <map>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenFolder = QStringLiteral("open-folder");

// Hears the server's signals for the notifications this process sent and
// opens the folder of the one whose action was chosen. Lives as long as the
// application.
class Listener : public QObject {
    Q_OBJECT

public:
    static Listener &instance()
    {
        static Listener *listener = [] {
            auto *created = new Listener(QCoreApplication::instance());
            QDBusConnection bus = QDBusConnection::sessionBus();
            bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), created,
                SLOT(actionInvoked(uint, QString)));
            bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), created,
                SLOT(notificationClosed(uint, uint)));
            return created;
        }();
        return *listener;
    }

    void remember(uint id, const QString &path) { m_paths[id] = path; }

public slots:
    void actionInvoked(uint id, const QString &key)
    {
        const auto found = m_paths.find(id);
        if (found == m_paths.end() || key != kOpenFolder)
            return;
        Log::write(QStringLiteral("notification: Open Folder for ") + found->second);
        ExportNotice::revealInFileManager(found->second);
    }
    void notificationClosed(uint id, uint) { m_paths.erase(id); }

private:
    using QObject::QObject;
    std::map<uint, QString> m_paths;
};

} // namespace

namespace ExportNotice {

QString summary(const Facts &facts)
{
    return QStringLiteral("Exported ") + QFileInfo(facts.path).fileName();
}

QString details(const Facts &facts)
{
    const QString size = QLocale::system().formattedDataSize(facts.bytes, 1, QLocale::DataSizeSIFormat);
    return size + QStringLiteral(" · ") + QString::number(double(facts.durationMs) / 1000.0, 'f', 1)
        + QStringLiteral(" s");
}

void notify(const Facts &facts, std::function<void()> noServer)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        noServer();
        return;
    }
    // Make sure the action is heard before the server can send it.
    Listener &listener = Listener::instance();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints {{QStringLiteral("desktop-entry"), QStringLiteral("org.quillo.Quillo")},
        {QStringLiteral("category"), QStringLiteral("transfer.complete")}};
    call << QStringLiteral("Quillo") << uint(0) << QStringLiteral("org.quillo.Quillo") << summary(facts)
         << details(facts) << QStringList {kOpenFolder, QStringLiteral("Open Folder")} << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), &listener);
    const QString path = facts.path;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &listener,
        [&listener, path, noServer = std::move(noServer)](QDBusPendingCallWatcher *w) {
            const QDBusPendingReply<uint> reply = *w;
            w->deleteLater();
            if (reply.isError()) {
                Log::write(QStringLiteral("notification: ") + reply.error().message());
                noServer();
                return;
            }
            listener.remember(reply.value(), path);
            Log::write(QStringLiteral("notification %1 sent").arg(reply.value()));
        });
}

void revealInFileManager(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const auto openFolder = [folder] { QProcess::startDetached(QStringLiteral("xdg-open"), {folder}); };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(path).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [openFolder](QDBusPendingCallWatcher *w) {
        if (w->isError())
            openFolder();
        w->deleteLater();
    });
}

} // namespace ExportNotice

#include "ExportNotice.moc"
