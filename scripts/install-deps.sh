#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent: packages already present are skipped without touching apt.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config git ccache
  # Qt 5.15 (DeviceBench, Lumora-Core)
  qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev libqt5svg5-dev
  qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-layouts
  qml-module-qtquick-dialogs qml-module-qtquick-window2 qml-module-qtgraphicaleffects
  qml-module-qttest
  # libraries
  libssl-dev openssl nlohmann-json3-dev libspdlog-dev libcsv-dev libdnnl-dev libtbb-dev
  # oneDNN's CMake package looks for OpenCL; libdnnl-dev only recommends it
  ocl-icd-opencl-dev opencl-headers
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the engine's conformance test computes its reference with PyTorch
  python3-torch python3-numpy
  # fuzzing (clang's libFuzzer runtime)
  clang libclang-rt-14-dev
  # test and demo tools
  xvfb xauth tar
  # cloud_denoiser-batch's Slurm test and benchmark: a single-node cluster on localhost
  slurmctld slurmd slurm-client munge
  # DeviceBench fonts (copied into the build tree under the names the program looks for)
  fonts-roboto fonts-roboto-unhinted
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
