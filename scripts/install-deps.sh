#!/usr/bin/env bash
# Installs, with apt-get, only the Debian packages that are not installed yet,
# so running it again on a ready machine does nothing and needs no network.
set -euo pipefail

packages=(
  build-essential cmake g++ make pkg-config
  libgtest-dev
  # CRC-32 of saved states
  zlib1g-dev
  python3 python3-numpy python3-tifffile python3-meshio python3-stl
  libxrl-dev python3-xraylib imagemagick gzip
  # Intel Embree 3, the reference of bench_rays only
  libembree-dev
  # MPI for cluster runs (Open MPI)
  libopenmpi-dev openmpi-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
