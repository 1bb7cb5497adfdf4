// Key codes of the key-mode terminal: the bytes the controller receives per key.
#include "VirtualKeys.h"

#include <gtest/gtest.h>

TEST(VirtualKeys, LettersDigitsAndEditingKeys) {
    EXPECT_EQ(windowsVirtualKey(Qt::Key_I, Qt::NoModifier), 0x49);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_A, Qt::ShiftModifier), 0x41);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Z, Qt::ControlModifier), 0x5A);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_0, Qt::NoModifier), 0x30);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_9, Qt::NoModifier), 0x39);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Exclam, Qt::ShiftModifier), 0x31); // shift+1 is still the 1 key
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Return, Qt::NoModifier), 13);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Enter, Qt::KeypadModifier), 13);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Backspace, Qt::NoModifier), 8);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Space, Qt::NoModifier), 32);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Shift, Qt::ShiftModifier), 16);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Control, Qt::ControlModifier), 17);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Left, Qt::NoModifier), 37);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Down, Qt::NoModifier), 40);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_F1, Qt::NoModifier), 112);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_F12, Qt::NoModifier), 123);
}

TEST(VirtualKeys, PunctuationGivesTheKeyCodeNotTheCharacter) {
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Period, Qt::NoModifier), 190);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Greater, Qt::ShiftModifier), 190);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Comma, Qt::NoModifier), 188);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Minus, Qt::NoModifier), 189);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Slash, Qt::NoModifier), 191);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Semicolon, Qt::NoModifier), 186);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Apostrophe, Qt::NoModifier), 222);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_BracketLeft, Qt::NoModifier), 219);
}

TEST(VirtualKeys, KeypadKeysHaveTheirOwnCodes) {
    EXPECT_EQ(windowsVirtualKey(Qt::Key_0, Qt::KeypadModifier), 0x60);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_7, Qt::KeypadModifier), 0x67);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Plus, Qt::KeypadModifier), 107);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Minus, Qt::KeypadModifier), 109);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Period, Qt::KeypadModifier), 110);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Asterisk, Qt::KeypadModifier), 106);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Slash, Qt::KeypadModifier), 111);
    // Without NumLock the keypad types navigation keys, which have the ordinary codes.
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Home, Qt::KeypadModifier), 36);
    EXPECT_EQ(windowsVirtualKey(Qt::Key_Clear, Qt::KeypadModifier), 12);
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

TEST(LayoutKeys, GermanKeysSendTheirWindowsCodesWhateverTheyType) {
    const auto de = KeyboardLayout::German;
    EXPECT_EQ(codes(de, Qt::Key_Z, XY), Codes{0x5A}); // QWERTZ: Z where US has Y
    EXPECT_EQ(codes(de, Qt::Key_Y, XZ), Codes{0x59});
    EXPECT_EQ(codes(de, Qt::Key_ssharp, XMinus), Codes{0xDB});
    EXPECT_EQ(codes(de, Qt::Key_Udiaeresis, XBracketL), Codes{0xBA});
    EXPECT_EQ(codes(de, Qt::Key_Plus, XBracketR), Codes{0xBB});
    EXPECT_EQ(codes(de, Qt::Key_Odiaeresis, XSemicolon), Codes{0xC0});
    EXPECT_EQ(codes(de, Qt::Key_Adiaeresis, XApostrophe), Codes{0xDE});
    EXPECT_EQ(codes(de, Qt::Key_Dead_Circumflex, XGrave), Codes{0xDC}); // a dead key has a code too
    EXPECT_EQ(codes(de, Qt::Key_Dead_Acute, XEqual), Codes{0xDD});
    EXPECT_EQ(codes(de, Qt::Key_NumberSign, XBackslash), Codes{0xBF});
    EXPECT_EQ(codes(de, Qt::Key_Minus, XSlash), Codes{0xBD});
    EXPECT_EQ(codes(de, Qt::Key_Less, XIsoExtra), Codes{0xE2});
    EXPECT_EQ(codes(de, Qt::Key_Period, XPeriod), Codes{0xBE});
    // Shifted digits and AltGr combinations are still their keys.
    EXPECT_EQ(codes(de, Qt::Key_Slash, X7, Qt::ShiftModifier), Codes{0x37});
    EXPECT_EQ(codes(de, Qt::Key_QuoteDbl, X2, Qt::ShiftModifier), Codes{0x32});
    EXPECT_EQ(codes(de, Qt::Key_At, XQ, Qt::GroupSwitchModifier), Codes{0x51});
    EXPECT_EQ(codes(de, Qt::Key_BraceLeft, X7, Qt::GroupSwitchModifier), Codes{0x37});
    EXPECT_EQ(codes(de, Qt::Key_Backslash, XMinus, Qt::GroupSwitchModifier), Codes{0xDB});
}

