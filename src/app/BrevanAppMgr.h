// Brevanta's application manager: the framework's manager plus the product's uninstall.
#pragma once

#include "app/AppMgr.h"

class TBrevanAppMgr : public TAppMgr {
protected:
    void DoUninstallApp() override;
    void DoUninstallFinalize() override;
};
