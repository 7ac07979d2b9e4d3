#!/usr/bin/env bash
# Builds the library and the module, then runs the demonstration program and
# the module's demonstration against an in-memory supervisor on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
# Ninja for a new tree; a tree made before by hand with another generator
# keeps its own, which cmake refuses to change.
generator=()
[ -f build/CMakeCache.txt ] || generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
./build/hx_demo
# The interpreter the module was built for.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
"$py" tools/demo.py
