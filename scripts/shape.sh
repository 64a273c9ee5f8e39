#!/usr/bin/env bash
# The shape of the program's own code (app, base, definitions, features, link, modbus, settings, tools; not tests):
#   (a) its longest functions, by lines from the signature to the closing brace; exits 1 when
#       one is over the limit;
#   (b) its mutable state that outlives a call: file-scope variables and function-local statics,
#       read from the writable data of the built objects of build/<flavour>.
#   scripts/shape.sh [flavour]        (default release; build it first for (b))
# SHAPE_LIMIT=N sets the longest function allowed (default 100); SHAPE_TOP=N how many to list.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=${1:-release}
limit=${SHAPE_LIMIT:-100}
top=${SHAPE_TOP:-15}
folders=(app base definitions features link modbus settings tools)
status=0

command -v ctags >/dev/null || { echo "shape: ctags (Universal Ctags) is needed" >&2; exit 2; }

# (a) Function lengths. Universal Ctags gives each definition's first and last line; lambdas
# count within the function that holds them.
cd "$here"
lengths=$(ctags -R --languages=C++ --kinds-C++=f --fields=+ne --extras=-F -o - "${folders[@]}" |
  awk -F'\t' '{
      start = ""; end = ""; scope = ""
      for (i = 4; i <= NF; i++) {
        if ($i ~ /^line:/) start = substr($i, 6)
        else if ($i ~ /^end:/) end = substr($i, 5)
        else if ($i ~ /^(class|struct|namespace):/) { scope = $i; sub(/^[a-z]+:/, "", scope) }
      }
      if ($1 ~ /^__anon/ || end == "") next
      if (scope ~ /^__anon/) scope = ""
      name = (scope == "" ? "" : scope "::") $1
      printf "%d\t%s:%d\t%s\n", end - start + 1, $2, start, name
    }' | sort -t$'\t' -k1,1nr)
echo "Longest functions (lines, place, name):"
# awk reads it all (head would end the pipe early, which pipefail takes as a failure).
printf '%s\n' "$lengths" | awk -F'\t' -v top="$top" 'NR <= top { printf "  %5d  %-40s %s\n", $1, $2, $3 }'
over=$(printf '%s\n' "$lengths" | awk -F'\t' -v limit="$limit" '$1 > limit' | wc -l)
if [ "$over" -gt 0 ]; then
  echo "shape: $over function(s) over $limit lines" >&2
  status=1
fi

# (b) Mutable state. Objects of the program's own targets; the symbols of writable data
# sections (.data, .bss and thread-local ones, not .data.rel.ro, which is read-only once
# loaded). Left out: what the compiler and the libraries' headers put there (exception
# personality references, std:: and Qt internals); inline variables appear in every object
# that uses them, so each name is counted once.
echo
objects_root="$here/build/$flavour/CMakeFiles"
if [ ! -d "$objects_root" ]; then
  echo "shape: no build in build/$flavour: build it for the list of mutable state" >&2
  exit 2
fi
mapfile -t objects < <(find "$objects_root"/dezadizi-core.dir "$objects_root"/dezadizi-ui.dir \
  "$objects_root"/dezadizi-clicore.dir "$objects_root"/dezadizi-simcore.dir \
  "$objects_root"/dezadizi-stopsignals.dir "$objects_root"/dezadizi-config.dir \
  "$objects_root"/dezadizi-cli.dir "$objects_root"/dezadizi-sim.dir \
  -name '*.o' -not -path '*_autogen*' 2>/dev/null | sort)
if [ "${#objects[@]}" -eq 0 ]; then
  echo "shape: no objects in build/$flavour: build it for the list of mutable state" >&2
  exit 2
fi
state=$(for object in "${objects[@]}"; do
    source=${object#"$objects_root"/*.dir/}
    # An object left behind by a source since moved or deleted is not the program's any more.
    [ -f "$here/${source%.o}" ] || continue
    nm -C --format=sysv "$object" 2>/dev/null | awk -F'|' -v source="${source%.o}" '
      NF >= 7 {
        section = $NF; type = $(NF - 3); name = $1
        for (i = 2; i <= NF - 6; i++) name = name "|" $i
        gsub(/^ +| +$/, "", section); gsub(/^ +| +$/, "", type); gsub(/^ +| +$/, "", name)
        if (type != "OBJECT") next
        if (section !~ /^\.(data|bss|tdata|tbss)(\.|$)/ || section ~ /^\.data\.rel\.ro/) next
        if (name ~ /^(DW\.ref\.|std::|__|_GLOBAL_|qt_|guard variable for )/) next
        if (name ~ /(^|::)staticMetaObject$/ || name ~ /^(QtPrivate::|QMetaTypeId[A-Za-z]*<)/) next
        bare = name; gsub(/\(anonymous namespace\)::/, "", bare)
        kind = (bare ~ /\)( const)?(::\{lambda[^}]*\}[^:]*)*::[^:()]+$/) ? "local static" : "file scope"
        printf "%s\t%s\t%s\n", kind, name, source
      }'
  done | sort -t$'\t' -k2,2 -u | sort)
count=$(printf '%s' "$state" | grep -c . || true)
echo "Mutable state outside functions' frames: $count (kind, name, first object)"
[ -n "$state" ] && printf '%s\n' "$state" | awk -F'\t' '{ printf "  %-12s  %-60s %s\n", $1, $2, $3 }'
exit "$status"
