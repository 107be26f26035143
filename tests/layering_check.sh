#!/usr/bin/env bash
# Checks the include lines of every file under src/ against src/layers.txt:
# - each file belongs to one library, and a library includes only the project headers of the
#   libraries it builds on (directly or through others), so the dependencies go one way;
# - project headers are named from src/ in double quotes ("device/ata_command.h"), never
#   relative to the including file ("../platform/sim/x.h", "x.h") nor in angle brackets;
# - the system layer and the platform interfaces include no host headers besides the C++
#   standard library, fmt and nlohmann/json (no Qt, no OS or other library headers);
# - each system library's CMake target (tarvex_<library>) builds exactly that library's
#   sources and links exactly the libraries it builds on;
# - only the libraries named on the "qt" line include Qt headers (any header whose name begins
#   with Q), even those that may include any other host header.
# Spaces after '#' and before the header name do not hide an include. Fails when it finds no
# file to check.
set -u
src=${1:?usage: layering_check.sh SRC_FOLDER}
layers="$src/layers.txt"
if [ ! -f "$layers" ]; then
  echo "layering: no $layers"
  exit 1
fi

files=$(cd "$src" 2>/dev/null && find . -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) | sed 's|^\./||' | LC_ALL=C sort)
if [ -z "$files" ]; then
  echo "layering: no source file under $src: nothing checked"
  exit 1
fi
cmakes=$(cd "$src" && find . -name CMakeLists.txt | sed 's|^\./||' | LC_ALL=C sort)

# The C++ standard library (C++20), including the C library headers in their <cxxx> form.
std_headers="algorithm any array atomic barrier bit bitset cassert cctype cerrno cfloat charconv
chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable
coroutine csetjmp cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque
exception execution expected filesystem format forward_list fstream functional future
initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map memory
memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex
scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept
stop_token streambuf string string_view syncstream system_error thread tuple type_traits
typeindex typeinfo unordered_map unordered_set utility valarray variant vector version"
# Standard headers that reach the host past the platform layer: its files and signals.
std_host_headers="filesystem fstream csignal"

