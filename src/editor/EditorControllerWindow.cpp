#include "editor/EditorController.h"

#include "base/Log.h"
#include "base/Settings.h"
#include "editor/EditorContentView.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "editor/FrameStripView.h"
#include "export/GifExporter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cstdlib>

// The window: three rows of controls, the preview, the status line and the strip,
// in the dark appearance. Sizes are in logical pixels, which stand for points.

namespace {

QFont pixelFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// Numbers that change in place: the common sans-serif faces of the desktop
// already draw their digits at one width.
QFont digitFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    return pixelFont(pixelSize, weight);
}

// A rounded button as wide as its title and some padding: Fusion would make
// every text button at least 80 pixels wide, which the rows cannot afford.
class CompactButton : public QPushButton {
public:
    using QPushButton::QPushButton;

    QSize sizeHint() const override
    {
        const QSize base = QPushButton::sizeHint();
        int contents = fontMetrics().horizontalAdvance(text());
        if (!icon().isNull())
            contents += iconSize().width() + (text().isEmpty() ? 0 : 4);
        // The arrow of a button that opens a menu.
        if (menu())
            contents += 14;
        return QSize(std::min(base.width(), std::max(contents + 20, minimumWidth())), base.height());
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

// A pop-up as wide as its longest item and its arrow, for the same reason.
class CompactPopup : public QComboBox {
public:
    using QComboBox::QComboBox;

    QSize sizeHint() const override
    {
        int widest = 0;
        for (int i = 0; i < count(); ++i)
            widest = std::max(widest, fontMetrics().horizontalAdvance(itemText(i)));
        const QSize base = QComboBox::sizeHint();
        return QSize(std::min(base.width(), widest + 34), base.height());
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

// The strip scrolls only sideways, so the ordinary vertical wheel moves it too
// (down moves on to later frames); a sideways wheel works as before.
class StripScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;

protected:
    void wheelEvent(QWheelEvent *event) override
    {
        if (std::abs(event->angleDelta().y()) <= std::abs(event->angleDelta().x())) {
            QScrollArea::wheelEvent(event);
            return;
        }
        QCoreApplication::sendEvent(horizontalScrollBar(), event);
    }
};

QPushButton *button(const QString &title, const QString &tip = {})
{
    auto *b = new CompactButton(title);
    b->setFont(pixelFont(12));
    b->setAutoDefault(false);
    if (!tip.isEmpty())
        b->setToolTip(tip);
    return b;
}

QLabel *label(const QString &text)
{
    auto *l = new QLabel(text);
    l->setFont(pixelFont(11));
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(1, 1, 1, 0.75f));
    l->setPalette(palette);
    return l;
}

QWidget *separator()
{
    auto *line = new QWidget;
    line->setFixedSize(1, 20);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(1, 1, 1, 0.15f));
    line->setPalette(palette);
    return line;
}

QHBoxLayout *row(QWidget *holder)
{
    holder->setFixedHeight(28);
    auto *layout = new QHBoxLayout(holder);
    layout->setSpacing(6);
    layout->setContentsMargins(12, 0, 12, 0);
    return layout;
}

QPushButton *playButton(const QString &title, const QString &tip)
{
    auto *b = new CompactButton(title);
    b->setFont(pixelFont(13, QFont::DemiBold));
    b->setMinimumWidth(40);
    b->setAutoDefault(false);
    b->setToolTip(tip);
    return b;
}

} // namespace

