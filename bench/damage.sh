#!/usr/bin/env bash
# bench/damage.sh: the damaged copy that bench/run.sh's repair-d repairs. Four pages
# hit as a crash leaves them, each picked by jetdb-damage from its role's candidates
# with a fixed seed, so every run damages the same pages of the same file:
#   a data page torn (its second half zeroed: a write that stopped midway),
#   a table definition with 8 bytes flipped (its definitions fill less than half a
#   page, so a torn write would change nothing),
#   an index leaf with 8 bytes flipped (a bad sector),
#   a usage map zeroed (a write that never reached the disk).
# Usage: bench/damage.sh JETDB_DAMAGE SOURCE DESTINATION
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: bench/damage.sh JETDB_DAMAGE SOURCE DESTINATION" >&2; exit 2; }
damage=$1 source=$2 destination=$3
step="$destination.step"
cp "$source" "$destination"
for hit in "data torn" "table-definition flip" "index-leaf flip" "usage-map zero"; do
  read -r role mode <<<"$hit"
  "$damage" --role "$role" --mode "$mode" --seed 1 "$destination" "$step" | head -n 1
  mv "$step" "$destination"
done
