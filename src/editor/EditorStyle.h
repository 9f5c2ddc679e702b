#pragma once

#include <QColor>

#include <optional>

class QPushButton;

// The editor's colours and the button tint. The two colours are the program's
// interface palette (the recording frame draws with the same values); the
// editor keeps its own copy because it does not depend on the recording-frame
// layer.
namespace EditorStyle {

QColor lime();
QColor recRed();

// Tints a push button, or removes its tint when `color` is empty.
void tint(QPushButton *button, std::optional<QColor> color);
// The tint last set on the button, if any.
std::optional<QColor> tintOf(const QPushButton *button);

} // namespace EditorStyle
