// Key codes of the key-mode terminal: the bytes the controller receives per key.
#include "VirtualKeys.h"

#include <gtest/gtest.h>

namespace {
struct KeyCode {
    int key;
    Qt::KeyboardModifiers modifiers;
    int code;
};
constexpr auto none = Qt::NoModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier,
               pad = Qt::KeypadModifier;
} // namespace

// The code of the key, not of the character it types: shift+1 is still the 1 key, the full stop's key is
// 190 whether it types "." or ">"; the keypad keys have codes of their own, but without NumLock it types
// navigation keys, which have the ordinary codes.
TEST(VirtualKeys, EachKeyGivesItsWindowsKeyCode) {
    // clang-format off
    for (const KeyCode& k : std::initializer_list<KeyCode>{
        {Qt::Key_I, none, 0x49}, {Qt::Key_A, shift, 0x41}, {Qt::Key_Z, ctrl, 0x5A}, {Qt::Key_0, none, 0x30},
        {Qt::Key_9, none, 0x39}, {Qt::Key_Exclam, shift, 0x31}, {Qt::Key_Return, none, 13},
        {Qt::Key_Enter, pad, 13}, {Qt::Key_Backspace, none, 8}, {Qt::Key_Space, none, 32},
        {Qt::Key_Shift, shift, 16}, {Qt::Key_Control, ctrl, 17}, {Qt::Key_Left, none, 37},
        {Qt::Key_Down, none, 40}, {Qt::Key_F1, none, 112}, {Qt::Key_F12, none, 123},
        // Punctuation
        {Qt::Key_Period, none, 190}, {Qt::Key_Greater, shift, 190}, {Qt::Key_Comma, none, 188},
        {Qt::Key_Minus, none, 189}, {Qt::Key_Slash, none, 191}, {Qt::Key_Semicolon, none, 186},
        {Qt::Key_Apostrophe, none, 222}, {Qt::Key_BracketLeft, none, 219},
        // The keypad
        {Qt::Key_0, pad, 0x60}, {Qt::Key_7, pad, 0x67}, {Qt::Key_Plus, pad, 107}, {Qt::Key_Minus, pad, 109},
        {Qt::Key_Period, pad, 110}, {Qt::Key_Asterisk, pad, 106}, {Qt::Key_Slash, pad, 111},
        {Qt::Key_Home, pad, 36}, {Qt::Key_Clear, pad, 12}
    })
        EXPECT_EQ(windowsVirtualKey(k.key, k.modifiers), k.code) << "key " << std::hex << k.key;
    // clang-format on
}

TEST(VirtualKeys, KeysWithoutAWindowsCodeSendNothing) {
    EXPECT_FALSE(windowsVirtualKey(Qt::Key_unknown, Qt::NoModifier).has_value());
    EXPECT_FALSE(windowsVirtualKey(Qt::Key_Udiaeresis, Qt::NoModifier).has_value());
}

// ---- Keys told by the physical key, per keyboard layout ----
// X key codes of the main block (the Windows scan code plus 8), named by their place on a US keyboard.
namespace {
enum XKey : quint32 {
    X1 = 10,
    X2 = 11,
    X3 = 12,
    X7 = 16,
    X0 = 19,
    XMinus = 20,
    XEqual = 21,
    XQ = 24,
    XW = 25,
    XY = 29,
    XBracketL = 34,
    XBracketR = 35,
    XA = 38,
    XSemicolon = 47,
    XApostrophe = 48,
    XGrave = 49,
    XBackslash = 51,
    XZ = 52,
    XM = 58,
    XComma = 59,
    XPeriod = 60,
    XSlash = 61,
    XIsoExtra = 94,
    XReturn = 36,
    XKeypad7 = 79,
    XF1 = 67,
    XRightAlt = 108,
};

// A key press as the X platform reports it: the Qt key of the typed character, the key code and the
// keysym.
QList<int> codes(KeyboardLayout Layout, int Key, quint32 KeyCode, Qt::KeyboardModifiers Modifiers = {},
                 quint32 KeySym = 0) {
    QKeyEvent event(QEvent::KeyPress, Key, Modifiers, KeyCode, KeySym, 0);
    return windowsVirtualKeys(event, Layout);
}
using Codes = QList<int>;
} // namespace

