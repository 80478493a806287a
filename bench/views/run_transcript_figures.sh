#!/bin/sh
# The transcript's figures before and after, in one run: each benchmark runs from the old build,
# then from the new one, and the new figure is printed against the old.
#
#   bench/views/run_transcript_figures.sh OLD_BENCH_DIR NEW_BENCH_DIR
#
# A *_BENCH_DIR is a build's bench folder (chat/, views/, app/ inside). A benchmark missing
# from either side is reported and left out. Each benchmark's own report goes to stderr, the
# table of figures to stdout. Takes about ten minutes (the server takes its time to fill a room).
set -u
if [ $# -ne 2 ]; then
    echo "usage: $0 OLD_BENCH_DIR NEW_BENCH_DIR" >&2
    exit 2
fi
OLD=$1
NEW=$2
: "${QT_QPA_PLATFORM:=offscreen}"
export QT_QPA_PLATFORM
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# figures SIDE BENCH: "name value" lines from the benchmark's output.
figures() {
    case $2 in
    chat/chat_ingest_bench)
        sed -n -e 's/.* shown in \([0-9.]*\) s.*/burst_s \1/p' \
            -e 's/^longest stretch away from the event loop: \([0-9.]*\) ms.*/burst_stall_ms \1/p' \
            -e 's/^memory: VmRSS \([0-9.]*\) MiB after.*/burst_rss_mib \1/p' "$out/$1.txt" ;;
    chat/chat_history_bench)
        sed -n -e 's/^open -> newest page painted: median \([0-9.]*\) ms.*/server_open_ms \1/p' \
            -e 's/^scrolling up .* stall per page median \([0-9.]*\) ms.*/server_page_stall_ms \1/p' \
            -e 's/^last 10 pages against the first 10.* = \([0-9.]*\)x.*/server_page_growth \1/p' \
            -e 's/^memory: VmRSS \([0-9.]*\) MiB with.*/server_paged_rss_mib \1/p' \
            "$out/$1.txt" ;;
    views/views_transcript_pages_bench)
        sed -n 's/^figure \([a-z0-9_]*\) \([0-9.]*\)$/\1 \2/p' "$out/$1.txt" ;;
    app/app_startup_bench)
        sed -n -e 's/^start-up to shown window: .* brindlewick \([0-9.]*\) ms, ratio \([0-9.]*\)x.*/startup_ms \1\
startup_vs_empty_window \2/p' \
            -e 's/^resident memory: .* brindlewick signed in \([0-9.]*\) MiB.*/startup_rss_mib \1/p' \
            "$out/$1.txt" ;;
    esac
}

status=0
printf '%-28s %12s %12s %9s\n' figure old new new/old
for bench in chat/chat_ingest_bench views/views_transcript_pages_bench chat/chat_history_bench \
    app/app_startup_bench; do
    if [ ! -x "$OLD/$bench" ] || [ ! -x "$NEW/$bench" ]; then
        echo "$bench: missing in $OLD or $NEW, left out" >&2
        status=1
        continue
    fi
    for side in old new; do
        if [ $side = old ]; then dir=$OLD; else dir=$NEW; fi
        if ! "$dir/$bench" >"$out/$side.txt" 2>"$out/$side.err"; then
            echo "$bench ($side) failed:" >&2
            tail -n 5 "$out/$side.err" >&2
            status=1
        fi
        echo "== $bench ($side)" >&2
        cat "$out/$side.txt" >&2
        figures $side $bench >"$out/$side.fig"
    done
    # Joined by name: old value, new value, their ratio.
    awk 'NR == FNR { old[$1] = $2; next }
         ($1 in old) { r = old[$1] > 0 ? sprintf("%.2fx", $2 / old[$1]) : "-"
                       printf "%-28s %12s %12s %9s\n", $1, old[$1], $2, r }' \
        "$out/old.fig" "$out/new.fig"
done
exit $status
