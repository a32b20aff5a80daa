# Installs the Debian packages the build and the checks need, when missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "${package}" >/dev/null 2>&1 || missing+=("${package}")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
