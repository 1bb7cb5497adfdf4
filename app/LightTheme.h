#pragma once
// The console's own light colours, kept whatever the desktop says: the platform theme, the application's
// palette or a palette the application holds for a class of widgets.

#include <QPalette>

// Fusion's light palette as Qt draws it without a desktop theme, written out rather than asked of the
// style: under a dark GTK theme Fusion's standard palette turns dark with the desktop.
//
// Every role of every colour group is marked as set. A window given this palette passes all of it down
// to its children; a role left unset would be taken, for each child, from the palette the application
// holds for the child's class, which a platform theme or the program's own code may have made dark.
QPalette LightPalette();
