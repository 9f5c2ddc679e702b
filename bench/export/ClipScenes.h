#pragma once

#include <QImage>
#include <QSize>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Synthetic screen recordings for the export benchmark, drawn in code so that
// no material has to be downloaded. Every scene is laid out for 640 x 420 and
// scaled to the size asked for, so the large clips show the same content at a
// higher pixel density. Deterministic: the same name and size always give the
// same pixels and delays. Needs a QGuiApplication (text is drawn).
//
//   typing     a window that stays put while text is typed into it: a few
//              glyphs, the caret and the status line change per frame.
//   scrolling  a page of text and shapes moving up under a fixed toolbar.
//   video      a player window whose picture (half the frame) changes in
//              every pixel: slowly drifting colour fields and noise.
//
// Consecutive frames always differ, so an encoder that merges identical frames
// still produces one output frame per source frame and decoded GIFs can be
// compared with their sources frame by frame.
namespace ClipScenes {

inline constexpr int FRAMES = 300;

struct Clip {
    // The rate the recording was made at; the delays vary around 1000 / fps.
    int fps = 0;
    // One per frame, each at least 20 ms.
    std::vector<int> delaysMs;
    // Frame `index` (0 to FRAMES - 1), opaque, Format_ARGB32_Premultiplied
    // like a captured frame.
    std::function<QImage(int index)> frame;
};

// "typing", "scrolling", "video".
QStringList names();
// Absent for an unknown name.
std::optional<Clip> make(const QString &name, QSize size);

} // namespace ClipScenes
