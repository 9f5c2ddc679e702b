#include "editor/EditorController.h"

#include "editor/TextFieldValue.h"
#include "model/Arith.h"
#include "model/ImageOps.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>
#include <set>

namespace {

QString checkLine(bool passed, const QString &label)
{
    return (passed ? QStringLiteral("PASS: ") : QStringLiteral("FAIL: ")) + label;
}

bool allDelays(const GifProject &project, int64_t ms)
{
    return std::all_of(
        project.frames.begin(), project.frames.end(), [ms](const GifFrameRef &f) { return f->delayMs == ms; });
}

int64_t fieldInt(const QLineEdit *field)
{
    return field ? TextFieldValue::leadingInteger(field->text()) : 0;
}

void setFieldText(QLineEdit *field, const QString &text)
{
    if (field)
        field->setText(text);
}

// Spins the event loop until `done` holds or `ms` pass.
bool settle(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

void EditorController::resetForSelfCheck(int64_t frameCount)
{
    GifFrameList frames;
    for (int64_t i = 0; i < std::max<int64_t>(frameCount, 1); ++i) {
        QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        frames.push_back(std::make_shared<GifFrame>(image, 60));
    }
    m_doc.reset(std::move(frames));
    showSpeed();
}

QStringList EditorController::runLogicSelfTest()
{
    QStringList lines;
    const auto check = [&lines](bool passed, const QString &label) { lines << checkLine(passed, label); };
    const auto &frames = project()->frames;
    const auto count = [this] { return frameCount(); };

    resetForSelfCheck(10);
    m_doc.setSelection({3, 4, 5});
    m_doc.setCurrent(3);
    deleteSelected();
    check(count() == 7, QStringLiteral("delete 3 of 10 → 7 left"));

    resetForSelfCheck(1);
    deleteSelected();
    check(count() == 1, QStringLiteral("never delete the last frame"));

    resetForSelfCheck(10);
    m_doc.setCurrent(4);
    trimAfter();
    check(count() == 5, QStringLiteral("trimAfter @idx4 → 5 left"));

    resetForSelfCheck(10);
    m_doc.setCurrent(3);
    trimBefore();
    check(count() == 7, QStringLiteral("trimBefore @idx3 → 7 left"));

    resetForSelfCheck(5);
    GifFrameRef first = frames.front();
    reverse();
    check(frames.back() == first, QStringLiteral("reverse → old first now last"));

    resetForSelfCheck(6);
    first = frames.front();
    reorderSelection(3);
    check(frames.size() > 2 && frames[2] == first, QStringLiteral("reorder idx0 → slot3 lands idx2"));

    resetForSelfCheck(8);
    applyDelay(200, false);
    check(allDelays(*project(), 200), QStringLiteral("applyDelay all → 200ms"));
    undoAction();
    check(allDelays(*project(), 60), QStringLiteral("undo → back to 60ms"));
    redoAction();
    check(allDelays(*project(), 200), QStringLiteral("redo → 200ms again"));

    resetForSelfCheck(5);
    m_speedPopup->setCurrentIndex(m_speedPopup->findText(QStringLiteral("2×")));
    speedChanged();
    check(allDelays(*project(), 30), QStringLiteral("2× → 30ms"));
    undoAction();
    check(allDelays(*project(), 60), QStringLiteral("undo speed → 60ms"));
    m_speedPopup->setCurrentIndex(m_speedPopup->findText(QStringLiteral("4×")));
    speedChanged();
    check(allDelays(*project(), 15), QStringLiteral("4× after undo → 15ms (not compounded)"));

    resetForSelfCheck(6);
    m_doc.setSelection({0, 2, 4});
    const std::set<GifFrameRef> before(frames.begin(), frames.end());
    reorderSelection(6);
    const std::set<GifFrameRef> after(frames.begin(), frames.end());
    check(frames.size() == 6 && before == after, QStringLiteral("sparse reorder preserves all 6 frames"));

    QImage image(100, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::darkGray);
    const QImage cropped = ImageOps::crop(image, QRectF(10, 10, 40, 30));
    check(cropped.width() == 40 && cropped.height() == 30, QStringLiteral("crop → 40x30"));
    const QImage clamped = ImageOps::crop(image, QRectF(-50, -50, 9999, 9999));
    check(clamped.width() >= 1 && clamped.height() > 0, QStringLiteral("crop out-of-bounds clamps (no crash)"));
    const QImage resized = ImageOps::resize(image, QSizeF(50, 40));
    check(resized.width() == 50 && resized.height() == 40, QStringLiteral("resize → 50x40"));
    const QImage tiny = ImageOps::resize(image, QSizeF(0, 0));
    check(tiny.width() >= 1 && tiny.height() > 0, QStringLiteral("resize to 0 clamps ≥1px"));

    // The controller's own fields and lock, without the sheet.
    ensureResizeControls();
    m_resizeBaseAspect = 2;
    m_resizeLock->setChecked(true);
    setFieldText(m_resizeWidth, QStringLiteral("400"));
    resizeWidthChanged();
    check(fieldInt(m_resizeHeight) == 200, QStringLiteral("lock W=400 → H=200"));
    setFieldText(m_resizeHeight, QStringLiteral("150"));
    resizeHeightChanged();
    check(fieldInt(m_resizeWidth) == 300, QStringLiteral("lock H=150 → W=300"));
    setFieldText(m_resizeWidth, QStringLiteral("1000/2"));
    controlTextDidEndEditing(m_resizeWidth);
    check(fieldInt(m_resizeWidth) == 500 && fieldInt(m_resizeHeight) == 250,
        QStringLiteral("commit '1000/2' → W=500,H=250"));
    m_resizeLock->setChecked(false);
    setFieldText(m_resizeWidth, QStringLiteral("999"));
    resizeWidthChanged();
    check(fieldInt(m_resizeHeight) == 250, QStringLiteral("unlocked: W change leaves H"));

    check(Arith::evalInt(QStringLiteral("1920/2")) == 960, QStringLiteral("Arith 1920/2 → 960"));
    check(Arith::evalInt(QStringLiteral("100+50*2")) == 200, QStringLiteral("Arith 100+50*2 → 200"));
    check(Arith::evalInt(QStringLiteral("1280*1.5")) == 1920, QStringLiteral("Arith 1280*1.5 → 1920"));
    check(!Arith::evalInt(QStringLiteral("1/0")), QStringLiteral("Arith div0 → nil"));
    check(!Arith::evalInt(QStringLiteral("19x2")) && !Arith::evalInt(QStringLiteral("1920/")),
        QStringLiteral("Arith garbage → nil"));
    check(!Arith::evalInt(QStringLiteral("9999999999*9999999999"))
            && !Arith::evalInt(QStringLiteral("99999999*99999999")),
        QStringLiteral("Arith overflow → nil (no crash)"));
    check(Arith::evalInt(QStringLiteral("100000000")) == 100000000, QStringLiteral("Arith big-but-valid 100000000"));

    m_resizeLock->setChecked(false);
    setFieldText(m_resizeWidth, QStringLiteral("1920/2"));
    resizeWidthChanged();
    check(fieldInt(m_resizeWidth) == 960, QStringLiteral("resize field 1920/2 normalizes to 960"));

    m_resizeLock->setChecked(true);
    m_resizeBaseAspect = 0.5;
    m_lastGoodW = 640;
    m_lastGoodH = 1280;
    setFieldText(m_resizeWidth, QStringLiteral("800"));
    resizeWidthChanged();
    check(fieldInt(m_resizeWidth) == 800 && fieldInt(m_resizeHeight) == 1600,
        QStringLiteral("commit '800' → W=800,H=1600"));
    setFieldText(m_resizeWidth, QString());
    resizeWidthChanged();
    check(fieldInt(m_resizeWidth) == 800 && fieldInt(m_resizeHeight) == 1600,
        QStringLiteral("EMPTY width reverts to last good (800), NOT 1"));
    setFieldText(m_resizeWidth, QStringLiteral("abc"));
    resizeWidthChanged();
    check(fieldInt(m_resizeWidth) == 800, QStringLiteral("garbage width reverts to last good (800), NOT 1"));
    setFieldText(m_resizeHeight, QString());
    resizeHeightChanged();
    check(fieldInt(m_resizeHeight) == 1600, QStringLiteral("EMPTY height reverts to last good (1600), NOT 2"));
    setFieldText(m_resizeWidth, QStringLiteral("1920/2"));
    resizeWidthChanged();
    check(fieldInt(m_resizeWidth) == 960 && fieldInt(m_resizeHeight) == 1920,
        QStringLiteral("'1920/2' after empties → W=960,H=1920 (recovers)"));

    return lines;
}

QStringList EditorController::runResizeFieldRealTest()
{
    // The check's fields replace the controller's own for good.
    endResizeSheet();
    for (QWidget *old : {static_cast<QWidget *>(m_resizeWidth), static_cast<QWidget *>(m_resizeHeight),
             static_cast<QWidget *>(m_resizeLock)}) {
        if (old) {
            old->removeEventFilter(this);
            old->deleteLater();
        }
    }

    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Resize field check"));
    window->resize(320, 180);
    m_resizeBaseAspect = 2;

    auto *lock = new QCheckBox(QStringLiteral("lock"), window.get());
    lock->setChecked(true);
    connect(lock, &QCheckBox::clicked, this, &EditorController::resizeLockToggled);
    // Frames are given from the bottom-left of the 180-point-high window.
    auto *width = new QLineEdit(QStringLiteral("1280"), window.get());
    width->setGeometry(20, 180 - 100 - 24, 120, 24);
    auto *height = new QLineEdit(QStringLiteral("640"), window.get());
    height->setGeometry(20, 180 - 60 - 24, 120, 24);
    lock->move(20, 180 - 20 - 24);
    m_resizeWidth = width;
    m_resizeHeight = height;
    m_resizeLock = lock;
    wireResizeField(width, &EditorController::resizeWidthChanged);
    wireResizeField(height, &EditorController::resizeHeightChanged);

    window->show();
    window->raise();
    window->activateWindow();
    // Focus events reach widgets only in the active window. Without a window
    // manager the activation still comes from the X server, a moment later;
    // if it never comes, make the window active on Qt's side.
    if (!settle([&] { return window->isActiveWindow(); }, 3000)) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(window.get());
        QT_WARNING_POP
        settle([&] { return window->isActiveWindow(); }, 1000);
    }

    const auto typeAndTab = [&](const QString &text) {
        width->setFocus(Qt::TabFocusReason);
        settle([&] { return width->hasFocus(); }, 1000);
        // The line edit is its own field editor: replace its text as typing would.
        width->selectAll();
        width->insert(text);
        // Moving the focus ends the width field's editing and commits it.
        height->setFocus(Qt::TabFocusReason);
        settle([&] { return height->hasFocus(); }, 1000);
    };

    QStringList lines;
    const auto report = [&](const QString &typed, const QString &expect) {
        lines << QStringLiteral("type '") + typed + QStringLiteral("' in W, tab to H → W=")
                + QString::number(fieldInt(width)) + QStringLiteral(" H=") + QString::number(fieldInt(height))
                + QStringLiteral("  (expect ") + expect + QLatin1Char(')');
    };
    typeAndTab(QStringLiteral("1920/2"));
    report(QStringLiteral("1920/2"), QStringLiteral("W=960 H=480"));
    typeAndTab(QStringLiteral("435"));
    report(QStringLiteral("435"), QStringLiteral("W=435 H~217"));

    // No commit may run while the fields are torn down with the window.
    width->removeEventFilter(this);
    height->removeEventFilter(this);
    window->close();
    return lines;
}