// QWERTZ has Z where US has Y, AZERTY's digit row types symbols unshifted and is still the digit keys; a
// dead key has a code too; shifted digits and AltGr combinations are still their keys.
TEST(LayoutKeys, EachLayoutsKeysSendTheirWindowsCodesWhateverTheyType) {
    const auto de = KeyboardLayout::German, fr = KeyboardLayout::French, uk = KeyboardLayout::Uk,
               us = KeyboardLayout::Us;
    constexpr auto altgr = Qt::GroupSwitchModifier;
    struct Case {
        KeyboardLayout layout;
        int key;
        quint32 keyCode;
        Qt::KeyboardModifiers modifiers;
        int code;
    };
    // clang-format off
    for (const Case& c : std::initializer_list<Case>{
        {de, Qt::Key_Z, XY, none, 0x5A}, {de, Qt::Key_Y, XZ, none, 0x59},
        {de, Qt::Key_ssharp, XMinus, none, 0xDB}, {de, Qt::Key_Udiaeresis, XBracketL, none, 0xBA},
        {de, Qt::Key_Plus, XBracketR, none, 0xBB}, {de, Qt::Key_Odiaeresis, XSemicolon, none, 0xC0},
        {de, Qt::Key_Adiaeresis, XApostrophe, none, 0xDE}, {de, Qt::Key_Dead_Circumflex, XGrave, none, 0xDC},
        {de, Qt::Key_Dead_Acute, XEqual, none, 0xDD}, {de, Qt::Key_NumberSign, XBackslash, none, 0xBF},
        {de, Qt::Key_Minus, XSlash, none, 0xBD}, {de, Qt::Key_Less, XIsoExtra, none, 0xE2},
        {de, Qt::Key_Period, XPeriod, none, 0xBE}, {de, Qt::Key_Slash, X7, shift, 0x37},
        {de, Qt::Key_QuoteDbl, X2, shift, 0x32}, {de, Qt::Key_At, XQ, altgr, 0x51},
        {de, Qt::Key_BraceLeft, X7, altgr, 0x37}, {de, Qt::Key_Backslash, XMinus, altgr, 0xDB},
        {fr, Qt::Key_A, XQ, none, 0x41}, {fr, Qt::Key_Z, XW, none, 0x5A}, {fr, Qt::Key_Q, XA, none, 0x51},
        {fr, Qt::Key_W, XZ, none, 0x57}, {fr, Qt::Key_M, XSemicolon, none, 0x4D},
        {fr, Qt::Key_Ampersand, X1, none, 0x31}, {fr, Qt::Key_Eacute, X2, none, 0x32},
        {fr, Qt::Key_Agrave, X0, none, 0x30}, {fr, Qt::Key_At, X0, altgr, 0x30},
        {fr, Qt::Key_ParenRight, XMinus, none, 0xDB}, {fr, Qt::Key_Equal, XEqual, none, 0xBB},
        {fr, Qt::Key_Dead_Circumflex, XBracketL, none, 0xDD}, {fr, Qt::Key_Dollar, XBracketR, none, 0xBA},
        {fr, Qt::Key_Ugrave, XApostrophe, none, 0xC0}, {fr, Qt::Key_twosuperior, XGrave, none, 0xDE},
        {fr, Qt::Key_Asterisk, XBackslash, none, 0xDC}, {fr, Qt::Key_Comma, XM, none, 0xBC},
        {fr, Qt::Key_Semicolon, XComma, none, 0xBE}, {fr, Qt::Key_Period, XComma, shift, 0xBE},
        {fr, Qt::Key_Colon, XPeriod, none, 0xBF}, {fr, Qt::Key_Exclam, XSlash, none, 0xDF},
        {fr, Qt::Key_Less, XIsoExtra, none, 0xE2}, {uk, Qt::Key_Apostrophe, XApostrophe, none, 0xC0},
        {uk, Qt::Key_QuoteLeft, XGrave, none, 0xDF}, {uk, Qt::Key_NumberSign, XBackslash, none, 0xDE},
        {uk, Qt::Key_Backslash, XIsoExtra, none, 0xDC}, {uk, Qt::Key_sterling, X3, shift, 0x33},
        {uk, Qt::Key_Z, XZ, none, 0x5A}, {us, Qt::Key_Apostrophe, XApostrophe, none, 0xDE},
        {us, Qt::Key_QuoteLeft, XGrave, none, 0xC0}, {us, Qt::Key_Backslash, XBackslash, none, 0xDC},
        {us, Qt::Key_Colon, XSemicolon, shift, 0xBA}, {us, Qt::Key_Y, XY, none, 0x59},
        {us, Qt::Key_Less, XIsoExtra, none, 0xE2}
    })
        EXPECT_EQ(codes(c.layout, c.key, c.keyCode, c.modifiers), Codes{c.code})
            << "layout " << int(c.layout) << " key code " << c.keyCode;
    // clang-format on
}

