# Plot of scripts/bench: a cron pass over an upload area of tagged archives,
# time against the number of archives, from results/pass_plot.dat
# (bench_report.py).
#
#   gnuplot -e "results='DIR'" bench/pass.gp     writes DIR/pass.png
set terminal pngcairo size 900,600 font ",11"
set output results . "/pass.png"
set title "velmotag -s: a pass over tagged archives against their number"
set xlabel "archives in the upload area"
set ylabel "time of the pass (s)"
set logscale xy
set xrange [700:150000]
set format x "10^{%T}"
set format y "10^{%T}"
set grid
set key top left
set style data linespoints
data = results . "/pass_plot.dat"
plot data using 1:2 title "without the record (every archive listed)" lw 2 pt 5, \
     data using 1:3 title "with the record" lw 2 pt 7, \
     data using 1:4 title "find -cnewer, one stat per archive" dt 2 pt 4
