#!/usr/bin/env bash
# Renders the preview images and checks them: one "wrote" line per PNG file,
# each a real image of some size, and different states give different images.
set -euo pipefail
app=$1 out=$2
rm -rf "$out"
"$app" --preview "$out" > "$out.log"
cat "$out.log"
wrote=$(grep -c '^wrote ' "$out.log")
files=$(find "$out" -maxdepth 1 -name '*.png' | wc -l)
[ "$wrote" -ge 8 ] && [ "$wrote" -eq "$files" ] || { echo "expected one wrote line per PNG ($wrote, $files)"; exit 1; }
for f in "$out"/*.png; do
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "$f is not a PNG"; exit 1; }
  [ "$(stat -c %s "$f")" -gt 10000 ] || { echo "$f is too small"; exit 1; }
done
distinct=$(md5sum "$out"/*.png | cut -d' ' -f1 | sort -u | wc -l)
[ "$distinct" -eq "$files" ] || { echo "two states gave the same image"; exit 1; }
echo "preview: $files images in $out"
