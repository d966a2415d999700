'use strict';
// The addon's functions, each set as a named property of its own so that Node's ESM loader
// finds them by static analysis: `import { start } from 'input-bridge'` works like require.
const binding = require('./binding.js');

exports.start = binding.start;
exports.stop = binding.stop;
exports.setSuppress = binding.setSuppress;
exports.isRunning = binding.isRunning;
exports.postClick = binding.postClick;
exports.postMove = binding.postMove;
exports.postScroll = binding.postScroll;
exports.postKey = binding.postKey;
exports.postType = binding.postType;
exports.axDump = binding.axDump;
exports.axFocused = binding.axFocused;
exports.axEnableWebContent = binding.axEnableWebContent;
exports.permissions = binding.permissions;
exports.requestAccessibility = binding.requestAccessibility;
exports.axDumpAsync = require('./ax-async.js').axDumpAsync;
