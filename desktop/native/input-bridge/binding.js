'use strict';
// Loads the native addon: a build of this checkout (build/Release) when there is one, else the
// prebuilt binary for this platform and architecture (prebuilds/darwin-arm64, darwin-x64).
// Every module that needs the binary goes through here, so each host loads it one way.
module.exports = require('node-gyp-build')(__dirname);
