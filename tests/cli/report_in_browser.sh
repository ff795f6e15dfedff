#!/usr/bin/env bash
# Runs every driver test on vloop0 with an HTML report and takes a screenshot of the page in a
# headless browser (Debian's chromium: apt-get install chromium), to look at the charts.
#   tests/cli/report_in_browser.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build="${1:-build}"
out="${2:-$(mktemp -d)}"
browser="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$browser" ]; then
  echo "no chromium on this machine: apt-get install chromium" >&2
  exit 2
fi
mkdir -p "$out"
(cd "$out" && "$OLDPWD/$build/quor_vix-cli" run open-close timeouts echo setconfig baud-scan \
  write-close write-baud write-flush write-txabort write-txclear write-cancel \
  --port vloop0 --cycles 1 --report "$out/report.html") || true
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,5200 \
  --screenshot="$out/report.png" "file://$out/report.html" 2>/dev/null
echo "$out/report.png"
