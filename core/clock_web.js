// The page's side of the browser clock: each call goes to the page's own object
// (Module.tarqle, see web/page.js); the sleep unwinds the show and resumes it later.
mergeInto(LibraryManager.library, {
  tarqle_clock_now: function () {
    return Module.tarqle.now();
  },
  tarqle_clock_sleep__deps: ['$safeSetTimeout'],
  tarqle_clock_sleep: function (ms) {
    return Asyncify.handleSleep(function (wakeUp) {
      Module.tarqle.asleep(true);
      safeSetTimeout(function () {
        Module.tarqle.asleep(false);
        wakeUp(Module.tarqle.ending() ? 1 : 0);
      }, ms);
    });
  },
  tarqle_clock_wait_begin: function (period) {
    Module.tarqle.waitBegin(period);
  },
  tarqle_clock_wait_end: function () {
    Module.tarqle.waitEnd();
  },
});
