# Turns the string table (resources/strings/strings.json) into a C++ byte array of its JSON text.
# The table is checked first, so a broken edit stops the build instead of showing empty texts:
# it must be an array of objects, one per id from FIRST to LAST, each with a non-empty text in
# every language of LANGUAGES.
#   cmake -DINPUT=strings.json -DOUT=embedded_strings.cpp -P embed_strings.cmake
cmake_policy(SET CMP0057 NEW)
set(FIRST 242)
set(LAST 367)
set(LANGUAGES 1028 1033 1041 1042 1049 2052)

file(READ ${INPUT} json)
string(JSON count ERROR_VARIABLE err LENGTH "${json}")
if(err)
  message(FATAL_ERROR "${INPUT}: not a JSON array: ${err}")
endif()
string(JSON kind TYPE "${json}")
if(NOT kind STREQUAL "ARRAY")
  message(FATAL_ERROR "${INPUT}: the table must be a JSON array, not ${kind}")
endif()

set(seen "")
if(count GREATER 0)
  math(EXPR lastIndex "${count} - 1")
  foreach(index RANGE ${lastIndex})
    string(JSON entry GET "${json}" ${index})
    string(JSON id ERROR_VARIABLE err GET "${entry}" id)
    if(err OR NOT id MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${INPUT}: entry ${index} has no numeric \"id\"")
    endif()
    if(id LESS FIRST OR id GREATER LAST)
      message(FATAL_ERROR "${INPUT}: id ${id} lies outside ${FIRST}..${LAST}")
    endif()
    if(id IN_LIST seen)
      message(FATAL_ERROR "${INPUT}: id ${id} appears twice")
    endif()
    list(APPEND seen ${id})
    foreach(language IN LISTS LANGUAGES)
      string(JSON textType ERROR_VARIABLE err TYPE "${entry}" ${language})
      if(err OR NOT textType STREQUAL "STRING")
        message(FATAL_ERROR "${INPUT}: id ${id} has no text for language ${language}")
      endif()
      string(JSON text GET "${entry}" ${language})
      if(text STREQUAL "")
        message(FATAL_ERROR "${INPUT}: id ${id} has an empty text for language ${language}")
      endif()
    endforeach()
    string(JSON members LENGTH "${entry}")
    list(LENGTH LANGUAGES languageCount)
    math(EXPR expected "1 + ${languageCount}")
    if(NOT members EQUAL expected)
      message(FATAL_ERROR "${INPUT}: id ${id} has a member besides \"id\" and the languages ${LANGUAGES}")
    endif()
  endforeach()
endif()
foreach(id RANGE ${FIRST} ${LAST})
  if(NOT id IN_LIST seen)
    message(FATAL_ERROR "${INPUT}: id ${id} is missing")
  endif()
endforeach()

file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
file(WRITE ${OUT} "// Generated from resources/strings/strings.json; do not edit.\n"
  "#include <cstddef>\n"
  "namespace tarvex {\n"
  "static const unsigned char kStringTableBytes[] = {${bytes} 0x00};\n"
  "extern const char* const kEmbeddedStringTableJson;\n"
  "extern const std::size_t kEmbeddedStringTableSize;\n"
  "const char* const kEmbeddedStringTableJson = reinterpret_cast<const char*>(kStringTableBytes);\n"
  "const std::size_t kEmbeddedStringTableSize = ${size};\n"
  "}\n")
