#include "editor/EditorDocument.h"

#include "base/Rounding.h"

#include <algorithm>
#include <cmath>

namespace {

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

} // namespace

EditorDocument::EditorDocument(GifProjectRef project)
    : m_project(project ? std::move(project) : std::make_shared<GifProject>(GifFrameList {}, 0))
{
    rebuildBaseDelays();
}

std::optional<int64_t> EditorDocument::baseDelay(const GifFrameRef &frame) const
{
    const auto it = m_baseDelay.find(frame);
    if (it == m_baseDelay.end())
        return std::nullopt;
    return it->second;
}

void EditorDocument::rebuildBaseDelays()
{
    m_baseDelay.clear();
    for (const GifFrameRef &frame : m_project->frames)
        m_baseDelay[frame] = frame->delayMs;
}

// --- selection and navigation

void EditorDocument::setSingleSelection(int64_t index)
{
    m_current = index;
    m_selected = {index};
    m_anchor = index;
}

bool EditorDocument::select(int64_t index, Qt::KeyboardModifiers modifiers)
{
    if (index < 0 || index >= frameCount())
        return false;
    if (modifiers & Qt::ShiftModifier) {
        m_selected.clear();
        for (int64_t i = std::min(m_anchor, index); i <= std::max(m_anchor, index); ++i)
            m_selected.insert(i);
    } else if (modifiers & Qt::ControlModifier) {
        if (!m_selected.erase(index))
            m_selected.insert(index);
        m_anchor = index;
    } else {
        m_selected = {index};
        m_anchor = index;
    }
    if (m_selected.empty())
        m_selected = {index};
    m_current = index;
    return true;
}

void EditorDocument::selectFirst()
{
    setSingleSelection(0);
}

void EditorDocument::selectLast()
{
    setSingleSelection(std::max<int64_t>(frameCount() - 1, 0));
}

void EditorDocument::selectPrev()
{
    setSingleSelection(std::max<int64_t>(m_current - 1, 0));
}

void EditorDocument::selectNext()
{
    // Kept at 0 for an empty project, where "count - 1" would be -1.
    setSingleSelection(std::max<int64_t>(std::min(m_current + 1, frameCount() - 1), 0));
}

void EditorDocument::selectAll()
{
    m_selected.clear();
    for (int64_t i = 0; i < frameCount(); ++i)
        m_selected.insert(i);
    m_anchor = 0;
}

void EditorDocument::setSelection(const std::set<int64_t> &indices)
{
    const std::vector<int64_t> valid = validSelection(indices, frameCount());
    m_selected = std::set<int64_t>(valid.begin(), valid.end());
}

void EditorDocument::setCurrent(int64_t index)
{
    m_current = frameCount() > 0 ? std::clamp<int64_t>(index, 0, frameCount() - 1) : 0;
}

// --- history

EditorDocument::HistoryEntry EditorDocument::historyEntry() const
{
    HistoryEntry entry {m_project->snapshot(), {}, m_speedFactor};
    entry.baseDelays.reserve(m_project->frames.size());
    for (const GifFrameRef &frame : m_project->frames)
        entry.baseDelays.push_back(baseDelay(frame).value_or(frame->delayMs));
    return entry;
}

void EditorDocument::pushUndo()
{
    m_undoStack.push_back(historyEntry());
    if (m_undoStack.size() > maxUndo)
        m_undoStack.erase(m_undoStack.begin());
    m_redoStack.clear();
}

bool EditorDocument::undo()
{
    if (m_undoStack.empty())
        return false;
    HistoryEntry entry = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    // The way back is not capped: it can never outgrow the undo history.
    m_redoStack.push_back(historyEntry());
    applyRestored(std::move(entry));
    return true;
}

bool EditorDocument::redo()
{
    if (m_redoStack.empty())
        return false;
    HistoryEntry entry = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    m_undoStack.push_back(historyEntry());
    applyRestored(std::move(entry));
    return true;
}

void EditorDocument::applyRestored(HistoryEntry entry)
{
    m_project->restore(std::move(entry.frames));
    rebuildBaseDelays();
    if (entry.baseDelays.size() == m_project->frames.size()) {
        for (size_t i = 0; i < entry.baseDelays.size(); ++i)
            m_baseDelay[m_project->frames[i]] = entry.baseDelays[i];
    }
    m_speedFactor = entry.speedFactor;
    m_current = std::min(m_current, std::max<int64_t>(frameCount() - 1, 0));
    if (frameCount() > 0)
        m_selected = {m_current};
    else
        m_selected.clear();
    m_anchor = m_current;
    changed();
}

