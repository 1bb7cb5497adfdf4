#pragma once
// The Windows virtual-key code of a key press: what the key-mode terminal sends to the controller,
// one byte per key, as the controllers' users know it from the original terminals. On Windows the code
// follows the physical key and the keyboard layout, not the character the key types.

#include <QKeyEvent>
#include <QList>
#include <QStringView>

#include <optional>

// The layouts whose Windows key tables are known here; any other counts as US.
enum class KeyboardLayout { Us, Uk, German, French };

// The virtual-key code of the Qt key Key with Modifiers (only the keypad flag matters), or nothing for a
// key that has no Windows virtual-key code. Letters, digits and punctuation are taken as on a US keyboard.
std::optional<int> windowsVirtualKey(int Key, Qt::KeyboardModifiers Modifiers);

// The codes a key press gives on Windows under Layout, in the order Windows reports them: none for a key
// without a code, two for AltGr (Windows adds a Ctrl press before it). The keys of the main typing block
// are told by their native key code (the X key code), so that a key sends the same code whatever
// character, dead key or AltGr combination it types; events without one fall back to the Qt key.
QList<int> windowsVirtualKeys(const QKeyEvent& Event, KeyboardLayout Layout);

// The layout of keyboard group Group (0 for the first) in an XKB symbols name such as
// "pc+us+de:2+inet(evdev)".
KeyboardLayout keyboardLayoutFromXkbSymbols(QStringView Symbols, int Group);

// The layout active on the display now; US when it cannot be told (no X display, no XKB).
KeyboardLayout activeKeyboardLayout();
