#include "editor/EditorStyle.h"

#include <QPalette>
#include <QPushButton>
#include <QVariant>

namespace {
constexpr const char *kTintProperty = "quilloTint";
}

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

} // namespace EditorStyle