cd "$src" || exit 1
# shellcheck disable=SC2086
awk -v std="$std_headers" -v stdhost="$std_host_headers" -v filelist="$files" '
function fail(msg) { print msg; errors++ }
function glob2re(g,   r, i, c) {
  r = "^"
  for (i = 1; i <= length(g); i++) {
    c = substr(g, i, 1)
    if (c == "*") r = r ".*"
    else if (c ~ /[.+?()|\[\]{}^$\\]/) r = r "\\" c
    else r = r c
  }
  return r "$"
}
function libraryOf(path,   i) {
  for (i = 1; i <= npatterns; i++) if (path ~ patternRe[i]) return patternLib[i]
  return ""
}
# Every library reachable from `lib` through its dependencies.
function reach(lib, seen,   n, parts, i) {
  if (lib in seen) return
  seen[lib] = 1
  n = split(deps[lib], parts, " ")
  for (i = 1; i <= n; i++) reach(parts[i], seen)
}
FNR == 1 && FILENAME == "layers.txt" { readingLayers = 1 }
readingLayers && FILENAME == "layers.txt" {
  sub(/#.*/, "")
  if (NF == 0) next
  if ($1 == "layer") {
    lib = $2; known[lib] = 1; d = ""
    for (i = 3; i <= NF; i++) d = d " " $i
    deps[lib] = d
  } else if ($1 == "system") {
    for (i = 2; i <= NF; i++) systemLib[$i] = 1
  } else if ($1 == "host") {
    hostRule[$2] = 1
    for (i = 3; i <= NF; i++) hostAllowed[$2, $i] = 1
  } else if ($1 == "qt") {
    for (i = 2; i <= NF; i++) { qtLib[$i] = 1; qtList = qtList (qtList == "" ? "" : ", ") $i }
  } else if ($1 == "file") {
    npatterns++; patternRe[npatterns] = glob2re($2); patternLib[npatterns] = $3
    if (!($3 in known)) fail("layers.txt: file pattern " $2 " names the unknown library " $3)
  } else {
    fail("layers.txt: cannot read: " $0)
  }
  next
}
FNR == 1 { readingLayers = 0 }
# CMake lists: the sources and the tarvex_* links of each add_library(tarvex_X ...).
FILENAME ~ /CMakeLists\.txt$/ {
  line = $0; sub(/#.*/, "", line)
  dir = FILENAME; sub(/CMakeLists\.txt$/, "", dir)
  if (match(line, /add_library\(tarvex_[a-z_]+/)) {
    target = substr(line, RSTART + 19, RLENGTH - 19); inSources = 1; cmakeTarget[target] = 1
    sourceDir[target] = dir
    line = substr(line, RSTART + RLENGTH)
  }
  if (inSources) {
    n = split(line, words, /[ \t()]+/)
    for (i = 1; i <= n; i++) if (words[i] ~ /\.(cpp|cc)$/) sourceTarget[dir words[i]] = target
    if (line ~ /\)/) inSources = 0
  }
  if (match(line, /target_link_libraries\(tarvex_[a-z_]+/)) {
    t = substr(line, RSTART + 29, RLENGTH - 29)
    n = split(substr(line, RSTART + RLENGTH), words, /[ \t()]+/)
    for (i = 1; i <= n; i++) if (words[i] ~ /^tarvex_/) linked[t] = linked[t] " " substr(words[i], 8)
  }
  next
}
FNR == 1 {
  path = FILENAME; lib = libraryOf(path); checked++
  if (lib == "") fail(path ": belongs to no library of layers.txt")
  else count[lib]++
}
# An include line: "#", spaces, "include", spaces, then the header.
/^[ \t]*#[ \t]*include/ {
  if (lib == "") next
  rest = $0; sub(/^[ \t]*#[ \t]*include[ \t]*/, "", rest)
  where = FILENAME ":" FNR
  if (rest ~ /^"/) {
    header = rest; sub(/^"/, "", header); sub(/".*/, "", header)
    if (header ~ /(^|\/)\.\.?\// || header ~ /^\//) {
      fail(where ": relative include \"" header "\": name project headers from src/")
      next
    }
    if (!(header in exists)) {
      fail(where ": \"" header "\" is not a file of src/ (name project headers from src/)")
      next
    }
    target = libraryOf(header)
    delete seen; reach(lib, seen)
    if (!(target in seen)) fail(where ": " lib " includes \"" header "\" of " target ", which it does not build on")
  } else if (rest ~ /^</) {
    header = rest; sub(/^</, "", header); sub(/>.*/, "", header)
    if (header in exists) {
      fail(where ": <" header "> is a project header: include it in double quotes")
      next
    }
    # Qt headers (<QWidget>, <QtCore/QString>) belong to the window alone, whatever else a
    # library may include from the host.
    if (header ~ /^Q/) {
      if (!(lib in qtLib)) fail(where ": " lib " includes the Qt header <" header ">; only " qtList " may include Qt")
      next
    }
    if (hostAllowed[lib, "*"] || hostAllowed[lib, header]) next
    if ((lib in systemLib) || (lib in hostRule)) {
      ok = (header in stdHeader) || header ~ /^fmt\/[a-z_]+\.h$/ || header ~ /^nlohmann\/[a-z_]+\.hpp$/
      if (ok && (header in stdHostHeader) && (lib in systemLib)) ok = 0
      if (!ok) fail(where ": " lib " includes the host header <" header ">; reach the host through src/platform")
    }
  } else {
    fail(where ": include without a header name in quotes or brackets: " $0)
  }
}
BEGIN {
  n = split(std, words, /[ \n]+/); for (i = 1; i <= n; i++) stdHeader[words[i]] = 1
  n = split(stdhost, words, /[ \n]+/); for (i = 1; i <= n; i++) stdHostHeader[words[i]] = 1
  n = split(filelist, words, "\n"); for (i = 1; i <= n; i++) exists[words[i]] = 1
}
END {
  if (checked == 0) fail("layering: no source file checked")
  for (l in known) if (!(l in count)) fail("layering: no file belongs to library " l " (layers.txt does not match src/)")
  # The CMake targets of the system layer match the libraries.
  for (l in systemLib) {
    t = l
    if (!(t in cmakeTarget)) { fail("CMake: no add_library(tarvex_" t " ...) for library " l); continue }
    want = deps[l]; have = linked[t]
    n = split(want, a, " "); m = split(have, b, " ")
    delete w; delete h
    for (i = 1; i <= n; i++) w[a[i]] = 1
    for (i = 1; i <= m; i++) h[b[i]] = 1
    for (x in w) if (!(x in h)) fail("CMake: tarvex_" t " does not link tarvex_" x " (layers.txt: " l " builds on" want ")")
    for (x in h) if (x != "platform" && !(x in w)) fail("CMake: tarvex_" t " links tarvex_" x ", which layers.txt does not let " l " build on")
  }
  for (f in exists) {
    if (f !~ /\.(cpp|cc)$/) continue
    l = libraryOf(f)
    if (!(l in systemLib)) continue
    if (!(f in sourceTarget)) fail("CMake: " f " (library " l ") is in no tarvex_* library")
    else if (sourceTarget[f] != l) fail("CMake: " f " is built into tarvex_" sourceTarget[f] ", but belongs to " l)
  }
  if (errors > 0) { print errors " layering error(s)"; exit 1 }
  print "layering: " checked " files of " length(count) " libraries checked"
}
' layers.txt $cmakes $files
