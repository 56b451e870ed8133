# The station window's rows, sourced by run.sh (which gives row, note, on_bench, skipped, value,
# calc, at_most, $bin, $work, $runs, $xvfb and $cli).

# --- Station window: start-up to the first painted frame, against its form alone -------------

station_startup() {
    HOME=$work/station-home python3 bench/startup.py "$runs" window="$bin/bench-station-window" \
        form="$bin/bench-window-form stationwindow" bare="$bin/bench-window-bare"
}
"${xvfb[@]}" bash -c "$(declare -f station_startup); station_startup" >"$work/station-startup.txt"
window_ms=$(value "$work/station-startup.txt" window_total_ms)
form_ms=$(value "$work/station-startup.txt" form_total_ms)
bare_ms=$(value "$work/station-startup.txt" bare_total_ms)
ratio=$(calc "$window_ms / $form_ms")
row "Station window start-up to first frame (ms)" "$window_ms" "$form_ms" "${ratio}×" \
    "≤ 1.1× (its form alone)" "$(at_most "$ratio" 1.1)"
row "Station window start-up, against a bare window (ms)" "$window_ms" "$bare_ms" \
    "$(calc "$window_ms / $bare_ms")×" "info (bare QMainWindow)" info
station_stages() {
    local f=$1 stage text=
    for stage in "to_main:start to main()" "app:QApplication" "build:window built" \
        "show_to_paint:show to first frame"; do
        text+="${text:+, }${stage#*:} $(value "$f" "window_${stage%%:*}_ms") / $(value "$f" "form_${stage%%:*}_ms")"
    done
    printf '%s' "$text"
}
note "Station window start-up: bench-station-window builds the StationWindow as tempyra-station" \
    "does with no choices given (settings read, the profiles folder listed, the choice screen)," \
    "bench-window-form stationwindow builds and shows its .ui alone," \
    "started alternately under Xvfb with the bare 440 × 655 window; breakdown (median ms," \
    "window / form): $(station_stages "$work/station-startup.txt")."

# --- Station window: 32 loggers plugged in at once, against tempyra-cli provision -------------

# Inside the bench, under Xvfb: for each run, tempyra-cli provision and the station window in
# turn, each started with the same list of 32 before the loggers are plugged in (all at once, one
# control helper each, side by side); from the first plugging in to the end of the run.
station_cradles() {
    set -euo pipefail
    local k n which pid start end plugs
    seq -f 'TL-%04g' 32 >"$work/station-list"
    echo '{"alarm": {"enabled": true, "lower": 2, "upper": 8}, "interval": "00:15"}' \
        >"$work/station-profile.json"
    for ((k = 0; k < station_runs; k++)); do
        for which in cli window; do
            for n in $(seq 0 31); do "$TEMPYRA_VUSB_CTL" unplug "$n"; done
            rm -f "$work/station-$which.jsonl" "$work/station-window.out"
            if [[ $which == cli ]]; then
                "$cli" provision "$work/station-profile.json" --expect "$work/station-list" \
                    --log "$work/station-cli.jsonl" >/dev/null 2>&1 &
                pid=$!
                sleep 0.5
            else
                HOME=$work/station-home "$bin/bench-station-run" "$work/station-profile.json" \
                    "$work/station-list" "$work/station-window.jsonl" >"$work/station-window.out" &
                pid=$!
                until grep -q '^ready_ns' "$work/station-window.out"; do sleep 0.05; done
                sleep 0.5
            fi
            start=$(date +%s%N)
            plugs=()
            for n in $(seq 0 31); do
                "$TEMPYRA_VUSB_CTL" replug "$n" >/dev/null &
                plugs+=($!)
            done
            wait "${plugs[@]}"
            echo "span_ms $((($(date +%s%N) - start) / 1000000))"
            wait "$pid"
            end=$(date +%s%N)
            if [[ $which == window ]]; then
                end=$(awk '$1 == "finished_ns" { print $2 }' "$work/station-window.out")
                awk '$1 == "longest_gap_ms" { g = $2 } $1 == "longest_gap_cpu_ms" { c = $2 }
                    $1 == "busiest_gap_cpu_ms" { b = $2 }
                    END { print "gap_ms", g, c; print "busiest_ms", b }' "$work/station-window.out"
            fi
            [[ $(grep -c '"outcome":"verified"' "$work/station-$which.jsonl") -ge 32 ]]
            echo "${which}_ms $(((end - start) / 1000000))"
        done
    done
}
export station_runs=${BENCH_STATION_RUNS:-5}
median() { awk -v key="$1" '$1 == key { print $2 }' "$2" | sort -n | awk '{ v[NR] = $1 } END {
    printf "%s", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
status=0
station_loggers=()
for ((k = 0; k < 32; k++)); do station_loggers+=(--logger); done
on_bench "${station_loggers[@]}" -- "${xvfb[@]}" bash -c \
    "$(declare -f station_cradles); station_cradles" >"$work/station-cradles.txt" || status=$?
if [[ $status -eq 0 ]]; then
    window_ms=$(median window_ms "$work/station-cradles.txt")
    cli_ms=$(median cli_ms "$work/station-cradles.txt")
    ratio=$(calc "$window_ms / $cli_ms")
    row "Station window, 32 loggers plugged in: all verified (ms)" "$window_ms" "$cli_ms" \
        "${ratio}×" "≤ 1.1× (tempyra-cli provision)" "$(at_most "$ratio" 1.1)"
    gap=$(awk '$1 == "gap_ms" && $2 > m { m = $2; c = $3 } END { printf "%.1f", m }' "$work/station-cradles.txt")
    gap_cpu=$(awk '$1 == "gap_ms" && $2 > m { m = $2; c = $3 } END { printf "%.1f", c }' "$work/station-cradles.txt")
    row "Station window, longest 10 ms timer gap while 32 are written (ms)" "$gap" - - "< 50 ms" \
        "$(at_most "$gap" 49.9)"
    note "Station window with 32 loggers: a list of 32, the loggers plugged in side by side" \
        "(within $(median span_ms "$work/station-cradles.txt") ms, median), the window under" \
        "Xvfb from its first plugging in to every listed logger verified, its head shown and" \
        "its run over, against tempyra-cli provision with the same list from the same plugging" \
        "in to its end; median of $station_runs runs each, in turn. The timer gap is the longest" \
        "of any run, from the start of the run to its end; the program's own processor time in" \
        "that gap was $gap_cpu ms, the rest it waited for the processor (the 32 simulated loggers," \
        "the bench's helpers and Xvfb share its two cores); the record's appends, lock and flush" \
        "run in a writer thread of the station's, off the event loop. The most processor time it" \
        "took between two ticks, in any" \
        "run, was $(awk '$1 == "busiest_ms" && $2 > m { m = $2 } END { printf "%.1f", m }' \
            "$work/station-cradles.txt") ms."
else
    skipped "Station window, 32 loggers plugged in: all verified (ms)" "≤ 1.1× (tempyra-cli provision)"
    skipped "Station window, longest 10 ms timer gap while 32 are written (ms)" "< 50 ms"
fi
