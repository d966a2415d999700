'use strict';
// The package inside a packaged Electron application: an asar archive made with @electron/asar
// under the README's unpack rules, and axDumpAsync working from it. Plain Node reads no archive,
// so the test assembles Electron's view of one: the packed files extracted at the archive's own
// path (where Electron serves them to require and fs), every unpacked file listed there too but
// as a placeholder that fails when it is run or loaded (its real bytes are in app.asar.unpacked),
// and Electron's rule for binaries preloaded into the host (fixtures/asar-electron.js). A worker
// started from the archive's path, or loading its binary from there, then fails as it would in
// an Electron whose worker threads read no archive.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const asar = require('@electron/asar');
const { unpackedPath } = require('../asar-unpacked.js');
const { desktopSimDir } = require('../scripts/desktop-sim-dir.js');

const addonDir = path.resolve(__dirname, '..');
const PACKAGE = path.join('node_modules', 'input-bridge');

// The README's rule: the binaries and the worker script (electron-builder's asarUnpack entries,
// as one pattern for Forge's asar.unpack); and the rule Forge's auto-unpack-natives plugin adds,
// which unpacks the binaries only.
const README_RULE = '**/node_modules/input-bridge/{prebuilds/**,build/Release/*.node,ax-worker.js}';
const BINARIES_ONLY_RULE = '**/{.**,**}/**/*.node';

