'use strict';
// The addon itself: every export is one of its native functions.
module.exports = require('./build/Release/input_bridge.node');
