#!/usr/bin/env bash
# The system layer (everything under src/ except platform backends, ui and cli) must not
# include Qt or OS headers, and must not reach into the emulated PC.
set -u
src=${1:?source folder}
status=0
for dir in app drives device health maintenance update sysinfo; do
  [ -d "$src/$dir" ] || continue
  hits=$(grep -rnE '#include\s*[<"](Q[A-Za-z]+|windows\.h|winioctl\.h|unistd\.h|fcntl\.h|dirent\.h|sys/[^>"]+|platform/sim/[^>"]+)[>"]' "$src/$dir" || true)
  if [ -n "$hits" ]; then
    echo "system layer includes a forbidden header:"
    echo "$hits"
    status=1
  fi
done
# The emulated PC never reaches into the system layer.
hits=$(grep -rnE '#include\s*"(app|drives|device|health|maintenance|update|sysinfo|ui|cli)/' "$src/platform" || true)
if [ -n "$hits" ]; then
  echo "platform layer includes the system layer:"
  echo "$hits"
  status=1
fi
exit $status
