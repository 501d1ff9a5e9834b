# Plot of scripts/bench: time per archive against archive size, for velmotag's
# two modes and the peers, from results/per_archive.dat (bench_report.py).
#
#   gnuplot -e "results='DIR'" bench/per_archive.gp     writes DIR/per_archive.png
set terminal pngcairo size 900,600 font ",11"
set output results . "/per_archive.png"
set title "velmotag: time per archive against archive size (medians)"
set xlabel "archive size (bytes)"
set ylabel "time per archive (ms)"
set logscale xy
set format x "10^{%T}"
set grid
set key top left
set style data linespoints
data = results . "/per_archive.dat"
plot data using 1:2 title "velmotag -s (vfork, no shell)" lw 2 pt 7, \
     data using 1:3 title "velmotag -q (system())" lw 2 pt 5, \
     data using 1:4 title "sh loop, five command lines" dt 2 pt 4, \
     data using 1:5 title "five lines through system()" dt 3 pt 6, \
     data using 1:6 title "five programs via posix\\_spawn" dt 4 pt 8, \
     data using 1:7 title "five programs via vfork" dt 5 pt 10
