'use strict';
// npm pack's guard (scripts/prebuilds.js check, the prepack step): a release carries both darwin
// binaries, each a thin Mach-O bundle of its own CPU built for the package's deployment target,
// and nothing else under prebuilds/; INPUT_BRIDGE_DEV_PACK=1 makes a development pack without
// them. The binaries here are Mach-O headers written by the test, which is all the guard reads.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { PREBUILDS, DEV_PACK_SWITCH, deploymentTarget, releaseProblems } =
  require('../scripts/prebuilds.js');

const addonDir = path.resolve(__dirname, '..');
const [ARM64, X64] = ['arm64', 'x64'].map((arch) => PREBUILDS.find((p) => p.arch === arch));
const MH_BUNDLE = 8;
const MH_DYLIB = 6;

function scratchDir(t, prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

function encodeVersion(text) {
  const [major, minor = 0, patch = 0] = text.split('.').map(Number);
  return (major << 16) | (minor << 8) | patch;
}

// The start of a 64-bit Mach-O file: the header and one load command naming the oldest macOS,
// LC_BUILD_VERSION as current linkers write it or LC_VERSION_MIN_MACOSX as older ones did.
function machO({ cpuType, fileType = MH_BUNDLE, minos = deploymentTarget(), command = 'build' }) {
  const header = Buffer.alloc(32);
  header.writeUInt32LE(0xfeedfacf, 0);
  header.writeUInt32LE(cpuType, 4);
  header.writeUInt32LE(fileType, 12);
  header.writeUInt32LE(1, 16);
  const load = command === 'build' ? Buffer.alloc(24) : Buffer.alloc(16);
  if (command === 'build') {
    load.writeUInt32LE(0x32, 0);
    load.writeUInt32LE(24, 4);
    load.writeUInt32LE(1, 8);  // PLATFORM_MACOS
    load.writeUInt32LE(encodeVersion(minos), 12);
    load.writeUInt32LE(encodeVersion('14.2'), 16);
  } else {
    load.writeUInt32LE(0x24, 0);
    load.writeUInt32LE(16, 4);
    load.writeUInt32LE(encodeVersion(minos), 8);
    load.writeUInt32LE(encodeVersion('14.2'), 12);
  }
  header.writeUInt32LE(load.length, 20);
  return Buffer.concat([header, load]);
}

const FAT_HEADER = Buffer.from([0xca, 0xfe, 0xba, 0xbe, 0, 0, 0, 2]);

// A package folder with the given files under it (relative path to contents).
function packageWith(root, name, files) {
  const dir = path.join(root, name);
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(addonDir, 'binding.gyp'), path.join(dir, 'binding.gyp'));
  for (const [file, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(dir, file)), { recursive: true });
    fs.writeFileSync(path.join(dir, file), bytes);
  }
  return dir;
}

const goodRelease = () => ({
  [ARM64.file]: machO({ cpuType: ARM64.cpuType }),
  [X64.file]: machO({ cpuType: X64.cpuType }),
});

test('what keeps a package from being a release', (t) => {
  const root = scratchDir(t, 'input-bridge-guard-');
  const target = deploymentTarget();
  const cases = [
    // [case, files, the problems reported]
    ['both binaries', goodRelease(), []],
    ['an older deployment target, from the older load command',
     { ...goodRelease(), [X64.file]: machO({ cpuType: X64.cpuType, minos: '10.15', command: 'min' }) },
     []],
    ['no prebuilds at all', {},
     [`${ARM64.file} is missing (the darwin arm64 binary)`,
      `${X64.file} is missing (the darwin x64 binary)`]],
    ['only arm64', { [ARM64.file]: goodRelease()[ARM64.file] },
     [`${X64.file} is missing (the darwin x64 binary)`]],
    ['the two swapped',
     { [ARM64.file]: machO({ cpuType: X64.cpuType }), [X64.file]: machO({ cpuType: ARM64.cpuType }) },
     [`${ARM64.file} is not a bundle for arm64`, `${X64.file} is not a bundle for x64`]],
    ['a library, not a bundle',
     { ...goodRelease(), [ARM64.file]: machO({ cpuType: ARM64.cpuType, fileType: MH_DYLIB }) },
     [`${ARM64.file} is not a bundle for arm64`]],
    ['a universal file where a thin one belongs', { ...goodRelease(), [X64.file]: FAT_HEADER },
     [`${X64.file} is no thin 64-bit Mach-O file`]],
    ['an empty file', { ...goodRelease(), [ARM64.file]: Buffer.alloc(0) },
     [`${ARM64.file} is no thin 64-bit Mach-O file`]],
    ['built for a newer macOS',
     { ...goodRelease(), [ARM64.file]: machO({ cpuType: ARM64.cpuType, minos: '13.0' }) },
     [`${ARM64.file} is built for macOS 13.0, not ${target}`]],
    ['a leftover under another name',
     { ...goodRelease(), 'prebuilds/darwin-arm64/input-bridge.node': Buffer.alloc(0) },
     ['prebuilds/darwin-arm64/input-bridge.node is not one of the release\'s binaries']],
    ['a binary for another platform',
     { ...goodRelease(), 'prebuilds/linux-x64/node.napi.node': Buffer.alloc(0) },
     ['prebuilds/linux-x64/node.napi.node is not one of the release\'s binaries']],
  ];
  for (const [name, files, problems] of cases) {
    const dir = packageWith(root, name.replace(/\W+/g, '-'), files);
    assert.deepEqual(releaseProblems(dir), problems, name);
  }
});

