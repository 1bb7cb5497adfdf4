#include "VirtualKeys.h"

#include <QGuiApplication>
#include <QHash>
#include <QStringList>

#include <array>

#ifdef ORVANE_HAVE_XKB
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
// The XKB header names a member "explicit", a C++ keyword.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#endif

namespace {

// Keys of the keypad: Qt reports them with the keypad flag and the key they type.
std::optional<int> keypadKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return 0x60 + (key - Qt::Key_0); // VK_NUMPAD0..9
    switch (key) {
    case Qt::Key_Asterisk:
        return 0x6A; // VK_MULTIPLY
    case Qt::Key_Plus:
        return 0x6B; // VK_ADD
    case Qt::Key_Minus:
        return 0x6D; // VK_SUBTRACT
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return 0x6E; // VK_DECIMAL, whatever the layout prints on it
    case Qt::Key_Slash:
        return 0x6F; // VK_DIVIDE
    case Qt::Key_Clear:
        return 0x0C; // keypad 5 without NumLock
    default:
        return std::nullopt; // Enter, arrows, Home... are the same keys as off the keypad
    }
}

const QHash<int, int>& keyTable() {
    static const QHash<int, int> table = {
        {Qt::Key_Backspace, 0x08},
        {Qt::Key_Tab, 0x09},
        {Qt::Key_Backtab, 0x09},
        {Qt::Key_Clear, 0x0C},
        {Qt::Key_Return, 0x0D},
        {Qt::Key_Enter, 0x0D},
        {Qt::Key_Shift, 0x10},
        {Qt::Key_Control, 0x11},
        {Qt::Key_Alt, 0x12},
        {Qt::Key_AltGr, 0x12},
        {Qt::Key_Pause, 0x13},
        {Qt::Key_CapsLock, 0x14},
        {Qt::Key_Escape, 0x1B},
        {Qt::Key_Space, 0x20},
        {Qt::Key_PageUp, 0x21},
        {Qt::Key_PageDown, 0x22},
        {Qt::Key_End, 0x23},
        {Qt::Key_Home, 0x24},
        {Qt::Key_Left, 0x25},
        {Qt::Key_Up, 0x26},
        {Qt::Key_Right, 0x27},
        {Qt::Key_Down, 0x28},
        {Qt::Key_Select, 0x29},
        {Qt::Key_Printer, 0x2A},
        {Qt::Key_Execute, 0x2B},
        {Qt::Key_Print, 0x2C},
        {Qt::Key_Insert, 0x2D},
        {Qt::Key_Delete, 0x2E},
        {Qt::Key_Help, 0x2F},
        // Shifted digits of the main block are still the digit keys.
        {Qt::Key_ParenRight, 0x30},
        {Qt::Key_Exclam, 0x31},
        {Qt::Key_At, 0x32},
        {Qt::Key_NumberSign, 0x33},
        {Qt::Key_Dollar, 0x34},
        {Qt::Key_Percent, 0x35},
        {Qt::Key_AsciiCircum, 0x36},
        {Qt::Key_Ampersand, 0x37},
        {Qt::Key_Asterisk, 0x38},
        {Qt::Key_ParenLeft, 0x39},
        {Qt::Key_Meta, 0x5B},
        {Qt::Key_Super_L, 0x5B},
        {Qt::Key_Super_R, 0x5C},
        {Qt::Key_Menu, 0x5D},
        {Qt::Key_Sleep, 0x5F},
        {Qt::Key_NumLock, 0x90},
        {Qt::Key_ScrollLock, 0x91},
        {Qt::Key_Back, 0xA6},
        {Qt::Key_Forward, 0xA7},
        {Qt::Key_Refresh, 0xA8},
        {Qt::Key_Stop, 0xA9},
        {Qt::Key_Search, 0xAA},
        {Qt::Key_Favorites, 0xAB},
        {Qt::Key_HomePage, 0xAC},
        {Qt::Key_VolumeMute, 0xAD},
        {Qt::Key_VolumeDown, 0xAE},
        {Qt::Key_VolumeUp, 0xAF},
        {Qt::Key_MediaNext, 0xB0},
        {Qt::Key_MediaPrevious, 0xB1},
        {Qt::Key_MediaStop, 0xB2},
        {Qt::Key_MediaPlay, 0xB3},
        {Qt::Key_MediaTogglePlayPause, 0xB3},
        {Qt::Key_LaunchMail, 0xB4},
        {Qt::Key_LaunchMedia, 0xB5},
        {Qt::Key_Launch0, 0xB6},
        {Qt::Key_Launch1, 0xB7},
        // Punctuation keys of a US keyboard, unshifted and shifted (VK_OEM_*).
        {Qt::Key_Semicolon, 0xBA},
        {Qt::Key_Colon, 0xBA},
        {Qt::Key_Equal, 0xBB},
        {Qt::Key_Plus, 0xBB},
        {Qt::Key_Comma, 0xBC},
        {Qt::Key_Less, 0xBC},
        {Qt::Key_Minus, 0xBD},
        {Qt::Key_Underscore, 0xBD},
        {Qt::Key_Period, 0xBE},
        {Qt::Key_Greater, 0xBE},
        {Qt::Key_Slash, 0xBF},
        {Qt::Key_Question, 0xBF},
        {Qt::Key_QuoteLeft, 0xC0},
        {Qt::Key_AsciiTilde, 0xC0},
        {Qt::Key_BracketLeft, 0xDB},
        {Qt::Key_BraceLeft, 0xDB},
        {Qt::Key_Backslash, 0xDC},
        {Qt::Key_Bar, 0xDC},
        {Qt::Key_BracketRight, 0xDD},
        {Qt::Key_BraceRight, 0xDD},
        {Qt::Key_Apostrophe, 0xDE},
        {Qt::Key_QuoteDbl, 0xDE},
        {Qt::Key_Play, 0xFA},
        {Qt::Key_Zoom, 0xFB},
    };
    return table;
}

