#include "frameui/ControlBar.h"

#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBarBackground.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameLayout.h"
#include "frameui/Palette.h"
#include "model/Arith.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

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
    m_fps = 15;
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
    const double n = static_cast<double>(std::max<int64_t>(*value, 0));
    const Rect r = m_region->rect();
    if (field == m_wField) {
        m_region->setWidth(n);
    } else if (field == m_hField) {
        m_region->setHeight(n);
    } else if (field == m_xField) {
        m_region->set(FrameLayout::withX(r, ScreenUtil::screen(r).frame, *value));
    } else if (field == m_yField) {
        m_region->set(FrameLayout::withY(r, ScreenUtil::screen(r).frame, *value));
    } else if (field == m_fpsField) {
        m_fps = FrameLayout::clampedFps(*value);
        m_fpsField->setText(QString::number(m_fps));
    }
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
}

void ControlBar::reposition(const Rect &rect)
{
    const Point origin = FrameLayout::controlBarOrigin(rect, m_barWidth);
    m_window->setFrame({origin.x, origin.y, m_barWidth, m_barHeight});
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
