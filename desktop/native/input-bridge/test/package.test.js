'use strict';
// The package as an application gets it: the build's header choice, prebuilt binaries, ESM
// named imports, the tarball's contents, and an offline install into a fresh application (a
// development pack: the release guard has its own test, test/pack-guard.test.js) that imports
// the test kit and runs the push-to-talk example's tests as a new user would.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { headerArgs, fittingPrebuild } = require('../scripts/build.js');
const { DEV_PACK_SWITCH } = require('../scripts/prebuilds.js');

const addonDir = path.resolve(__dirname, '..');
const nativeExports = Object.keys(require('../build/Release/input_bridge.node'));
const packageExports = Object.keys(require('..'));

function scratchDir(t, prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// The environment of a child npm: the variables npm set for this test run (npm test) would
// otherwise leak into the scratch application's install.
function cleanEnv() {
  const env = { ...process.env };
  for (const name of Object.keys(env)) {
    if (/^npm_(config|lifecycle|package)_/i.test(name)) delete env[name];
  }
  return env;
}

test('index.js sets every native function and nothing that is not a function', () => {
  for (const name of nativeExports) assert.ok(packageExports.includes(name), name);
  for (const name of packageExports) {
    assert.equal(typeof require('..')[name], 'function', name);
  }
});

test("the build leaves the headers to Electron's rebuild variables when any is set", () => {
  const cases = [
    // [environment, local headers, node-gyp arguments]
    [{}, '/prefix', ['--nodedir=/prefix']],
    [{}, null, []],
    [{ npm_config_nodedir: '/chosen' }, '/prefix', ['--nodedir=/chosen']],
    [{ npm_config_target: '33.2.0' }, '/prefix', []],
    [{ npm_config_runtime: 'electron' }, '/prefix', []],
    [{ npm_config_disturl: 'https://headers.example' }, '/prefix', []],
    [{ npm_config_target: '33.2.0', npm_config_nodedir: '/chosen' }, '/prefix', []],
    [{ npm_config_target: '' }, '/prefix', ['--nodedir=/prefix']],
  ];
  for (const [env, local, expected] of cases) {
    assert.deepEqual(headerArgs(env, local), expected, JSON.stringify(env));
  }
});

test('a prebuilt binary counts only when it fits this platform and architecture', (t) => {
  const dir = scratchDir(t, 'input-bridge-prebuilds-');
  fs.writeFileSync(path.join(dir, 'package.json'), '{"name": "input-bridge"}');
  // A build/ folder must not stand in for a prebuild: the install would then never build.
  fs.mkdirSync(path.join(dir, 'build', 'Release'), { recursive: true });
  fs.writeFileSync(path.join(dir, 'build', 'Release', 'input_bridge.node'), '');
  assert.equal(fittingPrebuild(dir), null, 'no prebuilds/ at all');

  const other = process.arch === 'x64' ? 'arm64' : 'x64';
  const place = (tuple) => {
    fs.mkdirSync(path.join(dir, 'prebuilds', tuple), { recursive: true });
    const file = path.join(dir, 'prebuilds', tuple, 'node.napi.node');
    fs.writeFileSync(file, '');
    return file;
  };
  place(`${process.platform}-${other}`);
  place(`${process.platform === 'darwin' ? 'linux' : 'darwin'}-${process.arch}`);
  assert.equal(fittingPrebuild(dir), null, 'only other platforms and architectures');
  const fitting = place(`${process.platform}-${process.arch}`);
  assert.equal(fittingPrebuild(dir), fitting);
});

test('ESM named imports give the same functions as require', () => {
  const script = [
    `import * as bridge from ${JSON.stringify(path.join(addonDir, 'index.js'))};`,
    `import { start, axDump } from ${JSON.stringify(path.join(addonDir, 'index.js'))};`,
    'const named = Object.keys(bridge).filter((k) => k !== "default" && k !== "module.exports");',
    'console.log(JSON.stringify({ named, start: typeof start, axDump: typeof axDump,',
    '  same: bridge.default.start === start }));',
  ].join('\n');
  const out = execFileSync(process.execPath, ['--input-type=module', '-e', script], { encoding: 'utf8' });
  const seen = JSON.parse(out);
  assert.deepEqual(seen.named.sort(), [...packageExports].sort());
  assert.equal(seen.start, 'function');
  assert.equal(seen.axDump, 'function');
  assert.equal(seen.same, true);
});

// A development pack: a checkout has no prebuilt binaries unless the macOS workflow's artifact
// was put in prebuilds/, and npm pack's release guard (test/pack-guard.test.js) would refuse it.
function packInto(dir) {
  const env = { ...cleanEnv(), [DEV_PACK_SWITCH]: '1' };
  const out = execFileSync('npm', ['pack', '--json', '--pack-destination', dir], {
    cwd: addonDir, env, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'],
  });
  const [report] = JSON.parse(out.slice(out.indexOf('[')));
  return { tarball: path.join(dir, report.filename), files: report.files.map((f) => f.path) };
}

// Under scripts/sanitize.sh the runtimes are preloaded into every child, compilers included;
// the install builds an uninstrumented copy, so there is nothing there for them to check.
const underSanitizers = /libasan/.test(process.env.LD_PRELOAD || '');

test('the packed addon installs offline into a fresh application, builds and loads', {
  skip: underSanitizers && 'the sanitizer run: the install builds an uninstrumented copy',
}, (t) => {
  const work = scratchDir(t, 'input-bridge-pack-');
  const { tarball, files } = packInto(work);

  assert.equal(fs.existsSync(path.join(addonDir, 'desktop-sim')), false,
               'the carried copy of desktop-sim is gone from the checkout after packing');
  for (const file of ['package.json', 'README.md', 'LICENSE', 'index.js', 'index.d.ts', 'binding.js',
                      'ax-async.js', 'ax-worker.js', 'asar-unpacked.js', 'binding.gyp', 'src/input_bridge.cc', 'scripts/build.js',
                      'kit.js', 'kit.mjs', 'desktop-sim/binding.gyp', 'desktop-sim/index.js',
                      'desktop-sim/index.mjs', 'desktop-sim/kit.js', 'desktop-sim/index.d.ts',
                      'desktop-sim/include/CoreGraphics/CGEvent.h']) {
    assert.ok(files.includes(file), `the tarball has ${file}`);
  }
  for (const folder of ['test/', 'bench/', 'demo/', 'node_modules/', 'build/',
                        'desktop-sim/test/', 'desktop-sim/bench/', 'desktop-sim/build/']) {
    assert.deepEqual(files.filter((f) => f.startsWith(folder)), [], `nothing under ${folder}`);
  }

  const app = path.join(work, 'app');
  fs.mkdirSync(app);
  fs.writeFileSync(path.join(app, 'package.json'),
                   JSON.stringify({ name: 'scratch-app', version: '1.0.0', private: true }));
  const install = spawnSync('npm', ['install', '--offline', '--no-audit', '--no-fund',
                                    '--loglevel=error', tarball],
                            { cwd: app, env: cleanEnv(), encoding: 'utf8' });
  assert.equal(install.status, 0,
               `npm install --offline failed (scripts/setup.sh fills npm's cache with the ` +
               `package's dependencies):\n${install.stdout}\n${install.stderr}`);

  // The application's own view: CommonJS, ESM, and the carried desktop it can script.
  const probe = [
    "const bridge = require('input-bridge');",
    "const sim = require('input-bridge/desktop-sim');",
    'sim.reset();',
    'bridge.postMove(12, 34);',
    'const moved = sim.posted().map((e) => [e.type, e.x, e.y]);',
    "Promise.all([import('input-bridge'), bridge.axDumpAsync()]).then(([esm, dump]) =>",
    '  console.log(JSON.stringify({',
    '    keys: Object.keys(bridge), kinds: Object.values(bridge).map((f) => typeof f), moved,',
    '    esmStart: esm.start === bridge.start, asyncDump: dump, dump: bridge.axDump(),',
    '  })));',
  ].join('\n');
  const seen = JSON.parse(execFileSync(process.execPath, ['-e', probe],
                                       { cwd: app, encoding: 'utf8' }));
  assert.deepEqual(seen.keys, packageExports);
  assert.ok(seen.kinds.every((kind) => kind === 'function'));
  assert.equal(seen.esmStart, true);
  assert.deepEqual(seen.moved, [[5, 12, 34]], 'the addon and the control module share one desktop');
  assert.deepEqual(seen.asyncDump, seen.dump, "axDumpAsync's worker runs from the installed files");

  // The kit's ESM entry with its named imports, as a new user's application imports it.
  const esmProbe = [
    "import { reset, hid, keyboard, typed } from 'input-bridge/desktop-sim';",
    "import * as kit from 'input-bridge/desktop-sim';",
    "import { postType } from 'input-bridge';",
    'reset();',
    "postType('typed from ESM');",
    'console.log(JSON.stringify({ typed: typed(), keys: Object.keys(kit).length,',
    "  kinds: [typeof hid.send, typeof keyboard.press] }));",
  ].join('\n');
  const esm = JSON.parse(execFileSync(process.execPath, ['--input-type=module', '-e', esmProbe],
                                      { cwd: app, encoding: 'utf8' }));
  const kitKeys = Object.keys(require('input-bridge/desktop-sim')).length + 1;  // and default
  assert.deepEqual(esm,
                   { typed: 'typed from ESM', keys: kitKeys, kinds: ['function', 'function'] });

  // The older ways in still work: a file by its path, and the carried folder's own entry.
  const subpaths = [
    "const kit = require('input-bridge/desktop-sim');",
    'console.log(JSON.stringify([',
    "  require('input-bridge/package.json').name,",
    "  typeof require('input-bridge/asar-unpacked.js').unpackedPath,",
    "  typeof require('input-bridge/asar-unpacked').unpackedPath,",
    "  kit === require('input-bridge/desktop-sim/index.js'),",
    "  require.resolve('input-bridge/desktop-sim') === require.resolve('input-bridge/kit.js'),",
    ']));',
  ].join('\n');
  assert.deepEqual(JSON.parse(execFileSync(process.execPath, ['-e', subpaths],
                                           { cwd: app, encoding: 'utf8' })),
                   ['input-bridge', 'function', 'function', true, true]);

  // The worked example and its tests, copied into the application and run there.
  const example = path.join(app, 'push-to-talk');
  fs.cpSync(path.join(addonDir, 'examples', 'push-to-talk'), example, { recursive: true });
  // Without this run's NODE_TEST_CONTEXT, which makes a nested runner report to its parent.
  const { NODE_TEST_CONTEXT, ...testEnv } = cleanEnv();
  const run = spawnSync(process.execPath, ['--test', '--test-reporter=tap', example],
                        { cwd: app, env: testEnv, encoding: 'utf8' });
  assert.equal(run.status, 0, `the example's tests failed in the application:\n${run.stdout}\n` +
                               run.stderr);
  assert.match(run.stdout, /^# pass [1-9]/m);
  assert.match(run.stdout, /^# fail 0$/m);
});
