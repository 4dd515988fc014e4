// Our small dialog framework over Win32: everything the launcher uses.
#pragma once

#include "app.h"
#include "bitmap_button.h"
#include "dialog.h"
#include "gdi.h"
#include "message_map.h"
#include "wnd.h"

// The framework's standard help command id.
#define ID_HELP 0xE146
