#include "OrvaneApplication.h"

#include "AccessibleToggle.h"

#include <QMessageBox>

#include <exception>

namespace {
OrvaneApplication::ErrorHook& errorHook() {
    static OrvaneApplication::ErrorHook hook;
    return hook;
}

QString messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}
} // namespace

OrvaneApplication::OrvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    installAccessibleToggles();
}

bool OrvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showError(messageOf(std::current_exception()));
        return true;
    }
}

void OrvaneApplication::showError(const QString& Message) {
    if (errorHook()) {
        errorHook()(Message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(), Message);
}

void OrvaneApplication::setErrorHook(ErrorHook Hook) {
    errorHook() = std::move(Hook);
}

bool runGuarded(const std::function<void()>& Body, QString* Message) {
    try {
        Body();
        return true;
    } catch (...) {
        const QString text = messageOf(std::current_exception());
        if (Message)
            *Message = text;
        OrvaneApplication::showError(text);
        return false;
    }
}
