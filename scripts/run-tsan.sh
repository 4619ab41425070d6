#!/usr/bin/env bash
# Builds the tests of the threaded, window-free code with ThreadSanitizer and
# runs them. Qt is not built for it, so these tests keep to the standard
# library's threads and locks; tests/tsan.supp holds what remains outside
# the project's code.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset tsan -DORVANE_WERROR="${WERROR:-OFF}" >/dev/null
cmake --build --preset tsan
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
for test in render_scheduler_test thumbnail_worker_test page_cache_test; do
  echo "== $test under ThreadSanitizer"
  (cd build-tsan && "bin/$test")
done
