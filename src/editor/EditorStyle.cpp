#include "editor/EditorStyle.h"

#include <QFontMetrics>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QVariant>
#include <QWidget>

namespace {
constexpr const char *kTintProperty = "quilloTint";
constexpr const char *kTitleProperty = "quilloTitle";

bool fontHasAll(const QFont &font, const QString &text)
{
    const QFontMetrics metrics(font);
    for (const char32_t c : text.toUcs4()) {
        if (!metrics.inFontUcs4(c))
            return false;
    }
    return true;
}

// Triangles and bars in a 16 x 16 box, in the button's text colour.
QIcon symbolIcon(const QString &title, const QColor &color)
{
    QPixmap pixmap(32, 32);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const auto triangle = [&p](double tipX, double baseX) {
        QPainterPath path;
        path.moveTo(baseX, 3);
        path.lineTo(tipX, 8);
        path.lineTo(baseX, 13);
        path.closeSubpath();
        p.drawPath(path);
    };
    if (title == QStringLiteral("⏸")) {
        p.drawRect(QRectF(4, 3, 3, 10));
        p.drawRect(QRectF(9, 3, 3, 10));
    } else if (title == QStringLiteral("⏮")) {
        p.drawRect(QRectF(2, 3, 2, 10));
        triangle(4, 9);
        triangle(9, 14);
    } else if (title == QStringLiteral("⏭")) {
        triangle(7, 2);
        triangle(12, 7);
        p.drawRect(QRectF(12, 3, 2, 10));
    } else if (title == QStringLiteral("◀")) {
        triangle(3, 13);
    } else {
        triangle(13, 3);
    }
    return QIcon(pixmap);
}

// One style object for every editor widget; Qt does not take ownership of a
// style set on a widget.
QStyle *fusion()
{
    static QPointer<QStyle> style;
    if (!style)
        style = QStyleFactory::create(QStringLiteral("Fusion"));
    return style;
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window = QColor::fromRgbF(0.12f, 0.12f, 0.12f);
    const QColor base = QColor::fromRgbF(0.08f, 0.08f, 0.08f);
    const QColor button = QColor::fromRgbF(0.22f, 0.22f, 0.22f);
    const QColor text = QColor::fromRgbF(0.92f, 0.92f, 0.92f);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, button);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor::fromRgbF(1, 1, 1, 0.4f));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(60, 110, 200));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor::fromRgbF(0.3f, 0.3f, 0.3f));
    p.setColor(QPalette::Midlight, QColor::fromRgbF(0.26f, 0.26f, 0.26f));
    p.setColor(QPalette::Mid, QColor::fromRgbF(0.18f, 0.18f, 0.18f));
    p.setColor(QPalette::Dark, QColor::fromRgbF(0.06f, 0.06f, 0.06f));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor::fromRgbF(1, 1, 1, 0.35f));
    return p;
}
} // namespace

namespace EditorStyle {

QColor lime()
{
    return QColor::fromRgbF(0.78f, 1.0f, 0.0f);
}

QColor recRed()
{
    return QColor::fromRgbF(1.0f, 0.27f, 0.23f);
}

void tint(QPushButton *button, std::optional<QColor> color)
{
    if (!button)
        return;
    if (color) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, *color);
        palette.setColor(QPalette::ButtonText, Qt::black);
        // A disabled tinted button ("Apply Crop" before a selection) must not
        // look pressable: the tint fades and the title greys out.
        // The fade mixes toward the dark window the button stands on.
        const QColor base = darkPalette().color(QPalette::Window);
        const auto mix = [](float tint, float under) { return 0.3f * tint + 0.7f * under; };
        const QColor faded = QColor::fromRgbF(
            mix(color->redF(), base.redF()), mix(color->greenF(), base.greenF()), mix(color->blueF(), base.blueF()));
        palette.setColor(QPalette::Disabled, QPalette::Button, faded);
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor::fromRgbF(1, 1, 1, 0.35f));
        button->setPalette(palette);
        button->setProperty(kTintProperty, *color);
    } else {
        button->setPalette(QPalette());
        button->setProperty(kTintProperty, QVariant());
    }
}

std::optional<QColor> tintOf(const QPushButton *button)
{
    const QVariant v = button ? button->property(kTintProperty) : QVariant();
    if (!v.isValid())
        return std::nullopt;
    return v.value<QColor>();
}

void setSymbolTitle(QPushButton *button, const QString &title)
{
    if (!button)
        return;
    button->setProperty(kTitleProperty, title);
    button->setAccessibleName(title);
    if (fontHasAll(button->font(), title)) {
        button->setIcon(QIcon());
        button->setText(title);
        return;
    }
    button->setText(QString());
    button->setIcon(symbolIcon(title, QColor::fromRgbF(0.92f, 0.92f, 0.92f)));
    button->setIconSize(QSize(16, 16));
}

QString titleOf(const QPushButton *button)
{
    if (!button)
        return {};
    const QVariant title = button->property(kTitleProperty);
    return title.isValid() ? title.toString() : button->text();
}

void applyDark(QWidget *window)
{
    if (!window)
        return;
    QStyle *style = fusion();
    if (style) {
        window->setStyle(style);
        for (QWidget *child : window->findChildren<QWidget *>())
            child->setStyle(style);
    }
    window->setPalette(darkPalette());
}

} // namespace EditorStyle
