#include "ImageList.h"

#include <algorithm>

TChangeLink::~TChangeLink() {
    if (FSender)
        FSender->UnRegisterChanges(this);
}

TImageList::TImageList(QObject* parent) : QObject(parent) {}

TImageList::TImageList(int Width, int Height, QObject* parent)
    : QObject(parent), FWidth(std::max(1, Width)), FHeight(std::max(1, Height)) {}

TImageList::~TImageList() {
    // Links go first so that no holder draws from, or unregisters with, a list that is gone.
    const std::vector<TChangeLink*> links = std::move(FLinks);
    FLinks.clear();
    for (TChangeLink* link : links) {
        link->FSender = nullptr;
        if (link->OnRemoved)
            link->OnRemoved(this);
    }
}

void TImageList::SetWidth(int Value) {
    if (Value == FWidth || Value < 1)
        return;
    FWidth = Value;
    // The form toolkit's list drops its images when the size changes; keep that.
    FImages.clear();
    Change();
}

void TImageList::SetHeight(int Value) {
    if (Value == FHeight || Value < 1)
        return;
    FHeight = Value;
    FImages.clear();
    Change();
}

void TImageList::SetImage(int Index, const QImage& Image) {
    if (Index < 0)
        return;
    if (Image.isNull()) {
        Delete(Index);
        return;
    }
    QImage img = Image.convertToFormat(QImage::Format_ARGB32);
    if (img.size() != QSize(FWidth, FHeight))
        img = img.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    FImages[Index] = img;
    Change();
}

void TImageList::Delete(int Index) {
    if (FImages.erase(Index))
        Change();
}

void TImageList::Clear() {
    if (FImages.empty())
        return;
    FImages.clear();
    Change();
}

bool TImageList::HasImage(int Index) const {
    return FImages.count(Index) != 0;
}

QImage TImageList::Image(int Index) const {
    const auto it = FImages.find(Index);
    return it == FImages.end() ? QImage() : it->second;
}

int TImageList::Count() const {
    return FImages.empty() ? 0 : FImages.rbegin()->first + 1;
}

void TImageList::Draw(TKivCanvas& Canvas, int x, int y, int Index, bool Enabled) const {
    const auto it = FImages.find(Index);
    if (it == FImages.end())
        return;
    const QImage& img = it->second;
    if (Enabled) {
        Canvas.Draw(x, y, img);
        return;
    }
    // Disabled: the image's silhouette (its fairly opaque, not too bright pixels) once in the
    // highlight colour one pixel down-right, then in the shadow colour on top.
    auto silhouette = [&](TColor color) {
        QImage s(img.size(), QImage::Format_ARGB32);
        s.fill(Qt::transparent);
        const QRgb c = ColorToRgb(color);
        for (int py = 0; py < img.height(); ++py) {
            const QRgb* in = reinterpret_cast<const QRgb*>(img.constScanLine(py));
            QRgb* out = reinterpret_cast<QRgb*>(s.scanLine(py));
            for (int px = 0; px < img.width(); ++px) {
                const QRgb p = in[px];
                const int gray = (76 * qRed(p) + 150 * qGreen(p) + 29 * qBlue(p)) / 256;
                if (qAlpha(p) >= 128 && gray < 224)
                    out[px] = c | 0xFF000000u;
            }
        }
        return s;
    };
    Canvas.Draw(x + 1, y + 1, silhouette(clBtnHighlight));
    Canvas.Draw(x, y, silhouette(clBtnShadow));
}

void TImageList::RegisterChanges(TChangeLink* Link) {
    if (!Link || std::find(FLinks.begin(), FLinks.end(), Link) != FLinks.end())
        return;
    if (Link->FSender && Link->FSender != this)
        Link->FSender->UnRegisterChanges(Link);
    Link->FSender = this;
    FLinks.push_back(Link);
}

void TImageList::UnRegisterChanges(TChangeLink* Link) {
    const auto it = std::find(FLinks.begin(), FLinks.end(), Link);
    if (it == FLinks.end())
        return;
    FLinks.erase(it);
    Link->FSender = nullptr;
}

void TImageList::Change() {
    // A copy: a handler may unregister its own link.
    const std::vector<TChangeLink*> links = FLinks;
    for (TChangeLink* link : links) {
        if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end() && link->OnChange)
            link->OnChange(this);
    }
}
