#!/usr/bin/env bash
# The main job: builds the release configuration, packs the files of examples/sample/ into one MIME message
# with mimetool, shows the message's tree, unpacks it into a temporary directory and compares every file
# with its original (a text file's LF line ends travel as CR LF). Exits non-zero when any file differs.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/install-deps.sh"
cmake --preset release >/dev/null
cmake --build --preset release
mimetool=build/release/tools/mimetool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "=== mimetool pack --from ... --to ... --subject ... -o message.eml examples/sample/*"
"$mimetool" pack --from "Demo <demo@example.org>" --to "you@example.org" --subject "The sample folder" \
  -o "$work/message.eml" examples/sample/*
sed -n '1,18{s/\r$//;p}' "$work/message.eml"
echo "[... $(wc -c <"$work/message.eml") octets in all]"

echo
echo "=== mimetool show message.eml"
"$mimetool" show "$work/message.eml"

echo
echo "=== mimetool unpack message.eml -d out"
"$mimetool" unpack "$work/message.eml" -d "$work/out"

echo
echo "=== compared with examples/sample/"
status=0
for original in examples/sample/*; do
  name=$(basename "$original")
  if cmp -s "$original" "$work/out/$name"; then
    echo "same: $name ($(wc -c <"$original") octets)"
  elif [[ $name == *.txt || $name == *.csv ]] &&
    cmp -s <(perl -pe 's/(?<!\r)\n/\r\n/' "$original") "$work/out/$name"; then
    echo "same text: $name (sent with CR LF line ends, as text travels; pack --binary keeps LF)"
  else
    echo "DIFFERENT: $name" >&2
    status=1
  fi
done
exit $status
