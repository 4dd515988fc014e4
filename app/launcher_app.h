// The launcher's application object.
#pragma once

#include "framework.h"

// The application: shows the launcher dialog once, then ends the process.
class CLauncherApp : public CWinApp {
public:
    CLauncherApp() = default;

    BOOL InitInstance() override;

protected:
    MessageMap GetMessageMap() const override;
};

extern CLauncherApp theApp;
