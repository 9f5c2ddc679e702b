#include "frameui/ControlBar.h"

#include "base/Settings.h"
#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBarBackground.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameLayout.h"
#include "frameui/Palette.h"
#include "frameui/ScreenArea.h"
#include "model/Arith.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include <cmath>

namespace {

class Divider : public QWidget {
public:
    Divider()
    {
        setFixedSize(1, 22);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), QColor(255, 255, 255, 31)); }
};

QFont pixelFont(int size, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

QPushButton *button(const QString &title)
{
    auto *b = new QPushButton(title);
    b->setFocusPolicy(Qt::TabFocus);
    b->setAutoDefault(false);
    return b;
}

// The styles give a push button with text at least 80 pixels; the bar's
// buttons are as wide as their titles, which keeps the bar inside a
// 640-point region.
void fitToTitle(QPushButton *b)
{
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 24);
}

const QString countdownKey = QStringLiteral("countdownSeconds");

bool isCountdownChoice(int seconds)
{
    return std::find(std::begin(ControlBar::countdownChoices), std::end(ControlBar::countdownChoices), seconds)
        != std::end(ControlBar::countdownChoices);
}

// A stopwatch with the countdown's seconds on its face, or with its hand
// when there is no countdown. Drawn at twice the size for screens at scale 2.
QIcon countdownIcon(int seconds)
{
    QPixmap pixmap(40, 40);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(30, 32, 30);
    p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
    const QRectF face(2.5, 4, 15, 15);
    p.drawEllipse(face);
    p.drawLine(QPointF(10, 4), QPointF(10, 2));
    p.drawLine(QPointF(8, 1.5), QPointF(12, 1.5));
    if (seconds > 0) {
        QFont font;
        font.setPixelSize(seconds >= 10 ? 8 : 10);
        font.setWeight(QFont::Bold);
        p.setFont(font);
        p.drawText(face.translated(0, 0.5), Qt::AlignCenter, QString::number(seconds));
    } else {
        p.drawLine(face.center(), face.center() + QPointF(0, -5));
        p.drawLine(face.center(), face.center() + QPointF(3.5, 0));
    }
    return QIcon(pixmap);
}

} // namespace

ControlBar::ControlBar(std::shared_ptr<RegionModel> region)
    : m_window(std::make_unique<FloatWindow>(true, true))
    , m_region(std::move(region))
{
    m_wField = numField();
    m_hField = numField();
    m_xField = numField();
    m_yField = numField();
    m_fpsField = numField();
    m_recButton = button(QStringLiteral("● REC"));
    m_stopButton = button(QStringLiteral("Stop"));
    m_closeButton = button(QStringLiteral("✕"));
    m_countdownButton = button(QString());
    m_fps = 15;
    const int remembered = Settings::value(countdownKey, 0).toInt();
    m_countdownSeconds = isCountdownChoice(remembered) ? remembered : 0;
    // The window manager's close (Alt+F4 on the focused bar) means the same as
    // the bar's own close button.
    m_window->onUserClose = [this] { closeTapped(); };
    build();
}

ControlBar::~ControlBar() = default;