// ---- Keys of the main typing block, by layout ----
// Windows names a key by its scan code and the layout gives its virtual-key code. X key codes of the
// main block are those scan codes plus 8.
constexpr int XKeyCodeOffset = 8;
constexpr int FirstScanCode = 0x02; // the 1 key
constexpr int LastScanCode = 0x56;  // the extra key left of Z on ISO keyboards

constexpr int VK_OEM_1 = 0xBA, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD,
              VK_OEM_PERIOD = 0xBE, VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC,
              VK_OEM_6 = 0xDD, VK_OEM_7 = 0xDE, VK_OEM_8 = 0xDF, VK_OEM_102 = 0xE2;

using ScanTable = std::array<int, LastScanCode + 1>; // 0: the scan code is not a typing key

// The US table; the others are its changes.
ScanTable usTable() {
    ScanTable t{};
    const char digits[] = "1234567890";
    for (int i = 0; i < 10; ++i)
        t[0x02 + i] = digits[i];
    const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    const int rowStart[] = {0x10, 0x1E, 0x2C};
    for (int r = 0; r < 3; ++r)
        for (int i = 0; rows[r][i]; ++i)
            t[rowStart[r] + i] = rows[r][i];
    t[0x0C] = VK_OEM_MINUS;
    t[0x0D] = VK_OEM_PLUS;
    t[0x1A] = VK_OEM_4;
    t[0x1B] = VK_OEM_6;
    t[0x27] = VK_OEM_1;
    t[0x28] = VK_OEM_7;
    t[0x29] = VK_OEM_3;
    t[0x2B] = VK_OEM_5;
    t[0x33] = VK_OEM_COMMA;
    t[0x34] = VK_OEM_PERIOD;
    t[0x35] = VK_OEM_2;
    t[0x56] = VK_OEM_102;
    return t;
}

ScanTable ukTable() {
    ScanTable t = usTable();
    t[0x28] = VK_OEM_3; // ' @
    t[0x29] = VK_OEM_8; // ` ¬
    t[0x2B] = VK_OEM_7; // # ~
    t[0x56] = VK_OEM_5; // \ |
    return t;
}

ScanTable germanTable() {
    ScanTable t = usTable();
    t[0x0C] = VK_OEM_4; // ß ?
    t[0x0D] = VK_OEM_6; // ´ `
    t[0x15] = 'Z';
    t[0x1A] = VK_OEM_1;    // ü
    t[0x1B] = VK_OEM_PLUS; // + *
    t[0x27] = VK_OEM_3;    // ö
    t[0x28] = VK_OEM_7;    // ä
    t[0x29] = VK_OEM_5;    // ^ °
    t[0x2B] = VK_OEM_2;    // # '
    t[0x2C] = 'Y';
    t[0x35] = VK_OEM_MINUS; // - _
    t[0x56] = VK_OEM_102;   // < >
    return t;
}

ScanTable frenchTable() {
    ScanTable t = usTable();
    t[0x0C] = VK_OEM_4;    // ) °
    t[0x0D] = VK_OEM_PLUS; // = +
    t[0x10] = 'A';
    t[0x11] = 'Z';
    t[0x1A] = VK_OEM_6; // ^ ¨
    t[0x1B] = VK_OEM_1; // $ £
    t[0x1E] = 'Q';
    t[0x27] = 'M';
    t[0x28] = VK_OEM_3; // ù %
    t[0x29] = VK_OEM_7; // ²
    t[0x2B] = VK_OEM_5; // * µ
    t[0x2C] = 'W';
    t[0x32] = VK_OEM_COMMA;  // , ?
    t[0x33] = VK_OEM_PERIOD; // ; .
    t[0x34] = VK_OEM_2;      // : /
    t[0x35] = VK_OEM_8;      // ! §
    t[0x56] = VK_OEM_102;    // < >
    return t;
}

const ScanTable& scanTable(KeyboardLayout Layout) {
    static const ScanTable us = usTable(), uk = ukTable(), german = germanTable(), french = frenchTable();
    switch (Layout) {
    case KeyboardLayout::Uk:
        return uk;
    case KeyboardLayout::German:
        return german;
    case KeyboardLayout::French:
        return french;
    case KeyboardLayout::Us:
        break;
    }
    return us;
}

