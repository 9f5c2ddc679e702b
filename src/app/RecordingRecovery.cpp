#include "app/AppDelegate.h"

#include "base/Log.h"
#include "store/FrameStore.h"
#include "store/Recordings.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

// A recording that a crash, a kill or a power cut left in the recordings
// folder: offered again at the next interactive start, in the editor exactly
// as it was after its last completed edit.

namespace {

AppDelegate::RecoverChoice askWithAlert(const QString &question, const QString &details)
{
    QMessageBox alert(QMessageBox::Question, QStringLiteral("Quillo"), question);
    alert.setInformativeText(details);
    QPushButton *recover = alert.addButton(QStringLiteral("Recover"), QMessageBox::AcceptRole);
    QPushButton *discard = alert.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    QPushButton *later = alert.addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    alert.setDefaultButton(recover);
    alert.setEscapeButton(later);
    alert.exec();
    if (alert.clickedButton() == recover)
        return AppDelegate::RecoverChoice::recover;
    if (alert.clickedButton() == discard)
        return AppDelegate::RecoverChoice::discard;
    return AppDelegate::RecoverChoice::later;
}

} // namespace

std::function<AppDelegate::RecoverChoice(const QString &, const QString &)> AppDelegate::defaultAskToRecover()
{
    return &askWithAlert;
}

QString AppDelegate::recoveryQuestion(const QDateTime &created, int64_t frameCount)
{
    return QStringLiteral("Recover the recording of %1 (%2 frames)?")
        .arg(QLocale().toString(created, QLocale::ShortFormat))
        .arg(frameCount);
}

bool AppDelegate::offerRecovery()
{
    const QString root = Recordings::root();
    for (const RecordingSummary &summary : Recordings::list(root)) {
        FrameStore::Options options;
        options.cacheBytes = FrameStore::cacheBudgetSetting();
        FrameStore::Opened opened = FrameStore::open(summary.folder, options);
        if (opened.error) {
            // Never removed: the user, or a later Quillo, may still get at it.
            Log::write(QStringLiteral("recovery: cannot open ") + summary.folder + QStringLiteral(": ")
                + opened.error->message);
            showAlert(QStringLiteral("A recording cannot be recovered"),
                opened.error->message + QStringLiteral("\n\nIts folder was left as it is: ") + summary.folder);
            continue;
        }
        if (opened.index.entries.empty()) {
            if (!opened.problems.isEmpty()) {
                showAlert(QStringLiteral("A recording cannot be recovered"),
                    opened.problems.join(QLatin1Char('\n')) + QStringLiteral("\n\nIts folder was left as it is: ")
                        + summary.folder);
                continue;
            }
            // A recording stopped before its first frame was kept: nothing of
            // the user's is in it.
            Log::write(QStringLiteral("recovery: removed a recording without frames: ") + summary.folder);
            opened.store->discard();
            continue;
        }
        const int64_t count = int64_t(opened.index.entries.size());
        QString details = QStringLiteral("Quillo ended before this recording was exported or discarded. "
                                         "Recover opens it in the editor as it was after its last edit.");
        if (!opened.exact) {
            details += QStringLiteral("\n\nPart of it could not be read:\n") + opened.problems.join(QLatin1Char('\n'));
        }
        Log::write(QStringLiteral("recovery: offered %1 (%2 frames)").arg(summary.folder).arg(count));
        switch (askToRecover(recoveryQuestion(opened.info.created.toLocalTime(), count), details)) {
        case RecoverChoice::recover: {
            const GifProjectRef project = GifProject::fromRecordingIndex(opened.index, opened.info.fps);
            Log::write(QStringLiteral("recovery: opening editor with %1 frames").arg(count));
            openEditor(project, opened.store);
            return true;
        }
        case RecoverChoice::discard:
            Log::write(QStringLiteral("recovery: discarded ") + summary.folder);
            opened.store->discard();
            break;
        case RecoverChoice::later:
            break;
        }
    }
    return false;
}
