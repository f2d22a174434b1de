# Sourced by the install and package checks: an installed morvane-cut must
# find its player module, which it loads only to read a duration.
#   check_cut_module BINDIR WORKDIR WHAT
check_cut_module() {
  head -c 100000 /dev/urandom >"$2/noise.vob"
  if "$1/morvane-cut" --start 1 --end 2 "$2/noise.vob" "$2/clip.vob" 2>"$2/err"; then
    echo "random bytes got a duration"; fail=1
  elif grep -q "module cannot be loaded" "$2/err"; then
    echo "$3 morvane-cut cannot find its player module: $(cat "$2/err")"; fail=1
  else
    echo "ok   $3 morvane-cut reads durations through its player module"
  fi
}
