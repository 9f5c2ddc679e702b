#include "editor/EditorController.h"

#include "editor/TextFieldValue.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QWindow>

// The two checks that drive the real resize sheet: typing into its width field
// and tabbing away, and whether keys sent to the sheet's window reach that
// field. Both fix the aspect ratio at 2, as the field check does, so that
// their expectations read the same on any project.

namespace {

constexpr double kCheckAspect = 2;

bool settle(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

int64_t fieldInt(const QLineEdit *field)
{
    return field ? TextFieldValue::leadingInteger(field->text()) : 0;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Focus reaches widgets only in the active window. Without a window manager
// the activation comes from the X server a moment later; if it never comes,
// make the window active on Qt's side.
void activate(QWidget *window)
{
    window->raise();
    window->activateWindow();
    if (!settle([window] { return window->isActiveWindow(); }, 3000)) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(window);
        QT_WARNING_POP
        settle([window] { return window->isActiveWindow(); }, 1000);
    }
}

void focusField(QLineEdit *field)
{
    field->setFocus(Qt::TabFocusReason);
    settle([field] { return field->hasFocus(); }, 1000);
}

} // namespace

QStringList EditorController::runResizeSheetRealTest()
{
    m_window->show();
    activate(m_window.get());
    openResize();
    QDialog *sheet = m_resizeSheet;
    if (!sheet || !m_resizeWidth || !m_resizeHeight)
        return {QStringLiteral("FAIL: no resize sheet")};
    m_resizeBaseAspect = kCheckAspect;
    settle([sheet] { return sheet->isVisible(); }, 1000);
    activate(sheet);

    QStringList lines;
    const auto typeAndTab = [&](const QString &text, const QString &expect) {
        focusField(m_resizeWidth);
        // The line edit is its own field editor: replace its text as typing would.
        m_resizeWidth->selectAll();
        m_resizeWidth->insert(text);
        focusField(m_resizeHeight);
        lines << QStringLiteral("SHEET type '") + text + QStringLiteral("' in W, tab to H → W=")
                + QString::number(fieldInt(m_resizeWidth)) + QStringLiteral(" H=")
                + QString::number(fieldInt(m_resizeHeight)) + QStringLiteral("  (expect ") + expect + QLatin1Char(')');
    };
    typeAndTab(QStringLiteral("1920/2"), QStringLiteral("960/480"));
    typeAndTab(QStringLiteral("435"), QStringLiteral("435/~218"));
    endResizeSheet();
    return lines;
}

QStringList EditorController::runResizeKeyRoutingTest()
{
    openResize();
    QDialog *sheet = m_resizeSheet;
    if (!sheet || !m_resizeWidth || !m_resizeHeight)
        return {QStringLiteral("FAIL: no sheet")};
    m_resizeBaseAspect = kCheckAspect;
    settle([sheet] { return sheet->isVisible(); }, 1000);
    activate(sheet);
    focusField(m_resizeWidth);
    // As on entering a field: its text is selected, so typing replaces it.
    m_resizeWidth->selectAll();

    QStringList lines;
    const QWidget *key = QApplication::activeWindow();
    lines << QStringLiteral("sheet.isKeyWindow=") + boolText(sheet->isActiveWindow())
            + QStringLiteral("  NSApp.keyWindow=") + (key ? key->windowTitle() : QStringLiteral("nil"));
    const QWidget *focus = QApplication::focusWidget();
    lines << QStringLiteral("sheet.firstResponder=")
            + (focus ? QString::fromLatin1(focus->metaObject()->className()) : QStringLiteral("nil"))
            + QStringLiteral("  width.currentEditor!=nil:") + boolText(m_resizeWidth->hasFocus());

    // Through the sheet's window, as the window system delivers typed keys:
    // Qt hands them to whatever has the focus there.
    QWindow *target = sheet->windowHandle();
    for (const auto &[code, text] : {std::pair {Qt::Key_4, QStringLiteral("4")},
             std::pair {Qt::Key_3, QStringLiteral("3")}, std::pair {Qt::Key_5, QStringLiteral("5")}}) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
        if (target) {
            QApplication::sendEvent(target, &press);
            QApplication::sendEvent(target, &release);
        }
    }
    QApplication::processEvents();
    const QString typed = m_resizeWidth->hasFocus() ? m_resizeWidth->text() : QStringLiteral("nil");
    lines << QStringLiteral("after NSApp.sendEvent 4/3/5 → editor.string='") + typed + QStringLiteral("' stringValue='")
            + m_resizeWidth->text() + QLatin1Char('\'');

    focusField(m_resizeHeight);
    lines << QStringLiteral("after tab → W=") + QString::number(fieldInt(m_resizeWidth)) + QStringLiteral(" H=")
            + QString::number(fieldInt(m_resizeHeight));
    endResizeSheet();
    return lines;
}
