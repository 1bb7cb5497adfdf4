#pragma once
// A group box that keeps its painted frame and title: the panels' boxes sit behind controls that change
// at every reply (the move field, the log pane's scroll bar), and Qt repaints the box behind each of them.

#include <QGroupBox>
#include <QPixmap>
#include <QStyleOptionGroupBox>

class CachedGroupBox : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

    // How often the frame was drawn afresh (tests).
    int FrameDraws() const { return FFrameDraws; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap FFrame;
    QStyleOptionGroupBox FFrameOption;
    QString FFontKey;
    qint64 FPaletteKey = 0;
    const QStyle* FStyle = nullptr;
    int FFrameDraws = 0;
};
