// The job description now lives in util/anim beside the path reader, so that
// other programs read jobs the same way; this name stays for boneanim's driver.
#pragma once

#include "util/anim/util_anim_job.h"
