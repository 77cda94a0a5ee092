#!/bin/bash
# Builds the simulator from a copy of the tree's own files alone, in an empty folder with
# nothing beside it, and runs the worked example: fails when a build input lies outside the tree.
# usage: build_alone.sh SOURCE_DIR PYTHON
set -euo pipefail

source_dir=$1
python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files a clone would hold: those git tracks, and new ones not yet ignored.
if ! git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "skipped: $source_dir is not a git checkout, so which files belong to the tree is unknown"
    exit 77
fi
mkdir "$work/tree"
cd "$source_dir"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' file; do
    # A tracked file deleted in the working tree is not part of the copy.
    if [ -e "$file" ]; then cp --parents -- "$file" "$work/tree"; fi
done
cd - >/dev/null

echo "building from $(find "$work/tree" -type f | wc -l) files in $work/tree"
cmake -S "$work/tree" -B "$work/build" -G Ninja >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; echo "configuring the copy failed"; exit 1; }
ninja -C "$work/build" qorvalin-sim >"$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log"; echo "building the copy failed"; exit 1; }
# The copy's own build folder holds the harness's names of its files, the simulator among them.
cd "$work/tree"
QORVALIN_BUILD=$work/build "$python" -m pytest -q -c pytest.ini \
    "tests/scenarios/test_golden.py::test_scenario[examples/windows98-piix4]"
