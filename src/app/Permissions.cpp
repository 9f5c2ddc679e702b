#include "app/Permissions.h"

#include "capture/CaptureBackendFactory.h"

#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

namespace Permissions {

bool hasScreenRecording()
{
    return CaptureBackendFactory::canRecord(CaptureBackendFactory::chosen());
}

bool requestScreenRecording()
{
    return hasScreenRecording();
}

const QStringList &knownSettingsPrograms()
{
    static const QStringList programs = {
        QStringLiteral("gnome-control-center"),
        QStringLiteral("systemsettings"),
        QStringLiteral("xfce4-settings-manager"),
        QStringLiteral("cinnamon-settings"),
        QStringLiteral("mate-control-center"),
        QStringLiteral("lxqt-config"),
    };
    return programs;
}

std::optional<QString> settingsProgram(const std::function<QString(const QString &)> &findExecutable)
{
    for (const QString &name : knownSettingsPrograms()) {
        const QString path = findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return std::nullopt;
}

void showDeniedAlert()
{
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(deniedTitle);
    alert.setText(deniedTitle);
    alert.setInformativeText(deniedText);
    QPushButton *open = alert.addButton(deniedButtons[0], QMessageBox::AcceptRole);
    alert.addButton(deniedButtons[1], QMessageBox::RejectRole);
    alert.setDefaultButton(open);
    alert.exec();
    if (alert.clickedButton() != open)
        return;
    const auto program = settingsProgram([](const QString &name) { return QStandardPaths::findExecutable(name); });
    if (program)
        QProcess::startDetached(*program, {});
}

} // namespace Permissions
