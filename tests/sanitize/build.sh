#!/bin/sh
# Configures and builds the sanitized tree: clang with AddressSanitizer,
# UndefinedBehaviorSanitizer and the coverage instrumentation of libFuzzer,
# holding the unit tests and the fuzz targets.
#   build.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
dir=$2
for tool in clang clang++; do
  command -v $tool >/dev/null 2>&1 || { echo "sanitized build: $tool is missing (scripts/install-deps installs it)" >&2; exit 1; }
done
CC=clang CXX=clang++ cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
  -DWEBORVANE_SANITIZE=ON -DWEBORVANE_FUZZ=ON >"$dir.configure.log" 2>&1 || {
  cat "$dir.configure.log" >&2
  exit 1
}
cmake --build "$dir" -j2 --target unit_tests fuzz_query fuzz_template fuzz_request