// The code of a main-block key from its X key code, or nothing for another key.
std::optional<int> typingKey(quint32 XKeyCode, KeyboardLayout Layout) {
    if (XKeyCode < FirstScanCode + XKeyCodeOffset || XKeyCode > LastScanCode + XKeyCodeOffset)
        return std::nullopt;
    const int code = scanTable(Layout)[XKeyCode - XKeyCodeOffset];
    if (code == 0)
        return std::nullopt;
    return code;
}

constexpr int VK_CONTROL = 0x11, VK_MENU = 0x12;
constexpr quint32 XK_ISO_Level3_Shift = 0xFE03;

} // namespace

std::optional<int> windowsVirtualKey(int Key, Qt::KeyboardModifiers Modifiers) {
    if (Modifiers.testFlag(Qt::KeypadModifier))
        if (auto code = keypadKey(Key))
            return code;
    if (Key >= Qt::Key_A && Key <= Qt::Key_Z)
        return 0x41 + (Key - Qt::Key_A); // letters are their upper-case code whatever the shift state
    if (Key >= Qt::Key_0 && Key <= Qt::Key_9)
        return 0x30 + (Key - Qt::Key_0);
    if (Key >= Qt::Key_F1 && Key <= Qt::Key_F24)
        return 0x70 + (Key - Qt::Key_F1);
    const auto found = keyTable().constFind(Key);
    if (found != keyTable().cend())
        return found.value();
    return std::nullopt;
}

QList<int> windowsVirtualKeys(const QKeyEvent& Event, KeyboardLayout Layout) {
    // AltGr is the right Alt key with a Ctrl press that Windows makes up before it.
    if (Event.key() == Qt::Key_AltGr || Event.nativeVirtualKey() == XK_ISO_Level3_Shift)
        return {VK_CONTROL, VK_MENU};
    if (const auto code = typingKey(Event.nativeScanCode(), Layout))
        return {*code};
    if (const auto code = windowsVirtualKey(Event.key(), Event.modifiers()))
        return {*code};
    return {};
}

KeyboardLayout keyboardLayoutFromXkbSymbols(QStringView Symbols, int Group) {
    static const QHash<QString, KeyboardLayout> known = {
        {QStringLiteral("us"), KeyboardLayout::Us},     {QStringLiteral("gb"), KeyboardLayout::Uk},
        {QStringLiteral("uk"), KeyboardLayout::Uk},     {QStringLiteral("de"), KeyboardLayout::German},
        {QStringLiteral("at"), KeyboardLayout::German}, {QStringLiteral("fr"), KeyboardLayout::French},
    };
    // Parts are "+"-separated: a layout part is a symbols file with an optional variant in brackets and an
    // optional ":group" (group 1 when absent); the other parts (pc, inet(evdev), options) name no layout
    // of the table and are passed over.
    const QStringList parts = Symbols.toString().split(u'+', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        QString name = part;
        int group = 1;
        const qsizetype colon = name.indexOf(u':');
        if (colon >= 0) {
            bool ok = false;
            group = name.mid(colon + 1).toInt(&ok);
            if (!ok)
                continue;
            name.truncate(colon);
        }
        const qsizetype bracket = name.indexOf(u'(');
        if (bracket >= 0)
            name.truncate(bracket);
        const auto found = known.constFind(name);
        if (found != known.cend() && group == Group + 1)
            return found.value();
    }
    return KeyboardLayout::Us;
}

KeyboardLayout activeKeyboardLayout() {
#ifdef ORVANE_HAVE_XKB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return KeyboardLayout::Us;
    auto use = xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr);
    const bool supported = use && use->supported;
    std::free(use);
    if (!supported)
        return KeyboardLayout::Us;

    const auto stateCookie = xcb_xkb_get_state(connection, XCB_XKB_ID_USE_CORE_KBD);
    const auto namesCookie =
        xcb_xkb_get_names(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_SYMBOLS);
    auto state = xcb_xkb_get_state_reply(connection, stateCookie, nullptr);
    auto names = xcb_xkb_get_names_reply(connection, namesCookie, nullptr);
    int group = state ? state->group : 0;
    xcb_atom_t symbolsAtom = XCB_NONE;
    if (names) {
        xcb_xkb_get_names_value_list_t list{};
        xcb_xkb_get_names_value_list_unpack(
            xcb_xkb_get_names_value_list(names), names->nTypes, names->indicators, names->virtualMods,
            names->groupNames, names->nKeys, names->nKeyAliases, names->nRadioGroups, names->which, &list);
        symbolsAtom = list.symbolsName;
    }
    std::free(state);
    std::free(names);
    if (symbolsAtom == XCB_NONE)
        return KeyboardLayout::Us;
    auto atom = xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, symbolsAtom), nullptr);
    if (!atom)
        return KeyboardLayout::Us;
    const QString symbols =
        QString::fromLatin1(xcb_get_atom_name_name(atom), xcb_get_atom_name_name_length(atom));
    std::free(atom);
    return keyboardLayoutFromXkbSymbols(symbols, group);
#else
    return KeyboardLayout::Us;
#endif
}
