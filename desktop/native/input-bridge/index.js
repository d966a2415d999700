'use strict';
// The addon itself: every export is one of its native functions, plus axDumpAsync beside them.
module.exports = { ...require('./build/Release/input_bridge.node'), ...require('./ax-async') };
