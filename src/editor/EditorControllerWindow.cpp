#include "editor/EditorController.h"

#include "base/Log.h"
#include "editor/EditorContentView.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "editor/FrameStripView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

// The window as far as the operations need it: every control they read or
// write is a real widget wired to its action, in the order the rows will keep.
// Layout polish, the dark look, keys, playback, export and the new-recording
// path arrive with the editor window.

namespace {

QPushButton *button(const QString &title, const QString &tip = {})
{
    auto *b = new QPushButton(title);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    return b;
}

QLabel *label(const QString &text)
{
    return new QLabel(text);
}

QFrame *separator()
{
    auto *line = new QFrame;
    line->setFixedSize(1, 20);
    line->setFrameShape(QFrame::VLine);
    return line;
}

QHBoxLayout *row()
{
    auto *layout = new QHBoxLayout;
    layout->setSpacing(6);
    layout->setContentsMargins(12, 0, 12, 0);
    return layout;
}

} // namespace

void EditorController::buildUI()
{
    const QPointer<EditorController> self(this);

    m_content = new EditorContentView;
    m_window->setCentralWidget(m_content);

    // First row.
    auto *first = row();
    auto *goFirstBtn = button(QStringLiteral("⏮"), QStringLiteral("First frame"));
    m_playBackButton = new QPushButton(QStringLiteral("◀"));
    m_playBackButton->setToolTip(QStringLiteral("Play backward"));
    m_playFwdButton = new QPushButton(QStringLiteral("▶"));
    m_playFwdButton->setToolTip(QStringLiteral("Play forward (Space)"));
    auto *goLastBtn = button(QStringLiteral("⏭"), QStringLiteral("Last frame"));
    auto *reverseBtn = button(QStringLiteral("⇄ Reverse"), QStringLiteral("Reverse frame order"));
    m_zoomPopup = new QComboBox;
    for (const ZoomMode mode : ZoomModes::allCases())
        m_zoomPopup->addItem(ZoomModes::label(mode));
    auto *undoBtn = button(QStringLiteral("↶ Undo"), QStringLiteral("Undo (⌘Z)"));
    auto *redoBtn = button(QStringLiteral("↷ Redo"), QStringLiteral("Redo (⇧⌘Z)"));
    for (QWidget *w : {static_cast<QWidget *>(goFirstBtn), static_cast<QWidget *>(m_playBackButton),
             static_cast<QWidget *>(m_playFwdButton), static_cast<QWidget *>(goLastBtn)})
        first->addWidget(w);
    first->addWidget(separator());
    first->addWidget(reverseBtn);
    first->addStretch(1);
    first->addWidget(label(QStringLiteral("Zoom")));
    first->addWidget(m_zoomPopup);
    first->addWidget(separator());
    first->addWidget(undoBtn);
    first->addWidget(redoBtn);

    connect(goFirstBtn, &QPushButton::clicked, this, &EditorController::goFirst);
    connect(goLastBtn, &QPushButton::clicked, this, &EditorController::goLast);
    connect(reverseBtn, &QPushButton::clicked, this, &EditorController::reverse);
    // activated, not currentIndexChanged: only the user's choice runs an action.
    connect(m_zoomPopup, &QComboBox::activated, this, &EditorController::zoomChanged);
    connect(undoBtn, &QPushButton::clicked, this, &EditorController::undoAction);
    connect(redoBtn, &QPushButton::clicked, this, &EditorController::redoAction);

    // Second row.
    auto *second = row();
    m_delayField = new QLineEdit;
    m_delayField->setToolTip(QStringLiteral("Delay (ms) for the selected frame(s) — accepts math, e.g. 60*2"));
    m_delayField->setAlignment(Qt::AlignRight);
    m_delayField->setFixedWidth(56);
    m_delayStepper = new QSpinBox;
    m_delayStepper->setRange(10, 100000);
    m_delayStepper->setSingleStep(10);
    m_delayStepper->setWrapping(false);
    m_delayStepper->setValue(60);
    m_delayStepper->setFocusPolicy(Qt::NoFocus);
    auto *applyAllBtn = button(QStringLiteral("Apply to all"), QStringLiteral("Set this delay on every frame"));
    m_speedPopup = new QComboBox;
    m_speedPopup->addItems(
        {QStringLiteral("0.25×"), QStringLiteral("0.5×"), QStringLiteral("1×"), QStringLiteral("1.2×"),
            QStringLiteral("1.5×"), QStringLiteral("1.75×"), QStringLiteral("2×"), QStringLiteral("4×")});
    m_speedPopup->setCurrentIndex(2);
    m_loopPopup = new QComboBox;
    m_loopPopup->addItems(
        {QStringLiteral("Forever"), QStringLiteral("Once"), QStringLiteral("3×"), QStringLiteral("5×")});
    m_cropToggleBtn = button(QStringLiteral("Crop"), QStringLiteral("Crop all frames"));
    auto *resizeBtn = button(QStringLiteral("Resize…"), QStringLiteral("Resize all frames"));
    m_cropApplyBtn = button(QStringLiteral("Apply Crop"));
    EditorStyle::tint(m_cropApplyBtn, EditorStyle::lime());
    m_cropCancelBtn = button(QStringLiteral("Cancel"));
    // Filled from the export vocabulary (quality levels, available encoders)
    // by the editor window; the export flow reads them.
    m_qualityPopup = new QComboBox;
    m_encoderPopup = new QComboBox;

    second->addWidget(label(QStringLiteral("Delay")));
    second->addWidget(m_delayField);
    second->addWidget(label(QStringLiteral("ms")));
    second->addWidget(m_delayStepper);
    second->addWidget(applyAllBtn);
    second->addWidget(separator());
    second->addWidget(label(QStringLiteral("Speed")));
    second->addWidget(m_speedPopup);
    second->addWidget(separator());
    second->addWidget(label(QStringLiteral("Loop")));
    second->addWidget(m_loopPopup);
    second->addWidget(separator());
    second->addWidget(m_cropToggleBtn);
    second->addWidget(resizeBtn);
    second->addWidget(m_cropApplyBtn);
    second->addWidget(m_cropCancelBtn);
    second->addStretch(1);
    second->addWidget(label(QStringLiteral("Quality")));
    second->addWidget(m_qualityPopup);
    second->addWidget(label(QStringLiteral("Encoder")));
    second->addWidget(m_encoderPopup);
    m_cropApplyBtn->hide();
    m_cropCancelBtn->hide();

    connect(m_delayField, &QLineEdit::returnPressed, this, &EditorController::delayCommitted);
    connect(m_delayStepper, &QSpinBox::valueChanged, this, &EditorController::delayStepped);
    connect(applyAllBtn, &QPushButton::clicked, this, &EditorController::applyDelayToAll);
    connect(m_speedPopup, &QComboBox::activated, this, &EditorController::speedChanged);
    connect(m_loopPopup, &QComboBox::activated, this, &EditorController::loopChanged);
    connect(m_cropToggleBtn, &QPushButton::clicked, this, &EditorController::toggleCrop);
    connect(resizeBtn, &QPushButton::clicked, this, &EditorController::openResize);
    connect(m_cropApplyBtn, &QPushButton::clicked, this, &EditorController::applyCrop);
    connect(m_cropCancelBtn, &QPushButton::clicked, this, &EditorController::cancelCrop);

    // Preview, status line, strip.
    m_preview = new FramePreviewView;
    m_preview->onCropChanged = [self] {
        if (self)
            self->cropChanged();
    };
    m_statusLabel = new QLabel;
    m_strip = new FrameStripView;
    m_strip->onSelect = [self](int64_t index, Qt::KeyboardModifiers modifiers) {
        if (self)
            self->selectFrame(index, modifiers);
    };
    m_strip->onReorder = [self](int64_t slot) {
        if (self)
            self->reorderSelection(slot);
    };
    m_stripScroll = new QScrollArea;
    m_stripScroll->setWidget(m_strip);
    m_stripScroll->setWidgetResizable(false);
    m_stripScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_stripScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_stripScroll->setFixedHeight(104);

    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 10, 0, 8);
    column->setSpacing(0);
    column->addLayout(first);
    column->addSpacing(8);
    column->addLayout(second);
    column->addSpacing(10);
    auto *previewRow = new QHBoxLayout;
    previewRow->setContentsMargins(12, 0, 12, 0);
    previewRow->addWidget(m_preview);
    column->addLayout(previewRow, 1);
    column->addSpacing(6);
    auto *statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(14, 0, 14, 0);
    statusRow->addWidget(m_statusLabel);
    column->addLayout(statusRow);
    column->addSpacing(6);
    column->addWidget(m_stripScroll);

    ensureResizeControls();
    syncPlayButtons();
}

