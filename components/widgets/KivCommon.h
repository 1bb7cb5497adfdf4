#pragma once
// Shared pieces of the widget library: the wait that keeps the window alive.

// Waits Milliseconds while dispatching the event loop's events, so clicks, timers and the serial
// events go on meanwhile; events are dispatched at least once, also for 0. The thread sleeps in the
// event loop between events instead of spinning.
void DelayMs(int Milliseconds);
