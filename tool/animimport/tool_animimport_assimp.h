// Reader of every other format (FBX, Collada and more) through the Open Asset
// Import Library into the importer's model.
#pragma once

#include <string>

#include "tool/animimport/tool_animimport_model.h"

// Reads the file at path (a complete path) into model: every node of the
// library's scene (its root included; FBX pivots merged into their nodes),
// the rest transform of each, the mesh bones as skin bones, and one clip per
// animation with linear keys in seconds (ticks over ticks per second; 0
// ticks per second counts as 25, reported as information). Keys that do not
// come after the one before them are dropped with a warning. The unit:
// FBX's unit scale (centimetres times UnitScaleFactor); Collada's <unit>,
// whose scale the library puts on the root node and which is taken off it
// again. Collada nodes take the names the artist gave them (name, else sid,
// else id) instead of the library's (id).
// A file the library cannot read is reported to handler at level 2 with the
// context path and the library's error string; false then.
bool ReadAssimp(qvl_CUtilMsgHandler* handler, const std::string& path, SourceModel* model);
