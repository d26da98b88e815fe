// dialog_bench.cpp - the cost of one live step of the dialog on its real window (offscreen
// platform): a slider action (store the value, set the legend, render the preview, have the
// control redrawn) and a drag step (store the region, render, draw the preview at once), at
// the NTSC and HD preview sizes. The region is the whole frame, the worst case.
#include "DialogFixture.h"

#include "callpixelfx.h"
#include "dlgUtils.h"
#include "relrects.h"
#include "sliderHandlers.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace dialog_test;
namespace ui = toolbox::ui::testing;

namespace {

struct Setup {
    explicit Setup(SInt16 media, int w, int h) {
        ResetConfig(&config, true);
        config.mediaType = media;
        dialog = std::make_unique<OpenDialog>(&config, host, w, h);
    }
    tessera_test::TempConfigHome home;
    pluginDataRec config{};
    FrameHost host{30};
    std::unique_ptr<OpenDialog> dialog;
};

void SliderStep(benchmark::State& state) {
    const bool hd = state.range(0) != 0;
    Setup s(hd ? 3 : 1, hd ? 960 : 720, hd ? 540 : 480);
    ControlRef slider = Control(s.dialog->window, "Sldr", 1);
    SInt32 v = 5;
    for (auto _ : state) {
        v = v == 5 ? 6 : 5;
        SetControl32BitValue(slider, v);
        Slider1Action(slider, kControlIndicatorPart);
        ui::ProcessEvents(); // the redraw the value flip asked for
    }
}

void DragStep(benchmark::State& state) {
    const bool hd = state.range(0) != 0;
    Setup s(hd ? 3 : 1, hd ? 960 : 720, hd ? 540 : 480);
    const Rect bounds = s.dialog->preview;
    relRect rel = s.config.startRel;
    for (auto _ : state) {
        rel.right = rel.right < 1.0 ? 1.0 : 0.999;
        PutCurrentRel(rel);
        CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
        DrawFrameContents(s.dialog->window, bounds);
        QDFlushPortBuffer(GetWindowPort(s.dialog->window), nullptr);
    }
}

BENCHMARK(SliderStep)->Arg(0)->Arg(1)->ArgName("hd")->Unit(benchmark::kMillisecond);
BENCHMARK(DragStep)->Arg(0)->Arg(1)->ArgName("hd")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!ui::StartWindowing()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
