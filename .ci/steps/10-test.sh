# The README's test command: builds everything and runs every test.
set -euo pipefail
cmake --workflow --preset test --fresh
