#include "editor/EditorController.h"

#include "base/Rounding.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "editor/TextFieldValue.h"
#include "model/Arith.h"
#include "model/ImageOps.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

constexpr int64_t kMaxResizeSide = 8000;
// Beyond 2^53 a double no longer holds every whole number; the fields never
// need more, and the cast below stays defined.
constexpr double kMaxFieldValue = 9007199254740992.0;

// The other side under the aspect lock: rounded halves away from zero, at
// least 1, and finite whatever the ratio.
int64_t lockedSide(double value)
{
    if (!(value >= 1))
        return 1;
    return roundHalfAwayToInt(std::min(value, kMaxFieldValue));
}

// A resize field's committed value, or nullopt when it must revert.
std::optional<int64_t> fieldValue(const QLineEdit *field)
{
    if (!field)
        return std::nullopt;
    const auto value = Arith::evalInt(TextFieldValue::trimSpacesAndTabs(field->text()));
    if (!value || *value < 1)
        return std::nullopt;
    return value;
}

// Sheet layout is given from the bottom-left corner of its 320 x 180 content.
constexpr int kSheetW = 320;
constexpr int kSheetH = 180;
QRect sheetRect(int x, int y, int w, int h)
{
    return QRect(x, kSheetH - y - h, w, h);
}

} // namespace

// --- crop

void EditorController::toggleCrop()
{
    if (m_preview->cropMode())
        cancelCrop();
    else
        enterCrop();
}

void EditorController::enterCrop()
{
    stopPlay();
    // The selection is drawn over the fitted picture.
    m_preview->setZoom(ZoomMode::fit);
    m_zoomPopup->setCurrentIndex(int(ZoomMode::fit));
    m_zoomPopup->setEnabled(false);
    m_preview->setCropMode(true);
    m_cropToggleBtn->setText(QStringLiteral("Cropping…"));
    EditorStyle::tint(m_cropToggleBtn, EditorStyle::lime());
    m_cropApplyBtn->show();
    m_cropCancelBtn->show();
    m_cropApplyBtn->setEnabled(m_preview->cropRectInPixels().has_value());
}

void EditorController::cancelCrop()
{
    m_preview->setCropMode(false);
    m_zoomPopup->setEnabled(true);
    m_cropToggleBtn->setText(QStringLiteral("Crop"));
    EditorStyle::tint(m_cropToggleBtn, std::nullopt);
    m_cropApplyBtn->hide();
    m_cropCancelBtn->hide();
}

void EditorController::cropChanged()
{
    m_cropApplyBtn->setEnabled(m_preview->cropRectInPixels().has_value());
}

void EditorController::applyCrop()
{
    // Computed once on the frame on show; frames of other sizes get the same
    // rectangle, which ImageOps::crop clamps to each of them.
    const std::optional<QRect> rect = m_preview->cropRectInPixels();
    if (!rect) {
        beep();
        return;
    }
    const QRectF pixels(*rect);
    if (!m_doc.replacePixels([pixels](const QImage &image) { return ImageOps::crop(image, pixels); })) {
        beep();
        return;
    }
    cancelCrop();
    refresh();
}

// --- resize

void EditorController::openResize()
{
    if (m_preview->cropMode())
        cancelCrop();
    stopPlay();

    const Size canvas = project()->canvasSize();
    // A canvas without width would make the locked height infinite.
    m_resizeBaseAspect = canvas.height > 0 && canvas.width > 0 ? canvas.width / canvas.height : 1.0;
    m_lastGoodW = std::max<int64_t>(int64_t(canvas.width), 1);
    m_lastGoodH = std::max<int64_t>(int64_t(canvas.height), 1);

    endResizeSheet();
    ensureResizeControls();

    auto *sheet = new QDialog(m_window.get());
    sheet->setWindowTitle(QStringLiteral("Resize All Frames"));
    sheet->setFixedSize(kSheetW, kSheetH);
    sheet->setWindowModality(Qt::WindowModal);

    auto *title = new QLabel(
        QStringLiteral("Resize ") + QString::number(frameCount()) + QStringLiteral(" frame(s) to:"), sheet);
    title->setGeometry(sheetRect(20, 142, 280, 18));
    auto *widthLabel = new QLabel(QStringLiteral("Width"), sheet);
    widthLabel->setGeometry(sheetRect(20, 108, 50, 18));
    auto *heightLabel = new QLabel(QStringLiteral("Height"), sheet);
    heightLabel->setGeometry(sheetRect(20, 76, 50, 18));

    m_resizeWidth->setParent(sheet);
    m_resizeWidth->setGeometry(sheetRect(80, 105, 90, 24));
    m_resizeWidth->setText(QString::number(int64_t(canvas.width)));
    m_resizeHeight->setParent(sheet);
    m_resizeHeight->setGeometry(sheetRect(80, 73, 90, 24));
    m_resizeHeight->setText(QString::number(int64_t(canvas.height)));
    m_resizeLock->setParent(sheet);
    m_resizeLock->setGeometry(sheetRect(80, 44, 200, 20));
    m_resizeLock->setText(QStringLiteral("Lock aspect ratio"));
    m_resizeLock->setChecked(true);
    // The width field comes first in the tab order, then the height field.
    QWidget::setTabOrder(m_resizeWidth, m_resizeHeight);
    QWidget::setTabOrder(m_resizeHeight, m_resizeLock);
    for (QWidget *w : {static_cast<QWidget *>(m_resizeWidth), static_cast<QWidget *>(m_resizeHeight),
             static_cast<QWidget *>(m_resizeLock)})
        w->show();

    auto *apply = new QPushButton(QStringLiteral("Apply"), sheet);
    apply->setGeometry(sheetRect(224, 12, 80, 28));
    apply->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), sheet);
    cancel->setGeometry(sheetRect(138, 12, 80, 28));
    cancel->setAutoDefault(false);
    connect(apply, &QPushButton::clicked, this, &EditorController::applyResize);
    connect(cancel, &QPushButton::clicked, this, &EditorController::closeResize);
    // Escape rejects the dialog.
    connect(sheet, &QDialog::rejected, this, &EditorController::closeResize);

    EditorStyle::applyDark(sheet);
    m_resizeSheet = sheet;
    m_resizeWidth->setFocus(Qt::OtherFocusReason);
    sheet->open();
}

