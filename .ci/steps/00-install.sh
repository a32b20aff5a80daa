# Installs the Debian packages the build and every later step need, when
# missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # build, sanitizers, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev        # tests
  clang-tidy clang-format cppcheck valgrind         # static and memory checks
  groff-base dpkg-dev                               # manual page, package
  zlib1g                                            # floptool's one extra library
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
