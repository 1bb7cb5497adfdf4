// The general error handler: an exception from any event handler becomes a message, and the program goes on.
#include "OrvaneApplication.h"
#include "OrvaneErrors.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

namespace {
class RecordErrors {
public:
    RecordErrors() {
        OrvaneApplication::setErrorHook([this](const QString& message) { messages.append(message); });
    }
    ~RecordErrors() { OrvaneApplication::setErrorHook({}); }
    QStringList messages;
};

void click(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QCoreApplication::sendEvent(w, &release);
}

class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw DivisionByZeroError("Floating point division by zero");
        return QObject::event(e);
    }
};
} // namespace

TEST(GeneralErrorHandler, ShowsWhatEscapesAGuardedClickHandlerAndGoesOn) {
    RecordErrors errors;
    QPushButton button(QStringLiteral("SCAN"));
    button.resize(80, 24);
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, guarded([&](bool) {
        if (++clicks == 1)
            throw DivisionByZeroError("Floating point division by zero");
    }));
    click(&button);
    click(&button); // the same button works again
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(errors.messages, QStringList{"Floating point division by zero"});
    EXPECT_FALSE(button.isDown());
}

TEST(GeneralErrorHandler, CatchesAtTheEventLoopWhatNoHandlerCaught) {
    RecordErrors errors;
    bool timerRan = false;
    QTimer::singleShot(0, [&] {
        timerRan = true;
        throw std::runtime_error("from a timer");
    });
    QTimer::singleShot(0, [] { throw 42; });
    ThrowingObject target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(errors.messages.size(), 3);
    EXPECT_TRUE(errors.messages.contains("from a timer"));
    EXPECT_TRUE(errors.messages.contains("Unknown exception"));
    EXPECT_TRUE(errors.messages.contains("Floating point division by zero"));

    // The loop goes on delivering afterwards.
    bool later = false;
    QTimer::singleShot(0, [&] { later = true; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(later);
}

TEST(GeneralErrorHandler, GuardsStartUpCode) {
    RecordErrors errors;
    EXPECT_FALSE(runGuarded(
        [] { throw FileOpenError("Cannot open file \"/x/log.txt\". No such file or directory"); }));
    EXPECT_TRUE(runGuarded([] {}));
    EXPECT_EQ(errors.messages, QStringList{"Cannot open file \"/x/log.txt\". No such file or directory"});
}
