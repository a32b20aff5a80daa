# Static analysis: clang-tidy (.clang-tidy) with the compile commands of
# build/, cppcheck, and the format check against .clang-format. Any finding
# fails the step.
set -euo pipefail
# The test step leaves build/compile_commands.json; configure alone if not.
[[ -f "${TIDY_BUILD_DIR:-build}"/compile_commands.json ]] || cmake --preset default >/dev/null

echo "--- clang-tidy"
# Every source with compile commands in build/: the tool, its tests, the
# test tools, the benchmark and the interop test. One file a call, so the
# GoogleTest files (10-20 s each) spread over both cores.
git ls-files 'd88/*.cpp' 'extract/*.cpp' 'app/*.cpp' 'sample/*.cpp' \
  'testing/*.cpp' 'bench/*.cpp' 'interop/*.cpp' |
  xargs -P 2 -n 1 clang-tidy -p "${TIDY_BUILD_DIR:-build}" --quiet --use-color=0
# The fuzz targets are configured only in the fuzz build: their flags here.
for source in $(git ls-files 'fuzz/*.cpp'); do
  clang-tidy --quiet --use-color=0 "${source}" -- -std=c++20 -I.
done

echo "--- cppcheck"
# Two false positives in the benchmark: mmap's descriptor -1 with
# MAP_ANONYMOUS, and %ju for std::uintmax_t.
cppcheck --enable=warning,performance,portability --std=c++20 --language=c++ \
  --library=googletest --library=posix --inline-suppr --error-exitcode=1 \
  --quiet -I . \
  --suppress=invalidFunctionArg:bench/d88unpack_bench.cpp \
  --suppress=invalidPrintfArgType_uint:bench/d88unpack_bench.cpp \
  $(git ls-files 'd88/*.cpp' 'extract/*.cpp' 'app/*.cpp' 'testing/*.cpp' \
    'fuzz/*.cpp' 'sample/*.cpp' 'bench/*.cpp' 'interop/*.cpp')
cppcheck --enable=warning,performance,portability --std=c11 --language=c \
  --library=posix --inline-suppr --error-exitcode=1 --quiet \
  $(git ls-files '*.c')

echo "--- clang-format"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
echo "static analysis clean"
