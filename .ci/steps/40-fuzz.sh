# Builds the libFuzzer targets in build-fuzz/ (clang; the libraries under
# test instrumented for coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for 60 s from the seed corpus the
# image builder writes. Any crash, leak, sanitizer report, timeout or
# out-of-memory fails the step; its input is left in build-fuzz/artifacts/.
set -euo pipefail
dir=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
flags+=" -fno-omit-frame-pointer"
cmake -S . -B "${dir}" -G Ninja --fresh \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="${flags}" \
  -DD88UNPACK_FUZZ=ON -DD88UNPACK_TESTS=OFF -DD88UNPACK_WERROR=ON
cmake --build "${dir}" -j2 --target fuzz_extract fuzz_sectors fuzz_seeds

seconds="${FUZZ_SECONDS:-60}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
for target in extract sectors; do
  corpus="${dir}/corpus/${target}"
  artifacts="${dir}/artifacts/${target}"
  log="${dir}/fuzz_${target}.log"
  rm -rf "${corpus}" "${artifacts}"
  mkdir -p "${corpus}" "${artifacts}"
  echo "--- fuzz_${target}: ${seconds} s"
  status=0
  "${dir}/fuzz/fuzz_${target}" -max_total_time="${seconds}" -timeout=10 \
    -rss_limit_mb=2048 -max_len=131072 -print_final_stats=1 \
    -artifact_prefix="${artifacts}/" \
    "${corpus}" "${dir}/fuzz/seeds/${target}" >"${log}" 2>&1 || status=$?
  if ((status != 0)) ||
    grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|==ERROR' "${log}"; then
    echo "fuzz_${target} failed (status ${status}); the end of ${log}:"
    tail -n 60 "${log}"
    ls -l "${artifacts}"
    failed=1
    continue
  fi
  # The figures: the last status line (coverage, features, corpus, exec/s)
  # and the final statistics.
  grep -E '^#[0-9]+[[:space:]]+DONE' "${log}" || true
  grep -E '^Done [0-9]+ runs|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "${log}"
done
exit "${failed}"
