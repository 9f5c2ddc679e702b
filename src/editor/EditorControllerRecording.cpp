#include "editor/EditorController.h"

#include "base/Log.h"
#include "store/FrameStore.h"

#include <QMainWindow>
#include <QMessageBox>

// The recording folder behind the editor: the project saved there after every
// edit, so that a crash or a kill loses nothing, and the question before
// quitting with frames that were never exported.

namespace {

bool sameProject(const GifProject &project, const RecordingIndex &index)
{
    if (project.loopCount != index.loopCount || project.frames.size() != index.entries.size())
        return false;
    for (size_t i = 0; i < project.frames.size(); ++i) {
        const GifFrame &frame = *project.frames[i];
        if (frame.pixels() != index.entries[i].frame || frame.delayMs != index.entries[i].delayMs)
            return false;
    }
    return true;
}

} // namespace

void EditorController::setRecordingStore(std::shared_ptr<FrameStore> store)
{
    m_store = std::move(store);
    if (!m_store)
        return;
    // The folder already holds this project (the recording's stop or the
    // recovery wrote it), unless it was recovered from damaged files: then
    // what the editor shows becomes the folder's project at once.
    m_savedIndex = m_doc.project()->recordingIndex();
    m_store->saveIndex(m_savedIndex);
}

void EditorController::saveIndexIfChanged()
{
    if (!m_store || sameProject(*m_doc.project(), m_savedIndex))
        return;
    m_savedIndex = m_doc.project()->recordingIndex();
    // Returns at once: the store writes it after the frames it names, and a
    // newer save replaces one still waiting.
    m_store->saveIndex(m_savedIndex);
}

bool EditorController::hasUnexportedChanges() const
{
    return !m_exportedIndex || !sameProject(*m_doc.project(), *m_exportedIndex);
}

void EditorController::discardRecording()
{
    if (!m_store)
        return;
    Log::write(QStringLiteral("recording folder removed: ") + m_store->folder());
    m_store->discard();
    m_store.reset();
}

EditorController::QuitAnswer EditorController::askQuitQuestion()
{
    stopPlay();
    const QString frames
        = frameCount() == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(frameCount());
    switch (askWarning(QStringLiteral("Export the recording before quitting?"),
        QStringLiteral("This recording (%1) has changes that were not exported. If you discard it, it is gone.")
            .arg(frames),
        {{QStringLiteral("Export GIF…"), QMessageBox::AcceptRole},
            {QStringLiteral("Discard"), QMessageBox::DestructiveRole}})) {
    case 0:
        return QuitAnswer::exportFirst;
    case 1:
        Log::write(QStringLiteral("quit: recording discarded"));
        return QuitAnswer::discard;
    default:
        Log::write(QStringLiteral("quit: cancelled"));
        return QuitAnswer::cancel;
    }
}

void EditorController::askToQuit(std::function<void()> quit)
{
    if (m_closed || !hasUnexportedChanges()) {
        quit();
        return;
    }
    switch (askQuitQuestion()) {
    case QuitAnswer::discard:
        quit();
        return;
    case QuitAnswer::exportFirst:
        // Quits once the export has written its file; a cancelled save
        // dialog or a failed export keeps the editor open.
        m_afterExport = std::move(quit);
        exportGIF();
        return;
    case QuitAnswer::cancel:
        return;
    }
}

bool EditorController::sessionMayEnd(bool canAsk)
{
    if (m_closed || !hasUnexportedChanges())
        return true;
    // Without a word with the user the recording stays in its folder, saved
    // after the last edit, and the next start offers it.
    if (!canAsk)
        return true;
    switch (askQuitQuestion()) {
    case QuitAnswer::discard:
        discardRecording();
        return true;
    case QuitAnswer::exportFirst:
        // An export takes longer than a logout waits: the logout is called
        // off, and the user logs out again once the file is written.
        exportGIF();
        return false;
    case QuitAnswer::cancel:
        return false;
    }
    return false;
}
