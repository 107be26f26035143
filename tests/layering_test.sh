#!/usr/bin/env bash
# Plants each kind of layering escape in a temporary copy of src/ and expects
# layering_check.sh to fail on it, naming the file; the untouched copy must pass.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=${1:?usage: layering_test.sh SRC_FOLDER}
check="$here/layering_check.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/layering_test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

fresh() {
  rm -rf "$work/src"
  cp -r "$src" "$work/src"
}

# expect_failure NAME FILE-THE-MESSAGE-NAMES: the check must fail and name that file.
expect_failure() {
  local name=$1 names=$2 out
  out=$(bash "$check" "$work/src" 2>&1)
  if [ $? -eq 0 ]; then
    echo "FAIL: $name: the check passed"
    failures=$((failures + 1))
  elif ! grep -qF -- "$names" <<<"$out"; then
    echo "FAIL: $name: the check failed without naming $names:"
    echo "$out"
    failures=$((failures + 1))
  fi
}

# plant NAME FILE LINE: adds LINE after the first line of FILE (relative to src/), checks,
# and puts the file back.
plant() {
  local name=$1 file=$2 line=$3
  cp "$work/src/$file" "$work/saved"
  sed -i "1a\\
$line" "$work/src/$file"
  expect_failure "$name" "$file"
  cp "$work/saved" "$work/src/$file"
}

fresh
if ! out=$(bash "$check" "$work/src" 2>&1); then
  echo "FAIL: the untouched copy does not pass:"
  echo "$out"
  exit 1
fi

plant "relative include" device/ata_command.cpp '#include "../platform/sim/sim_files.h"'
plant "include relative to the folder" platform/sim/sim_clock.cpp '#include "sim_files.h"'
plant "Qt widgets" health/self_test.cpp '#include <QtWidgets/QWidget>'
plant "Qt core" sysinfo/report.h '#include <QString>'
plant "spaces after #" app/trace.cpp '#  include <windows.h>'
plant "spaces and tab" drives/drive_table.h '  # include	"platform/sim/sim_files.h"'
for header in pthread.h termios.h signal.h csignal poll.h sys/socket.h netinet/in.h sqlite3.h \
              curl/curl.h unistd.h filesystem fstream windows.h dlfcn.h; do
  plant "host header <$header>" sysinfo/report.cpp "#include <$header>"
done
plant "project header in angle brackets" device/nvme_access.cpp '#include <platform/sim/sim_files.h>'
plant "computed include" health/self_test.cpp '#include SIM_HEADER'
plant "interface header includes the emulator" platform/files.h '#include "platform/sim/sim_files.h"'
plant "interface source includes the emulator" platform/text.cpp '#include "platform/sim/sim_machine.h"'
plant "platform includes the system layer" platform/devices.h '#include "device/ata_command.h"'
plant "emulator includes the system layer" platform/sim/sim_clock.cpp '#include "app/trace.h"'
plant "cli includes the emulator" cli/cli_app.h '#include "platform/sim/sim_machine.h"'
plant "device includes health" device/ata_command.h '#include "health/self_test.h"'
plant "records include device" drives/drive_table.h '#include "device/ata_command.h"'
plant "trace includes the start-up" app/trace.cpp '#include "app/startup.h"'
plant "device includes wmi" device/ata_transport.cpp '#include "sysinfo/underlying_util.h"'
plant "health includes the report" health/self_test.cpp '#include "sysinfo/report.h"'
plant "emulator includes Qt" platform/sim/sim_clock.cpp '#include <QtCore/QString>'
plant "cli includes Qt" cli/cli_app.cpp '#include <QCoreApplication>'
plant "emulator includes the window" platform/sim/sim_windows.cpp '#include "ui/korvane_dlg.h"'
plant "system layer includes the window" app/startup.cpp '#include "ui/korvane_dlg.h"'
plant "window includes the emulator" ui/controls/skin.cpp '#include "platform/sim/sim_machine.h"'

# A file of no library.
fresh
mkdir -p "$work/src/maintenance"
echo '#include "device/ata_command.h"' >"$work/src/maintenance/erase.cpp"
expect_failure "file of no library" maintenance/erase.cpp

# A source built into another library's target, and a link the layers do not allow.
fresh
sed -i 's|^  device/identify_decoding.cpp$||; s|^  device/nvme_access.cpp$|  device/nvme_access.cpp\n  device/identify_decoding.cpp|' "$work/src/CMakeLists.txt"
expect_failure "source in the wrong target" device/identify_decoding.cpp
fresh
sed -i 's|^target_link_libraries(tarvex_device PUBLIC |target_link_libraries(tarvex_device PUBLIC tarvex_health |' "$work/src/CMakeLists.txt"
expect_failure "link against the direction" tarvex_device
fresh
sed -i 's|^target_link_libraries(tarvex_scan PUBLIC tarvex_device |target_link_libraries(tarvex_scan PUBLIC |' "$work/src/CMakeLists.txt"
expect_failure "declared dependency not linked" tarvex_scan

# Nothing to check.
rm -rf "$work/src"
mkdir -p "$work/src"
cp "$src/layers.txt" "$work/src/"
expect_failure "no file to check" "no source file"
out=$(bash "$check" "$work/missing" 2>&1) && { echo "FAIL: a missing folder passed"; failures=$((failures + 1)); }

if [ "$failures" -gt 0 ]; then
  echo "$failures planted escape(s) not caught"
  exit 1
fi
echo "every planted escape was caught"