void EditorController::buildUI()
{
    const QPointer<EditorController> self(this);

    m_content = new EditorContentView;
    m_content->setController(this);
    m_content->setAutoFillBackground(true);
    QPalette contentPalette = m_content->palette();
    contentPalette.setColor(QPalette::Window, QColor::fromRgbF(0.12f, 0.12f, 0.12f));
    m_content->setPalette(contentPalette);
    m_window->setCentralWidget(m_content);
    m_window->installEventFilter(this);

    m_playTimer = new QTimer(this);
    m_playTimer->setSingleShot(true);
    m_playTimer->setTimerType(Qt::PreciseTimer);
    connect(m_playTimer, &QTimer::timeout, this, &EditorController::playStep);

    // First row: playback, order, zoom, history.
    auto *firstRow = new QWidget;
    auto *first = row(firstRow);
    auto *goFirstBtn = button(QString(), QStringLiteral("First frame"));
    EditorStyle::setSymbolTitle(goFirstBtn, QStringLiteral("⏮"));
    m_playBackButton = playButton(QStringLiteral("◀"), QStringLiteral("Play backward"));
    m_playFwdButton = playButton(QStringLiteral("▶"), QStringLiteral("Play forward (Space)"));
    auto *goLastBtn = button(QString(), QStringLiteral("Last frame"));
    EditorStyle::setSymbolTitle(goLastBtn, QStringLiteral("⏭"));
    auto *reverseBtn = button(QStringLiteral("⇄ Reverse"), QStringLiteral("Reverse frame order"));
    m_zoomPopup = new CompactPopup;
    for (const ZoomMode mode : ZoomModes::allCases())
        m_zoomPopup->addItem(ZoomModes::label(mode));
    auto *undoBtn = button(QStringLiteral("↶ Undo"), QStringLiteral("Undo (Ctrl+Z)"));
    auto *redoBtn = button(QStringLiteral("↷ Redo"), QStringLiteral("Redo (Ctrl+Shift+Z or Ctrl+Y)"));
    auto *newRecordingBtn = button(QStringLiteral("● New Recording"));
    EditorStyle::tint(newRecordingBtn, EditorStyle::recRed());
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
    first->addWidget(separator());
    first->addWidget(newRecordingBtn);

    connect(goFirstBtn, &QPushButton::clicked, this, &EditorController::goFirst);
    connect(m_playBackButton, &QPushButton::clicked, this, &EditorController::playBackwardTapped);
    connect(m_playFwdButton, &QPushButton::clicked, this, &EditorController::playForwardTapped);
    connect(goLastBtn, &QPushButton::clicked, this, &EditorController::goLast);
    connect(reverseBtn, &QPushButton::clicked, this, &EditorController::reverse);
    // activated, not currentIndexChanged: only the user's choice runs an action.
    connect(m_zoomPopup, &QComboBox::activated, this, &EditorController::zoomChanged);
    connect(undoBtn, &QPushButton::clicked, this, &EditorController::undoAction);
    connect(redoBtn, &QPushButton::clicked, this, &EditorController::redoAction);

    // Second row: timing and the picture's size.
    auto *secondRow = new QWidget;
    auto *second = row(secondRow);
    m_delayField = new QLineEdit;
    m_delayField->setFont(digitFont(12));
    m_delayField->setToolTip(QStringLiteral("Delay (ms) for the selected frame(s) — accepts math, e.g. 60*2"));
    m_delayField->setAlignment(Qt::AlignRight);
    m_delayField->setFixedWidth(56);
    m_delayStepper = new QSpinBox;
    m_delayStepper->setRange(10, 100000);
    m_delayStepper->setSingleStep(10);
    m_delayStepper->setWrapping(false);
    m_delayStepper->setValue(60);
    m_delayStepper->setFocusPolicy(Qt::NoFocus);
    // Only its arrows show: the delay field beside it holds the number.
    m_delayStepper->setFixedWidth(19);
    auto *applyAllBtn = button(QStringLiteral("Apply to all"), QStringLiteral("Set this delay on every frame"));
    m_speedPopup = new CompactPopup;
    m_speedPopup->addItems(
        {QStringLiteral("0.25×"), QStringLiteral("0.5×"), QStringLiteral("1×"), QStringLiteral("1.2×"),
            QStringLiteral("1.5×"), QStringLiteral("1.75×"), QStringLiteral("2×"), QStringLiteral("4×")});
    m_speedPopup->setCurrentIndex(2);
    m_loopPopup = new CompactPopup;
    m_loopPopup->addItems(
        {QStringLiteral("Forever"), QStringLiteral("Once"), QStringLiteral("3×"), QStringLiteral("5×")});
    m_cropToggleBtn = button(QStringLiteral("Crop"), QStringLiteral("Crop all frames"));
    auto *resizeBtn = button(QStringLiteral("Resize…"), QStringLiteral("Resize all frames"));
    m_cropApplyBtn = button(QStringLiteral("Apply Crop"));
    EditorStyle::tint(m_cropApplyBtn, EditorStyle::lime());
    m_cropCancelBtn = button(QStringLiteral("Cancel"));

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

    // Third row: the export. Quality and encoder are read by the export flow
    // and the size estimate; they run no action of their own.
    auto *thirdRow = new QWidget;
    auto *third = row(thirdRow);
    m_qualityPopup = new CompactPopup;
    m_encoderPopup = new CompactPopup;
    fillExportPopups();
    m_estimateLabel = label(QString());
    m_estimateLabel->setFont(digitFont(11));
    m_exportGifBtn = button(QStringLiteral("Export GIF"));
    EditorStyle::tint(m_exportGifBtn, EditorStyle::lime());
    auto *exportMp4Btn = button(QStringLiteral("Export MP4"));
    m_moreFormatsBtn = button(QStringLiteral("More Formats"), QStringLiteral("Export as WebP, APNG or WebM"));
    fillMoreFormatsMenu();

    third->addWidget(label(QStringLiteral("Quality")));
    third->addWidget(m_qualityPopup);
    third->addWidget(label(QStringLiteral("Encoder")));
    third->addWidget(m_encoderPopup);
    third->addWidget(separator());
    third->addWidget(m_estimateLabel);
    third->addStretch(1);
    third->addWidget(m_exportGifBtn);
    third->addWidget(exportMp4Btn);
    third->addWidget(m_moreFormatsBtn);
    m_cropApplyBtn->hide();
    m_cropCancelBtn->hide();

    // Return is taken in eventFilter: it commits and hands the keys back to the
    // window, and must not travel on to the window's default button.
    m_delayField->installEventFilter(this);
    connect(m_delayStepper, &QSpinBox::valueChanged, this, &EditorController::delayStepped);
    connect(applyAllBtn, &QPushButton::clicked, this, &EditorController::applyDelayToAll);
    connect(m_speedPopup, &QComboBox::activated, this, &EditorController::speedChanged);
    connect(m_loopPopup, &QComboBox::activated, this, &EditorController::loopChanged);
    connect(m_cropToggleBtn, &QPushButton::clicked, this, &EditorController::toggleCrop);
    connect(resizeBtn, &QPushButton::clicked, this, &EditorController::openResize);
    connect(m_cropApplyBtn, &QPushButton::clicked, this, &EditorController::applyCrop);
    connect(m_cropCancelBtn, &QPushButton::clicked, this, &EditorController::cancelCrop);
    connect(m_exportGifBtn, &QPushButton::clicked, this, &EditorController::exportGIF);
    connect(exportMp4Btn, &QPushButton::clicked, this, &EditorController::exportMP4Action);
    connect(newRecordingBtn, &QPushButton::clicked, this, &EditorController::recordAgain);

    // Preview, status line, strip.
    m_preview = new FramePreviewView;
    m_preview->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_preview->onCropChanged = [self] {
        if (self)
            self->cropChanged();
    };
    m_statusLabel = new QLabel;
    m_statusLabel->setFont(digitFont(11));
    QPalette statusPalette = m_statusLabel->palette();
    statusPalette.setColor(QPalette::WindowText, QColor::fromRgbF(1, 1, 1, 0.7f));
    m_statusLabel->setPalette(statusPalette);
    m_noticeLabel = new QLabel;
    m_noticeLabel->setFont(digitFont(11));
    m_noticeLabel->setPalette(statusPalette);
    m_noticeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Never what decides the window's width.
    m_noticeLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_strip = new FrameStripView;
    m_strip->onSelect = [self](int64_t index, Qt::KeyboardModifiers modifiers) {
        if (self)
            self->selectFrame(index, modifiers);
    };
    m_strip->onReorder = [self](int64_t slot) {
        if (self)
            self->reorderSelection(slot);
    };
    m_stripScroll = new StripScrollArea;
    m_stripScroll->setWidget(m_strip);
    m_stripScroll->setWidgetResizable(false);
    m_stripScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_stripScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_stripScroll->setFixedHeight(104);
    m_stripScroll->setFrameShape(QFrame::NoFrame);
    m_stripScroll->setFocusPolicy(Qt::NoFocus);

    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 10, 0, 8);
    column->setSpacing(0);
    column->addWidget(firstRow);
    column->addSpacing(8);
    column->addWidget(secondRow);
    column->addSpacing(8);
    column->addWidget(thirdRow);
    column->addSpacing(10);
    auto *previewRow = new QHBoxLayout;
    previewRow->setContentsMargins(12, 0, 12, 0);
    previewRow->addWidget(m_preview);
    column->addLayout(previewRow, 1);
    column->addSpacing(6);
    auto *statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(14, 0, 14, 0);
    statusRow->addWidget(m_statusLabel);
    statusRow->addWidget(m_noticeLabel, 1);
    column->addLayout(statusRow);
    column->addSpacing(6);
    column->addWidget(m_stripScroll);

    // A click on a button or pop-up leaves the keyboard with the window, so
    // Space, arrows and Backspace keep acting on the frames; Tab still reaches them.
    for (QWidget *control : m_content->findChildren<QWidget *>()) {
        if (qobject_cast<QAbstractButton *>(control) || qobject_cast<QComboBox *>(control))
            control->setFocusPolicy(Qt::TabFocus);
    }

    ensureResizeControls();
    syncPlayButtons();
    EditorStyle::applyDark(m_window.get());
}

