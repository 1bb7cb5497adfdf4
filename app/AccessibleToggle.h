#pragma once
// Check boxes and radio buttons as assistive technology sees them: their toggle action clicks the control,
// so that a screen reader's toggle runs the same handler as the mouse ("Dual" enables panel 2, an expert
// mode box opens its terminal). Qt's own interface only flips the state, which no clicked handler sees.

#include <QString>

class QAccessibleInterface;
class QObject;

QAccessibleInterface* accessibleToggleFactory(const QString& ClassName, QObject* Object);

// Installs the factory once per process.
void installAccessibleToggles();