function scratchDir(t, prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

test('a path inside an archive maps to its unpacked copy, and only then', () => {
  const unpacked = new Set([
    '/App.app/Contents/Resources/app.asar.unpacked/node_modules/input-bridge/ax-worker.js',
    'C:\\App\\resources\\app.asar.unpacked\\node_modules\\input-bridge\\ax-worker.js',
    '/R/app.asar.unpacked/node_modules/pkg/inner.asar/x.js',
  ]);
  const exists = (file) => unpacked.has(file);
  const cases = [
    // [path, what it maps to]
    ['/App.app/Contents/Resources/app.asar/node_modules/input-bridge/ax-worker.js',
     '/App.app/Contents/Resources/app.asar.unpacked/node_modules/input-bridge/ax-worker.js'],
    ['C:\\App\\resources\\app.asar\\node_modules\\input-bridge\\ax-worker.js',
     'C:\\App\\resources\\app.asar.unpacked\\node_modules\\input-bridge\\ax-worker.js'],
    // Kept in the archive: only Electron's loaders can read it, so the path stays.
    ['/App.app/Contents/Resources/app.asar/node_modules/input-bridge/index.js',
     '/App.app/Contents/Resources/app.asar/node_modules/input-bridge/index.js'],
    ['/home/dev/app/node_modules/input-bridge/ax-worker.js',
     '/home/dev/app/node_modules/input-bridge/ax-worker.js'],
    ['/R/app.asar.unpacked/node_modules/input-bridge/ax-worker.js',
     '/R/app.asar.unpacked/node_modules/input-bridge/ax-worker.js'],
    ['/R/app.asarx/ax-worker.js', '/R/app.asarx/ax-worker.js'],
    ['/R/app.asar', '/R/app.asar'],
    // Electron nests no archives: the first one is the archive.
    ['/R/app.asar/node_modules/pkg/inner.asar/x.js',
     '/R/app.asar.unpacked/node_modules/pkg/inner.asar/x.js'],
  ];
  for (const [file, expected] of cases) assert.equal(unpackedPath(file, exists), expected, file);
});

// What a packaged application holds of the package: its scripts, manifest and this build's
// binary (where node-gyp-build looks first), and node-gyp-build beside it.
function applicationSource(root) {
  const source = path.join(root, 'app-src');
  const pkg = path.join(source, PACKAGE);
  fs.mkdirSync(path.join(pkg, 'build', 'Release'), { recursive: true });
  for (const file of fs.readdirSync(addonDir).filter((f) => f.endsWith('.js') || f === 'package.json')) {
    fs.copyFileSync(path.join(addonDir, file), path.join(pkg, file));
  }
  fs.copyFileSync(path.join(addonDir, 'build', 'Release', 'input_bridge.node'),
                  path.join(pkg, 'build', 'Release', 'input_bridge.node'));
  fs.cpSync(path.dirname(require.resolve('node-gyp-build/package.json')),
            path.join(source, 'node_modules', 'node-gyp-build'), { recursive: true });
  fs.writeFileSync(path.join(source, 'package.json'),
                   JSON.stringify({ name: 'scratch-app', version: '1.0.0', private: true }));
  return source;
}

function placeholder(inside) {
  return inside.endsWith('.js')
    ? `throw new Error('an unpacked file run from inside the archive: ${inside}');\n`
    : '';
}

// The archive packed with `unpack`, and Electron's view of it at Resources/app.asar.
async function packagedApplication(root, unpack) {
  const archive = path.join(root, 'packed', 'app.asar');
  await asar.createPackageWithOptions(applicationSource(root), archive, { unpack });
  const mount = path.join(root, 'Resources', 'app.asar');
  for (const listed of asar.listPackage(archive, { isPack: false })) {
    const inside = listed.replace(/^[\\/]/, '');
    const entry = asar.statFile(archive, inside);
    const target = path.join(mount, inside);
    if ('files' in entry) {
      fs.mkdirSync(target, { recursive: true });
    } else {
      fs.mkdirSync(path.dirname(target), { recursive: true });
      fs.writeFileSync(target, entry.unpacked ? placeholder(inside) : asar.extractFile(archive, inside));
    }
  }
  fs.renameSync(`${archive}.unpacked`, `${mount}.unpacked`);
  // Linux only: the simulated desktop's library where the binary's run path looks for it,
  // beside the package. A Mac's binary needs the system's frameworks only.
  const library = path.join(`${mount}.unpacked`, 'node_modules', 'desktop-sim', 'build', 'Release');
  fs.mkdirSync(library, { recursive: true });
  fs.symlinkSync(path.join(desktopSimDir(), 'build', 'Release', 'lib.target'),
                 path.join(library, 'lib.target'));
  return { archive, mount };
}

// A host that loads the package from the archive's path, scripts a desktop with the notes
// editor focused and answers axDump beside axDumpAsync.
function runFromArchive({ archive, mount }) {
  const probe = `
    const fs = require('node:fs');
    const path = require('node:path');
    const sim = require(process.env.DESKTOP_SIM);
    sim.reset();
    sim.ax.load(JSON.parse(fs.readFileSync(process.env.FIXTURE, 'utf8')));
    const pkg = path.join(process.env.ASAR_MOUNT, ${JSON.stringify(PACKAGE)});
    const bridge = require(pkg);
    const [script, { workerData }] = require(path.join(pkg, 'asar-unpacked.js')).axWorkerArguments();
    const report = (fields) => console.log(JSON.stringify({
      ...fields, script, binary: workerData.binary, entry: require.resolve(pkg),
      dlopened: globalThis.asarDlopened,
    }));
    bridge.axDumpAsync().then((asyncDump) => report({ asyncDump, dump: bridge.axDump() }),
                              (error) => report({ error: String(error && error.stack) }));
  `;
  const out = execFileSync(process.execPath, ['-r', path.join(__dirname, 'fixtures', 'asar-electron.js'),
                                              '-e', probe], {
    encoding: 'utf8',
    env: {
      ...process.env,
      ASAR_ARCHIVE: archive,
      ASAR_MOUNT: mount,
      DESKTOP_SIM: desktopSimDir(),
      FIXTURE: path.join(__dirname, 'fixtures', 'ax', 'notes-editor.json'),
    },
  });
  return JSON.parse(out);
}

const inPackage = (...parts) => path.join(PACKAGE, ...parts);

test("axDumpAsync from an archive unpacked by the README's rule", async (t) => {
  const app = await packagedApplication(scratchDir(t, 'input-bridge-asar-'), README_RULE);
  const cases = [
    // [file, unpacked]
    [inPackage('ax-worker.js'), true],
    [inPackage('build', 'Release', 'input_bridge.node'), true],
    [inPackage('index.js'), false],
    [inPackage('ax-async.js'), false],
    [inPackage('asar-unpacked.js'), false],
    [path.join('node_modules', 'node-gyp-build', 'index.js'), false],
  ];
  for (const [file, unpacked] of cases) {
    assert.equal(Boolean(asar.statFile(app.archive, file).unpacked), unpacked, file);
    assert.equal(fs.existsSync(path.join(`${app.mount}.unpacked`, file)), unpacked, file);
  }

  const seen = runFromArchive(app);
  assert.equal(seen.error, undefined, seen.error);
  assert.equal(seen.entry, path.join(app.mount, inPackage('index.js')), 'loaded from the archive');
  const binary = path.join(`${app.mount}.unpacked`, inPackage('build', 'Release', 'input_bridge.node'));
  assert.deepEqual(seen.dlopened.filter(({ asked }) => asked.startsWith(app.mount)),
                   [{ asked: path.join(app.mount, inPackage('build', 'Release', 'input_bridge.node')),
                      loaded: binary }],
                   "the main thread's binary came from the unpacked folder");
  assert.equal(seen.script, path.join(`${app.mount}.unpacked`, inPackage('ax-worker.js')));
  assert.equal(seen.binary, binary);
  assert.equal(seen.dump.appName, 'Notes');
  assert.deepEqual(seen.asyncDump, seen.dump);
});

test('axDumpAsync from an archive that unpacked the binaries only', async (t) => {
  const app = await packagedApplication(scratchDir(t, 'input-bridge-asar-'), BINARIES_ONLY_RULE);
  assert.equal(Boolean(asar.statFile(app.archive, inPackage('ax-worker.js')).unpacked), false);

  // The script stays in the archive, where only an Electron whose worker threads read archives
  // (17 and 18 onwards) finds it: the test's view serves the packed copy there.
  const seen = runFromArchive(app);
  assert.equal(seen.error, undefined, seen.error);
  assert.equal(seen.script, path.join(app.mount, inPackage('ax-worker.js')));
  assert.equal(seen.binary,
               path.join(`${app.mount}.unpacked`, inPackage('build', 'Release', 'input_bridge.node')));
  assert.deepEqual(seen.asyncDump, seen.dump);
});