// The environment of a child npm: without the variables npm set for this test run, and
// without the development switch unless a case sets it.
function cleanEnv(extra = {}) {
  const env = { ...process.env };
  for (const name of Object.keys(env)) {
    if (/^npm_(config|lifecycle|package)_/i.test(name)) delete env[name];
  }
  delete env[DEV_PACK_SWITCH];
  return { ...env, ...extra };
}

// A copy of the package's manifest and pack scripts beside (a link to) the repository's
// desktop-sim, as the prepack and postpack steps expect.
function packableCopy(root, files) {
  const dir = packageWith(root, 'input-bridge', files);
  fs.copyFileSync(path.join(addonDir, 'package.json'), path.join(dir, 'package.json'));
  fs.mkdirSync(path.join(dir, 'scripts'));
  for (const script of ['prebuilds.js', 'pack-desktop-sim.js']) {
    fs.copyFileSync(path.join(addonDir, 'scripts', script), path.join(dir, 'scripts', script));
  }
  fs.symlinkSync(path.resolve(addonDir, '..', 'desktop-sim'), path.join(root, 'desktop-sim'));
  return dir;
}

function npmPack(dir, env) {
  return spawnSync('npm', ['pack', '--dry-run', '--json', '--ignore-scripts=false'],
                   { cwd: dir, env, encoding: 'utf8' });
}

test('npm pack refuses a release without both binaries, and packs them when they are there',
     (t) => {
  const incomplete = packableCopy(scratchDir(t, 'input-bridge-pack-refused-'),
                                  { [ARM64.file]: goodRelease()[ARM64.file] });
  const refused = npmPack(incomplete, cleanEnv());
  assert.notEqual(refused.status, 0, 'npm pack went ahead');
  assert.match(refused.stderr, /refusing to pack a release/);
  assert.match(refused.stderr, new RegExp(`${X64.file.replace(/[.+]/g, '\\$&')} is missing`));
  assert.equal(fs.existsSync(path.join(incomplete, 'desktop-sim')), false,
               'the guard ran before anything was copied');

  // The development switch (test/package.test.js packs that way) is the guard's own answer.
  assert.equal(spawnSync(process.execPath, [path.join(incomplete, 'scripts', 'prebuilds.js'), 'check'],
                         { cwd: incomplete, env: cleanEnv({ [DEV_PACK_SWITCH]: '1' }) }).status, 0);

  const release = packableCopy(scratchDir(t, 'input-bridge-pack-release-'), goodRelease());
  const packed = npmPack(release, cleanEnv());
  assert.equal(packed.status, 0, packed.stderr);
  const [report] = JSON.parse(packed.stdout.slice(packed.stdout.indexOf('[')));
  const files = report.files.map((f) => f.path);
  assert.deepEqual(files.filter((f) => f.startsWith('prebuilds/')).sort(),
                   [ARM64.file, X64.file].sort());
  assert.equal(fs.existsSync(path.join(release, 'desktop-sim')), false, 'postpack removed the copy');
});
