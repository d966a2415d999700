'use strict';
// The prebuilt binaries' names as the two loaders see them. prebuildify runs with the release's
// own arguments (scripts/prebuilds.js, which the macOS workflow runs) and a stand-in for
// node-gyp, so the files are named exactly as a release names them; then @electron/rebuild's
// own prebuilt-module lookup and node-gyp-build's own resolver look for them, per platform,
// architecture and runtime. Other layouts beside them show what each loader would miss.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Prebuildify } = require('@electron/rebuild/lib/module-type/prebuildify');
const { PREBUILDS, prebuildifyArgs } = require('../scripts/prebuilds.js');

const addonDir = path.resolve(__dirname, '..');
const ELECTRON = '33.2.0';  // any Electron with Node-API; the lookup checks it has one

function scratchDir(t, prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// A package folder with this package's own manifest: @electron/rebuild trusts the prebuilds/
// folder only of a package that lists prebuildify among its development dependencies.
function packageDir(root, name, files = []) {
  const dir = path.join(root, name);
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(addonDir, 'package.json'), path.join(dir, 'package.json'));
  for (const file of files) {
    fs.mkdirSync(path.dirname(path.join(dir, file)), { recursive: true });
    fs.writeFileSync(path.join(dir, file), '');
  }
  return dir;
}

// prebuildify as the workflow runs it, for a Mac, with node-gyp replaced by a script that leaves
// an empty binary where node-gyp's build would, and strip by true.
function prebuildifyLikeTheWorkflow(dir, arch) {
  const fakeGyp = path.join(dir, 'fake-node-gyp');
  fs.writeFileSync(fakeGyp, [
    `#!${process.execPath}`,
    "const fs = require('node:fs');",
    "fs.mkdirSync('build/Release', { recursive: true });",
    "fs.writeFileSync('build/Release/input_bridge.node', process.argv.slice(2).join(' '));",
  ].join('\n'), { mode: 0o755 });
  const bin = require.resolve('prebuildify/bin.js');
  execFileSync(process.execPath, [bin, ...prebuildifyArgs(arch), '--platform', 'darwin',
                                  '--node-gyp', fakeGyp, '--strip-bin', 'true', '--quiet'],
               { cwd: dir, stdio: ['ignore', 'ignore', 'inherit'] });
  fs.rmSync(path.join(dir, 'build'), { recursive: true, force: true });
  fs.rmSync(fakeGyp);
}

function listFiles(dir) {
  return fs.readdirSync(dir, { recursive: true, withFileTypes: true })
    .filter((entry) => entry.isFile())
    .map((entry) => path.relative(dir, path.join(entry.parentPath ?? entry.path, entry.name)))
    .sort();
}

// @electron/rebuild's verdict for one architecture: true when it would use a prebuilt binary
// instead of rebuilding the package from source.
async function rebuildFindsPrebuilt(dir, arch) {
  const rebuilder = { platform: 'darwin', arch, ABI: '130', electronVersion: ELECTRON };
  const lookup = new Prebuildify(rebuilder, dir);
  return (await lookup.usesTool()) && (await lookup.findPrebuiltModule());
}

// node-gyp-build's answer (a file relative to dir, or null) for a platform, an architecture
// and a runtime: it reads them, like npm's overrides, when it is loaded, so each answer comes
// from a fresh copy of the module.
function nodeGypBuildFinds(dir, { platform, arch, electron }) {
  const overrides = {
    npm_config_platform: platform,
    npm_config_arch: arch,
    ELECTRON_RUN_AS_NODE: electron ? '1' : undefined,
    PREBUILDS_ONLY: undefined,
  };
  const saved = {};
  for (const [name, value] of Object.entries(overrides)) {
    saved[name] = process.env[name];
    if (value === undefined) delete process.env[name];
    else process.env[name] = value;
  }
  const modulePath = require.resolve('node-gyp-build/node-gyp-build.js');
  delete require.cache[modulePath];
  try {
    return path.relative(dir, require(modulePath).resolve(dir));
  } catch {
    return null;
  } finally {
    delete require.cache[modulePath];
    for (const [name, value] of Object.entries(saved)) {
      if (value === undefined) delete process.env[name];
      else process.env[name] = value;
    }
  }
}

