#pragma once
// A drawn control that composes its whole picture in an off-screen bitmap and copies it to the
// screen in one piece, optionally leaving one colour out. It owns two frames and a caption style.

#include "KivCaptionStyle.h"
#include "KivColor.h"
#include "KivFrame.h"
#include "KivGraphics.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class TKivGraphicControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
    Q_PROPERTY(TColor FrameColor READ FrameColor WRITE SetFrameColor)
    Q_PROPERTY(int FrameWidth READ FrameWidth WRITE SetFrameWidth)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(TColor TransparentColor READ TransparentColor WRITE SetTransparentColor)

public:
    explicit TKivGraphicControl(QWidget* parent = nullptr);
    ~TKivGraphicControl() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& Value);
    // The background colour; setting it stops following the parent's.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool Value);
    // The caption's font with its colour; setting it stops following the parent's font.
    TKivFont Font() const;
    void SetFont(const TKivFont& Value);
    bool ParentFont() const { return !testAttribute(Qt::WA_SetFont); }
    void SetParentFont(bool Value);

    TKivFrame* FrameInner() const { return FFrameInner.get(); }
    void SetFrameInner(const TKivFrame* Value) { FFrameInner->Assign(Value); }
    TKivFrame* FrameOuter() const { return FFrameOuter.get(); }
    void SetFrameOuter(const TKivFrame* Value) { FFrameOuter->Assign(Value); }
    TKivCaptionStyle* CaptionStyle() const { return FCaptionStyle.get(); }
    void SetCaptionStyle(const TKivCaptionStyle* Value) { FCaptionStyle->Assign(Value); }
    TColor FrameColor() const { return FFrameColor; }
    void SetFrameColor(TColor Value);
    int FrameWidth() const { return FFrameWidth; }
    void SetFrameWidth(int Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor Value);

    // Reading the window's description: between BeginLoading and Loaded nothing repaints.
    bool Loading() const { return FLoading; }
    void BeginLoading() { FLoading = true; }
    virtual void Loaded();

    // The off-screen picture of the last paint.
    const QImage& Buffer() const { return FBuffer; }
    // How many times the control has composed its picture (for the benchmark and the tests).
    int PaintCount() const { return FPaintCount; }

    std::function<void(QObject* Sender)> OnClick;
    std::function<void(QObject* Sender)> OnDblClick;
    std::function<void(QObject* Sender)> OnResize;

protected:
    // Composes the picture on Canvas, which paints into Buffer; the buffer has the client size.
    virtual void Paint(TKivCanvas& Canvas);
    // Repaint later (several changes in a row give one paint).
    void Invalidate();
    // Anything the whole picture depends on has changed; a control that keeps parts of its last
    // picture drops them here.
    virtual void PictureChanged() {}
    // Repaint now: the change event of the frames and the caption style.
    void StyleChanged(QObject* Sender);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage FBuffer;
    std::unique_ptr<TKivFrame> FFrameInner;
    std::unique_ptr<TKivFrame> FFrameOuter;
    int FFrameWidth = 4;
    TColor FFrameColor = clBtnFace;
    std::unique_ptr<TKivCaptionStyle> FCaptionStyle;
    bool FTransparent = false;
    TColor FTransparentColor = clBlack;

    QString FCaption;
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    TColor FFontColor = clWindowText;
    bool FLoading = false;
    int FPaintCount = 0;

    void adoptParentColor();
};
