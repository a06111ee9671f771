# Plots a charge CSV (run,clock,battery_C,board_C,target_C,limit_mA,current_mA,soc_pct,
# then any columns it does not draw) to a PNG: temperatures and target, limit and current, state of charge.
# gnuplot -e "csv='charge.csv'; png='charge.png'; runs='regulated unregulated'" plot.gp
set terminal pngcairo size 1200,1000 font ",10"
set output png
set datafile separator ","
set xdata time
set timefmt "%Y-%m-%d %H:%M:%S"
set format x "%H:%M"
set grid
set key outside right top
# Fixed margins (fractions of the picture), so the three time axes line up
# whatever the width of each panel's labels and key.
set multiplot layout 3,1 margins 0.07, 0.78, 0.05, 0.96 spacing 0, 0.07
ifrun(r, v) = strcol(1) eq r ? v : NaN

set title "temperature"
set ylabel "°C"
plot for [r in runs] csv skip 1 using 2:(ifrun(r, $3)) with lines lw 2 title r." battery", \
     for [r in runs] csv skip 1 using 2:(ifrun(r, $4)) with lines dt 2 title r." board", \
     csv skip 1 using 2:(ifrun(word(runs, 1), $5)) with steps lc rgb "black" dt 3 title "target"

set title "charge current"
set offsets 0, 0, 500, 500
set ylabel "mA"
plot for [r in runs] csv skip 1 using 2:(ifrun(r, $6)) with steps title r." limit", \
     for [r in runs] csv skip 1 using 2:(ifrun(r, $7)) with lines dt 2 title r." current"

set title "state of charge"
set ylabel "%"
set offsets 0, 0, 0, 0
set yrange [0:100]
plot for [r in runs] csv skip 1 using 2:(ifrun(r, $8)) with lines lw 2 title r
unset multiplot
