#pragma once
// The console's main window for the fuzz targets that drive it: made once per process, under the
// console's own application object (offscreen), with the general error handler recording instead of
// opening a message box.

#include <QStringList>

class TfrmMain;

namespace fuzzsupport {

// Call from LLVMFuzzerInitialize, before anything else of Qt.
void startApplication();
TfrmMain& window();
// Messages the general error handler got since the last call.
QStringList takeErrors();
// What the readout of spectrograph Index draws for its value, and that this is the stored
// current wavelength: the one check of "the readout never shows a wrong number".
void checkReadout(int Index);

} // namespace fuzzsupport
