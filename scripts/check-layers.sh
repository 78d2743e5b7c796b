#!/usr/bin/env bash
# Fails when a folder includes a header of a folder it may not use, or when a layer below the window
# includes Qt. The table is the "may use" column of ARCHITECTURE.md's layer table; keep the two alike.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_use=(
  [res]="res"
  [engine]="engine res"
  [intake]="intake engine res"
  [settings]="settings engine res"
  [ui]="ui settings engine intake res"
  [app]="app ui settings engine intake res"
  [cli]="cli settings engine intake res"
  [bench]="engine intake settings ui"
  [fuzz]="engine settings"
)
# Folders that may include Qt, and which part of it (bench/ drives the window offscreen).
qt_widgets_allowed="ui app bench"
qt_any_allowed="ui app tests bench"

status=0
for folder in "${!may_use[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    used=$(sed -E 's|.*#include "([a-z_]+)/.*|\1|' <<<"$text")
    if [[ " ${may_use[$folder]} " != *" $used "* ]]; then
      echo "$file:$line: $folder/ may not use $used/: $text"
      status=1
    fi
  done < <(grep -rnE '^\s*#include "[a-z_]+/' "$folder" --include='*.cpp' --include='*.h' || true)
  if [[ " $qt_any_allowed " != *" $folder "* ]]; then
    if grep -rnE '^\s*#include <Q' "$folder" --include='*.cpp' --include='*.h'; then
      echo "$folder/ must not include Qt"
      status=1
    fi
  elif [[ " $qt_widgets_allowed " != *" $folder "* ]]; then
    if grep -rnE '^\s*#include <(QtWidgets/|QWidget|QApplication|QDialog|QMessageBox)' "$folder"; then
      echo "$folder/ must not include Qt Widgets"
      status=1
    fi
  fi
done
# Inside engine/ three layers, each on the ones below: the files (opening, replacing, signals), imaging (the
# codecs), and the engine itself. No include goes up.
engine_layer() {
  case "$1" in
    engine/file_io* | engine/termination* | engine/ascii.h) echo 0 ;;
    engine/imaging/*) echo 1 ;;
    *) echo 2 ;;
  esac
}
layer_names=(files imaging engine)
while IFS=: read -r file line text; do
  used=$(sed -E 's|.*#include "([^"]+)".*|\1|' <<<"$text")
  from=$(engine_layer "$file")
  to=$(engine_layer "$used")
  if ((to > from)); then
    echo "$file:$line: the ${layer_names[$from]} layer may not use the ${layer_names[$to]} layer: $text"
    status=1
  fi
done < <(grep -rnE '^\s*#include "engine/' engine --include='*.cpp' --include='*.h' || true)

# The folders of ARCHITECTURE.md's layer table are the folders above.
table=$(grep -oE '^\| `[a-z_]+/` ' ARCHITECTURE.md | sed -E 's/^\| `([a-z_]+)\/` /\1/' | sort -u | tr '\n' ' ')
script=$(printf '%s\n' "${!may_use[@]}" | sort | tr '\n' ' ')
if [ "$table" != "$script" ]; then
  echo "ARCHITECTURE.md's layer table names the folders $table; this script $script"
  status=1
fi

[ $status -eq 0 ] && echo "layers: every include is allowed"
exit $status