void ControlBar::build()
{
    auto *background = new ControlBarBackground;
    // Holding the focus itself, the panel keeps a field from being the one
    // being edited just because the window became active.
    background->setFocusPolicy(Qt::ClickFocus);

    m_fpsField->setText(QString::number(m_fps));

    QPalette recPalette = m_recButton->palette();
    recPalette.setColor(QPalette::Active, QPalette::ButtonText, Palette::recRed());
    recPalette.setColor(QPalette::Inactive, QPalette::ButtonText, Palette::recRed());
    m_recButton->setPalette(recPalette);
    m_recButton->setFont(pixelFont(12, QFont::Bold));
    connect(m_recButton, &QPushButton::clicked, this, &ControlBar::recTapped);

    m_stopButton->setEnabled(false);
    connect(m_stopButton, &QPushButton::clicked, this, &ControlBar::stopTapped);

    m_closeButton->setFont(pixelFont(12, QFont::Bold));
    connect(m_closeButton, &QPushButton::clicked, this, &ControlBar::closeTapped);

    for (QPushButton *b : {m_recButton, m_stopButton, m_closeButton})
        fitToTitle(b);
    setRecordKeyText(QString(), false);

    buildCountdownMenu();
    m_countdownButton->setIconSize(QSize(20, 20));
    m_countdownButton->setFixedWidth(32);
    connect(m_countdownButton, &QPushButton::clicked, this, [this] {
        // Below the button, or above it where the screen ends: never over it.
        QPoint at = m_countdownButton->mapToGlobal(QPoint(0, m_countdownButton->height()));
        const QScreen *screen = m_countdownButton->screen();
        if (screen && at.y() + m_countdownMenu->sizeHint().height() > screen->availableGeometry().bottom())
            at = m_countdownButton->mapToGlobal(QPoint(0, -m_countdownMenu->sizeHint().height()));
        m_countdownMenu->popup(at);
    });

    auto *stack = new QHBoxLayout(background);
    stack->setContentsMargins(10, 0, 10, 0);
    stack->setSpacing(8);
    const auto add = [stack](QWidget *w) { stack->addWidget(w, 0, Qt::AlignVCenter); };
    add(labeled(QStringLiteral("W"), m_wField));
    add(labeled(QStringLiteral("H"), m_hField));
    add(divider());
    add(labeled(QStringLiteral("X"), m_xField));
    add(labeled(QStringLiteral("Y"), m_yField));
    add(divider());
    add(labeled(QStringLiteral("FPS"), m_fpsField));
    add(divider());
    add(m_countdownButton);
    add(m_recButton);
    add(m_stopButton);
    add(m_closeButton);

    const QSize fitting = stack->sizeHint();
    m_barWidth = std::ceil(fitting.width());
    m_barHeight = std::max(std::ceil(fitting.height()) + 12, 46.0);

    m_window->setContentView(background);
    m_window->setFrame({0, 0, m_barWidth, m_barHeight});
    background->setFocus();
}

QWidget *ControlBar::labeled(const QString &caption, QLineEdit *field)
{
    auto *pair = new QWidget;
    auto *label = new QLabel(caption);
    label->setFont(pixelFont(11, QFont::DemiBold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 179));
    label->setPalette(palette);
    connect(field, &QLineEdit::editingFinished, this, [this, field] { commit(field); });
    auto *row = new QHBoxLayout(pair);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(label, 0, Qt::AlignVCenter);
    row->addWidget(field, 0, Qt::AlignVCenter);
    return pair;
}

QLineEdit *ControlBar::numField()
{
    auto *field = new QLineEdit;
    field->setAlignment(Qt::AlignCenter);
    field->setFont(pixelFont(12, QFont::Medium));
    field->setFixedWidth(52);
    return field;
}

QWidget *ControlBar::divider()
{
    return new Divider;
}

void ControlBar::buildCountdownMenu()
{
    m_countdownMenu = new QMenu(m_window.get());
    m_countdownActions = new QActionGroup(m_countdownMenu);
    for (const int seconds : countdownChoices) {
        QAction *choice = m_countdownMenu->addAction(
            seconds == 0 ? QStringLiteral("No countdown") : QStringLiteral("%1 seconds").arg(seconds));
        choice->setCheckable(true);
        choice->setData(seconds);
        m_countdownActions->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, seconds] { setCountdownSeconds(seconds); });
    }
    showCountdownChoice();
}

void ControlBar::setCountdownSeconds(int seconds)
{
    if (!isCountdownChoice(seconds))
        seconds = 0;
    if (seconds != m_countdownSeconds) {
        m_countdownSeconds = seconds;
        Settings::setValue(countdownKey, seconds);
    }
    showCountdownChoice();
}

void ControlBar::showCountdownChoice()
{
    for (QAction *choice : m_countdownActions->actions())
        choice->setChecked(choice->data().toInt() == m_countdownSeconds);
    m_countdownButton->setIcon(countdownIcon(m_countdownSeconds));
    m_countdownButton->setToolTip(m_countdownSeconds == 0
            ? QStringLiteral("Countdown before recording: none")
            : QStringLiteral("Countdown before recording: %1 seconds").arg(m_countdownSeconds));
}

void ControlBar::setRecordKeyText(const QString &key, bool global)
{
    QString suffix;
    if (!key.isEmpty())
        suffix
            = global ? QStringLiteral(" (%1)").arg(key) : QStringLiteral(" (%1 while this bar has the focus)").arg(key);
    m_recButton->setToolTip(QStringLiteral("Start recording") + suffix);
    m_stopButton->setToolTip(QStringLiteral("Stop recording, or the countdown before it") + suffix);
}