void EditorController::wireResizeField(QLineEdit *field, void (EditorController::*commit)())
{
    connect(field, &QLineEdit::returnPressed, this, commit);
    field->installEventFilter(this);
}

void EditorController::ensureResizeControls()
{
    if (!m_resizeWidth) {
        m_resizeWidth = new QLineEdit(m_window.get());
        m_resizeWidth->hide();
        wireResizeField(m_resizeWidth, &EditorController::resizeWidthChanged);
    }
    if (!m_resizeHeight) {
        m_resizeHeight = new QLineEdit(m_window.get());
        m_resizeHeight->hide();
        wireResizeField(m_resizeHeight, &EditorController::resizeHeightChanged);
    }
    if (!m_resizeLock) {
        m_resizeLock = new QCheckBox(QStringLiteral("Lock aspect ratio"), m_window.get());
        m_resizeLock->hide();
        // clicked, not toggled: setting the box from code runs no action.
        connect(m_resizeLock, &QCheckBox::clicked, this, &EditorController::resizeLockToggled);
    }
}

void EditorController::zoomChanged()
{
    m_preview->setZoom(ZoomModes::fromRaw(m_zoomPopup->currentIndex()));
}

void EditorController::show()
{
    Log::reset();
    Log::write(QStringLiteral("editor open: ") + QString::number(frameCount()) + QStringLiteral(" frames"));
    QScreen *screen = m_window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect visible = screen->availableGeometry();
        QRect frame(0, 0, std::min(visible.width() - 40, 1500), std::min(visible.height() - 40, 980));
        frame.moveCenter(visible.center());
        m_window->setGeometry(frame);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_content->setFocus(Qt::OtherFocusReason);
    refresh();
}
