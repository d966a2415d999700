#!/usr/bin/env node
'use strict';
// The prebuilt binaries a release carries, under the names both loaders find: node-gyp-build
// (this package's own loader) and @electron/rebuild, which skips its source rebuild only when
// it sees prebuilds/<platform>-<arch>/node.napi.<ext> or electron.napi.<ext>, where <ext> is
// "armv8.node" on arm64 and "node" on x64. prebuildify's own default, the package name
// (input-bridge.node), is one only node-gyp-build finds.
//
//   node scripts/prebuilds.js build ARCH   on a Mac: prebuildify for arm64 or x64, then checks
//                                          that the binary landed under its name
//   node scripts/prebuilds.js check        npm pack's guard: a release needs both binaries
//   node scripts/prebuilds.js list         the binaries' paths, one a line (for the workflow)
//   node scripts/prebuilds.js deployment-target   the oldest macOS they are built for
//
// The guard refuses to pack without both darwin binaries, each a thin Mach-O bundle of its CPU
// built for the package's deployment target, and with anything else in prebuilds/. A
// development pack skips it with INPUT_BRIDGE_DEV_PACK=1.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const addonDir = path.resolve(__dirname, '..');
const DEV_PACK_SWITCH = 'INPUT_BRIDGE_DEV_PACK';

// One per slice of a universal application. The arm64 name carries the armv8 tag that
// @electron/rebuild asks for; node-gyp-build accepts it on arm64, where its ARM version is 8.
const PREBUILDS = [
  {
    arch: 'arm64',
    file: 'prebuilds/darwin-arm64/node.napi.armv8.node',
    cpuType: 0x0100000c,  // CPU_TYPE_ARM64
    prebuildifyFlags: ['--tag-armv', '8'],
  },
  {
    arch: 'x64',
    file: 'prebuilds/darwin-x64/node.napi.node',
    cpuType: 0x01000007,  // CPU_TYPE_X86_64
    prebuildifyFlags: [],
  },
];

// prebuildify's arguments for one architecture. --name sets the whole stem of the file name:
// with --napi, prebuildify adds no "napi" tag of its own.
function prebuildifyArgs(arch) {
  const prebuild = PREBUILDS.find((entry) => entry.arch === arch);
  if (!prebuild) throw new Error(`no prebuilt binary is made for ${arch}`);
  return ['--napi', '--strip', '--arch', arch, '--name', 'node.napi', ...prebuild.prebuildifyFlags];
}

// The oldest macOS the binaries run on: binding.gyp's MACOSX_DEPLOYMENT_TARGET.
function deploymentTarget(dir = addonDir) {
  const gyp = fs.readFileSync(path.join(dir, 'binding.gyp'), 'utf8');
  const found = /"MACOSX_DEPLOYMENT_TARGET":\s*"(\d+(?:\.\d+){0,2})"/.exec(gyp);
  if (!found) throw new Error('binding.gyp names no MACOSX_DEPLOYMENT_TARGET');
  return found[1];
}

const MH_MAGIC_64 = 0xfeedfacf;
const MH_BUNDLE = 8;
const LC_VERSION_MIN_MACOSX = 0x24;
const LC_BUILD_VERSION = 0x32;
const PLATFORM_MACOS = 1;

// A Mach-O version (xxxx.yy.zz in nibbles) as text.
function versionText(encoded) {
  return `${encoded >>> 16}.${(encoded >>> 8) & 0xff}.${encoded & 0xff}`.replace(/\.0$/, '');
}

function compareVersions(a, b) {
  const [pa, pb] = [a, b].map((v) => v.split('.').map(Number));
  for (let i = 0; i < 3; i++) {
    const diff = (pa[i] || 0) - (pb[i] || 0);
    if (diff !== 0) return Math.sign(diff);
  }
  return 0;
}

