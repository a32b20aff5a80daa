# valgrind memcheck on the sample extraction with the build of the test step:
# any memory error or leak fails the step. The one block still reachable at
# exit is the C++ runtime's emergency exception pool (72 KiB, allocated at
# start-up by the statically linked libstdc++), so reachable blocks are
# reported but only definite and possible leaks count as errors.
set -euo pipefail
[[ -x build/app/d88unpack && -f build/sample.d88 ]] ||
  cmake --build build --target d88unpack sample_image
tool="$(pwd)/build/app/d88unpack"
image="$(pwd)/build/sample.d88"
work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
(cd "${work}" &&
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --show-leak-kinds=all --errors-for-leak-kinds=definite,possible \
    --track-fds=yes \
    --quiet "${tool}" "${image}")
ls -l "${work}"
echo "valgrind clean"
