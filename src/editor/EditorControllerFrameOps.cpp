#include "editor/EditorController.h"

#include "base/Log.h"
#include "base/Rounding.h"
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
constexpr int64_t kMinDelayMs = 10;
// The longest a GIF frame can last (65535 hundredths of a second). A typed
// delay is held to it, so a huge entry cannot overflow the project's total
// duration or send an encoder a clip of millions of years.
constexpr int64_t kMaxDelayMs = 655350;

// The selected indices that name existing frames, ascending.
std::vector<int64_t> validSelection(const std::set<int64_t> &selected, int64_t count)
{
    std::vector<int64_t> indices;
    for (const int64_t i : selected)
        if (i >= 0 && i < count)
            indices.push_back(i);
    return indices;
}

// Takes the frames at `indices` (ascending) out of `frames` and puts them back,
// in their order, starting at `target` of what remains (clamped). Returns
// where they start.
int64_t moveBlock(GifFrameList &frames, const std::vector<int64_t> &indices, int64_t target)
{
    GifFrameList moved;
    GifFrameList rest;
    moved.reserve(indices.size());
    rest.reserve(frames.size() - indices.size());
    size_t next = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (next < indices.size() && int64_t(i) == indices[next]) {
            moved.push_back(std::move(frames[i]));
            ++next;
        } else {
            rest.push_back(std::move(frames[i]));
        }
    }
    const int64_t start = std::clamp<int64_t>(target, 0, int64_t(rest.size()));
    rest.insert(rest.begin() + start, std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
    frames = std::move(rest);
    return start;
}

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
    const int64_t count = frameCount();
    if (m_selected.empty() || int64_t(m_selected.size()) >= count) {
        beep();
        return;
    }
    stopPlay();
    pushUndo();
    // One pass instead of descending single removals: the same survivors in
    // the same order, without quadratic moves on long recordings.
    GifFrameList kept;
    kept.reserve(size_t(count));
    for (int64_t i = 0; i < count; ++i)
        if (!m_selected.count(i))
            kept.push_back(std::move(m_project->frames[size_t(i)]));
    m_project->frames = std::move(kept);
    setSingleSelection(std::max<int64_t>(std::min(m_current, frameCount() - 1), 0));
    refresh();
}

void EditorController::trimBefore()
{
    if (m_current < 1 || m_current >= frameCount()) {
        beep();
        return;
    }
    stopPlay();
    pushUndo();
    auto &frames = m_project->frames;
    frames.erase(frames.begin(), frames.begin() + m_current);
    setSingleSelection(0);
    refresh();
}

void EditorController::trimAfter()
{
    if (m_current >= frameCount() - 1) {
        beep();
        return;
    }
    stopPlay();
    pushUndo();
    auto &frames = m_project->frames;
    frames.erase(frames.begin() + m_current + 1, frames.end());
    setSingleSelection(m_current);
    refresh();
}

void EditorController::reverse()
{
    const int64_t count = frameCount();
    if (count < 2)
        return;
    stopPlay();
    pushUndo();
    std::reverse(m_project->frames.begin(), m_project->frames.end());
    setSingleSelection(count - 1 - m_current);
    refresh();
}

void EditorController::reorderSelection(int64_t slot)
{
    const int64_t count = frameCount();
    const std::vector<int64_t> s = validSelection(m_selected, count);
    if (s.empty())
        return;
    // A slot past either end is that end; otherwise a drop after the last
    // frame of a block already at the end would record a move that moves
    // nothing.
    slot = std::clamp<int64_t>(slot, 0, count);
    const auto below = std::count_if(s.begin(), s.end(), [slot](int64_t i) { return i < slot; });
    const int64_t target = slot - int64_t(below);
    const bool contiguous = s.back() - s.front() + 1 == int64_t(s.size());
    if (contiguous && s.front() == target)
        return;

    moveSelectionTo(s, target);
}

void EditorController::shiftSelection(int64_t delta)
{
    const int64_t count = frameCount();
    const std::vector<int64_t> s = validSelection(m_selected, count);
    if (s.empty() || delta == 0)
        return;
    if ((delta < 0 && s.front() == 0) || (delta > 0 && s.back() + 1 > count - 1)) {
        beep();
        return;
    }
    moveSelectionTo(s, s.front() + delta);
}

void EditorController::moveSelectionTo(const std::vector<int64_t> &selection, int64_t target)
{
    stopPlay();
    pushUndo();
    const int64_t start = moveBlock(m_project->frames, selection, target);
    m_selected.clear();
    for (int64_t i = start; i < start + int64_t(selection.size()); ++i)
        m_selected.insert(i);
    m_current = m_anchor = start;
    refresh();
    scrollToCurrent();
}

// --- delays

void EditorController::applyDelay(int64_t delayMs, bool toSelectionOnly)
{
    const int64_t count = frameCount();
    std::vector<int64_t> targets;
    if (toSelectionOnly) {
        targets = validSelection(m_selected.empty() ? std::set<int64_t> {m_current} : m_selected, count);
    } else {
        for (int64_t i = 0; i < count; ++i)
            targets.push_back(i);
    }
    if (targets.empty())
        return;
    stopPlay();
    pushUndo();
    const int64_t value = std::clamp(delayMs, kMinDelayMs, kMaxDelayMs);
    for (const int64_t i : targets) {
        const GifFrameRef &frame = m_project->frames[size_t(i)];
        frame->delayMs = value;
        m_baseDelay[frame] = value;
    }
    m_speedFactor = 1.0;
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
        + bracketedList(m_selected) + QLatin1Char(')'));
    m_delayField->setText(QString::number(value));
    applyDelay(value, true);
}

void EditorController::showSpeed()
{
    const auto it = std::find(kSpeedFactors.begin(), kSpeedFactors.end(), m_speedFactor);
    m_speedPopup->setCurrentIndex(it == kSpeedFactors.end() ? kSpeedOneIndex : int(it - kSpeedFactors.begin()));
}

void EditorController::speedChanged()
{
    const int index = m_speedPopup->currentIndex();
    // No item chosen (index -1) reads as "1×" rather than outside the table.
    const double factor = index < 0 ? 1.0 : kSpeedFactors[size_t(std::min(index, int(kSpeedFactors.size()) - 1))];
    stopPlay();
    pushUndo();
    m_speedFactor = factor;
    for (const GifFrameRef &frame : m_project->frames) {
        const int64_t base = baseDelay(frame).value_or(frame->delayMs);
        frame->delayMs = std::max(roundHalfAwayToInt(double(base) / factor), kMinDelayMs);
    }
    refresh();
}

void EditorController::loopChanged()
{
    switch (m_loopPopup->currentIndex()) {
    case 1:
        m_project->loopCount = 1;
        break;
    case 2:
        m_project->loopCount = 3;
        break;
    case 3:
        m_project->loopCount = 5;
        break;
    default:
        m_project->loopCount = 0;
        break;
    }
    saveIndexIfChanged();
}
