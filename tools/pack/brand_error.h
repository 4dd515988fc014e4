// The name the PE writer (pe_writer.h) knows the packer's errors by, until
// it says PackError itself: one list, pack_error.h.
#pragma once

#include "pack_error.h"

using BrandError = PackError;
