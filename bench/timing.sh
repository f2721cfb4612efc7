# Shared by the timing scripts (sourced): timed NAME COMMAND... adds the
# command's wall time in microseconds to times[NAME]; median reads numbers
# separated by spaces and prints the middle one.
declare -A times
now() { date +%s%N; }
timed() {  # name, command...
  local name=$1; shift
  local t0 t1
  t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
  times[$name]+="$(( (t1 - t0) / 1000 )) "
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
