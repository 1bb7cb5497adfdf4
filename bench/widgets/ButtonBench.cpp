// Repaint cost of a skinned image button (the main window's look: shared skinner, 16-pixel image,
// Arial caption) against a plain QPushButton of the same size, measured in the same run; and the
// number of paints a batch of property changes causes. Ratios are printed as counters.
#include "ImageList.h"
#include "KivButton.h"
#include "KivLEDBtn.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct Scene {
    QWidget parent;
    TKivBtnSkinner skinner;
    TImageList images{16, 16};
    TKivBitBtn* skinned;
    QPushButton* plain;
    QImage target{120, 34, QImage::Format_ARGB32_Premultiplied};

    Scene() {
        parent.resize(300, 100);
        parent.setAutoFillBackground(true);
        skinner.SetFixedWidth(4);
        skinner.SetFixedHeight(4);
        skinner.SetTransparentColor(clFuchsia);
        skinner.SetBitmapNormal(QImage(":/orvane/skin/normal.bmp"));
        images.SetImage(74, QImage(":/orvane/iml16/74.png"));
        QFont arial("Arial");
        arial.setPixelSize(13);
        skinned = new TKivBitBtn(&parent);
        skinned->setGeometry(10, 10, 120, 34);
        skinned->setFont(arial);
        skinned->setText("MOVE");
        skinned->SetSkinner(&skinner);
        skinned->SetImages(&images);
        skinned->SetImageIndex(74);
        plain = new QPushButton("MOVE", &parent);
        plain->setGeometry(10, 50, 120, 34);
        plain->setFont(arial);
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

double timeRenders(QWidget* w, int n) {
    QImage& img = scene().target;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        w->render(&img);
    return double(t.nsecsElapsed()) / n;
}

void BM_PlainPushButtonRepaint(benchmark::State& state) {
    for (auto _ : state)
        scene().plain->render(&scene().target);
}
BENCHMARK(BM_PlainPushButtonRepaint);

void BM_SkinnedBitButtonRepaint(benchmark::State& state) {
    Scene& s = scene();
    for (auto _ : state)
        s.skinned->render(&s.target);
    // The baseline again, in this run, so the ratio does not depend on the order of benchmarks.
    // Rounds alternate between the two and each keeps its best round: on a shared machine a
    // single short round is often slowed by someone else.
    double plain = 0, skinned = 0;
    for (int round = 0; round < 10; ++round) {
        const double p = timeRenders(s.plain, 100), k = timeRenders(s.skinned, 100);
        plain = round == 0 ? p : std::min(plain, p);
        skinned = round == 0 ? k : std::min(skinned, k);
    }
    state.counters["ratio_to_QPushButton"] = skinned / plain;
    state.counters["goal_max"] = 3.0;
}
BENCHMARK(BM_SkinnedBitButtonRepaint);

// A lamp button that counts its paints.
class CountingLEDBtn : public TKivLEDBtn {
public:
    using TKivLEDBtn::TKivLEDBtn;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* e) override {
        ++paints;
        TKivLEDBtn::paintEvent(e);
    }
};

void BM_LampButtonBatchOfChanges(benchmark::State& state) {
    QWidget window;
    window.resize(200, 60);
    auto* b = new CountingLEDBtn(&window);
    b->setGeometry(10, 10, 80, 34);
    b->setText("COMM.");
    b->SetSkinner(&scene().skinner);
    window.show();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    int batches = 0;
    b->paints = 0;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        // One batch: lamp, colours, layout and caption change together.
        b->LED()->SetValue(on);
        b->LED()->SetOnColor(on ? clLime : clAqua);
        b->SetSpacing(on ? 3 : 4);
        b->SetMargin(on ? 1 : 0);
        b->setText(on ? "COMM." : "COMM");
        QApplication::processEvents();
        ++batches;
    }
    state.counters["paints_per_batch"] = double(b->paints) / batches;
    state.counters["goal_max"] = 1.0;
}
BENCHMARK(BM_LampButtonBatchOfChanges);

} // namespace
