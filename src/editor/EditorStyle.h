#pragma once

#include <QColor>

#include <optional>

class QPushButton;
class QWidget;

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

// Gives a transport button ("⏮", "◀", "▶", "⏸", "⏭") its title. Where the
// button's font has no glyph for the symbol, the symbol is drawn as an icon
// instead of showing a missing-glyph box; titleOf() still answers the title,
// which is also the button's accessible name.
void setSymbolTitle(QPushButton *button, const QString &title);
QString titleOf(const QPushButton *button);

// The dark appearance: the Fusion style on `window` and every widget in it,
// and a dark palette that its children inherit. Call again after adding
// widgets that should match.
void applyDark(QWidget *window);

} // namespace EditorStyle
