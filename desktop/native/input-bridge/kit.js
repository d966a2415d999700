'use strict';
// require('input-bridge/desktop-sim'): the control module of the simulated desktop this addon
// was built against, the same object desktop-sim's own entry gives. In a package that is the
// copy it carries in desktop-sim/, in the repository's checkout the sibling folder.
const { desktopSimDir } = require('./scripts/desktop-sim-dir.js');

module.exports = require(desktopSimDir());
