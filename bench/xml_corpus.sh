#!/usr/bin/env bash
# Gathers the XML corpus of the corpus benchmark (xml_corpus_bench) from the Debian packages
# installed on this machine: fontconfig, D-Bus and polkit configuration, schemas and XSLT, SVG
# icons, GLib schemas and resources, the MIME database, valgrind and gdb descriptions, test and
# data files of other projects. A file is taken when a package owns it (or, for the MIME
# database, when update-mime-database generated it from shared-mime-info), its name has one of
# the extensions below and its text opens like markup. Files are copied, one flat name each,
# into OUT (default build/xml_corpus; never committed) with OUT/files.txt listing them; the
# packages drawn from go to bench/xml_corpus_packages.txt.
# usage: bench/xml_corpus.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/xml_corpus}
packages=bench/xml_corpus_packages.txt
max_bytes=$((8 * 1024 * 1024))

command -v dpkg-query >/dev/null || { echo "xml_corpus.sh: needs a Debian system (dpkg)" >&2; exit 2; }
admin=$(dpkg-query --print-admindir 2>/dev/null || echo /var/lib/dpkg)

# path<TAB>package for every file a package owns.
owners=$(mktemp)
trap 'rm -f "$owners" "$owners.c"' EXIT
for list in "$admin"/info/*.list; do
    pkg=$(basename "$list" .list)
    awk -v p="${pkg%%:*}" '{print $0 "\t" p}' "$list"
done | sort -t$'\t' -k1,1 -u >"$owners"

# Candidate files by name, then kept when they open like XML.
find /usr /etc -xdev -type f -size -$((max_bytes / 1024))k \
    \( -name '*.xml' -o -name '*.svg' -o -name '*.conf' -o -name '*.xsd' -o -name '*.xsl' \
       -o -name '*.xslt' -o -name '*.rng' -o -name '*.policy' -o -name '*.ui' -o -name '*.glade' \
       -o -name '*.xhtml' -o -name '*.plist' -o -name '*.gir' -o -name '*.its' -o -name '*.loc' \
       -o -name '*.xbel' -o -name '*.dtd' -o -name '*.kml' \) 2>/dev/null | sort >"$owners.c"

rm -rf "$out"
mkdir -p "$out/files"
: >"$out/files.txt"
declare -A used
n=0
while IFS=$'\t' read -r path pkg; do
    [ -n "$pkg" ] || continue
    head -c 300 "$path" 2>/dev/null | tr -d '\0' | grep -q '^[[:space:]]*<\(?xml\|!DOCTYPE\|!--\|[A-Za-z]\)' || continue
    n=$((n + 1))
    name=$(printf '%05d_%s' "$n" "$(basename "$path")")
    cp "$path" "$out/files/$name"
    printf '%s\t%s\t%s\n' "$name" "$pkg" "$path" >>"$out/files.txt"
    used[$pkg]=1
done < <(join -t$'\t' -a1 -e '' -o '1.1,2.2' "$owners.c" "$owners" |
         awk -F'\t' '$2 == "" && $1 ~ /^\/usr\/share\/mime\// {$2 = "shared-mime-info"} {print $1 "\t" $2}' OFS='\t')

{
    echo "# Packages the XML corpus was drawn from (bench/xml_corpus.sh on $(. /etc/os-release; echo "$PRETTY_NAME"))"
    echo "# package files"
    cut -f2 "$out/files.txt" | sort | uniq -c | awk '{print $2, $1}'
} >"$packages"
echo "xml_corpus.sh: $n files from ${#used[@]} packages in $out ($(du -sh "$out/files" | cut -f1))"
