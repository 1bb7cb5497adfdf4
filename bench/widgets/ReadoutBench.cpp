// Repaint cost of the numeric readout for a changed value, against a plain QLabel showing the same
// text in the same size, font and colours; and how many paints a batch of property changes costs.
#include "BenchRatios.h"
#include "KivIndicator.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>

#include <memory>

namespace {

TKivFont arial(int pixels, TColor color, bool bold) {
    TKivFont f;
    f.Font = QFont("Arial");
    f.Font.setPixelSize(pixels);
    f.Font.setBold(bold);
    f.Color = color;
    return f;
}

// The main window's readout, shown in a window of its own.
struct ShownReadout {
    QWidget window;
    TKivOdoMeter* meter = new TKivOdoMeter(&window);

    ShownReadout() {
        meter->BeginLoading();
        meter->setGeometry(9, 53, 344, 37);
        meter->SetColor(clNavy);
        meter->SetFont(arial(13, clWindowText, true));
        meter->SetTransparentColor(clWhite);
        meter->SetAlignment(taLeftJustify);
        meter->SetCaption("Current Wavelength");
        meter->SetCaptionWidth(140);
        meter->SetFrameColor(clWhite);
        for (TKivFrame* frame : {meter->FrameInner(), meter->FrameOuter()}) {
            frame->SetVisible(false);
            frame->SetEnabled(false);
        }
        meter->SetLayout(tlCenter);
        meter->SetShowClearButton(false);
        meter->SetValueFormat("%.3f");
        meter->SetValueUnit("nm");
        meter->SetValueUnitFont(arial(11, clWhite, false));
        meter->SetValueFont(arial(24, clFuchsia, true));
        meter->Loaded();
        window.resize(400, 120);
        window.show();
        QApplication::processEvents();
    }
};

struct ShownLabel {
    QWidget window;
    QLabel* label = new QLabel(&window);

    ShownLabel() {
        label->setGeometry(9, 53, 344, 37);
        label->setFont(arial(24, clFuchsia, true).Font);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setAutoFillBackground(true);
        QPalette p = label->palette();
        p.setColor(QPalette::Window, QColor(0, 0, 128));
        p.setColor(QPalette::WindowText, QColor(255, 0, 255));
        label->setPalette(p);
        label->setText("532.500 nm");
        window.resize(400, 120);
        window.show();
        QApplication::processEvents();
    }
};

void BM_QLabelChangedTextRepaint(benchmark::State& state) {
    ShownLabel s;
    const QString texts[2] = {QStringLiteral("532.500 nm"), QStringLiteral("532.625 nm")};
    int i = 0;
    for (auto _ : state) {
        s.label->setText(texts[i ^= 1]);
        s.label->repaint();
    }
}
BENCHMARK(BM_QLabelChangedTextRepaint);

void BM_ReadoutChangedValueRepaint(benchmark::State& state) {
    ShownReadout s;
    const Extended values[2] = {532.5, 532.625};
    int i = 0;
    const int before = s.meter->PaintCount();
    for (auto _ : state) {
        s.meter->SetValue(values[i ^= 1]);
        s.meter->repaint();
    }
    state.counters["paints_per_iteration"] =
        static_cast<double>(s.meter->PaintCount() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadoutChangedValueRepaint);

// Value, format, unit and caption changed together, then the event loop runs: one paint.
void BM_ReadoutBatchOfChanges(benchmark::State& state) {
    ShownReadout s;
    const Extended values[2] = {532.5, 532.625};
    const QString formats[2] = {QStringLiteral("%.3f"), QStringLiteral("%.2f")};
    const QString units[2] = {QStringLiteral("nm"), QStringLiteral("pm")};
    const QString captions[2] = {QStringLiteral("Current Wavelength"), QStringLiteral("Wavelength")};
    int i = 0;
    const int before = s.meter->PaintCount();
    for (auto _ : state) {
        i ^= 1;
        s.meter->SetValue(values[i]);
        s.meter->SetValueFormat(formats[i]);
        s.meter->SetValueUnit(units[i]);
        s.meter->SetCaption(captions[i]);
        QApplication::processEvents();
    }
    state.counters["paints_per_batch"] =
        static_cast<double>(s.meter->PaintCount() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadoutBatchOfChanges);

void BM_QLabelBatchOfChanges(benchmark::State& state) {
    ShownLabel s;
    const QString texts[2] = {QStringLiteral("532.500 nm"), QStringLiteral("532.63 pm")};
    const Qt::Alignment alignments[2] = {Qt::AlignRight | Qt::AlignVCenter, Qt::AlignLeft | Qt::AlignVCenter};
    int i = 0;
    for (auto _ : state) {
        i ^= 1;
        s.label->setText(texts[i]);
        s.label->setAlignment(alignments[i]);
        s.label->setIndent(i);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_QLabelBatchOfChanges);

const RatioRegistration repaintRatio("BM_ReadoutChangedValueRepaint", "BM_QLabelChangedTextRepaint",
                                     "goal: within 3");
const RatioRegistration batchRatio("BM_ReadoutBatchOfChanges", "BM_QLabelBatchOfChanges",
                                   "for information; one paint per batch");

} // namespace
