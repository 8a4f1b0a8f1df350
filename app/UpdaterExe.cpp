// The product executable's one source: the framework's entry point (in the
// framework library) starts the application object, and this reference is
// what makes the linker take that object from the app library.
#include "Updater.h"

extern CWinApp* const g_updaterApplication;
CWinApp* const g_updaterApplication = &theApp;
