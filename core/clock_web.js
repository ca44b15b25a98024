// The page's side of the browser clock: each call goes to the page's own object
// (Module.tarqle, see web/page.js); the sleep unwinds the show and resumes it later.
mergeInto(LibraryManager.library, {
  tarqle_clock_now: function () {
    return Module.tarqle.now();
  },
  tarqle_clock_sleep__deps: ['$safeSetTimeout'],
  tarqle_clock_sleep: function (ms) {
    Asyncify.handleSleep(function (wakeUp) {
      safeSetTimeout(wakeUp, ms);
    });
  },
  tarqle_clock_wait_begin: function (period) {
    return Module.tarqle.waitBegin(period) ? 1 : 0;
  },
  tarqle_clock_wait_end: function () {
    Module.tarqle.waitEnd();
  },
});
