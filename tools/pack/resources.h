// The resources the packer reads and rewrites in a stub, one format a file:
// the directory tree (resource_tree), version blocks (version_block), dialog
// templates (dialog_template), string blocks (string_block) and icon groups
// (icon_group); and the codec (utf) their UTF-16 texts meet UTF-8 through.
#pragma once

#include "dialog_template.h"
#include "icon_group.h"
#include "resource_tree.h"
#include "string_block.h"
#include "utf.h"
#include "version_block.h"
