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
