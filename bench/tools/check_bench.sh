#!/usr/bin/env bash
# Checks that the benchmark programs still measure what they claim (not how fast): the
# sphere has the asked size, the rendered model is a third of the screen high and drawn
# the same way every time, the wireframe draws fewer pixels than the solid, and the loader
# reads every face back in every format.
#   check_bench.sh TOOLS_DIR
set -u
tools=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/bench-check.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail=0
field() { awk -v k="$2" '{for (i = 1; i <= NF; i++) {split($i, a, "="); if (a[1] == k) print a[2]}}' <<<"$1"; }
check() { # description condition...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN {exit !(v >= lo && v <= hi)}'; }

summary=$("$tools/make_sphere" --tris 2000 --format text --out "$tmp/s.x" 2>&1 >/dev/null)
tris=$(field "$summary" tris)
check "sphere of about 2000 triangles ($tris)" between "$tris" 1800 2200
"$tools/make_sphere" --tris 2000 --format bin >"$tmp/s_bin.x" 2>/dev/null
"$tools/make_sphere" --tris 2000 --format tzip --normals no --materials 3 >"$tmp/s_zip.x" \
    2>/dev/null
check "refuses an unknown format" bash -c "! '$tools/make_sphere' --tris 10 --format odd >/dev/null 2>&1"

solid=$("$tools/render_bench" --model "$tmp/s.x" --res 640x360 --frames 3 --warmup 0)
again=$("$tools/render_bench" --model "$tmp/s.x" --res 640x360 --frames 3 --warmup 0)
wire=$("$tools/render_bench" --model "$tmp/s.x" --res 640x360 --frames 3 --warmup 0 --mode wire)
check "model a third of the screen high ($(field "$solid" model_h))" \
    between "$(field "$solid" model_h)" 0.33 0.38
check "same frame on every run" test "$(field "$solid" frame_hash)" = "$(field "$again" frame_hash)"
check "wireframe draws fewer pixels than the solid" \
    test "$(field "$wire" lit_px)" -lt "$(field "$solid" lit_px)"
check "wireframe draws something" test "$(field "$wire" lit_px)" -gt 0
drift=$("$tools/render_bench" --model "$tmp/s.x" --res 640x360 --frames 200 --warmup 0 \
    --motion saver)
check "the saver's motion carries the model away ($(field "$drift" model_h))" \
    between "$(field "$drift" model_h)" 0.05 0.33
check "render_bench refuses a missing model" \
    bash -c "! '$tools/render_bench' --model '$tmp/none.x' --frames 1 >/dev/null 2>&1"

for f in s.x s_bin.x s_zip.x; do
    for stage in builder reader; do
        line=$("$tools/load_bench" --model "$tmp/$f" --runs 2 --stage $stage)
        check "$f ($stage) loads all $tris faces" test "$(field "$line" faces)" = "$tris"
    done
done
for f in obj stl-ascii stl-bin ply-ascii ply-bin-le ply-bin-be gltf glb; do
    "$tools/make_sphere" --tris 2000 --format $f --out "$tmp/s.$f" 2>/dev/null
    line=$("$tools/load_bench" --model "$tmp/s.$f" --runs 1 --stage meshes)
    check "$f (meshes) reads all $tris faces" test "$(field "$line" faces)" = "$tris"
done
exit $fail
