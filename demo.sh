#!/usr/bin/env bash
# Builds the service and runs its main job inside a private network namespace, so nothing it
# sends can reach the network around this machine.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ iproute2 util-linux)
missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
  run apt-get update
  run env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tempwarden

isolate=(unshare -n)
[ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
"${isolate[@]}" -- bash -c 'ip link set lo up && ./build/tempwarden'
