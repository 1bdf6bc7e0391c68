/* ES5 pieces the script engine lacks and highlight.js uses. */
var self = this;
if (typeof Object.freeze !== 'function')
  Object.freeze = function (o) { return o; };
if (typeof Object.isFrozen !== 'function')
  Object.isFrozen = function (o) { return false; };
if (typeof Function.prototype.bind !== 'function') {
  Function.prototype.bind = function (that) {
    var fn = this, bound = Array.prototype.slice.call(arguments, 1);
    return function () {
      return fn.apply(that, bound.concat(Array.prototype.slice.call(arguments)));
    };
  };
}
/* No console here: its messages (an end-of-life notice, registration errors)
   are dropped. */
if (typeof console === 'undefined')
  var console = { log: function () {}, warn: function () {}, error: function () {} };
