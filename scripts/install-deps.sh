#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build and the tests need. Runs as root
# or through sudo; does nothing when every package is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build python3 binutils
  g++-mingw-w64-x86-64-posix mingw-w64 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth
  libvulkan-dev mesa-vulkan-drivers vulkan-tools
  opencl-headers ocl-icd-libopencl1 pocl-opencl-icd
  directx-headers-dev
  googletest libgtest-dev nlohmann-json3-dev python3-jsonschema
  python3-build python3-hatchling python3-installer python3-venv python3-mypy
  clang libclang-rt-14-dev valgrind hyperfine time procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
