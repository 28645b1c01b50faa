// Build-compatibility check between a program and the runtime it is linked with.
#pragma once

// The build tag of this runtime: the configuration (float layout, target and
// build kind) that every program linked with it must have been compiled for.
constexpr const char* qvl_kSysBuildTag = "quorvel_c164x12u_fwin32vc7x1release";

// Compares buildTag, the tag the calling program was compiled with, against
// qvl_kSysBuildTag. On a mismatch (or a null tag) it writes one warning line
// naming sourcePath and both tags to standard error. Returns whether the tags
// match; the program goes on either way.
bool qvl_SysVersionCheckWith(const char* sourcePath, const char* buildTag);