// The header facts the guard checks: {cpuType, fileType, minos}, or null when the bytes are
// no thin little-endian 64-bit Mach-O (a fat file, another format, a truncated one).
function readMachO(bytes) {
  if (bytes.length < 32 || bytes.readUInt32LE(0) !== MH_MAGIC_64) return null;
  const header = { cpuType: bytes.readUInt32LE(4), fileType: bytes.readUInt32LE(12), minos: null };
  const ncmds = bytes.readUInt32LE(16);
  let offset = 32;
  for (let i = 0; i < ncmds && offset + 8 <= bytes.length; i++) {
    const cmd = bytes.readUInt32LE(offset);
    const size = bytes.readUInt32LE(offset + 4);
    if (size < 8) return null;
    if (cmd === LC_BUILD_VERSION && offset + 12 <= bytes.length &&
        bytes.readUInt32LE(offset + 8) === PLATFORM_MACOS) {
      header.minos = versionText(bytes.readUInt32LE(offset + 12));
    } else if (cmd === LC_VERSION_MIN_MACOSX && offset + 12 <= bytes.length) {
      header.minos = versionText(bytes.readUInt32LE(offset + 8));
    }
    offset += size;
  }
  return header;
}

function listFiles(dir, base = dir) {
  if (!fs.existsSync(dir)) return [];
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(dir, entry.name);
    return entry.isDirectory() ? listFiles(full, base) : [path.relative(base, full)];
  });
}

// What keeps the package in `dir` from being a release: one sentence per fault, none when it
// may be packed.
function releaseProblems(dir = addonDir) {
  const target = deploymentTarget(dir);
  const problems = [];
  for (const { arch, file, cpuType } of PREBUILDS) {
    const full = path.join(dir, file);
    if (!fs.existsSync(full)) {
      problems.push(`${file} is missing (the darwin ${arch} binary)`);
      continue;
    }
    const header = readMachO(fs.readFileSync(full));
    if (header === null) {
      problems.push(`${file} is no thin 64-bit Mach-O file`);
    } else if (header.cpuType !== cpuType || header.fileType !== MH_BUNDLE) {
      problems.push(`${file} is not a bundle for ${arch}`);
    } else if (header.minos === null || compareVersions(header.minos, target) > 0) {
      problems.push(`${file} is built for macOS ${header.minos || '(unknown)'}, not ${target}`);
    }
  }
  const expected = new Set(PREBUILDS.map(({ file }) => path.normalize(file)));
  for (const file of listFiles(path.join(dir, 'prebuilds'), dir)) {
    if (!expected.has(file)) problems.push(`${file} is not one of the release's binaries`);
  }
  return problems;
}

function check(env) {
  if (env[DEV_PACK_SWITCH] === '1') {
    console.error(`input-bridge: ${DEV_PACK_SWITCH}=1, a development pack: prebuilt binaries ` +
                  'are not checked');
    return 0;
  }
  const problems = releaseProblems();
  if (problems.length === 0) return 0;
  console.error('input-bridge: refusing to pack a release:');
  for (const problem of problems) console.error(`  ${problem}`);
  console.error('Put the macOS workflow\'s input-bridge-prebuilds artifact in prebuilds/, or set ' +
                `${DEV_PACK_SWITCH}=1 for a development pack without them.`);
  return 1;
}

function build(arch) {
  const args = prebuildifyArgs(arch);
  const bin = require.resolve('prebuildify/bin.js', { paths: [addonDir] });
  const result = spawnSync(process.execPath, [bin, ...args], { cwd: addonDir, stdio: 'inherit' });
  if (result.status !== 0) return result.status === null ? 1 : result.status;
  const { file } = PREBUILDS.find((entry) => entry.arch === arch);
  if (!fs.existsSync(path.join(addonDir, file))) {
    console.error(`input-bridge: prebuildify wrote no ${file}`);
    return 1;
  }
  console.log(`input-bridge: ${file}`);
  return 0;
}

module.exports = { PREBUILDS, DEV_PACK_SWITCH, prebuildifyArgs, deploymentTarget, readMachO,
                   releaseProblems };

if (require.main === module) {
  const [command, arch] = process.argv.slice(2);
  const commands = {
    build: () => build(arch),
    check: () => check(process.env),
    list: () => (PREBUILDS.forEach(({ file }) => console.log(file)), 0),
    'deployment-target': () => (console.log(deploymentTarget()), 0),
  };
  if (!commands[command]) {
    console.error(`usage: prebuilds.js ${Object.keys(commands).join('|')} [arm64|x64]`);
    process.exitCode = 2;
  } else {
    try {
      process.exitCode = commands[command]();
    } catch (error) {
      console.error(`input-bridge: ${error.message}`);
      process.exitCode = 1;
    }
  }
}
