'use strict'
// Checks the SBOM of an unpacked release zip: valid CycloneDX by the
// schema of its version; it describes the exe beside it (SHA-256, and the
// version in the zip's name); its components are the ones that
// THIRD-PARTY-NOTICES.txt lists, with the same versions, each with a valid
// SPDX licence and a canonical Debian purl that names it; and the exe
// depends on each of them.
// usage: node check-sbom.js ZIP UNPACKED
const crypto = require('node:crypto')
const fs = require('node:fs')
const path = require('node:path')
const CDX = require('@cyclonedx/cyclonedx-library')
const { PackageURL } = require('packageurl-js')
const parseSpdx = require('spdx-expression-parse')

const SBOM = 'vt-agent.cdx.json'
const EXE = 'vt-agent.exe'

async function main ([zip, unpacked]) {
  const problems = []
  const expect = (ok, problem) => { if (!ok) problems.push(problem) }
  const text = fs.readFileSync(path.join(unpacked, SBOM), 'utf8')
  const bom = JSON.parse(text)

  expect(['1.5', '1.6'].includes(bom.specVersion),
    `specVersion ${bom.specVersion}, not 1.5 or 1.6`)
  const invalid = await new CDX.Validation.JsonStrictValidator(bom.specVersion)
    .validate(text)
  expect(invalid === null,
    `not valid CycloneDX ${bom.specVersion}: ${JSON.stringify(invalid, null, 1)}`)

  const exe = bom.metadata?.component ?? {}
  expect(exe.type === 'application' && exe.name === EXE,
    `metadata.component is ${exe.type} ${exe.name}, not the application ${EXE}`)
  const hash = crypto.createHash('sha256')
    .update(fs.readFileSync(path.join(unpacked, EXE))).digest('hex')
  const hashes = (exe.hashes ?? []).filter(h => h.alg === 'SHA-256')
  expect(hashes.length === 1 && hashes[0].content === hash,
    `${EXE}'s SHA-256 is ${hash}; the SBOM says ${JSON.stringify(hashes)}`)
  const zipVersion = /^vt-agent-(.+)-win(32|64)\.zip$/.exec(path.basename(zip))?.[1]
  expect(exe.version === zipVersion,
    `${EXE} is version ${exe.version}, the zip ${path.basename(zip)}`)

  // Each component's heading in the notices: "NAME VERSION (Debian ...".
  const notices = fs.readFileSync(path.join(unpacked, 'THIRD-PARTY-NOTICES.txt'), 'utf8')
  const listed = [...notices.matchAll(/^(\S+) (\S+) \(Debian (?:source )?package\b/gm)]
    .map(m => `${m[1]} ${m[2]}`).sort()
  const components = bom.components ?? []
  const named = components.map(c => `${c.name} ${c.version}`).sort()
  expect(listed.length > 0, 'THIRD-PARTY-NOTICES.txt lists no component')
  expect(JSON.stringify(named) === JSON.stringify(listed),
    `the SBOM names ${JSON.stringify(named)}, the notices ${JSON.stringify(listed)}`)

  for (const c of components) {
    const licences = c.licenses ?? []
    expect(licences.length > 0, `${c.name} has no licence`)
    for (const l of licences) {
      const expression = l.expression ?? l.license?.id
      try {
        parseSpdx(expression)
      } catch (e) {
        problems.push(`${c.name}'s licence '${expression}' is no SPDX expression: ${e.message}`)
      }
    }
    let purl
    try {
      purl = PackageURL.fromString(c.purl)
    } catch (e) {
      problems.push(`${c.name}'s purl '${c.purl}' does not parse: ${e.message}`)
      continue
    }
    expect(purl.toString() === c.purl,
      `${c.name}'s purl '${c.purl}' is not canonical: '${purl.toString()}'`)
    expect(purl.type === 'deb' && purl.namespace === 'debian' &&
           purl.name === c.name && purl.version === c.version &&
           typeof purl.qualifiers?.arch === 'string',
    `${c.name} ${c.version}'s purl '${c.purl}' names another package`)
  }

  const refs = components.map(c => c['bom-ref'])
  expect(new Set(refs).size === refs.length && !refs.includes(undefined),
    `bom-refs missing or not unique: ${JSON.stringify(refs)}`)
  const relation = (bom.dependencies ?? []).find(d => d.ref === exe['bom-ref'])
  expect(JSON.stringify([...(relation?.dependsOn ?? [])].sort()) ===
         JSON.stringify([...refs].sort()),
  `${EXE} depends on ${JSON.stringify(relation?.dependsOn)}, not on every component`)

  if (problems.length > 0) {
    for (const p of problems) console.error(`check-sbom: ${p}`)
    process.exit(1)
  }
  console.log(`check-sbom: ${SBOM}: CycloneDX ${bom.specVersion}, ${EXE} ${hash}, ` +
    `${named.join(', ')}`)
}

main(process.argv.slice(2)).catch(e => {
  console.error(`check-sbom: ${e.stack}`)
  process.exit(1)
})
