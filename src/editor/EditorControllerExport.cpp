#include "editor/EditorController.h"

#include "base/Log.h"
#include "base/MainThread.h"
#include "base/Settings.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "export/GifExporter.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>

// The save and export flow: a save dialog that remembers the last name and
// folder, a progress sheet, the export itself on a pool thread, then the file
// shown in the file manager or the reason it failed. While a sheet is up the
// editor window takes no input, so the worker reads a project nobody edits.

namespace {

const QString kLastNameKey = QStringLiteral("lastExportName");
const QString kLastDirKey = QStringLiteral("lastExportDir");

// Shows the file selected in the desktop's file manager; without one on the
// session bus, opens its folder.
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

} // namespace

GifEncoder EditorController::chosenEncoder() const
{
    const QString title = m_encoderPopup->currentText();
    if (!title.isEmpty()) {
        for (const GifEncoder encoder : allGifEncoders) {
            if (isAvailable(encoder) && label(encoder) == title)
                return encoder;
        }
    }
    return GifExporter::defaultEncoder();
}

GifQuality EditorController::chosenQuality() const
{
    return gifQualityFromRaw(m_qualityPopup->currentIndex()).value_or(GifQuality::low);
}

void EditorController::exportGIF()
{
    if (frameCount() == 0) {
        beep();
        return;
    }
    const GifEncoder encoder = chosenEncoder();
    const GifQuality quality = chosenQuality();
    const int64_t loopCount = m_project->loopCount;
    const GifProjectRef project = m_project;
    runSave(QStringLiteral("gif"), QStringLiteral("GIF image (*.gif)"),
        [project, encoder, quality, loopCount](const QString &path) {
            return GifExporter::exportGif(*project, path, ExportOptions(encoder, quality, loopCount));
        });
}

void EditorController::exportMP4Action()
{
    if (frameCount() == 0) {
        beep();
        return;
    }
    const GifQuality quality = chosenQuality();
    const GifProjectRef project = m_project;
    runSave(QStringLiteral("mp4"), QStringLiteral("MPEG-4 movie (*.mp4)"),
        [project, quality](const QString &path) { return GifExporter::exportMP4(*project, path, quality); });
}

QString EditorController::proposedExportName(const QString &ext)
{
    const QString stored = Settings::string(kLastNameKey);
    return (stored.isEmpty() ? QStringLiteral("Quillo") : stored) + QLatin1Char('.') + ext;
}

QString EditorController::proposedExportDir()
{
    const QString stored = Settings::string(kLastDirKey);
    // Only a folder: a path that names a file (remembered from an export
    // that failed) would open the dialog nowhere.
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void EditorController::rememberExportPath(const QString &path)
{
    const QFileInfo info(path);
    Settings::setValue(kLastNameKey, info.completeBaseName());
    Settings::setValue(kLastDirKey, info.absolutePath());
}

void EditorController::runSave(const QString &ext, const QString &filter, ExportWork work)
{
    stopPlay();
    if (m_preview->cropMode())
        cancelCrop();

    auto *dialog = new QFileDialog(m_window.get(), QStringLiteral("Export"));
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(ext);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const QString folder = proposedExportDir();
    if (!folder.isEmpty())
        dialog->setDirectory(folder);
    dialog->selectFile(proposedExportName(ext));
    EditorStyle::applyDark(dialog);
    m_saveDialog = dialog;

    const QPointer<EditorController> self(this);
    connect(dialog, &QFileDialog::finished, this, [self, dialog, ext, work](int result) {
        if (!self)
            return;
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty() || files.front().isEmpty()) {
            // Without a window manager nobody hands the focus back after a sheet.
            self->m_window->activateWindow();
            return;
        }
        self->startExport(files.front(), ext, work);
    });
    dialog->open();
}

void EditorController::startExport(const QString &path, const QString &ext, ExportWork work)
{
    rememberExportPath(path);
    Log::write(QStringLiteral("export ") + ext + QStringLiteral(" → ") + path);

    auto *sheet = new QDialog(m_window.get());
    sheet->setWindowTitle(QStringLiteral("Quillo"));
    sheet->setFixedSize(300, 90);
    sheet->setWindowModality(Qt::WindowModal);
    // Only the export's end closes it.
    sheet->setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto *row = new QWidget(sheet);
    row->setGeometry(20, 90 - 25 - 40, 260, 40);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    auto *spinner = new QProgressBar;
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedWidth(60);
    auto *text = new QLabel(QStringLiteral("Exporting ") + ext.toUpper() + QStringLiteral("…"));
    QFont font = text->font();
    font.setPixelSize(13);
    text->setFont(font);
    layout->addWidget(spinner);
    layout->addWidget(text, 1);
    EditorStyle::applyDark(sheet);
    // Escape would close the sheet while the export still runs.
    connect(sheet, &QDialog::rejected, sheet, [sheet] { sheet->show(); });
    m_progressSheet = sheet;
    sheet->open();

    const QPointer<EditorController> self(this);
    QThreadPool::globalInstance()->start([self, path, work = std::move(work)] {
        const ExportResult result = work(path);
        postToMain([self, path, result] {
            if (self)
                self->exportFinished(path, result);
        });
    });
}

void EditorController::exportFinished(const QString &path, const ExportResult &result)
{
    // The editor takes the keys back only from a sheet that had them: the
    // user may be working in another program while a long export runs.
    bool sheetHadFocus = false;
    if (QDialog *sheet = m_progressSheet) {
        m_progressSheet = nullptr;
        sheetHadFocus = sheet->isActiveWindow();
        sheet->disconnect();
        sheet->hide();
        sheet->deleteLater();
    }
    Log::write(QStringLiteral("export done ok=") + (result.ok ? QStringLiteral("true") : QStringLiteral("false"))
        + QLatin1Char(' ') + result.message);
    if (result.ok) {
        if (sheetHadFocus)
            m_window->activateWindow();
        revealInFileManager(path);
        return;
    }
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Export failed"),
        QStringLiteral("Export failed"), QMessageBox::Ok, m_window.get());
    alert->setInformativeText(result.message);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    EditorStyle::applyDark(alert);
    connect(alert, &QMessageBox::finished, m_window.get(), [window = m_window.get()] { window->activateWindow(); });
    alert->open();
}
