#pragma once

#include "model/GifProject.h"

#include <QImage>
#include <Qt>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

// What the editor edits, without any window: the project, the current frame
// and the selection, the un-scaled delays behind the speed control, and the
// undo history. The editor window drives it and redraws from it.
//
// Every edit checks its preconditions first and returns whether it acted; one
// that returns false changed nothing and recorded nothing, so the caller can
// beep. Every edit that acts is one undo step.
//
// revision() goes up whenever the frames, their delays or the loop count
// change (selection and navigation leave it), so a caller can tell whether
// there is something new to save. Changes made straight through project()
// are not seen by it.
//
// GUI thread only, like the project it holds.
class EditorDocument {
public:
    // The number of undo entries kept after an edit is recorded.
    static constexpr size_t maxUndo = 50;
    // The shortest delay an edit gives a frame.
    static constexpr int64_t minDelayMs = 10;
    // The longest a GIF frame can last (65535 hundredths of a second). A typed
    // delay is held to it, so a huge entry cannot overflow the project's total
    // duration or send an encoder a clip of millions of years.
    static constexpr int64_t maxDelayMs = 655350;

    // One step of the history: the frames, and the speed in force with the
    // un-scaled delays behind it (one per frame, in order), so that after an
    // undo the speed shown is that of the restored delays and a new speed
    // still scales the delays it was recorded from.
    struct HistoryEntry {
        GifFrameList frames;
        std::vector<int64_t> baseDelays;
        double speedFactor = 1.0;
    };

    // A null project stands for an empty one. Frame 0 starts out selected.
    explicit EditorDocument(GifProjectRef project);

    // --- state
    const GifProjectRef &project() const { return m_project; }
    int64_t frameCount() const { return int64_t(m_project->frames.size()); }
    // Always a valid index once frames exist; 0 without frames.
    int64_t current() const { return m_current; }
    const std::set<int64_t> &selected() const { return m_selected; }
    int64_t anchor() const { return m_anchor; }
    double speedFactor() const { return m_speedFactor; }
    // The un-scaled delay recorded for this frame object, if any.
    std::optional<int64_t> baseDelay(const GifFrameRef &frame) const;
    size_t undoDepth() const { return m_undoStack.size(); }
    size_t redoDepth() const { return m_redoStack.size(); }
    uint64_t revision() const { return m_revision; }

    // --- selection and navigation
    // A click on a frame: Shift extends from the anchor (and wins over
    // Control, which toggles one frame and moves the anchor there); a plain
    // click selects just that frame. False for an index outside the frames.
    bool select(int64_t index, Qt::KeyboardModifiers modifiers);
    void selectFirst();
    void selectLast();
    void selectPrev();
    void selectNext();
    void selectAll();
    // Makes exactly these frames (those that exist) the selection; the current
    // frame and the anchor stay.
    void setSelection(const std::set<int64_t> &indices);
    // The frame on show, e.g. while playing: the selection stays. Clamped to
    // the frames.
    void setCurrent(int64_t index);

    // --- history
    // Records the present frames; every edit calls it once, after its
    // preconditions passed and before it changes anything. A new record drops
    // what could be redone.
    void pushUndo();
    bool undo();
    bool redo();
    // Adopts the entry's frames, base delays and speed; the current frame
    // stays where it can and becomes the only selected one.
    void applyRestored(HistoryEntry entry);
    // Starts over with these frames: no history, 1x, each frame's own delay
    // as its base, frame 0 selected.
    void reset(GifFrameList frames);

    // --- frame operations
    // Refused when nothing or every frame is selected.
    bool deleteSelected();
    // Drop the frames before / after the current one; refused when there are none.
    bool trimBefore();
    bool trimAfter();
    // Needs two frames; the current frame follows its frame.
    bool reverse();
    // Moves the selection as one block into `slot`, a gap of the frame list
    // before the move: 0 is before the first frame, count after the last.
    // False when that would move nothing.
    bool reorderSelection(int64_t slot);
    // Moves the selection as one block by `delta` places. False when there is
    // nothing to move, or when shiftBlocked() (the refusal worth a beep).
    bool shiftSelection(int64_t delta);
    // True when the selected block already touches the end `delta` points to.
    bool shiftBlocked(int64_t delta) const;
    // Gives the selected frames (the current one without a selection), or all
    // frames, this delay held to [minDelayMs, maxDelayMs]. It becomes their
    // base delay and the speed goes back to 1x.
    bool applyDelay(int64_t delayMs, bool toSelectionOnly);
    // Every frame's delay becomes its base delay divided by `factor`, rounded,
    // at least minDelayMs; so speeds never compound. Refused for a factor
    // that is not a positive number.
    bool setSpeed(double factor);
    // Outside the history: the loop count only matters to the exported file.
    // False when it is already that.
    bool setLoopCount(int64_t loopCount);
    // Gives every frame what `op` makes of its picture, behind one undo step;
    // false (nothing changed) when the frame store failed.
    bool replacePixels(const std::function<QImage(const QImage &)> &op);

private:
    HistoryEntry historyEntry() const;
    void rebuildBaseDelays();
    void setSingleSelection(int64_t index);
    // Moves the (valid, sorted) selection as one block to `target`, records it
    // and selects the moved frames.
    void moveSelectionTo(const std::vector<int64_t> &selection, int64_t target);
    void changed() { ++m_revision; }

    GifProjectRef m_project;
    int64_t m_current = 0;
    std::set<int64_t> m_selected {0};
    int64_t m_anchor = 0;

    // Keyed by frame object: the owner-based order of weak_ptr is exact
    // identity, and an entry of a frame that has left keeps its key distinct
    // from any frame made later.
    std::map<std::weak_ptr<GifFrame>, int64_t, std::owner_less<std::weak_ptr<GifFrame>>> m_baseDelay;
    double m_speedFactor = 1.0;

    std::vector<HistoryEntry> m_undoStack;
    std::vector<HistoryEntry> m_redoStack;

    uint64_t m_revision = 0;
};
