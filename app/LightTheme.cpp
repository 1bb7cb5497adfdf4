#include "LightTheme.h"

// Worked out as Qt's Fusion palette is, shades included, so that every colour is the one it drew.
QPalette LightPalette() {
    const QColor black(Qt::black), white(Qt::white), face(0xef, 0xef, 0xef), disabledText(0xbe, 0xbe, 0xbe);
    const QColor mid = face.darker(130), dark = face.darker(150), shadow = dark.darker(135);
    QPalette light(black, face, face.lighter(150), dark, mid, black, white);
    light.setColor(QPalette::Midlight, mid.lighter(110));
    light.setColor(QPalette::Button, face);
    light.setColor(QPalette::Shadow, shadow);
    light.setColor(QPalette::HighlightedText, white);
    light.setColor(QPalette::Highlight, QColor(0x30, 0x8c, 0xc6));
    light.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        light.setColor(QPalette::Disabled, role, disabledText);
    light.setColor(QPalette::Disabled, QPalette::Base, face);
    light.setColor(QPalette::Disabled, QPalette::Dark, QColor(0xd1, 0xd1, 0xd1).darker(110));
    light.setColor(QPalette::Disabled, QPalette::Shadow, shadow.lighter(150));
    light.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x91, 0x91, 0x91));

    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        for (int role = 0; role < QPalette::NColorRoles; ++role)
            light.setBrush(group, QPalette::ColorRole(role), light.brush(group, QPalette::ColorRole(role)));
    return light;
}