TEST(LayoutKeys, FrenchKeysSendTheirWindowsCodesWhateverTheyType) {
    const auto fr = KeyboardLayout::French;
    EXPECT_EQ(codes(fr, Qt::Key_A, XQ), Codes{0x41}); // AZERTY
    EXPECT_EQ(codes(fr, Qt::Key_Z, XW), Codes{0x5A});
    EXPECT_EQ(codes(fr, Qt::Key_Q, XA), Codes{0x51});
    EXPECT_EQ(codes(fr, Qt::Key_W, XZ), Codes{0x57});
    EXPECT_EQ(codes(fr, Qt::Key_M, XSemicolon), Codes{0x4D});
    // The digit row types symbols unshifted and is still the digit keys.
    EXPECT_EQ(codes(fr, Qt::Key_Ampersand, X1), Codes{0x31});
    EXPECT_EQ(codes(fr, Qt::Key_Eacute, X2), Codes{0x32});
    EXPECT_EQ(codes(fr, Qt::Key_Agrave, X0), Codes{0x30});
    EXPECT_EQ(codes(fr, Qt::Key_At, X0, Qt::GroupSwitchModifier), Codes{0x30});
    EXPECT_EQ(codes(fr, Qt::Key_ParenRight, XMinus), Codes{0xDB});
    EXPECT_EQ(codes(fr, Qt::Key_Equal, XEqual), Codes{0xBB});
    EXPECT_EQ(codes(fr, Qt::Key_Dead_Circumflex, XBracketL), Codes{0xDD});
    EXPECT_EQ(codes(fr, Qt::Key_Dollar, XBracketR), Codes{0xBA});
    EXPECT_EQ(codes(fr, Qt::Key_Ugrave, XApostrophe), Codes{0xC0});
    EXPECT_EQ(codes(fr, Qt::Key_twosuperior, XGrave), Codes{0xDE});
    EXPECT_EQ(codes(fr, Qt::Key_Asterisk, XBackslash), Codes{0xDC});
    EXPECT_EQ(codes(fr, Qt::Key_Comma, XM), Codes{0xBC});
    EXPECT_EQ(codes(fr, Qt::Key_Semicolon, XComma), Codes{0xBE});
    EXPECT_EQ(codes(fr, Qt::Key_Period, XComma, Qt::ShiftModifier), Codes{0xBE});
    EXPECT_EQ(codes(fr, Qt::Key_Colon, XPeriod), Codes{0xBF});
    EXPECT_EQ(codes(fr, Qt::Key_Exclam, XSlash), Codes{0xDF});
    EXPECT_EQ(codes(fr, Qt::Key_Less, XIsoExtra), Codes{0xE2});
}

TEST(LayoutKeys, UkAndUsKeysFollowTheirOwnTables) {
    const auto uk = KeyboardLayout::Uk, us = KeyboardLayout::Us;
    EXPECT_EQ(codes(uk, Qt::Key_Apostrophe, XApostrophe), Codes{0xC0});
    EXPECT_EQ(codes(uk, Qt::Key_QuoteLeft, XGrave), Codes{0xDF});
    EXPECT_EQ(codes(uk, Qt::Key_NumberSign, XBackslash), Codes{0xDE});
    EXPECT_EQ(codes(uk, Qt::Key_Backslash, XIsoExtra), Codes{0xDC});
    EXPECT_EQ(codes(uk, Qt::Key_sterling, X3, Qt::ShiftModifier), Codes{0x33});
    EXPECT_EQ(codes(uk, Qt::Key_Z, XZ), Codes{0x5A});
    EXPECT_EQ(codes(us, Qt::Key_Apostrophe, XApostrophe), Codes{0xDE});
    EXPECT_EQ(codes(us, Qt::Key_QuoteLeft, XGrave), Codes{0xC0});
    EXPECT_EQ(codes(us, Qt::Key_Backslash, XBackslash), Codes{0xDC});
    EXPECT_EQ(codes(us, Qt::Key_Colon, XSemicolon, Qt::ShiftModifier), Codes{0xBA});
    EXPECT_EQ(codes(us, Qt::Key_Y, XY), Codes{0x59});
    EXPECT_EQ(codes(us, Qt::Key_Less, XIsoExtra), Codes{0xE2});
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
