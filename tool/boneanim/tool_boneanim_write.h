// The runtime animation writer now lives in util/anim, shared with the
// programs that rewrite runtime files; this name stays for existing includes.
#pragma once

#include "util/anim/util_anim_write.h"
