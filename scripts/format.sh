#!/usr/bin/env bash
# Formats every C++ file of the project in place.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' | xargs -0 -r clang-format -i
