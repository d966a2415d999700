'use strict';
// Inside a packaged Electron application this package usually sits in an asar archive
// (Contents/Resources/app.asar). Electron serves require and fs from the archive, but what the
// system itself opens must be a real file: the packager puts the files its unpack rule names in
// the folder beside the archive, app.asar.unpacked, under the same relative paths. The worker
// behind axDumpAsync is started from such real files, so it needs no asar support of its own
// (Electron's worker threads gained it only in its 17 and 18 releases) and loads the very
// binary the main thread loaded.
const fs = require('node:fs');
const path = require('node:path');

// The first folder of the path that is an archive (a name ending in .asar), up to the
// separator after it.
const ARCHIVE_SEGMENT = /\.asar(?=[\\/])/;

// The unpacked copy of `file` when `file` lies inside an asar archive and the packager unpacked
// it; otherwise `file` itself (no archive in its path, or a file the archive kept, which only
// Electron's own loaders can read).
function unpackedPath(file, exists = fs.existsSync) {
  if (!ARCHIVE_SEGMENT.test(file)) return file;
  const unpacked = file.replace(ARCHIVE_SEGMENT, '.asar.unpacked');
  return exists(unpacked) ? unpacked : file;
}

// The Worker constructor's arguments for axDumpAsync's worker: its script, and the binary the
// package's entry point loads (found the same way, by node-gyp-build), both as real files where
// they were unpacked.
function axWorkerArguments() {
  const binary = require('node-gyp-build').resolve(__dirname);
  return [
    unpackedPath(path.join(__dirname, 'ax-worker.js')),
    { workerData: { binary: unpackedPath(binary) } },
  ];
}

module.exports = { unpackedPath, axWorkerArguments };
