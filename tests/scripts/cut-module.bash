# Sourced by the install and package checks: an installed morvane-cut finds
# the player module it loads to read a duration, and so refuses random bytes.
check_cut_module() { # BINDIR WORKDIR WHAT
  head -c 100000 /dev/urandom >"$2/noise.vob"
  if "$1/morvane-cut" --start 1 --end 2 "$2/noise.vob" "$2/clip.vob" 2>"$2/err" \
     || grep -q "module cannot be loaded" "$2/err"; then
    echo "$3 morvane-cut reads no duration through its player module: $(cat "$2/err")"; fail=1
  fi
}
