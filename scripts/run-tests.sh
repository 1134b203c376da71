#!/usr/bin/env bash
# Runs every check CI runs: formatting, g++ and clang builds with warnings as
# errors, the whole test suite on both, and again under ASan + UBSan, a strict
# POSIX build with libc++, then a minute of each fuzzer and a replay of the
# saved fuzz corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# deps.sh has installed every test's prerequisites: a test that finds one
# missing fails here instead of skipping, as it would in a plain ctest run.
export LBL_REQUIRE_PREREQUISITES=1

jobs=${JOBS:-$(nproc)}

# The tests give the filter a private /var/log/cups; the host's log must come
# out of the whole run exactly as it went in (or still be absent).
host_log=/var/log/cups/mervane.log
log_state() { if [ -e "$host_log" ]; then stat -c '%s %Y %U %a' "$host_log"; sha256sum <"$host_log"; else echo absent; fi; }
host_log_before=$(log_state)

echo "== clang-format"
files=$(git ls-files '*.cc' '*.h')
clang-format --dry-run --Werror $files

echo "== layers"
bash scripts/check-layers.sh

echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++20 --inline-suppr \
  --error-exitcode=1 -I . filter log settings render tools app

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

# The Printer Application's scenarios under ThreadSanitizer: many clients,
# jobs and status polls at once on several printers.
echo "== build-ci/tsan (clang++ -fsanitize=thread, ctest -R app-)"
cmake -S . -B build-ci/tsan -DCMAKE_CXX_COMPILER=clang++ -DLBL_WERROR=ON -DLBL_TSAN=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLBL_BUILD_BENCH=OFF >/dev/null
cmake --build build-ci/tsan -j "$jobs"
(cd build-ci/tsan && ctest --output-on-failure -j "$jobs" -R app-)

# The programs as macOS builds them: clang with libc++ and strict POSIX, no
# GNU extensions, so a Linux-only call cannot come back unnoticed. lblprinter's
# code is compiled (lbl_app), the program not linked: Debian's poppler-cpp
# passes std::string in libstdc++'s layout, which libc++ cannot link against.
echo "== build-ci/posix (clang++, libc++, -U_GNU_SOURCE -D_POSIX_C_SOURCE=200809L)"
cmake -S . -B build-ci/posix -DCMAKE_CXX_COMPILER=clang++ -DLBL_WERROR=ON -DLBL_BUILD_TESTS=OFF \
  -DLBL_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS=-stdlib=libc++ -U_GNU_SOURCE -D_POSIX_C_SOURCE=200809L" \
  -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ >/dev/null
cmake --build build-ci/posix -j "$jobs" --target lblfilter lblview lbl_app

# libFuzzer with ASan + UBSan: each target fuzzes for FUZZ_SECONDS (two at a
# time), then the saved corpus in fuzz/corpus/ replays through every target.
echo "== build-ci/fuzz (clang++ libFuzzer, ${FUZZ_SECONDS:=60} s per target)"
cmake -S . -B build-ci/fuzz -DCMAKE_CXX_COMPILER=clang++ -DLBL_WERROR=ON -DLBL_FUZZ=ON \
  -DLBL_BUILD_TESTS=OFF -DLBL_BUILD_BENCH=OFF >/dev/null
cmake --build build-ci/fuzz -j "$jobs"
bash fuzz/run-fuzzers.sh build-ci/fuzz "$FUZZ_SECONDS"

echo "== the host's filter log"
[ "$(log_state)" = "$host_log_before" ] || { echo "a test touched $host_log"; exit 1; }
echo "all checks passed"
