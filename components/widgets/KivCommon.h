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
