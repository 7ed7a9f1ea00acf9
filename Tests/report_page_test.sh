#!/usr/bin/env bash
# The sample run's summary page in a real headless browser: the DOM it builds
# holds a row for every item that did not go in, with the manifest's very
# source and archive name as its text (markup in them stays text), one drive
# box for each drive and a bar for each measured one, and nothing that runs
# (no script element, no event attribute). The page prints to PDF. The
# screenshot stays beside the page for a person to look at.
#
#   report_page_test.sh FOLDER [DRIVES BARS]
#
# FOLDER holds GleanSummary.html and GleanManifest.json; DRIVES and BARS are
# the drive boxes and bars the page must show (the unit tests' sample, which
# holds every status, by default).
#
# The browser: $GLEAN_BROWSER, else chromium-headless-shell, else chromium;
# without one the test is skipped.
set -u
folder=$(readlink -f "$1")
drives=${2:-3} bars=${3:-2}
[ -z "${GLEAN_WINE_ROOT:-}" ] || . "$(dirname "$(readlink -f "$0")")/wine-env.sh"
browser=${GLEAN_BROWSER:-}
if [ -z "$browser" ]; then
  for candidate in chromium-headless-shell chromium; do
    if command -v "$candidate" >/dev/null; then
      browser=$(command -v "$candidate")
      break
    fi
  done
fi
if [ -z "$browser" ]; then
  echo "skipped: no headless browser (scripts/setup.sh installs chromium-headless-shell)"
  exit 77
fi
page=$folder/GleanSummary.html
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# A fresh profile, and nothing that would reach out to the network.
run() {
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" "$@" \
    "file://$page" 2>>"$folder/browser.log"
}
rm -f "$folder/browser.log" "$folder/GleanSummary.dom.html" "$folder/GleanSummary.png" "$folder/GleanSummary.pdf"
fail=0
run --dump-dom >"$folder/GleanSummary.dom.html" || { echo "the browser failed to load the page"; fail=1; }
run --hide-scrollbars --window-size=1280,2400 --screenshot="$folder/GleanSummary.png" >/dev/null ||
  { echo "the browser failed to take the screenshot"; fail=1; }
run --no-pdf-header-footer --print-to-pdf="$folder/GleanSummary.pdf" >/dev/null ||
  { echo "the browser failed to print the page"; fail=1; }
((fail)) && { tail -n 20 "$folder/browser.log"; exit 1; }

/usr/bin/python3 - "$folder" "$drives" "$bars" <<'PY' || fail=1
import html.parser, json, os, struct, sys

folder, drives, bars = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
manifest = json.load(open(os.path.join(folder, 'GleanManifest.json'), encoding='utf-8'))

class Dom(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.problems, self.drives, self.bars = [], [], 0, 0
        self.scripts, self.handlers, self.csp, self.row, self.cell = 0, [], None, None, None
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = (attrs.get('class') or '').split()
        self.handlers += [name for name in attrs if name.startswith('on')]
        if tag == 'script':
            self.scripts += 1
        if tag == 'meta' and (attrs.get('http-equiv') or '').lower() == 'content-security-policy':
            self.csp = attrs.get('content')
        if tag == 'tr' and 'failure' in classes:
            self.row = [c for c in classes if c != 'failure']
            self.problems.append(self.row)
        if tag == 'td' and self.row is not None:
            self.cell = []
        if tag == 'div' and 'drive' in classes:
            self.drives += 1
            self.stack.append('drive')
        elif tag == 'div':
            if 'bar' in classes and 'drive' in self.stack:
                self.bars += 1
            self.stack.append('div')
    def handle_endtag(self, tag):
        if tag == 'div' and self.stack:
            self.stack.pop()
        if tag == 'td' and self.cell is not None:
            self.row.append(''.join(self.cell))
            self.cell = None
        if tag == 'tr':
            self.row = None
    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)

dom = Dom()
dom.feed(open(os.path.join(folder, 'GleanSummary.dom.html'), encoding='utf-8').read())
errors = []
if dom.scripts or dom.handlers:
    errors.append(f'{dom.scripts} script elements, event attributes {dom.handlers}')
if not dom.csp or "default-src 'none'" not in dom.csp:
    errors.append(f'content security policy: {dom.csp!r}')
# Status, source, archive name, reason: as the manifest has them.
expected = [[i['status'], i['status'], i['source'], i['archiveName'], i['message']['text']]
            for i in manifest['items'] if i['status'] != 'added']
if dom.problems != expected:
    errors.append(f'failure rows {dom.problems} instead of {expected}')
# The drives: each a box, a measured one with its bar.
if (dom.drives, dom.bars) != (drives, bars):
    errors.append(f'{dom.drives} drives with {dom.bars} bars instead of {drives} with {bars}')
png = open(os.path.join(folder, 'GleanSummary.png'), 'rb').read()
if png[:8] != b'\x89PNG\r\n\x1a\n' or struct.unpack('>II', png[16:24]) != (1280, 2400):
    errors.append('the screenshot is no 1280 x 2400 PNG')
pdf = open(os.path.join(folder, 'GleanSummary.pdf'), 'rb').read()
if not pdf.startswith(b'%PDF-') or b'%%EOF' not in pdf[-32:]:
    errors.append('the printout is no PDF')
for error in errors:
    print(error)
if errors:
    sys.exit(1)
print(f'{len(dom.problems)} failure rows, {dom.drives} drives, {dom.bars} bars; screenshot {folder}/GleanSummary.png')
PY
exit $fail