void EditorDocument::reset(GifFrameList frames)
{
    m_project->frames = std::move(frames);
    rebuildBaseDelays();
    m_speedFactor = 1.0;
    m_undoStack.clear();
    m_redoStack.clear();
    setSingleSelection(0);
    changed();
}

// --- deletion, trimming, order

bool EditorDocument::deleteSelected()
{
    const int64_t count = frameCount();
    if (m_selected.empty() || int64_t(m_selected.size()) >= count)
        return false;
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
    changed();
    return true;
}

bool EditorDocument::trimBefore()
{
    if (m_current < 1 || m_current >= frameCount())
        return false;
    pushUndo();
    auto &frames = m_project->frames;
    frames.erase(frames.begin(), frames.begin() + m_current);
    setSingleSelection(0);
    changed();
    return true;
}

bool EditorDocument::trimAfter()
{
    if (m_current >= frameCount() - 1)
        return false;
    pushUndo();
    auto &frames = m_project->frames;
    frames.erase(frames.begin() + m_current + 1, frames.end());
    setSingleSelection(m_current);
    changed();
    return true;
}

bool EditorDocument::reverse()
{
    const int64_t count = frameCount();
    if (count < 2)
        return false;
    pushUndo();
    std::reverse(m_project->frames.begin(), m_project->frames.end());
    setSingleSelection(count - 1 - m_current);
    changed();
    return true;
}

bool EditorDocument::reorderSelection(int64_t slot)
{
    const int64_t count = frameCount();
    const std::vector<int64_t> s = validSelection(m_selected, count);
    if (s.empty())
        return false;
    // A slot past either end is that end; otherwise a drop after the last
    // frame of a block already at the end would record a move that moves
    // nothing.
    slot = std::clamp<int64_t>(slot, 0, count);
    const auto below = std::count_if(s.begin(), s.end(), [slot](int64_t i) { return i < slot; });
    const int64_t target = slot - int64_t(below);
    const bool contiguous = s.back() - s.front() + 1 == int64_t(s.size());
    if (contiguous && s.front() == target)
        return false;
    moveSelectionTo(s, target);
    return true;
}

bool EditorDocument::shiftBlocked(int64_t delta) const
{
    const std::vector<int64_t> s = validSelection(m_selected, frameCount());
    if (s.empty() || delta == 0)
        return false;
    return (delta < 0 && s.front() == 0) || (delta > 0 && s.back() + 1 > frameCount() - 1);
}

bool EditorDocument::shiftSelection(int64_t delta)
{
    const std::vector<int64_t> s = validSelection(m_selected, frameCount());
    if (s.empty() || delta == 0 || shiftBlocked(delta))
        return false;
    moveSelectionTo(s, s.front() + delta);
    return true;
}

void EditorDocument::moveSelectionTo(const std::vector<int64_t> &selection, int64_t target)
{
    pushUndo();
    const int64_t start = moveBlock(m_project->frames, selection, target);
    m_selected.clear();
    for (int64_t i = start; i < start + int64_t(selection.size()); ++i)
        m_selected.insert(i);
    m_current = m_anchor = start;
    changed();
}

// --- delays, speed, loop

bool EditorDocument::applyDelay(int64_t delayMs, bool toSelectionOnly)
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
        return false;
    pushUndo();
    const int64_t value = std::clamp(delayMs, minDelayMs, maxDelayMs);
    for (const int64_t i : targets) {
        const GifFrameRef &frame = m_project->frames[size_t(i)];
        frame->delayMs = value;
        m_baseDelay[frame] = value;
    }
    m_speedFactor = 1.0;
    changed();
    return true;
}

bool EditorDocument::setSpeed(double factor)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return false;
    pushUndo();
    m_speedFactor = factor;
    for (const GifFrameRef &frame : m_project->frames) {
        const int64_t base = baseDelay(frame).value_or(frame->delayMs);
        frame->delayMs = std::max(roundHalfAwayToInt(double(base) / factor), minDelayMs);
    }
    changed();
    return true;
}

bool EditorDocument::setLoopCount(int64_t loopCount)
{
    if (m_project->loopCount == loopCount)
        return false;
    m_project->loopCount = loopCount;
    changed();
    return true;
}

bool EditorDocument::replacePixels(const std::function<QImage(const QImage &)> &op)
{
    // Every new picture exists before anything changes: a store that fails
    // halfway leaves the frames and the history as they were.
    const std::optional<FrameRefList> pixels = m_project->transformedPixels(op);
    if (!pixels)
        return false;
    pushUndo();
    for (size_t i = 0; i < m_project->frames.size(); ++i)
        m_project->frames[i]->setPixels((*pixels)[i]);
    changed();
    return true;
}
