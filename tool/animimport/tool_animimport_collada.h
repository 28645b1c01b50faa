// What the asset library does not pass on from a Collada file: the names the
// artist gave the nodes (the library names a node by its id) and the unit.
#pragma once

#include <map>
#include <string>
#include <string_view>

struct ColladaNames {
  // The library's name of a node (its id, else its sid) -> the artist's: its
  // name, else its sid, else its id. Keys that two nodes with different
  // names share are left out.
  std::map<std::string, std::string> byLibraryName;
  // The meter attribute of the file's <unit> (in its first <asset>): metres
  // per unit of the file; 1 where the file has no <unit> or it has no meter
  // attribute (Collada's default); 0 where the attribute is not a positive number.
  double meter = 1.0;
};

// Scans xml, the text of a Collada file, for the start tags of <node> and
// of the first <unit> (comments, CDATA sections and processing instructions
// skipped; attribute values in single or double quotes, with the five XML
// entities and numeric character references decoded). Never fails: a tag
// that does not scan gives nothing, and the scan ends at the first one whose
// '>' or quote never comes.
ColladaNames ReadColladaNames(std::string_view xml);
