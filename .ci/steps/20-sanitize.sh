# The tests again, built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the run.
set -euo pipefail
cmake --workflow --preset sanitize --fresh
