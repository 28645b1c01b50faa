// Tests of the Collada scan: the artist's node names, the clip's object and
// the unit, from start tags that comments, quotes and entities disguise.
#include "tool/animimport/tool_animimport_collada.h"

#include <gtest/gtest.h>

namespace {

TEST(AnimImportCollada, NamesComeFromNameThenSidThenIdAndTheUnitFromTheAsset) {
  const ColladaNames n = ReadColladaNames(
      "<?xml version=\"1.0\"?><COLLADA><asset><unit name=\"centimeter\" meter='0.01'/></asset>"
      "<!-- <node id=\"Commented\" name=\"X\"> --><![CDATA[<node id='InData' name='Y'>]]>"
      "<library_animations><animation id=\"action-Armature\" name=\"Armature\">"
      "<animation id='a1' name='Armature'/><animation id='a2'></animation></animation>"
      "<animation id=\"Camera_action\"></animation></library_animations>"
      "<node id=\"Armature_Hips\" name=\"Hips\" sid=\"Hips\" type=\"JOINT\">"
      "<node id='Armature_Arm' sid='Arm&amp;Hand'>"
      "<node id=\"NoName\" name=\"\">"
      "<node sid=\"OnlySid\">"
      "<node id=\"Twice\" name=\"First\"><node id=\"Twice\" name=\"Second\">"
      "<node id=\"Quoted\" name=\"a &quot;b&quot; &#x263A; &bogus;\">"
      "<unit meter=\"5\"/>"
      "<node id=\"Unclosed\" name=\"never");
  const std::map<std::string, std::string> want = {{"Armature_Hips", "Hips"},
                                                   {"Armature_Arm", "Arm&Hand"},
                                                   {"NoName", "NoName"},
                                                   {"OnlySid", "OnlySid"},
                                                   {"Quoted", "a \"b\" \xE2\x98\xBA &bogus;"}};
  EXPECT_EQ(n.byLibraryName, want);  // "Twice" is ambiguous, the rest is in comments, data or unclosed
  EXPECT_EQ(n.meter, 0.01);          // the first <unit> of the asset only
  EXPECT_EQ(n.topAnimations, (std::vector<std::string>{"Armature", "Camera_action"}));
  EXPECT_FALSE(n.hasClips);

  struct Case {
    const char* xml;
    double meter;
  } units[] = {
      {"<asset></asset>", 1.0},
      {"<asset><unit/></asset>", 1.0},
      {"<asset><unit meter=\"-1\"/></asset>", 0.0},
      {"<asset><unit meter=\"1e-2x\"/></asset>", 0.0},
      {"<asset><unit meter=\"0.0254\"/></asset><library_animation_clips><animation_clip id='c'/>", 0.0254}};
  for (const Case& c : units) EXPECT_EQ(ReadColladaNames(c.xml).meter, c.meter) << c.xml;
  EXPECT_TRUE(ReadColladaNames(units[4].xml).hasClips);
}

}  // namespace
