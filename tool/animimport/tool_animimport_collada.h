// What the asset library does not pass on from a Collada file: the names the
// artist gave the nodes (the library names a node by its id) and the unit.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct ColladaNames {
  // The library's name of a node (its id, else its sid) -> the artist's: its
  // name, else its sid, else its id. Keys that two nodes with different
  // names share are left out.
  std::map<std::string, std::string> byLibraryName;
  // The meter attribute of the file's <unit> (in its first <asset>): metres
  // per unit of the file; 1 where the file has no <unit> or it has no meter
  // attribute (Collada's default); 0 where the attribute is not a positive number.
  double meter = 1.0;
  // The artist's names (name, else id) of the <animation> elements directly
  // under <library_animations>, in file order: each is one animated object.
  std::vector<std::string> topAnimations;
  // Whether the file has <animation_clip> elements (the library names its
  // clips after them).
  bool hasClips = false;
};

// Scans xml, the text of a Collada file, for the start tags of <node>, of
// <animation> and <animation_clip>, and of the first <unit> (comments, CDATA sections and processing
// instructions skipped; attribute values in single or double quotes, with the five XML entities and numeric
// character references decoded). Never fails: a tag that does not scan gives nothing, and the scan ends at
// the first one whose
// '>' or quote never comes.
ColladaNames ReadColladaNames(std::string_view xml);
