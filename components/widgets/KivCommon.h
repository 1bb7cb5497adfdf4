#pragma once
// Shared pieces of the widget library: text styles, text alignment and the wait that keeps the
// window alive.

#include <cstdint>

// How a caption's letters are drawn: plain, in relief, with a shadow or outlined.
enum TKivTextStyle : std::uint8_t {
    atsNormal,
    atsRaised,
    atsRaisedHeavy,
    atsSunken,
    atsSunkenHeavy,
    atsShadow,
    atsOutline
};

// Horizontal placement of a text in its rectangle.
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// Vertical placement of a text in its rectangle.
enum TTextLayout : std::uint8_t { tlTop, tlCenter, tlBottom };

// Waits Milliseconds while dispatching the event loop's events, so clicks, timers and the serial
// events go on meanwhile; events are dispatched at least once, also for 0. The thread sleeps in the
// event loop between events instead of spinning.
void DelayMs(int Milliseconds);

// The program's general error handler as the widgets see it. The widgets cannot reach the
// application object, so the program installs its handler here at start-up; until then (and in
// tools) a report goes to the Qt message log as a warning. Widgets report from the event loop,
// never from inside a paint, so the handler may show a modal message box.
#include <QString>

#include <functional>

using TKivErrorHandler = std::function<void(const QString& Message)>;
// Installs Handler; an empty function restores the warning.
void SetKivErrorHandler(TKivErrorHandler Handler);
void KivReportError(const QString& Message);
