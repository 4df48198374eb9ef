#include "app/BrevanAppMgr.h"

#include <cstdio>

// The two uninstall stages need the installed layout and the menu entries; until they are
// in place both stages end the program with a plain notice instead of touching any file.
void TBrevanAppMgr::DoUninstallApp() {
    std::fprintf(stderr, "Uninstall is not available in this build.\n");
    CloseApplication(this);
}

void TBrevanAppMgr::DoUninstallFinalize() {
    std::fprintf(stderr, "Uninstall is not available in this build.\n");
    CloseApplication(this);
}
