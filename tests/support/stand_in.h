// For launcher stand-ins: small programs linked only with the payload code, so
// nothing here may need the test framework.
#pragma once

#include <cstdlib>

#include "platform.h"

namespace testing_support {

// Makes folder this process's temporary folder where the platform looks for
// it: TMP on Windows, TMPDIR elsewhere.
inline void UseTemporaryFolder(const char* folder)
{
#ifdef _WIN32
    SetEnvironmentVariableA("TMP", folder);
#else
    setenv("TMPDIR", folder, 1);
#endif
}

}  // namespace testing_support
