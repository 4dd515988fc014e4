// The launcher's four buttons: shared by the dialog template and the command table.
// Plain defines, so the resource compiler reads this file too.
#pragma once

#define IDC_SETUP_SIMPLIFIED 1000
#define IDC_SETUP_TRADITIONAL 1001
#define IDC_SETUP_ENGLISH 1002
#define IDC_EXIT_SETUP 1003
