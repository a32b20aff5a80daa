# Install, manual page and Debian package, checked on the build of the test
# step (build/): the install puts both files in place, the manual page
# renders without a warning, and the .deb holds them and its unpacked binary
# extracts the sample.
set -euo pipefail
build="${D88UNPACK_BUILD_DIR:-build}"
sample="${build}/sample.d88"

scratch="$(mktemp -d)"
trap 'rm -rf "${scratch}"' EXIT

echo "--- manual page"
warnings="$(groff -man -ww -z man/d88unpack.1 2>&1)"
if [[ -n "${warnings}" ]]; then
  printf '%s\n' "${warnings}"
  echo "man/d88unpack.1 does not render cleanly" >&2
  exit 1
fi

echo "--- install"
cmake --install "${build}" --prefix "${scratch}/prefix"
for file in bin/d88unpack share/man/man1/d88unpack.1; do
  [[ -f "${scratch}/prefix/${file}" ]] || { echo "not installed: ${file}" >&2; exit 1; }
done
[[ -x "${scratch}/prefix/bin/d88unpack" ]] || { echo "bin/d88unpack is not executable" >&2; exit 1; }

echo "--- package"
rm -f "${build}"/d88unpack_*.deb
(cd "${build}" && cpack -G DEB)
debs=("${build}"/d88unpack_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || { echo "expected one .deb in ${build}" >&2; exit 1; }
deb="${debs[0]}"
dpkg-deb -I "${deb}"
contents="$(dpkg-deb -c "${deb}")"
printf '%s\n' "${contents}"
for file in ./usr/bin/d88unpack ./usr/share/man/man1/d88unpack.1; do
  grep -q " ${file}\$" <<<"${contents}" || { echo "not in the package: ${file}" >&2; exit 1; }
done
for field in Package:d88unpack Section:utils; do
  value="$(dpkg-deb -f "${deb}" "${field%%:*}")"
  [[ "${value}" == "${field#*:}" ]] || { echo "${field%%:*} is '${value}'" >&2; exit 1; }
done
[[ -n "$(dpkg-deb -f "${deb}" Maintainer)" && -n "$(dpkg-deb -f "${deb}" Description)" ]] ||
  { echo "the package lacks a maintainer or a description" >&2; exit 1; }

echo "--- the unpacked package on the sample"
dpkg -x "${deb}" "${scratch}/root"
sample="$(realpath "${sample}")"
mkdir "${scratch}/out"
status=0
(cd "${scratch}/out" && "${scratch}/root/usr/bin/d88unpack" "${sample}") || status=$?
[[ ${status} -eq 0 ]] || { echo "d88unpack exited with ${status}" >&2; exit 1; }
files="$(cd "${scratch}/out" && LC_ALL=C ls)"
# The sample holds the text files of sample/files/ and a table, SINTAB.
texts=(sample/files/*.txt)
texts=("${texts[@]##*/}")
texts=("${texts[@]%.txt}")
expected="$(printf '%s\n' "${texts[@]}" SINTAB | LC_ALL=C sort)"
[[ "${files}" == "${expected}" ]] || { echo "extracted: ${files}" >&2; exit 1; }
for name in "${texts[@]}"; do
  # Files are whole blocks: the text, then padding.
  size="$(stat -c %s "sample/files/${name}.txt")"
  cmp -n "${size}" "sample/files/${name}.txt" "${scratch}/out/${name}" ||
    { echo "${name} differs from sample/files/${name}.txt" >&2; exit 1; }
done
echo "package checks passed"
