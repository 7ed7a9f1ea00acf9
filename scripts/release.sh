#!/usr/bin/env bash
# Builds both architectures and makes the release folder dist/: the 32-bit
# Glean.exe (carrying both builds of the mail sender), Glean0.dll, the
# commented sample Glean.ini, README.txt and SHA256SUMS. Each program's
# image is checked first (machine, subsystem, imports from system DLLs only,
# exports and resources); the script fails when anything is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
scripts/build.sh >/dev/null
check() { /usr/bin/python3 Tests/check_pe.py "$@"; }
check out/x86/Glean.exe x86 gui Basalt/BasaltMessages.txt Granite/Archive/ArchiveMessages.txt Mica/MicaMessages.txt \
  Glean/GleanMessages.txt
check out/x86/Glean0.dll x86 dll Glean/Lang/Glean0Messages.txt
check out/x86/Hermod.exe x86 console Basalt/BasaltMessages.txt Granite/Mail/MailMessages.txt Hermod/HermodMessages.txt
check out/x64/Hermod.exe x64 console Basalt/BasaltMessages.txt Granite/Mail/MailMessages.txt Hermod/HermodMessages.txt
rm -rf dist && mkdir dist
cp out/x86/Glean.exe out/x86/Glean0.dll Glean/Glean.ini Glean/README.txt dist/
# The archive's readers on Windows expect CR LF in the text files.
sed -i 's/$/\r/' dist/Glean.ini dist/README.txt
(cd dist && sha256sum Glean.exe Glean0.dll Glean.ini >SHA256SUMS)
echo "dist/:"
ls -l dist
