#!/usr/bin/env node
'use strict';
// Prints 1 when GoogleTest (Debian's libgtest-dev) is installed and the native suites are
// here, else 0, so that the library and the control module build without it and only the
// native suites need it. The copy an addon package carries has no suites.
const fs = require('node:fs');
const path = require('node:path');

const header = ['/usr/include/gtest/gtest.h', '/usr/local/include/gtest/gtest.h'];
const libDirs = ['/usr/lib/x86_64-linux-gnu', '/usr/lib/aarch64-linux-gnu', '/usr/lib',
                 '/usr/local/lib'];
const hasHeader = header.some((file) => fs.existsSync(file));
const hasLibrary = libDirs.some((dir) => ['libgtest.a', 'libgtest.so']
  .some((name) => fs.existsSync(path.join(dir, name))));
const hasSuites = fs.existsSync(path.join(__dirname, '..', 'test', 'native'));
process.stdout.write(hasHeader && hasLibrary && hasSuites ? '1' : '0');
