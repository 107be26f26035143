# Turns the machine profiles named in INPUTS into a C++ table of (name, JSON text).
set(body "")
set(entries "")
set(i 0)
foreach(input IN LISTS INPUTS)
  get_filename_component(name ${input} NAME_WE)
  file(READ ${input} text HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${text}")
  string(APPEND body "static const unsigned char kProfile${i}[] = {${bytes} 0x00};\n")
  string(APPEND entries "    {\"${name}\", reinterpret_cast<const char*>(kProfile${i})},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE ${OUT} "// Generated from resources/machines; do not edit.\n"
  "#include \"platform/sim/embedded_profiles.h\"\n"
  "namespace tarvex::sim {\n${body}\n"
  "const EmbeddedProfile kEmbeddedProfiles[] = {\n${entries}};\n"
  "const int kEmbeddedProfileCount = ${i};\n}\n")
