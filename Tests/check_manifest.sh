#!/usr/bin/env bash
# Checks a run's manifest with a reader that shares no code with its writer:
# UTF-8 without a byte-order mark, strict JSON, valid against the schema.
# The schema itself must turn away manifests that break its rules.
#   check_manifest.sh SCHEMA MANIFEST [run]
# The unit tests' sample must hold every status; a real run's ("run") needs
# only an item that went in and one that did not.
set -u
schema=$1
manifest=$2
kind=${3:-sample}
# As a test of its own it is skipped with the programs that made the file.
[ -z "${GLEAN_WINE_ROOT:-}" ] || . "$(dirname "$(readlink -f "$0")")/wine-env.sh"
if ! /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; then
  echo "skipped: python3-jsonschema is not installed (scripts/setup.sh installs it)"
  exit 77
fi
/usr/bin/python3 - "$schema" "$manifest" "$kind" <<'PY'
import copy, json, sys
import jsonschema

schema = json.load(open(sys.argv[1], encoding='utf-8'))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
raw = open(sys.argv[2], 'rb').read()
if raw.startswith(b'\xef\xbb\xbf'):
    sys.exit('the manifest starts with a byte-order mark')
def no_constants(name):
    raise ValueError(f'not JSON: {name}')
manifest = json.loads(raw.decode('utf-8', errors='strict'), parse_constant=no_constants)
errors = list(validator.iter_errors(manifest))
for error in errors:
    print('/'.join(map(str, error.absolute_path)) or '(top)', error.message)
if errors:
    sys.exit(1)

statuses = {item['status'] for item in manifest['items']}
needed = {'added', 'failed', 'refused', 'skipped'} if sys.argv[3] == 'sample' else {'added'}
if not needed <= statuses or len(statuses) < 2:
    sys.exit(f'the manifest should hold {sorted(needed)} and a failure, it holds {sorted(statuses)}')
added = next(i for i, item in enumerate(manifest['items']) if item['status'] == 'added')
failed = next(i for i, item in enumerate(manifest['items']) if item['status'] != 'added')
def broken(change):
    other = copy.deepcopy(manifest)
    change(other)
    return other
wrong = {
    'an added item without its CRC-32': broken(lambda m: m['items'][added].pop('crc32')),
    'an added item with a reason': broken(lambda m: m['items'][added].update(message={'name': None, 'text': ''})),
    'a failure without its reason': broken(lambda m: m['items'][failed].pop('message')),
    'an unknown status': broken(lambda m: m['items'][failed].update(status='lost')),
    'a CRC-32 as a number': broken(lambda m: m['items'][added].update(crc32=1)),
    'a local time': broken(lambda m: m.update(started='2024-05-01T12:00:00+02:00')),
    'an unknown field': broken(lambda m: m.update(extra=1)),
}
for what, other in wrong.items():
    if validator.is_valid(other):
        sys.exit(f'the schema accepts {what}')
print(f"valid: {len(manifest['items'])} items, statuses {sorted(statuses)}")
PY