bool ControlBar::isBeingEdited(const QLineEdit *field) const
{
    return field->hasFocus() && field != m_endingEdit;
}

void ControlBar::syncFields(const Rect &rect)
{
    const FrameLayout::FieldValues values = FrameLayout::fieldValues(rect, ScreenUtil::screen(rect).frame);
    const auto write = [this](QLineEdit *field, int64_t value) {
        if (!isBeingEdited(field))
            field->setText(QString::number(value));
    };
    write(m_wField, values.width);
    write(m_hField, values.height);
    write(m_xField, values.x);
    write(m_yField, values.y);
}

void ControlBar::commit(QLineEdit *field)
{
    struct EndingEdit {
        const QLineEdit *&slot;
        const QLineEdit *previous;
        ~EndingEdit() { slot = previous; }
    } ending {m_endingEdit, m_endingEdit};
    m_endingEdit = field;

    const std::optional<int64_t> value = Arith::evalInt(field->text());
    if (!value) {
        syncFields(m_region->rect());
        // The frame rate keeps its last good value, and shows it again.
        if (field == m_fpsField)
            m_fpsField->setText(QString::number(m_fps));
        return;
    }
    if (field == m_fpsField) {
        m_fps = FrameLayout::clampedFps(*value);
        m_fpsField->setText(QString::number(m_fps));
        return;
    }
    const double n = std::max(static_cast<double>(*value), 0.0);
    const Rect r = m_region->rect();
    const ScreenInfo screen = ScreenUtil::screen(r);
    Rect wanted;
    if (field == m_wField) {
        wanted = {r.x, r.y, std::max(n, RegionModel::minSize.width), r.height};
    } else if (field == m_hField) {
        const double height = std::max(n, RegionModel::minSize.height);
        wanted = {r.x, r.maxY() - height, r.width, height};
    } else if (field == m_xField) {
        wanted = FrameLayout::withX(r, screen.frame, *value);
    } else if (field == m_yField) {
        wanted = FrameLayout::withY(r, screen.frame, *value);
    } else {
        return;
    }
    // A position may carry the region onto another screen; a size keeps it
    // on its own.
    const bool moves = field == m_xField || field == m_yField;
    const Rect onto = moves ? ScreenUtil::screen(wanted, ScreenUtil::screens(), screen).frame : screen.frame;
    const Rect kept = FrameLayout::fittedOnScreen(wanted, onto);
    m_region->set(kept);
    // The entry was held back (by the screen, at zero, at the minimum size):
    // show what the region became even when that is what it already was.
    const bool belowMinimum = (field == m_wField && n < RegionModel::minSize.width)
        || (field == m_hField && n < RegionModel::minSize.height);
    if (*value < 0 || belowMinimum || !(RegionModel::normalized(wanted, r) == RegionModel::normalized(kept, r)))
        syncFields(m_region->rect());
}

void ControlBar::setFps(int64_t fps)
{
    m_fps = FrameLayout::clampedFps(fps);
    m_fpsField->setText(QString::number(m_fps));
}

void ControlBar::setRecording(bool on)
{
    m_recButton->setEnabled(!on);
    m_stopButton->setEnabled(on);
    m_countdownButton->setEnabled(!on);
}

void ControlBar::reposition(const Rect &rect)
{
    place(FrameLayout::controlBarFrame(rect, {m_barWidth, m_barHeight}, ScreenArea::visibleOf(rect)));
}

void ControlBar::place(const Rect &frame)
{
    m_window->setFrame(frame);
}

void ControlBar::setGeometryEditable(bool editable)
{
    for (QLineEdit *field : {m_wField, m_hField, m_xField, m_yField})
        field->setReadOnly(!editable);
}

int64_t ControlBar::windowNumber() const
{
    return m_window->windowNumber();
}

void ControlBar::show()
{
    m_window->orderFront();
}

void ControlBar::makeKeyAndFront()
{
    m_window->makeKeyAndOrderFront();
}

void ControlBar::close()
{
    m_window->close();
}

void ControlBar::recTapped()
{
    if (onRecord)
        onRecord();
}

void ControlBar::stopTapped()
{
    if (onStop)
        onStop();
}

void ControlBar::closeTapped()
{
    if (onClose)
        onClose();
}
