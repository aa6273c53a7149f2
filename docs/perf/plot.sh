#!/usr/bin/env bash
# plot.sh DATA_DIR: draws the plots of docs/PERFORMANCE.md from the tables
# that bench/proxy/run.sh --data DATA_DIR and filter-vs-iconv.sh wrote:
#   docs/relay-throughput.png  BODY and ARTICLE throughput by reply size
#   docs/filter-vs-iconv.png   filter time and iconv time by input size
#   docs/relay-memory.png      the relay's resident memory while it passes
#                              the 1 000 000-line overview, from
#                              relay-memory-before.dat and relay-memory.dat
#                              (each "seconds KB"; drawn when present)
# Needs gnuplot (Debian: gnuplot-nox).
set -euo pipefail
data=$(cd "$1" && pwd)
docs=$(cd "$(dirname "$0")/.." && pwd)
command -v gnuplot >/dev/null || { echo "gnuplot is missing (apt-get install gnuplot-nox)"; exit 1; }

gnuplot <<GP
set terminal pngcairo size 1100,480 font "sans,10"
set output "$docs/relay-throughput.png"
set multiplot layout 1,2 title "Relay throughput on loopback (MB/s, median of alternating rounds)"
set logscale x 2
set logscale y 10
set grid
set key top left
set xlabel "reply size (bytes)"
set ylabel "MB/s"
set xtics ("16 KB" 16384, "100 KB" 102400, "1 MB" 1048576, "10 MB" 10485760)
set title "BODY (passed on as it comes)"
plot "$data/relay-body.dat" using 1:2 with linespoints lw 2 title "direct", \
     "" using 1:3 with linespoints lw 2 title "socat", \
     "" using 1:4 with linespoints lw 2 title "haproxy", \
     "" using 1:5 with linespoints lw 2 title "Sitowiak"
set title "ARTICLE (held until complete, no rewriting option)"
plot "$data/relay-article.dat" using 1:2 with linespoints lw 2 title "direct", \
     "" using 1:3 with linespoints lw 2 title "socat", \
     "" using 1:4 with linespoints lw 2 title "haproxy", \
     "" using 1:5 with linespoints lw 2 title "Sitowiak"
unset multiplot

set output "$docs/filter-vs-iconv.png"
set terminal pngcairo size 760,480 font "sans,10"
unset multiplot
set title "Re-encoding an iso-8859-2 article into utf-8 (best of alternating runs)"
set logscale x 2
set logscale y 10
set xrange [786432:89478485]
set xtics ("1 MB" 1048576, "4 MB" 4194304, "16 MB" 16777216, "64 MB" 67108864)
set xlabel "article size (bytes)"
set ylabel "seconds"
plot "$data/filter-vs-iconv.dat" using 1:2 with linespoints lw 2 title "sitowiak-filter article --charset utf-8", \
     "" using 1:3 with linespoints lw 2 title "iconv -f iso-8859-2 -t utf-8 (body only)"
GP
if [ -s "$data/relay-memory.dat" ]; then
    series="\"$data/relay-memory.dat\" using 1:(\$2/1024) with lines lw 2 title \"overview streamed\""
    [ -s "$data/relay-memory-before.dat" ] && series="\"$data/relay-memory-before.dat\" using 1:(\$2/1024) with lines lw 2 title \"overview held (before)\", $series"
    gnuplot <<GP
set terminal pngcairo size 760,420 font "sans,10"
set output "$docs/relay-memory.png"
set title "Relay resident memory while one reader fetches a 137 MB overview (1 000 000 lines)"
set grid
set key top right
set xlabel "seconds"
set ylabel "MB (RSS)"
plot $series
GP
    echo "wrote $docs/relay-memory.png"
fi
echo "wrote $docs/relay-throughput.png and $docs/filter-vs-iconv.png"
