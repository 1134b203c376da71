#!/usr/bin/env bash
# Runs every check CI runs: formatting, g++ and clang builds with warnings as
# errors, the whole test suite on both, and again under ASan + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=${JOBS:-$(nproc)}

echo "== clang-format"
files=$(git ls-files '*.cc' '*.h')
clang-format --dry-run --Werror $files

echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++20 --inline-suppr \
  --error-exitcode=1 -I . filter log settings render tools

build_and_test() {  # name, compiler, extra cmake args...
  local dir="build-ci/$1" cxx="$2"
  shift 2
  echo "== $dir ($cxx $*)"
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DLBL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

build_and_test gcc g++ -DCMAKE_BUILD_TYPE=Release
build_and_test clang clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLBL_BUILD_BENCH=OFF
build_and_test sanitize clang++ -DCMAKE_BUILD_TYPE=Debug -DLBL_SANITIZE=ON -DLBL_BUILD_BENCH=OFF
echo "all checks passed"
