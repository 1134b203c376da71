#!/usr/bin/env bash
# The tree's layers (docs/DESIGN.md): log, settings and the label core
# (render/) at the bottom, the front ends (filter/, app/, tools/) on top. A
# layer includes only itself and the layers below it, no front end includes
# another, and the files of app/ include each other in one direction only.
# Prints every include that breaks this and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

while read -r folder allowed; do
  wrong=$(grep -rn --include='*.cc' --include='*.h' -E '^#include "[a-z]+/' "$folder" |
    grep -v -E "#include \"($allowed)/" || true)
  [ -z "$wrong" ] || { printf '%s reaches outside its layers:\n%s\n' "$folder" "$wrong"; status=1; }
done <<'LAYERS'
log log
settings log|settings
render log|settings|render
filter log|settings|render|filter
app log|settings|render|app
tools log|settings|render|tools
LAYERS

# app/document/ is lblprinter's document path without PAPPL: the fuzz
# targets run it alone.
wrong=$(grep -rn -E '#include [<"](pappl/|app/(server|printer|job|client)/)' app/document || true)
[ -z "$wrong" ] || { printf 'app/document reaches PAPPL or the server:\n%s\n' "$wrong"; status=1; }

# app/: one module per path (server/x.h and server/x.cc); tsort refuses a
# graph with a loop.
edges=$(find app -name '*.cc' -o -name '*.h' | while read -r file; do
  from=${file#app/}
  from=${from%.*}
  sed -n 's|^#include "app/\(.*\)\.h"$|\1|p' "$file" | while read -r to; do
    [ "$to" = "$from" ] || echo "$from $to"
  done
done)
tsort <<<"$edges" >/dev/null 2>&1 || { echo "app/ includes in a loop:"; tsort <<<"$edges" 2>&1 >/dev/null; status=1; }
exit $status