TEST(LayoutKeys, KeysOutsideTheTypingBlockAndAltGr) {
    for (auto layout : {KeyboardLayout::Us, KeyboardLayout::German, KeyboardLayout::French}) {
        EXPECT_EQ(codes(layout, Qt::Key_Return, XReturn), Codes{13});
        EXPECT_EQ(codes(layout, Qt::Key_F1, XF1), Codes{0x70});
        EXPECT_EQ(codes(layout, Qt::Key_7, XKeypad7, Qt::KeypadModifier), Codes{0x67});
        EXPECT_EQ(codes(layout, Qt::Key_Home, XKeypad7, Qt::KeypadModifier), Codes{0x24});
        // Windows reports AltGr as a Ctrl press followed by the right Alt.
        EXPECT_EQ(codes(layout, Qt::Key_AltGr, XRightAlt, {}, 0xFE03), (Codes{0x11, 0x12}));
    }
    EXPECT_EQ(codes(KeyboardLayout::Us, Qt::Key_Alt, XRightAlt, Qt::AltModifier, 0xFFEA), Codes{0x12});
    // Events without a native key code: the Qt key, as on a US keyboard; an unknown key sends nothing.
    EXPECT_EQ(codes(KeyboardLayout::German, Qt::Key_Y, 0), Codes{0x59});
    EXPECT_EQ(codes(KeyboardLayout::German, Qt::Key_Adiaeresis, 0), Codes{});
    EXPECT_EQ(codes(KeyboardLayout::German, Qt::Key_unknown, 200), Codes{});
}

TEST(LayoutKeys, TheLayoutIsReadFromTheXkbSymbolsOfTheActiveGroup) {
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+de+inet(evdev)", 0), KeyboardLayout::German);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+de(nodeadkeys)+inet(evdev)", 0), KeyboardLayout::German);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+fr(oss)+inet(evdev)", 0), KeyboardLayout::French);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+gb+inet(evdev)", 0), KeyboardLayout::Uk);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+us+inet(evdev)", 0), KeyboardLayout::Us);
    // Several layouts: the one of the active group.
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+us+de:2+fr:3+inet(evdev)", 0), KeyboardLayout::Us);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+us+de:2+fr:3+inet(evdev)", 1), KeyboardLayout::German);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+us+de:2+fr:3+inet(evdev)", 2), KeyboardLayout::French);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+fr+gb:2+inet(evdev)+group(alt_shift_toggle)", 1),
              KeyboardLayout::Uk);
    // Unknown layouts and names count as US.
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+ru+inet(evdev)", 0), KeyboardLayout::Us);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"pc+de+inet(evdev)", 3), KeyboardLayout::Us);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"", 0), KeyboardLayout::Us);
    EXPECT_EQ(keyboardLayoutFromXkbSymbols(u"de:x", 0), KeyboardLayout::Us);
}
