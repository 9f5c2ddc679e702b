#include "editor/EditorController.h"

#include "base/Log.h"
#include "base/MainThread.h"
#include "base/Settings.h"
#include "editor/EditorStyle.h"
#include "editor/ExportNotice.h"
#include "editor/FramePreviewView.h"
#include "export/ExportJob.h"
#include "export/GifExporter.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>

// The save and export flow: a save dialog that remembers the last name and
// folder, a progress sheet, the export itself on a pool thread, then the file
// shown in the file manager or the reason it failed. While a sheet is up the
// editor window takes no input, so the worker reads a project nobody edits.
// Only a successful export's name and folder are remembered: a folder that
// failed (read-only, gone, /proc) must not become the next proposal.

namespace {

const QString kLastNameKey = QStringLiteral("lastExportName");
const QString kLastDirKey = QStringLiteral("lastExportDir");

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
    const int64_t loopCount = m_doc.project()->loopCount;
    const GifProjectRef project = m_doc.project();
    runSave(QStringLiteral("gif"), QStringLiteral("GIF image (*.gif)"),
        [project, encoder, quality, loopCount](const QString &path, ExportJob &job) {
            return GifExporter::exportGif(*project, path, ExportOptions(encoder, quality, loopCount), &job);
        });
}

void EditorController::exportMP4Action()
{
    if (frameCount() == 0) {
        beep();
        return;
    }
    const GifQuality quality = chosenQuality();
    const GifProjectRef project = m_doc.project();
    runSave(QStringLiteral("mp4"), QStringLiteral("MPEG-4 movie (*.mp4)"),
        [project, quality](
            const QString &path, ExportJob &job) { return GifExporter::exportMP4(*project, path, quality, &job); });
}

void EditorController::exportAnimatedAction(GifExporter::AnimatedFormat format)
{
    if (frameCount() == 0) {
        beep();
        return;
    }
    const GifQuality quality = chosenQuality();
    const int64_t loopCount = m_doc.project()->loopCount;
    const GifProjectRef project = m_doc.project();
    runSave(GifExporter::fileExtension(format), GifExporter::saveFilter(format),
        [format, project, quality, loopCount](const QString &path, ExportJob &job) {
            return GifExporter::exportAnimated(format, *project, path, quality, loopCount, &job);
        });
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
            self->m_afterExport = nullptr;
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
    Log::write(QStringLiteral("export ") + ext + QStringLiteral(" → ") + path);
    cancelEstimate();
    m_exportFormat = ext;
    m_exportingIndex = m_doc.project()->recordingIndex();
    const std::optional<GifExporter::AnimatedFormat> animated = GifExporter::formatFromExtension(ext);
    const QString formatTitle = animated ? GifExporter::formatName(*animated) : ext.toUpper();

    auto *sheet = new QDialog(m_window.get());
    sheet->setWindowTitle(QStringLiteral("Quillo"));
    sheet->setFixedSize(340, 110);
    sheet->setWindowModality(Qt::WindowModal);
    // Only the export's end closes it; Cancel asks the export to end.
    sheet->setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto *column = new QVBoxLayout(sheet);
    column->setContentsMargins(20, 16, 20, 16);
    column->setSpacing(10);
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    auto *bar = new QProgressBar;
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setFormat(QStringLiteral("%p %"));
    bar->setFixedWidth(120);
    auto *text = new QLabel(QStringLiteral("Exporting ") + formatTitle + QStringLiteral("…"));
    QFont font = text->font();
    font.setPixelSize(13);
    text->setFont(font);
    row->addWidget(bar);
    row->addWidget(text, 1);
    column->addLayout(row);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    column->addWidget(cancel, 0, Qt::AlignRight);
    EditorStyle::applyDark(sheet);
    connect(cancel, &QPushButton::clicked, this, &EditorController::cancelExport);
    // Escape means Cancel too; the sheet itself stays until the export ends.
    connect(sheet, &QDialog::rejected, this, [this, sheet] {
        sheet->show();
        cancelExport();
    });
    m_progressSheet = sheet;
    sheet->open();

    auto job = std::make_shared<ExportJob>();
    const QPointer<QProgressBar> shownBar(bar);
    job->onProgress = [shownBar](double fraction) {
        postToMain([shownBar, fraction] {
            if (shownBar)
                shownBar->setValue(std::max(shownBar->value(), int(fraction * 100)));
        });
    };
    m_exportJob = job;
    const QPointer<EditorController> self(this);
    QThreadPool::globalInstance()->start([self, path, job, work = std::move(work)] {
        const ExportResult result = work(path, *job);
        postToMain([self, path, job, result] {
            if (self)
                self->exportFinished(path, result, job->isCancelled());
        });
    });
}

void EditorController::cancelExport()
{
    if (!m_exportJob || m_exportJob->isCancelled())
        return;
    Log::write(QStringLiteral("export cancel"));
    m_exportJob->cancel();
    if (m_progressSheet) {
        for (QPushButton *button : m_progressSheet->findChildren<QPushButton *>())
            button->setEnabled(false);
        if (auto *label = m_progressSheet->findChild<QLabel *>())
            label->setText(QStringLiteral("Cancelling…"));
    }
}

void EditorController::exportFinished(const QString &path, const ExportResult &result, bool cancelled)
{
    m_exportJob.reset();
    std::function<void()> afterExport = std::exchange(m_afterExport, nullptr);
    if (result.ok) {
        m_estimateFormat = m_exportFormat;
        m_exportedIndex = std::exchange(m_exportingIndex, {});
    }
    scheduleEstimate();
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
        rememberExportPath(path);
        if (sheetHadFocus)
            m_window->activateWindow();
        const ExportNotice::Facts facts {path, QFileInfo(path).size(), m_doc.project()->totalDurationMs()};
        const QPointer<EditorController> self(this);
        // The notification's "Open Folder" replaces opening the folder after
        // every export; without a notification server the status line says
        // it and the folder opens as it always did.
        if (afterExport) {
            postToMain(std::move(afterExport));
            return;
        }
        ExportNotice::notify(facts, [self, facts] {
            const QString text = ExportNotice::summary(facts) + QStringLiteral(" · ") + ExportNotice::details(facts);
            Log::write(QStringLiteral("export notice ") + text);
            if (self)
                self->m_noticeLabel->setText(text);
            ExportNotice::revealInFileManager(facts.path);
        });
        return;
    }
    // The user asked for it: the previous file is still there, nothing to say.
    if (cancelled) {
        m_window->activateWindow();
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
