#pragma once
// The Windows virtual-key code of a key press: what the key-mode terminal sends to the controller,
// one byte per key, as the controllers' users know it from the original terminals.

#include <QKeyEvent>

#include <optional>

// The virtual-key code of Key with Modifiers (only the keypad flag matters), or nothing for a key
// that has no Windows virtual-key code.
std::optional<int> windowsVirtualKey(int Key, Qt::KeyboardModifiers Modifiers);
std::optional<int> windowsVirtualKey(const QKeyEvent& Event);
