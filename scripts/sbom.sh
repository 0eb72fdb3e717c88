#!/usr/bin/env bash
# Writes the CycloneDX SBOM of a Windows exe as it is packed: the exe with
# its SHA-256, so that the SBOM names exactly the file beside it in the zip
# (scripts/pack.sh runs this on the staged copy), and the components that
# scripts/notices.sh found in the exe's linker map, each of which the exe
# depends on. The same inputs give the same bytes: the time is the build's
# SOURCE_DATE_EPOCH and the serial number is derived from the content.
# usage: sbom.sh EXE VERSION EPOCH COMPONENTS     writes the JSON to stdout
#   COMPONENTS: notices.sh's list (name, version, licence, arch, summary)
set -euo pipefail
exe=$1 version=$2 epoch=$3 components=$4

fail() { echo "sbom: $*" >&2; exit 1; }
command -v jq > /dev/null || fail "jq not found (scripts/deps.sh release)"
[ -f "$exe" ] || fail "$exe is missing"
[ -s "$components" ] || fail "$components is missing or empty: build vt-agent first"

hash=$(sha256sum "$exe" | cut -d' ' -f1)
timestamp=$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%SZ)

# Components sorted by name; Debian packages as purls of type deb (the
# source package for gflags, which was built from it with Debian's
# patches), in the canonical form: "+" encoded in the name, not in the
# version. A licence that is one SPDX identifier goes in as an id, which
# the schema checks against the SPDX list; anything else as an expression.
bom=$(jq -n --arg exe "$(basename "$exe")" --arg version "$version" \
  --arg hash "$hash" --arg timestamp "$timestamp" --rawfile list "$components" '
  [ $list | split("\n")[] | select(length > 0) | split("\t")
    | { name: .[0], version: .[1], licence: .[2], arch: .[3], summary: .[4] } ]
  | sort_by(.name)
  | map(. + { purl: ("pkg:deb/debian/\(.name | @uri)@"
                     + (.version | @uri | gsub("%2B"; "+") | gsub("%3A"; ":"))
                     + "?arch=\(.arch | @uri)") })
  | . as $components
  | {
      bomFormat: "CycloneDX",
      specVersion: "1.5",
      version: 1,
      metadata: {
        timestamp: $timestamp,
        component: {
          type: "application",
          "bom-ref": $exe,
          name: $exe,
          version: $version,
          hashes: [ { alg: "SHA-256", content: $hash } ]
        }
      },
      components: [ $components[] | {
        type: "library",
        "bom-ref": .purl,
        name,
        version,
        description: .summary,
        licenses: (if (.licence | test("^[A-Za-z0-9.+-]+$"))
                      and (.licence | startswith("LicenseRef-") | not)
                   then [ { license: { id: .licence } } ]
                   else [ { expression: .licence } ] end),
        purl
      } ],
      dependencies: [ { ref: $exe, dependsOn: [ $components[].purl ] } ]
    }')

# A name-based UUID (version 5) in a namespace of our own, made once at
# random: the same SBOM always gets the same serial number, another SBOM
# another one.
namespace=5d0c6f4e8a3b4c1f9e2a7b6d4c3e2f10
name=$(sha256sum <<<"$bom" | cut -d' ' -f1)
h=$({ printf "$(sed 's/../\\x&/g' <<<"$namespace")"; printf '%s' "$name"; } |
  sha1sum | cut -c1-32)
variant=$(printf '%x' $(( (0x${h:16:1} & 0x3) | 0x8 )))
serial="urn:uuid:${h:0:8}-${h:8:4}-5${h:13:3}-$variant${h:17:3}-${h:20:12}"

jq --arg serial "$serial" \
  '{ bomFormat, specVersion, serialNumber: $serial } + .' <<<"$bom"
