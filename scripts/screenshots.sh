#!/usr/bin/env bash
# Takes the pictures of the manuals and the README again from the real windows, on a
# virtual display, during the demo walk; then prints the manuals and renders some of
# their pages as pictures of what the manuals look like (docs/manual-pages/).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVERO_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target manual-shots wmbus-sim
xvfb-run -a -s '-screen 0 1600x1000x24' build-release/tools/manual-shots/manual-shots \
  --sim build-release/tools/wmbus-sim/wmbus-sim --capture tools/wmbus-sim/demo-walk.txt docs
# Settings and Reports on a laptop screen of 1366 x 768 at 150 %.
QT_SCALE_FACTOR=1.5 xvfb-run -a -s '-screen 0 1366x768x24' build-release/tools/manual-shots/manual-shots \
  --sim build-release/tools/wmbus-sim/wmbus-sim --capture tools/wmbus-sim/demo-walk.txt --small-screen docs

# The manuals with the new pictures.
cmake --build build-release -j "$(nproc)" --target manuals
if ! command -v pdftoppm >/dev/null; then
  echo "pdftoppm (Debian package poppler-utils) is missing: no page pictures of the manuals."
  exit 0
fi
# First page that holds TEXT and is not a page of the contents (titled CONTENTS).
page_of() {
  local pdf="$1" text="$2" contents="$3" pages page
  pages=$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')
  for ((p = 3; p <= pages; p++)); do
    page=$(pdftotext -f "$p" -l "$p" "$pdf" -)
    if grep -qF "$text" <<<"$page" && ! grep -qF "$contents" <<<"$page"; then echo "$p"; return; fi
  done
  echo 1
}
mkdir -p docs/manual-pages
for language in En Bg; do
  pdf="build-release/apps/palvero/UsrMan$language.pdf"
  lower=$(echo "$language" | tr 'A-Z' 'a-z')
  if [ "$language" = En ]; then contents="Contents"; walk="A first look: the demonstration walk"; messages="Messages and what to do"
  else contents="Съдържание"; walk="Първо запознаване: демонстрационният обход"; messages="Съобщения и какво да правите"; fi
  n=1
  for p in 1 2 "$(page_of "$pdf" "$walk" "$contents")" "$(page_of "$pdf" "$messages" "$contents")"; do
    pdftoppm -r 60 -png -singlefile -f "$p" -l "$p" "$pdf" "docs/manual-pages/$lower-$n"
    n=$((n + 1))
  done
done
ls docs/*.png docs/manual-pages/*.png
