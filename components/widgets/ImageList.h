#pragma once
// A list of equally sized images addressed by index, as the form toolkit provides it: buttons take
// their glyphs from it and are told, through change links, when it changes or goes away.

#include "KivGraphics.h"

#include <QImage>
#include <QObject>

#include <functional>
#include <map>
#include <vector>

class TImageList;

// A button's registration with an image list. The list calls OnChange after every change and
// OnRemoved when it is destroyed; either side may go first, and the other is told.
class TChangeLink {
public:
    TChangeLink() = default;
    ~TChangeLink();
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;

    // The list this link is registered with, or nullptr.
    TImageList* Sender() const { return FSender; }

    std::function<void(TImageList* Sender)> OnChange;
    std::function<void(TImageList* Sender)> OnRemoved;

private:
    friend class TImageList;
    TImageList* FSender = nullptr;
};

class TImageList : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)

public:
    explicit TImageList(QObject* parent = nullptr);
    TImageList(int Width, int Height, QObject* parent = nullptr);
    ~TImageList() override;

    int Width() const { return FWidth; }
    void SetWidth(int Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);

    // Indices may leave gaps: a window uses the images it was designed with, not a dense range.
    // An image of another size is scaled to Width x Height.
    void SetImage(int Index, const QImage& Image);
    void Delete(int Index);
    void Clear();
    bool HasImage(int Index) const;
    QImage Image(int Index) const;
    // One more than the highest index in use.
    int Count() const;

    // Draws image Index with its top-left corner at (x, y); a disabled image is an embossed
    // silhouette in the shadow and highlight colours. An index not in the list draws nothing.
    void Draw(TKivCanvas& Canvas, int x, int y, int Index, bool Enabled = true) const;

    void RegisterChanges(TChangeLink* Link);
    void UnRegisterChanges(TChangeLink* Link);
    int LinkCount() const { return static_cast<int>(FLinks.size()); }

private:
    int FWidth = 16;
    int FHeight = 16;
    std::map<int, QImage> FImages;
    std::vector<TChangeLink*> FLinks;

    void Change();
};
