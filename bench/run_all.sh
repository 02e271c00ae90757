#!/usr/bin/env bash
# Runs every whole-pipeline benchmark case several times and prints, per case, the
# median of the runs beside its target.
#
#   bench/run_all.sh [BUILD_DIR]        (default: build/ beside this folder)
#   RUNS=5 FRAMES=300 bench/run_all.sh build-bench
#   SKIP_SAVER=1 bench/run_all.sh       leave out the saver under Xvfb
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd) || exit 1
tools=$build/bench/tools
runs=${RUNS:-3}
frames=${FRAMES:-300}
for t in make_sphere render_bench load_bench frame_diff; do
    [ -x "$tools/$t" ] || { echo "missing $tools/$t (build the bench folder)" >&2; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/plumora-bench.XXXXXX")
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

# Value of key in a line of key=value pairs.
field() { awk -v k="$2" '{for (i = 1; i <= NF; i++) {split($i, a, "="); if (a[1] == k) print a[2]}}' <<<"$1"; }
# Median of the numbers given as arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# ok when value <= limit.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN {print (v != "" && v + 0 <= l + 0) ? "ok" : "MISSED"}'; }

failed=0
report() { # name value unit target extra
    local v
    v=$(verdict "$2" "$4")
    [ "$v" = ok ] || failed=1
    printf '%-34s %10s %-3s target <= %-6s %-6s %s\n' "$1" "$2" "$3" "$4" "$v" "$5"
}

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "generating spheres in $tmp"
"$tools/make_sphere" --tris 10000 --format bin --out "$tmp/s10k.x" || exit 1
"$tools/make_sphere" --tris 100000 --format bin --out "$tmp/s100k.x" || exit 1
for f in text bin tzip; do
    "$tools/make_sphere" --tris 200000 --format $f --out "$tmp/s200k_$f.x" || exit 1
done
for f in stl-bin glb; do
    "$tools/make_sphere" --tris 200000 --format $f --out "$tmp/s200k.$f" || exit 1
done
"$tools/make_sphere" --tris 2000000 --format bin --out "$tmp/s2m.x" || exit 1
"$tools/make_sphere" --tris 2000000 --format bin --bumps 24 --out "$tmp/b2m.x" || exit 1

echo "render: $runs runs of $frames frames each; figure = median of the runs' CPU ms per frame"
render_case() { # name model res mode target [frames]
    local cpu=() wall=() line=
    for ((i = 0; i < runs; i++)); do
        line=$("$tools/render_bench" --model "$2" --res "$3" --mode "$4" --frames "${6:-$frames}") || {
            echo "$1: render_bench failed" >&2
            failed=1
            return
        }
        cpu+=("$(field "$line" cpu_ms_per_frame)")
        wall+=("$(field "$line" median_ms)")
    done
    report "$1" "$(median "${cpu[@]}")" ms "$5" \
        "wall=$(median "${wall[@]}")ms lit_px=$(field "$line" lit_px) model_h=$(field "$line" model_h)"
}
render_case "1920x1080 10k solid" "$tmp/s10k.x" 1920x1080 solid 1.4
render_case "1920x1080 100k solid" "$tmp/s100k.x" 1920x1080 solid 3.0
render_case "3840x2160 10k solid" "$tmp/s10k.x" 3840x2160 solid 6.0
render_case "1920x1080 10k wire" "$tmp/s10k.x" 1920x1080 wire 1.5
render_case "1920x1080 2M solid" "$tmp/s2m.x" 1920x1080 solid 5.0 $((frames < 100 ? frames : 100))

echo "picture: the last frame drawn with simplified copies against the model itself; figure = share"
echo "  of the pixels lit in either that differ by more than 24 levels in a channel"
picture_case() { # name model res motion
    local line
    "$tools/render_bench" --model "$2" --res "$3" --motion "$4" --frames 100 \
        --dump "$tmp/lod.ppm" >/dev/null &&
        "$tools/render_bench" --model "$2" --res "$3" --motion "$4" --frames 100 \
            --full-detail --dump "$tmp/full.ppm" >/dev/null || {
        echo "$1: render_bench failed" >&2
        failed=1
        return
    }
    line=$("$tools/frame_diff" --a "$tmp/lod.ppm" --b "$tmp/full.ppm")
    report "$1" "$(field "$line" differ_pct)" % 1 "lit_px=$(field "$line" lit_px)"
}
picture_case "picture 2M sphere" "$tmp/s2m.x" 1920x1080 spin
picture_case "picture 2M sphere, drifting" "$tmp/s2m.x" 1920x1080 saver
picture_case "picture 2M bumpy" "$tmp/b2m.x" 1920x1080 spin
picture_case "picture 100k sphere 4K, drifting" "$tmp/s100k.x" 3840x2160 saver

echo "picture: the 200k sphere read from another format against its binary .x twin, drifting;"
echo "  figure = share of the pixels lit in either that differ by more than 24 levels"
"$tools/render_bench" --model "$tmp/s200k_bin.x" --res 1280x720 --motion saver --frames 100 \
    --dump "$tmp/twin_x.ppm" >/dev/null || failed=1
twin_case() { # name model
    local line
    "$tools/render_bench" --model "$2" --res 1280x720 --motion saver --frames 100 \
        --dump "$tmp/twin.ppm" >/dev/null || {
        echo "$1: render_bench failed" >&2
        failed=1
        return
    }
    line=$("$tools/frame_diff" --a "$tmp/twin_x.ppm" --b "$tmp/twin.ppm")
    report "$1" "$(field "$line" differ_pct)" % 1 "lit_px=$(field "$line" lit_px)"
}
twin_case "picture 200k binary STL = .x" "$tmp/s200k.stl-bin"
twin_case "picture 200k GLB = .x" "$tmp/s200k.glb"

echo "load: $runs processes, each timing its first load (fresh heap, as the saver loads) and 4 more;"
echo "  figure = median CPU ms of the first loads (one thread, file in the page cache: on an idle"
echo "  machine CPU time is the wall time); peak = process peak RSS after the first load"
load_case() { # name file target_ms [stage]
    local t=() cpu=() warm=() rss=() grow=() line= file_kb=
    for ((i = 0; i < runs; i++)); do
        line=$("$tools/load_bench" --model "$2" --runs 5 --stage "${4:-builder}") || {
            echo "$1: load_bench failed" >&2
            failed=1
            return
        }
        t+=("$(field "$line" first_ms)")
        cpu+=("$(field "$line" first_cpu_ms)")
        warm+=("$(field "$line" warm_cpu_ms)")
        rss+=("$(field "$line" peak_rss_kb)")
        grow+=("$(field "$line" growth_kb)")
    done
    file_kb=$(field "$line" file_kb)
    report "$1" "$(median "${cpu[@]}")" ms "$3" \
        "wall=$(median "${t[@]}")ms later loads=$(median "${warm[@]}")ms CPU file_kb=$file_kb"
    report "$1 peak RSS" "$(median "${rss[@]}")" kB $((2 * file_kb + 20480)) \
        "(2 x file + 20 MB; growth over start $(median "${grow[@]}") kB)"
}
load_case "load 200k text" "$tmp/s200k_text.x" 60
load_case "load 200k binary" "$tmp/s200k_bin.x" 25
load_case "load 200k tzip" "$tmp/s200k_tzip.x" 80
# The same sphere in the binary formats of the other readers, loaded as the saver loads it:
# held to the binary .x model's target.
load_case "load 200k binary STL" "$tmp/s200k.stl-bin" 25
load_case "load 200k GLB" "$tmp/s200k.glb" 25
load_case "load 2M binary" "$tmp/s2m.x" 300

saver=$build/windows/Plumora.scr
# Runs the saver under an Xvfb of the given size: first frame and CPU share, median of the runs.
saver_case() { # name WxH model(empty: default) first_target cpu_target
    local number= line= first=() first_cpu=() cpu=() xcpu=()
    rm -f "$tmp/displayfd" && mkfifo "$tmp/displayfd"
    Xvfb -displayfd 9 -screen 0 "$2x24" -br -nolisten tcp -noreset 9>"$tmp/displayfd" \
        >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 number <"$tmp/displayfd"
    if [ -z "${number:-}" ]; then
        echo "saver: Xvfb did not start"
        failed=1
        return
    fi
    for ((i = 0; i < runs; i++)); do
        rm -rf "$tmp/cfg" "$tmp/run" && mkdir -m 700 "$tmp/cfg" "$tmp/run"
        if [ -n "$3" ]; then
            mkdir "$tmp/cfg/plumora"
            printf '[SETTING]\nFILENAME=%s\n' "$3" >"$tmp/cfg/plumora/Mirel.ini"
        fi
        line=$(DISPLAY=:$number XDG_CONFIG_HOME=$tmp/cfg XDG_RUNTIME_DIR=$tmp/run \
            "$tools/saver_probe" --program "$saver" --seconds 10 --settle 1 \
            --server-pid "$xvfb_pid" 2>"$tmp/probe.err") || {
            echo "saver run $i failed: $line $(cat "$tmp/probe.err")" >&2
            failed=1
            continue
        }
        first+=("$(field "$line" first_frame_ms)")
        first_cpu+=("$(field "$line" first_frame_cpu_ms)")
        cpu+=("$(field "$line" cpu_pct)")
        xcpu+=("$(field "$line" server_cpu_pct)")
    done
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
    [ ${#first[@]} -gt 0 ] || return
    [ -n "$4" ] && report "$1 first frame" "$(median "${first[@]}")" ms "$4" \
        "runs: ${first[*]}; saver CPU until then $(median "${first_cpu[@]}") ms"
    report "$1 CPU (one core)" "$(median "${cpu[@]}")" % "$5" \
        "runs: ${cpu[*]}; Xvfb $(median "${xcpu[@]}")%"
}
if [ -n "${SKIP_SAVER:-}" ]; then
    echo "saver: skipped"
elif ! command -v Xvfb >/dev/null || [ ! -x "$tools/saver_probe" ] || [ ! -x "$saver" ]; then
    echo "saver: skipped (needs Xvfb, saver_probe and $saver)"
else
    echo "saver: $runs runs under Xvfb (black root), paced; first frame = first non-black pixel in"
    echo "  the screen's central third, polled with XGetImage from the spawn; CPU = utime + stime"
    echo "  from /proc over 10 s after 1 s"
    saver_case "saver 1920x1080" 1920x1080 "" 150 10
    saver_case "saver 3840x2160" 3840x2160 "" 150 10
    saver_case "saver 3840x2160 100k" 3840x2160 "$tmp/s100k.x" "" 8
fi
exit $failed
