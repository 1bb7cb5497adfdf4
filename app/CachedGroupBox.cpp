#include "CachedGroupBox.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

void CachedGroupBox::paintEvent(QPaintEvent* event) {
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const qreal ratio = devicePixelRatioF();
    // Everything the style reads for the box: a change of any of it draws the frame again.
    const bool same =
        !FFrame.isNull() && FFrame.devicePixelRatio() == ratio && FStyle == style() &&
        FPaletteKey == option.palette.cacheKey() && FFontKey == font().key() &&
        FFrameOption.rect == option.rect && FFrameOption.state == option.state &&
        FFrameOption.text == option.text && FFrameOption.features == option.features &&
        FFrameOption.textAlignment == option.textAlignment && FFrameOption.textColor == option.textColor &&
        FFrameOption.lineWidth == option.lineWidth && FFrameOption.midLineWidth == option.midLineWidth &&
        FFrameOption.subControls == option.subControls &&
        FFrameOption.activeSubControls == option.activeSubControls;
    if (!same) {
        FFrame = QPixmap(option.rect.size() * ratio);
        FFrame.setDevicePixelRatio(ratio);
        FFrame.fill(Qt::transparent);
        // Set up as a painter on the widget would be.
        QPainter painter(&FFrame);
        painter.setPen(palette().color(foregroundRole()));
        painter.setBrush(palette().brush(backgroundRole()));
        painter.setFont(font());
        painter.setLayoutDirection(layoutDirection());
        style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
        FFrameOption = option;
        FPaletteKey = option.palette.cacheKey();
        FFontKey = font().key();
        FStyle = style();
        ++FFrameDraws;
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(0, 0, FFrame);
}
