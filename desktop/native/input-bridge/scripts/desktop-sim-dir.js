'use strict';
// Where the simulated desktop's sources are: in a checkout of the repository its sibling folder
// (the one with its suites), else the copy a packed package carries in desktop-sim/ (made at
// pack time, see pack-desktop-sim.js). A checkout never builds a copy that an interrupted pack
// left behind. binding.gyp asks this file too, so the build and the link agree on one folder.
const fs = require('node:fs');
const path = require('node:path');

const addonDir = path.resolve(__dirname, '..');

function desktopSimDir() {
  const sibling = path.resolve(addonDir, '..', 'desktop-sim');
  if (fs.existsSync(path.join(sibling, 'test')) && fs.existsSync(path.join(sibling, 'binding.gyp'))) {
    return sibling;
  }
  return path.join(addonDir, 'desktop-sim');
}

// desktop-sim's library folder relative to the addon's own file: the addon finds the library
// from $ORIGIN, so an application's folder can move (a CI cache, a copied checkout).
function libraryDirFromAddon() {
  const fromAddon = path.relative(path.join(addonDir, 'build', 'Release'),
                                  path.join(desktopSimDir(), 'build', 'Release', 'lib.target'));
  return fromAddon.split(path.sep).join('/');
}

module.exports = { desktopSimDir, libraryDirFromAddon };

if (require.main === module) {
  const answers = {
    dir: desktopSimDir,
    'library-from-addon': libraryDirFromAddon,
    'has-api-pins': () => (fs.existsSync(path.join(desktopSimDir(), 'api-pins', 'api_pins.cc')) ? '1' : '0'),
  };
  const answer = answers[process.argv[2] || 'dir'];
  if (!answer) {
    console.error(`usage: desktop-sim-dir.js [${Object.keys(answers).join('|')}]`);
    process.exitCode = 2;
  } else {
    process.stdout.write(answer());
  }
}
