// Editing a long recording: 3,000 frames of 640 x 420, the capture limit at
// the default region size. Every operation is timed through the controller, so
// the history snapshot and the refresh of the views are part of each number.
//
// Run: QT_QPA_PLATFORM=offscreen ./editor_bench
#include "editor/EditorController.h"
#include "editor/FramePreviewView.h"
#include "model/SelfTestProject.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kFrames = 3000;
constexpr int kW = 640;
constexpr int kH = 420;

// Thirty distinct pictures cycled over the frames: pixel work reads real
// content while the set-up stays far below the 3 GB of 3,000 unique images.
const std::vector<QImage> &pictures()
{
    static const std::vector<QImage> images = [] {
        std::vector<QImage> v;
        for (int i = 0; i < 30; ++i)
            v.push_back(makeSelfTestFrame(i).scaled(kW, kH).convertToFormat(QImage::Format_ARGB32_Premultiplied));
        return v;
    }();
    return images;
}

std::unique_ptr<EditorController> makeEditor()
{
    GifFrameList frames;
    frames.reserve(kFrames);
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(std::make_shared<GifFrame>(pictures()[size_t(i % 30)], 60));
    return std::make_unique<EditorController>(std::make_shared<GifProject>(std::move(frames), 15));
}

void BM_Reverse(benchmark::State &state)
{
    auto editor = makeEditor();
    for (auto _ : state)
        editor->reverse();
}

void BM_DeleteHalf(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto editor = makeEditor();
        editor->selectFrame(0, Qt::NoModifier);
        editor->selectFrame(kFrames / 2 - 1, Qt::ShiftModifier);
        state.ResumeTiming();
        editor->deleteSelected();
        state.PauseTiming();
        editor.reset();
        state.ResumeTiming();
    }
}

void BM_SpeedChange(benchmark::State &state)
{
    auto editor = makeEditor();
    int i = 0;
    for (auto _ : state) {
        editor->speedPopup()->setCurrentIndex(i++ % 2 ? 6 : 7);
        editor->speedChanged();
    }
}

void BM_Undo(benchmark::State &state)
{
    auto editor = makeEditor();
    for (auto _ : state) {
        state.PauseTiming();
        editor->applyDelay(80, false);
        state.ResumeTiming();
        editor->undoAction();
    }
}

void BM_CropAll(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto editor = makeEditor();
        editor->preview()->resize(1000, 700);
        editor->enterCrop();
        const Rect d = *editor->preview()->imageDrawRect();
        const double s = d.width / kW;
        // Pixels (40, 30, 560, 360) of the frame on show.
        editor->preview()->setCropRect(Rect {d.x + 40 * s, d.y + 30 * s, 560 * s, 360 * s});
        state.ResumeTiming();
        editor->applyCrop();
        state.PauseTiming();
        editor.reset();
        state.ResumeTiming();
    }
}

void BM_ResizeAll(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto editor = makeEditor();
        editor->openResize();
        editor->resizeLock()->setChecked(false);
        editor->resizeWidth()->setText(QStringLiteral("320"));
        editor->resizeHeight()->setText(QStringLiteral("210"));
        state.ResumeTiming();
        editor->applyResize();
        state.PauseTiming();
        editor.reset();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_Reverse)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_DeleteHalf)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SpeedChange)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Undo)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_CropAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ResizeAll)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
