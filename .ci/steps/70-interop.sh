# Interoperability: MAME's floptool, an independent D88 reader, must read the
# builder's images and the sample as the sectors they hold. Unpacks floptool
# from Debian's mame-tools package into build/floptool/ (without installing
# the package or its desktop dependencies) and runs the interop test of the
# test step's build with it, so that the test runs instead of skipping.
set -euo pipefail
build="${D88UNPACK_BUILD_DIR:-build}"
root="${build}/floptool"
floptool="${root}/usr/bin/floptool"

if [[ ! -x "${floptool}" ]]; then
  download="$(mktemp -d)"
  trap 'rm -rf "${download}"' EXIT
  # apt fetches as its own user where it may write.
  chown _apt "${download}" 2>/dev/null || true
  if ! (cd "${download}" && apt-get download -q mame-tools); then
    apt-get update -q
    (cd "${download}" && apt-get download -q mame-tools)
  fi
  rm -rf "${root}"
  dpkg -x "${download}"/mame-tools_*.deb "${root}"
fi

# floptool needs only libz, libstdc++, libgcc_s, libc and libm, which the
# install step provides.
if ldd "${floptool}" | grep 'not found'; then
  echo "floptool lacks a shared library" >&2
  exit 1
fi
echo "floptool $("${floptool}" version 2>&1 | head -n 1)"

log="$(mktemp)"
status=0
D88UNPACK_FLOPTOOL="$(realpath "${floptool}")" \
  ctest --test-dir "${build}" -L interop --output-on-failure --no-tests=error \
  2>&1 | tee "${log}" || status=$?
if ((status == 0)) && grep -q 'Skipped' "${log}"; then
  echo "the interop test was skipped" >&2
  status=1
fi
rm -f "${log}"
exit "${status}"
