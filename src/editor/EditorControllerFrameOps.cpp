#include "editor/EditorController.h"

#include "base/Log.h"
#include "editor/EditorContentView.h"
#include "editor/TextFieldValue.h"
#include "model/Arith.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <array>

namespace {

// The speed pop-up's items, in order: "0.25×" ... "4×".
constexpr std::array<double, 8> kSpeedFactors {0.25, 0.5, 1.0, 1.2, 1.5, 1.75, 2.0, 4.0};
constexpr int kSpeedOneIndex = 2;
constexpr int64_t kMinDelayMs = EditorDocument::minDelayMs;
constexpr int64_t kMaxDelayMs = EditorDocument::maxDelayMs;

QString bracketedList(const std::set<int64_t> &values)
{
    QStringList parts;
    for (const int64_t v : values)
        parts << QString::number(v);
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

} // namespace

// --- deletion, trimming, order

void EditorController::deleteSelected()
{
    if (!m_doc.deleteSelected()) {
        beep();
        return;
    }
    stopPlay();
    refresh();
}

void EditorController::trimBefore()
{
    if (!m_doc.trimBefore()) {
        beep();
        return;
    }
    stopPlay();
    refresh();
}

void EditorController::trimAfter()
{
    if (!m_doc.trimAfter()) {
        beep();
        return;
    }
    stopPlay();
    refresh();
}

void EditorController::reverse()
{
    if (!m_doc.reverse())
        return;
    stopPlay();
    refresh();
}

void EditorController::reorderSelection(int64_t slot)
{
    if (!m_doc.reorderSelection(slot))
        return;
    stopPlay();
    refresh();
    scrollToCurrent();
}

void EditorController::shiftSelection(int64_t delta)
{
    if (!m_doc.shiftSelection(delta)) {
        if (m_doc.shiftBlocked(delta))
            beep();
        return;
    }
    stopPlay();
    refresh();
    scrollToCurrent();
}

// --- delays

void EditorController::applyDelay(int64_t delayMs, bool toSelectionOnly)
{
    if (!m_doc.applyDelay(delayMs, toSelectionOnly))
        return;
    stopPlay();
    showSpeed();
    refresh();
}

void EditorController::commitDelayField(bool toSelectionOnly)
{
    const QString text = m_delayField->text();
    const int64_t value
        = std::clamp(Arith::evalInt(text).value_or(TextFieldValue::leadingInteger(text)), kMinDelayMs, kMaxDelayMs);
    m_delayField->setText(QString::number(value));
    applyDelay(value, toSelectionOnly);
    // Hand the keys back to the window so its shortcuts work again.
    m_content->setFocus(Qt::OtherFocusReason);
}

void EditorController::delayCommitted()
{
    commitDelayField(true);
}

void EditorController::applyDelayToAll()
{
    commitDelayField(false);
}

void EditorController::delayStepped()
{
    const int64_t value = std::max<int64_t>(m_delayStepper->value(), kMinDelayMs);
    Log::write(QStringLiteral("delayStepped → ") + QString::number(value) + QStringLiteral(" (selected ")
        + bracketedList(m_doc.selected()) + QLatin1Char(')'));
    m_delayField->setText(QString::number(value));
    applyDelay(value, true);
}

void EditorController::showSpeed()
{
    const auto it = std::find(kSpeedFactors.begin(), kSpeedFactors.end(), m_doc.speedFactor());
    m_speedPopup->setCurrentIndex(it == kSpeedFactors.end() ? kSpeedOneIndex : int(it - kSpeedFactors.begin()));
}

void EditorController::speedChanged()
{
    const int index = m_speedPopup->currentIndex();
    // No item chosen (index -1) reads as "1×" rather than outside the table.
    const double factor = index < 0 ? 1.0 : kSpeedFactors[size_t(std::min(index, int(kSpeedFactors.size()) - 1))];
    stopPlay();
    if (m_doc.setSpeed(factor))
        refresh();
}

void EditorController::loopChanged()
{
    switch (m_loopPopup->currentIndex()) {
    case 1:
        m_doc.setLoopCount(1);
        break;
    case 2:
        m_doc.setLoopCount(3);
        break;
    case 3:
        m_doc.setLoopCount(5);
        break;
    default:
        m_doc.setLoopCount(0);
        break;
    }
    saveIndexIfChanged();
}