// One package folder with the release's binaries as prebuildify writes them, for the tests below.
let released;
test.before(() => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'input-bridge-prebuildify-'));
  released = packageDir(root, 'input-bridge');
  for (const { arch } of PREBUILDS) prebuildifyLikeTheWorkflow(released, arch);
});
test.after(() => fs.rmSync(path.dirname(released), { recursive: true, force: true }));

test('prebuildify with the release arguments writes exactly the release file names', () => {
  assert.deepEqual(listFiles(path.join(released, 'prebuilds')).map((f) => `prebuilds/${f}`),
                   PREBUILDS.map(({ file }) => file).sort());
  for (const { arch, file } of PREBUILDS) {
    assert.match(fs.readFileSync(path.join(released, file), 'utf8'), new RegExp(`--arch=${arch}\\b`),
                 `${file} was built for ${arch}`);
  }
});

test('both loaders find the release binaries on both Mac architectures', async () => {
  for (const { arch, file } of PREBUILDS) {
    assert.equal(await rebuildFindsPrebuilt(released, arch), true, `@electron/rebuild, ${arch}`);
    for (const electron of [false, true]) {
      assert.equal(nodeGypBuildFinds(released, { platform: 'darwin', arch, electron }), file,
                   `node-gyp-build, ${arch}, ${electron ? 'Electron' : 'Node'}`);
    }
  }
  // Elsewhere no binary fits and the install builds from source.
  assert.equal(nodeGypBuildFinds(released, { platform: 'linux', arch: 'x64' }), null);
});

test('the layouts the release does not use: what each loader misses', async (t) => {
  const root = scratchDir(t, 'input-bridge-layouts-');
  const cases = [
    // [layout, files, @electron/rebuild finds {arm64, x64}, node-gyp-build finds {arm64, x64}]
    ["prebuildify's default name (the package name)",
     ['prebuilds/darwin-arm64/input-bridge.node', 'prebuilds/darwin-x64/input-bridge.node'],
     { arm64: false, x64: false },
     { arm64: 'prebuilds/darwin-arm64/input-bridge.node', x64: 'prebuilds/darwin-x64/input-bridge.node' }],
    ['node.napi.node on arm64 too (no armv8 tag)',
     ['prebuilds/darwin-arm64/node.napi.node', 'prebuilds/darwin-x64/node.napi.node'],
     { arm64: false, x64: true },
     { arm64: 'prebuilds/darwin-arm64/node.napi.node', x64: 'prebuilds/darwin-x64/node.napi.node' }],
    ['one universal binary',
     ['prebuilds/darwin-x64+arm64/node.napi.node'],
     { arm64: false, x64: false },
     { arm64: 'prebuilds/darwin-x64+arm64/node.napi.node', x64: 'prebuilds/darwin-x64+arm64/node.napi.node' }],
  ];
  for (const [layout, files, rebuildFinds, nodeGypBuildAnswers] of cases) {
    const dir = packageDir(root, layout.replace(/\W+/g, '-'), files);
    for (const arch of ['arm64', 'x64']) {
      assert.equal(await rebuildFindsPrebuilt(dir, arch), rebuildFinds[arch],
                   `${layout}: @electron/rebuild, ${arch}`);
      assert.equal(nodeGypBuildFinds(dir, { platform: 'darwin', arch, electron: true }),
                   nodeGypBuildAnswers[arch], `${layout}: node-gyp-build, ${arch}`);
    }
  }
});

test('@electron/rebuild trusts the prebuilds only of a package that names prebuildify', async (t) => {
  const dir = packageDir(scratchDir(t, 'input-bridge-manifest-'), 'input-bridge',
                         PREBUILDS.map(({ file }) => file));
  const manifest = JSON.parse(fs.readFileSync(path.join(dir, 'package.json'), 'utf8'));
  delete manifest.devDependencies.prebuildify;
  fs.writeFileSync(path.join(dir, 'package.json'), JSON.stringify(manifest));
  assert.equal(await rebuildFindsPrebuilt(dir, 'arm64'), false);
});
