// <windows.h> without the parts nobody here uses, included the same way
// everywhere. Empty on other systems.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
