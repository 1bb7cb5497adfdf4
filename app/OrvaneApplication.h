#pragma once
// The application object: catches what escapes an event handler, shows it, and lets the program go on.

#include <QApplication>
#include <QString>

#include <functional>
#include <type_traits>

class OrvaneApplication : public QApplication {
    Q_OBJECT
public:
    OrvaneApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The general error handler: shows Message in a message box titled with the application's title.
    static void showError(const QString& Message);

    // Replaces the message box (tests record the message instead of blocking on a modal dialog).
    // An empty function restores the message box.
    using ErrorHook = std::function<void(const QString& Message)>;
    static void setErrorHook(ErrorHook Hook);
};

// Runs Body and routes any exception it throws to the general error handler; returns false then, with
// the message shown in Message when one is given.
bool runGuarded(const std::function<void()>& Body, QString* Message = nullptr);

// Calls a handler with the signal's arguments, or without them when it takes none (a timer's private tag).
// A template of its own so that the call without arguments is only checked where it is chosen (clang
// checks it at once inside a lambda).
template <typename Handler, typename... Args> void callHandler(const Handler& handler, Args&&... args) {
    if constexpr (std::is_invocable_v<const Handler&, Args...>)
        handler(std::forward<Args>(args)...);
    else
        handler();
}

// Wraps a window handler for QObject::connect so that its exceptions reach the general error handler
// right at the handler. Qt's widget code is not exception-safe (an exception unwinding through a
// mouse-event delivery leaks Qt's event state), so the window connects its handlers through this and
// the catch in notify() stays the last resort.
template <typename Handler> auto guarded(Handler handler) {
    return [handler = std::move(handler)](auto&&... args) {
        runGuarded([&] { callHandler(handler, std::forward<decltype(args)>(args)...); });
    };
}
