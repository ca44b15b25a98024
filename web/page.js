// The page around the show: loads the program and its data with a progress bar, has the
// program mix the tune as it loads, starts the show on a click (with or without its tune),
// plays the tune through Web Audio and lets the show's clock follow it, draws the frames on
// the canvas, hands the viewer's controls (keys, the bar of parts under the picture) to the
// show and tells where it stands, ends the show on Esc with its banner, and offers to start
// it again.
// With ?render it runs the deterministic program at once and shows its frame index.
// ?seed=N and ?start=TIME (seconds or a part's name) go to the show as its options.
'use strict';

(function () {
  const query = new URLSearchParams(location.search);
  const renderMode = query.has('render');
  const showOptions = [];
  for (const name of ['seed', 'start'])
    if (query.has(name))
      showOptions.push('--' + name, query.get(name));
  const program = renderMode ? 'tarqle-web-render' : 'tarqle-web';
  const kWidth = 320;
  const kHeight = 240;

  const $ = (id) => document.getElementById(id);
  const canvas = $('screen');
  const context = canvas.getContext('2d', { alpha: false });
  let picture = context.createImageData(kWidth, kHeight);

  // What the page knows of the show; the tests read it as window.tarqlePage.
  const page = {
    state: 'loading', // loading, ready, running, ended, failed
    message: '',
    output: [], // the show's standard output, line by line
    frameIndex: null, // the deterministic mode's frame index, once the show closed its display
    runMilliseconds: null, // the deterministic mode's whole run, measured around it
    frameWork: null, // the live show's frame work, summed up at its end
    audioStartTime: null, // the audio context's time at which the tune starts
    audioTime: () => (audio ? audio.currentTime : 0),
    tuneOffset: null, // the tune's position in seconds it last started from
    tunePlaying: () => source !== null,
    tuneBuffer: () => tune, // the mixed tune, an AudioBuffer, once the page has it
    mixMilliseconds: null, // the mixing of the tune as the page loaded, measured around it
    show: null, // {ms, chapter, held}: where the live show stood at its last frame or turn
  };
  window.tarqlePage = page;

  // ---- Messages ----

  function setStatus(text) {
    $('status').textContent = text;
  }

  function fail(text) {
    page.state = 'failed';
    page.message = text;
    $('panel').hidden = false;
    $('buttons').hidden = true;
    $('progress').hidden = true;
    const status = $('status');
    status.textContent = text;
    status.classList.add('error');
    console.error(text);
    stopTune();
  }

  // ---- Scaling ----

  let smooth = false;

  // The largest whole number of device pixels per show pixel that fits the window, or, with
  // smooth scaling, the largest size that fits. The whole scale is the rule of
  // whole_placement in the program, worked out here because the window's size is known
  // before the program loads; the browser check "again" holds the two together.
  function layout() {
    const ratio = window.devicePixelRatio || 1;
    const across = window.innerWidth * ratio / kWidth;
    const down = window.innerHeight * ratio / kHeight;
    let scale = Math.min(across, down);
    if (!smooth)
      scale = Math.max(1, Math.floor(scale));
    canvas.style.width = (kWidth * scale / ratio) + 'px';
    canvas.style.height = (kHeight * scale / ratio) + 'px';
    canvas.classList.toggle('smooth', smooth);
    $('smooth').setAttribute('aria-pressed', String(smooth));
    placeAround();
  }

  function toggleSmooth() {
    smooth = !smooth;
    layout();
  }

  function toggleFullscreen() {
    if (document.fullscreenElement)
      document.exitFullscreen();
    else if (document.documentElement.requestFullscreen)
      document.documentElement.requestFullscreen().catch(() => {});
  }

  // The bar right under the picture (at the window's foot when the picture fills it), as
  // wide as the picture; the overlay over the picture's top left corner.
  function placeAround() {
    const r = canvas.getBoundingClientRect();
    const bar = $('timeline');
    bar.style.left = r.left + 'px';
    bar.style.width = r.width + 'px';
    bar.style.top = Math.min(r.bottom + 4, window.innerHeight - bar.offsetHeight) + 'px';
    $('overlay').style.left = (r.left + 8) + 'px';
    $('overlay').style.top = (r.top + 8) + 'px';
  }

  window.addEventListener('resize', layout);
  document.addEventListener('fullscreenchange', layout);
  $('fullscreen').addEventListener('click', toggleFullscreen);
  $('track').addEventListener('click', seekToClick);
  // The bar's buttons take no focus from the page, whose keys are the show's.
  $('timeline').addEventListener('mousedown', (event) => event.preventDefault());
  $('smooth').addEventListener('click', toggleSmooth);
  layout();

  // ---- Sound and the show's clock ----

  const AudioContextClass = window.AudioContext || window.webkitAudioContext;
  let audio = null;
  let tune = null; // the mixed tune
  let source = null; // the playing tune
  let soundWanted = false;

  // Where the listener is in the audio context's time: the sample leaving the speakers now,
  // moved on by the page's clock since the context last said so, and never past the
  // context's own time. The output timestamp already counts the way to the speakers; a
  // browser without it is taken at its word about that way's length.
  function audioNow() {
    if (audio.state === 'running' && audio.getOutputTimestamp) {
      const stamp = audio.getOutputTimestamp();
      if (stamp.performanceTime > 0)
        return Math.min(stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000, audio.currentTime);
    }
    return audio.currentTime - (audio.baseLatency || 0) - (audio.outputLatency || 0);
  }

  // The show's millisecond clock. It runs on the page's clock, except while the tune plays:
  // then it is the tune's playing position (held still until the tune's first sample is
  // heard), so picture and sound keep together however either is delayed. It never goes back.
  const clock = {
    offset: 0, // page clock + offset = reading, while the page's clock leads
    following: null, // {start, at}: tune start in context time, reading at that start
    last: 0,
    now() {
      let t;
      if (this.following)
        t = this.following.at + Math.max(0, audioNow() - this.following.start) * 1000;
      else
        t = performance.now() + this.offset;
      if (t < this.last)
        t = this.last;
      this.last = t;
      return t;
    },
    follow(start) {
      this.following = { start, at: this.now() };
    },
    release() {
      if (!this.following)
        return;
      const reading = this.now();
      this.following = null;
      this.offset = reading - performance.now();
    },
  };

  // The tune from show time ms on, from the sample a native player starts there (the
  // whole frames before it), the show's clock standing until that sample is heard.
  function playTune(ms) {
    if (!audio || !tune || source || endWanted || ending)
      return;
    source = audio.createBufferSource();
    source.buffer = tune;
    source.connect(audio.destination);
    // A little ahead, so the first sample is not cut.
    const start = audio.currentTime + 0.05;
    const seconds = Math.floor(ms * tune.sampleRate / 1000) / tune.sampleRate;
    source.start(start, seconds);
    page.audioStartTime = start;
    page.tuneOffset = seconds;
    clock.follow(start);
    const playing = source;
    playing.onended = () => {
      if (source === playing)
        clock.release();
    };
  }

  function stopTune() {
    if (!source)
      return;
    clock.release();
    const playing = source;
    source = null;
    try {
      playing.stop();
    } catch (e) {
      // Not started yet or already ended: nothing to stop.
    }
  }

  function startTune() {
    playTune(0);
  }

  // The tune mixed by an instance of the program of its own (its mixer is the music
  // library's, as tarqle-mixdown's), before any show starts, so Start does not wait for it.
  // A tune that does not load leaves the page without one: the show then says so itself.
  async function mixTune(bytes, tunePath) {
    const mixer = await window.createTarqle({
      tarqle: hooks,
      wasmBinary: bytes.get(program + '.wasm'),
      noInitialRun: true,
      print: (text) => console.log(text),
      printErr: (text) => console.warn(text),
    });
    mixer.FS.mkdirTree(tunePath.substring(0, tunePath.lastIndexOf('/')));
    mixer.FS.writeFile(tunePath, bytes.get(tunePath));
    const started = performance.now();
    mixer.ccall('music_web_mix', 'number', ['string'], [tunePath]);
    page.mixMilliseconds = performance.now() - started;
  }

  // ---- The viewer's controls and where the show stands ----

  // Keys and clicks wait here for the show, which takes them between its frames.
  let controls = [];
  const kControlKeys = new Set([' ', '.', 'ArrowLeft', 'ArrowRight', 'PageUp', 'PageDown', 'Home',
    '1', '2', '3', '4', '5', '6', '7', '8', '9']);
  const kOverlayMs = 2000;
  let chapters = []; // {title, start}, from the show
  let showLength = 0;
  let overlayTimer = null;

  // The bar under the picture: one button per part, as wide as the part is long, and a
  // track above them for any show time.
  function buildBar() {
    const parts = $('parts');
    parts.textContent = '';
    chapters.forEach((chapter, k) => {
      const end = k + 1 < chapters.length ? chapters[k + 1].start : showLength;
      const button = document.createElement('button');
      button.type = 'button';
      button.tabIndex = -1;
      button.textContent = chapter.title;
      button.title = `${k + 1}: ${chapter.title}`;
      button.style.left = (100 * chapter.start / showLength) + '%';
      button.style.width = (100 * (end - chapter.start) / showLength) + '%';
      button.addEventListener('click', () => controls.push({ ms: chapter.start }));
      parts.appendChild(button);
    });
  }

  function seekToClick(event) {
    const r = $('track').getBoundingClientRect();
    controls.push({ ms: Math.round(showLength * Math.min(1, Math.max(0, (event.clientX - r.left) / r.width))) });
  }

  function clockText(ms) {
    const tenths = Math.floor(ms / 100);
    return `${Math.floor(tenths / 600)}:${String(Math.floor(tenths / 10) % 60).padStart(2, '0')}.${tenths % 10}`;
  }

  function showState(ms, chapter, held, controlled) {
    page.show = { ms, chapter, held };
    if (showLength > 0)
      $('position').style.width = (100 * ms / showLength) + '%';
    $('parts').childNodes.forEach((button, k) => button.classList.toggle('current', k === chapter));
    if (controlled) {
      clearTimeout(overlayTimer);
      overlayTimer = setTimeout(() => { $('overlay').hidden = true; }, kOverlayMs);
      $('overlay').hidden = false;
    }
    if (!$('overlay').hidden)
      $('overlay').textContent = `${clockText(ms)} ${chapters[chapter] ? chapters[chapter].title : ''}${held ? ' paused' : ''}`;
  }

  function hideControls() {
    controls = [];
    $('timeline').hidden = true;
    $('overlay').hidden = true;
  }

  // ---- Frame work, measured between the end of one wait and the start of the next ----

  const work = { start: null, samples: [] };

  function summariseWork() {
    if (work.samples.length === 0)
      return null;
    const shares = work.samples.map(([ms, period]) => ms / period).sort((a, b) => a - b);
    const total = work.samples.reduce((sum, [ms]) => sum + ms, 0);
    const pick = (q) => shares[Math.min(shares.length - 1, Math.floor(q * shares.length))];
    const worst = work.samples.map(([ms, period], frame) => ({ frame, ms, period }))
      .sort((a, b) => b.ms / b.period - a.ms / a.period).slice(0, 5);
    return {
      frames: shares.length,
      worst,
      meanMilliseconds: total / shares.length,
      medianShare: pick(0.5),
      share99: pick(0.99),
      maxShare: shares[shares.length - 1],
    };
  }

  // ---- The show's output ----

  // Standard output comes byte by byte; lines that are not UTF-8 are read as Latin-1, as
  // the banner's one byte 0xA0 (a no-break space) was meant.
  const utf8 = new TextDecoder('utf-8', { fatal: true });
  let lineBytes = [];

  function flushLine() {
    const bytes = Uint8Array.from(lineBytes);
    lineBytes = [];
    let text;
    try {
      text = utf8.decode(bytes);
    } catch (e) {
      text = String.fromCharCode(...bytes);
    }
    page.output.push(text);
    console.log(text);
  }

  function outputByte(byte) {
    if (byte === null || byte === undefined)
      return;
    if (byte === 10)
      flushLine();
    else
      lineBytes.push(byte);
  }

  // ---- The end of the show ----

  let ending = false; // the page's close: the show ends at its next wait, at once
  let endWanted = false; // Esc: the show ends after its frame, the usual way, with its banner
  let asleep = false; // the show is unwound, waiting for its next turn

  // Start and "Start without sound" are live only while no show runs or is about to.
  function offerStart(live) {
    $('start').disabled = !live;
    $('silent').disabled = !live;
  }

  function showEnded(status) {
    if (page.state === 'ended' || page.state === 'failed')
      return;
    if (lineBytes.length > 0)
      flushLine();
    stopTune();
    page.frameWork = summariseWork();
    if (page.frameWork) {
      const w = page.frameWork;
      const percent = (x) => (100 * x).toFixed(1) + ' %';
      console.log(`frame work: ${w.frames} frames, mean ${w.meanMilliseconds.toFixed(2)} ms, median ` +
        `${percent(w.medianShare)} of the period, 99th percentile ${percent(w.share99)}, most ${percent(w.maxShare)}`);
    }
    page.state = 'ended';
    hideControls();
    const bannerStart = page.output.findIndex((line) => line.startsWith('--------------- TAZE'));
    if (status === 0 && renderMode) {
      page.message = 'The show has ended; its frame index is on the page.';
    } else if (status === 0 && bannerStart >= 0) {
      context.fillRect(0, 0, kWidth, kHeight);
      $('banner').textContent = page.output.slice(bannerStart).join('\n');
      $('banner').hidden = false;
      page.message = 'The show has ended.';
      again();
    } else if (ending) {
      page.message = 'The show was ended.';
      again();
    } else {
      // The show stopped itself; its last line says why.
      const last = page.output.filter((line) => line.trim() !== '').pop() || '';
      fail('The show stopped' + (last ? ': ' + last.trim() : ` (exit status ${status}).`));
    }
  }

  // The panel again, under the banner, to start the show once more.
  function again() {
    $('panel').hidden = false;
    $('progress').hidden = true;
    setStatus(page.message);
    offerStart(true);
  }

  function endShow() {
    if (page.state !== 'running')
      return;
    endWanted = true;
    stopTune();
  }

  document.addEventListener('keydown', (event) => {
    if (page.state === 'running' && !renderMode && kControlKeys.has(event.key)) {
      // Not the page's own use of these keys (scrolling, pressing a focused button).
      event.preventDefault();
      if (!event.repeat)
        controls.push({ key: event.key });
    } else if (event.key === 'Escape')
      endShow();
    else if (event.key === 'f' || event.key === 'F')
      toggleFullscreen();
    else if (event.key === 's' || event.key === 'S')
      toggleSmooth();
  });
  window.addEventListener('pagehide', () => {
    if (page.state === 'running')
      ending = true;
    stopTune();
    if (audio)
      audio.close();
  });

  // ---- What the program calls (Module.tarqle) ----

  const hooks = {
    canvasOpen(width, height, title) {
      canvas.width = width;
      canvas.height = height;
      picture = context.createImageData(width, height);
      document.title = title;
    },
    canvasShow(pixels, width, height) {
      if (picture.width !== width || picture.height !== height)
        picture = context.createImageData(width, height);
      picture.data.set(pixels);
      context.putImageData(picture, 0, 0);
    },
    indexDone(text) {
      page.frameIndex = text;
      $('frame-index').textContent = text;
      $('frame-index').hidden = false;
    },
    soundWanted: () => soundWanted,
    tuneReady: () => tune !== null,
    // Interleaved 16-bit stereo samples, copied here into the tune's two channels.
    tuneMixed(samples, rate) {
      const frames = samples.length / 2;
      if (!audio || frames === 0)
        return;
      const buffer = audio.createBuffer(2, frames, rate);
      const left = buffer.getChannelData(0);
      const right = buffer.getChannelData(1);
      for (let i = 0; i < frames; ++i) {
        left[i] = samples[2 * i] / 32768;
        right[i] = samples[2 * i + 1] / 32768;
      }
      tune = buffer;
    },
    tuneStart: startTune,
    tuneStop: stopTune,
    tunePlayFrom: playTune,
    chapter(title, start) {
      chapters.push({ title, start });
    },
    showLength(ms) {
      showLength = ms;
      if (renderMode || chapters.length === 0)
        return;
      buildBar();
      $('timeline').hidden = false;
      placeAround();
    },
    nextControl: () => controls.shift(),
    showState,
    now: () => clock.now(),
    waitBegin(period) {
      if (work.start !== null)
        work.samples.push([performance.now() - work.start, period]);
    },
    waitEnd() {
      work.start = performance.now();
    },
    asleep(flag) {
      asleep = flag;
    },
    ending: () => ending,
    endWanted: () => endWanted,
  };

  // ---- Loading ----

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(`Cannot load ${src}.`));
      document.head.appendChild(script);
    });
  }

  // Whether this browser unpacks gzip streams: it then fetches each file packed.
  const unpacks = typeof DecompressionStream === 'function';

  // Fetches every file (packed, where the browser unpacks), reporting bytes as they arrive;
  // a missing file fails the whole load.
  async function fetchAll(files, progress) {
    const results = new Map();
    await Promise.all(files.map(async (file) => {
      const fetched = unpacks ? file.path + '.gz' : file.path;
      let response;
      try {
        response = await fetch(fetched);
      } catch (e) {
        throw new Error(`Cannot load ${fetched}: ${e.message}.`);
      }
      if (!response.ok)
        throw new Error(`Cannot load ${fetched}: the server answered ${response.status} ${response.statusText}.`);
      const reader = response.body.getReader();
      const chunks = [];
      let size = 0;
      for (;;) {
        const { done, value } = await reader.read();
        if (done)
          break;
        chunks.push(value);
        size += value.length;
        progress(value.length);
      }
      let bytes = new Uint8Array(size);
      let at = 0;
      for (const chunk of chunks) {
        bytes.set(chunk, at);
        at += chunk.length;
      }
      if (unpacks) {
        try {
          const unpacked = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
          bytes = new Uint8Array(await new Response(unpacked).arrayBuffer());
        } catch (e) {
          throw new Error(`Cannot unpack ${fetched}: ${e.message}.`);
        }
      }
      results.set(file.path, bytes);
    }));
    return results;
  }

  async function load() {
    let manifest;
    try {
      const response = await fetch('files.json');
      if (!response.ok)
        throw new Error(`the server answered ${response.status} ${response.statusText}`);
      manifest = await response.json();
    } catch (e) {
      throw new Error(`Cannot load files.json, the list of the show's files: ${e.message}.`);
    }
    const files = [manifest.programs[program]].concat(manifest.data);
    if (!renderMode)
      files.push(manifest.tune);
    const total = files.reduce((sum, f) => sum + (unpacks ? f.packed : f.size), 0);
    let received = 0;
    const bar = $('bar');
    const bytes = await fetchAll(files, (n) => {
      received += n;
      bar.style.width = Math.min(100, 100 * received / total) + '%';
    });
    await loadScript(program + '.js');
    if (!renderMode && AudioContextClass) {
      setStatus('Mixing the tune\u2026');
      // One turn for the message to show before the mixing takes the thread.
      await new Promise((resolve) => setTimeout(resolve, 0));
      audio = new AudioContextClass();
      await mixTune(bytes, manifest.tune.path);
    }
    return { bytes, manifest };
  }

  // ---- Running ----

  async function run(loaded, withSound) {
    page.output = [];
    page.frameWork = null;
    work.start = null;
    work.samples = [];
    ending = false;
    endWanted = false;
    chapters = [];
    page.show = null;
    page.tuneOffset = null;
    hideControls();
    // The show's clock follows the tune, so sound that cannot start is left out.
    if (withSound && audio) {
      await Promise.race([audio.resume(), new Promise((resolve) => setTimeout(resolve, 3000))]);
      if (audio.state !== 'running')
        console.warn('The sound does not start; the show runs without it.');
    }
    soundWanted = withSound && audio !== null && audio.state === 'running';
    $('panel').hidden = true;
    $('banner').hidden = true;
    page.state = 'running';
    const instance = await window.createTarqle({
      tarqle: hooks,
      wasmBinary: loaded.bytes.get(program + '.wasm'),
      noInitialRun: true,
      stdout: outputByte,
      printErr: (text) => console.warn(text),
      // Every end of the show comes through exit; a quit while the show is waiting for its
      // next frame is only the unwinding that the wait goes through.
      quit: (status, toThrow) => {
        if (!asleep)
          showEnded(status);
        throw toThrow;
      },
      onAbort: (what) => fail(`The show failed: ${what}`),
    });
    for (const file of loaded.manifest.data) {
      const folder = file.path.substring(0, file.path.lastIndexOf('/'));
      if (folder)
        instance.FS.mkdirTree(folder);
      instance.FS.writeFile(file.path, loaded.bytes.get(file.path));
    }
    // The show reads its data from the current folder when it holds both data folders; the
    // tune was mixed as the page loaded, so its folder stands empty.
    instance.FS.mkdirTree('music');
    const started = performance.now();
    instance.callMain((renderMode ? ['--index'] : $('gentle').checked ? ['--gentle'] : []).concat(showOptions));
    if (renderMode)
      page.runMilliseconds = performance.now() - started;
  }

  load().then((loaded) => {
    $('progress').hidden = true;
    if (renderMode) {
      setStatus('Rendering\u2026');
      // Give the page one turn to show the message before the run takes the thread.
      setTimeout(() => run(loaded, false).catch((e) => fail(e.message)), 0);
      return;
    }
    page.state = 'ready';
    setStatus(audio ? 'Ready.' : 'Ready. This browser cannot play sound, so the show runs without it.');
    $('buttons').hidden = false;
    $('start').hidden = !audio;
    // One show at a time: both buttons go dead at the first click, also while the sound
    // is being started, and come back when the show has ended.
    const begin = (withSound) => {
      if ($('start').disabled)
        return;
      offerStart(false);
      run(loaded, withSound).catch((e) => fail(e.message));
    };
    $('start').addEventListener('click', () => begin(true));
    $('silent').addEventListener('click', () => begin(false));
    (audio ? $('start') : $('silent')).focus();
  }).catch((e) => fail(e.message));
})();
