# Turns a text file of the page (script or markup) into a C++ source that
# defines it as a null-terminated char array, so that the file stays readable
# in the repository and no hand-written string literal holds it.
# Run as: cmake -DIN=<file> -DOUT=<file.cpp> -DNAME=<symbol> [-DSCRIPT=ON] -P tool_animinspect_embed.cmake
file(READ "${IN}" text)
# The page inlines a script in a script element (-DSCRIPT=ON): a closing tag
# inside it would end the element early.
if(SCRIPT)
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "</script" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${IN} contains \"</script\", which would end the page's script element")
  endif()
endif()
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.\nextern const unsigned char ${NAME}[];\nconst unsigned char ${NAME}[] = {\n${bytes}0x00};\n")