void EditorController::endResizeSheet()
{
    QDialog *sheet = m_resizeSheet;
    if (!sheet)
        return;
    m_resizeSheet = nullptr;
    sheet->disconnect(this);
    // The fields outlive the sheet: they go back, hidden, to the editor window.
    for (QWidget *w : {static_cast<QWidget *>(m_resizeWidth), static_cast<QWidget *>(m_resizeHeight),
             static_cast<QWidget *>(m_resizeLock)}) {
        if (w && w->parent() == sheet) {
            w->hide();
            w->setParent(m_window.get());
        }
    }
    sheet->hide();
    sheet->deleteLater();
    // Without a window manager nobody hands the focus back after a sheet.
    m_window->activateWindow();
}

void EditorController::closeResize()
{
    endResizeSheet();
}

void EditorController::resizeWidthChanged()
{
    if (!m_resizeWidth)
        return;
    const std::optional<int64_t> value = fieldValue(m_resizeWidth);
    if (!value) {
        m_resizeWidth->setText(QString::number(m_lastGoodW));
        return;
    }
    m_lastGoodW = *value;
    m_resizeWidth->setText(QString::number(*value));
    if (!m_resizeLock || !m_resizeLock->isChecked() || !m_resizeHeight)
        return;
    m_lastGoodH = lockedSide(double(*value) / m_resizeBaseAspect);
    m_resizeHeight->setText(QString::number(m_lastGoodH));
}

void EditorController::resizeHeightChanged()
{
    if (!m_resizeHeight)
        return;
    const std::optional<int64_t> value = fieldValue(m_resizeHeight);
    if (!value) {
        m_resizeHeight->setText(QString::number(m_lastGoodH));
        return;
    }
    m_lastGoodH = *value;
    m_resizeHeight->setText(QString::number(*value));
    if (!m_resizeLock || !m_resizeLock->isChecked() || !m_resizeWidth)
        return;
    m_lastGoodW = lockedSide(m_resizeBaseAspect * double(*value));
    m_resizeWidth->setText(QString::number(m_lastGoodW));
}

void EditorController::resizeLockToggled()
{
    if (m_resizeLock && m_resizeLock->isChecked())
        resizeWidthChanged();
}

void EditorController::applyResize()
{
    const int64_t w = std::clamp<int64_t>(fieldValue(m_resizeWidth).value_or(m_lastGoodW), 1, kMaxResizeSide);
    const int64_t h = std::clamp<int64_t>(fieldValue(m_resizeHeight).value_or(m_lastGoodH), 1, kMaxResizeSide);
    endResizeSheet();

    const Size canvas = project()->canvasSize();
    if (w == int64_t(canvas.width) && h == int64_t(canvas.height))
        return;
    const QSizeF size {double(w), double(h)};
    if (!m_doc.replacePixels([size](const QImage &image) { return ImageOps::resize(image, size); })) {
        beep();
        return;
    }
    refresh();
}

void EditorController::controlTextDidEndEditing(QObject *field)
{
    if (!field)
        return;
    if (field == m_resizeWidth)
        resizeWidthChanged();
    else if (field == m_resizeHeight)
        resizeHeightChanged();
}

bool EditorController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_delayField && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            delayCommitted();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
    if (watched == m_window.get()) {
        if (event->type() == QEvent::Close)
            return handleWindowClose(event);
        return QObject::eventFilter(watched, event);
    }
    // Focus leaving a resize field ends its editing, as Tab or a click on the
    // other field does. Losing focus because the whole window was deactivated
    // or a pop-up opened is no end of editing.
    if (event->type() == QEvent::FocusOut && (watched == m_resizeWidth || watched == m_resizeHeight)) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            controlTextDidEndEditing(watched);
    }
    return QObject::eventFilter(watched, event);
}
