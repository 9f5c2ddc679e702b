#pragma once

#include "editor/EditorController.h"

#include <QImage>

#include <algorithm>
#include <memory>
#include <vector>

// n frames of w x h, each filled with its own grey so images can be told apart.
inline GifProjectRef makeProject(int n, int w = 8, int h = 6, int64_t delayMs = 60)
{
    GifFrameList frames;
    for (int i = 0; i < n; ++i) {
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(i % 256, 0, 0));
        frames.push_back(std::make_shared<GifFrame>(image, delayMs));
    }
    return std::make_shared<GifProject>(std::move(frames), 15);
}

inline std::vector<int64_t> delaysOf(const GifProject &project)
{
    std::vector<int64_t> delays;
    for (const GifFrameRef &f : project.frames)
        delays.push_back(f->delayMs);
    return delays;
}

// The positions, in `original`, of the frame objects now in `project`.
inline std::vector<int> orderOf(const GifProject &project, const GifFrameList &original)
{
    std::vector<int> order;
    for (const GifFrameRef &f : project.frames) {
        const auto it = std::find(original.begin(), original.end(), f);
        order.push_back(it == original.end() ? -1 : int(it - original.begin()));
    }
    return order;
}

// Selects `indices` with plain and Ctrl-clicks, the last one becoming current.
inline void clickSelect(EditorController &c, const std::vector<int64_t> &indices)
{
    for (size_t i = 0; i < indices.size(); ++i)
        c.selectFrame(indices[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
}