void EditorController::fillExportPopups()
{
    for (const GifQuality quality : allGifQualities)
        m_qualityPopup->addItem(label(quality));
    std::optional<GifQuality> quality;
    for (const GifQuality q : allGifQualities) {
        if (caseName(q) == Settings::string(qualitySettingKey))
            quality = q;
    }
    m_qualityPopup->setCurrentIndex(quality ? rawValue(*quality) : 0);
    std::vector<GifEncoder> available;
    for (const GifEncoder encoder : allGifEncoders) {
        if (isAvailable(encoder)) {
            available.push_back(encoder);
            m_encoderPopup->addItem(label(encoder));
        }
    }
    // Only the user's own choice is remembered, never a default shown.
    connect(m_qualityPopup, &QComboBox::activated, this, [this] {
        Settings::setValue(qualitySettingKey, caseName(chosenQuality()));
        scheduleEstimate();
    });
    connect(m_encoderPopup, &QComboBox::activated, this, [this] {
        Settings::setValue(encoderSettingKey, rawValue(chosenEncoder()));
        scheduleEstimate();
    });
    if (available.empty())
        return;
    // The remembered encoder while it is installed, else the best one found.
    GifEncoder preferred = GifExporter::defaultEncoder();
    if (const std::optional<GifEncoder> remembered = gifEncoderFromRaw(Settings::string(encoderSettingKey))) {
        if (std::find(available.begin(), available.end(), *remembered) != available.end())
            preferred = *remembered;
    }
    const auto it = std::find(available.begin(), available.end(), preferred);
    m_encoderPopup->setCurrentIndex(it == available.end() ? 0 : int(it - available.begin()));
}

void EditorController::fillMoreFormatsMenu()
{
    auto *menu = new QMenu(m_moreFormatsBtn);
    for (const GifExporter::AnimatedFormat format : GifExporter::writableFormats()) {
        connect(menu->addAction(GifExporter::menuTitle(format)), &QAction::triggered, this,
            [this, format] { exportAnimatedAction(format); });
    }
    m_moreFormatsBtn->setMenu(menu);
    // Only what the ffmpeg found can write.
    m_moreFormatsBtn->setVisible(!menu->isEmpty());
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

void EditorController::debugZoom(double scale)
{
    m_preview->setCustomScale(scale);
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
