// The page's checks in a real browser: Debian's Chromium, headless, driven over its
// debugging pipe, against a server of our own on 127.0.0.1.
//   node browser_test.js render WEB_DIR NATIVE_INDEX   the frame index equals the native one
//   node browser_test.js live WEB_DIR NATIVE_FRAMES    the live show plays, sounds, and its
//                                                      picture is a frame of its first part
//   node browser_test.js tune WEB_DIR MIXDOWN_WAV      the tune the page mixed as it loaded is
//                                                      tarqle-mixdown's, sample for sample
//   node browser_test.js missing WEB_DIR               a missing data file gets a clear message
//   node browser_test.js again WEB_DIR                 the page places the picture as the program
//                                                      does; one show at a time; after Esc the
//                                                      banner stands and the show starts again
//   node browser_test.js seek WEB_DIR RENDER_DIR       pause holds the picture; a part's key and a
//                                                      click on the bar while paused show the
//                                                      frame the page's own ?render index has
//                                                      there (as tarqle-render in RENDER_DIR draws
//                                                      it); the tune plays on from where it stands
//   node browser_test.js gentle WEB_DIR FLASH_CHECK    with the "Gentle picture" switch on, the
//                                                      pictures shown from the mosaic on pass
//                                                      tarqle-flash-check; with it off they fail
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');

const kChromium = process.env.TARQLE_CHROMIUM || '/usr/bin/chromium';

class CheckFailed extends Error {}

function fail(text) {
  throw new CheckFailed(text);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// ---- A static server of the page's folder; `refuse` names one file it answers 404 for,
// `extra` maps names to files served beside the page's ----

function serve(root, refuse, extra = {}) {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json',
    '.wasm': 'application/wasm' };
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/+/, '') || 'index.html';
    const file = extra[name] || path.join(root, name);
    if (refuse && (name === refuse || name === refuse + '.gz') || !(extra[name] || file.startsWith(root + path.sep)) ||
        !fs.existsSync(file) ||
        !fs.statSync(file).isFile()) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found');
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// ---- Chromium over --remote-debugging-pipe: JSON messages ending in a zero byte ----

async function launch(extraFlags) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tarqle-chromium-'));
  const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--force-color-profile=srgb', '--remote-debugging-pipe', `--user-data-dir=${profile}`,
    '--window-size=1000,800', ...extraFlags, 'about:blank'];
  const browser = childProcess.spawn(kChromium, flags, { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let log = '';
  browser.stderr.on('data', (d) => { log += d; });
  const toBrowser = browser.stdio[3];
  const fromBrowser = browser.stdio[4];
  let nextId = 1;
  const waiting = new Map();
  let pending = Buffer.alloc(0);
  fromBrowser.on('data', (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    for (let end; (end = pending.indexOf(0)) >= 0;) {
      const message = JSON.parse(pending.subarray(0, end).toString());
      pending = pending.subarray(end + 1);
      const reply = waiting.get(message.id);
      if (reply) {
        waiting.delete(message.id);
        if (message.error)
          reply.reject(new Error(`${reply.method}: ${message.error.message}`));
        else
          reply.resolve(message.result);
      }
    }
  });
  const exited = new Promise((resolve) => browser.on('exit', resolve));
  const send = (method, params = {}, sessionId) => new Promise((resolve, reject) => {
    const id = nextId++;
    waiting.set(id, { resolve, reject, method });
    toBrowser.write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  });
  const { targetInfos } = await Promise.race([send('Target.getTargets'),
    exited.then(() => fail('Chromium ended at start:\n' + log))]);
  const target = targetInfos.find((t) => t.type === 'page');
  const { sessionId } = await send('Target.attachToTarget', { targetId: target.targetId, flatten: true });
  const page = (method, params) => send(method, params, sessionId);
  // The page's expression, its value returned.
  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await page('Runtime.evaluate',
      { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails)
      throw new Error(`${expression}: ${exceptionDetails.text} ${exceptionDetails.exception?.description || ''}`);
    return result.value;
  };
  const close = async () => {
    await send('Browser.close').catch(() => {});
    let timer;
    await Promise.race([exited, new Promise((resolve) => { timer = setTimeout(resolve, 5000); })]);
    clearTimeout(timer);
    browser.kill('SIGKILL');
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { page, evaluate, close };
}

// Waits until the page's expression is true, up to ms milliseconds; returns whether it came true.
async function until(evaluate, expression, ms) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(50))
    if (await evaluate(expression))
      return true;
  return false;
}

// ---- PNG pictures: 8-bit RGB, RGBA or palette, not interlaced; returns RGB bytes ----

function decodePng(bytes) {
  let at = 8;
  let width, height, type, palette;
  const data = [];
  while (at < bytes.length) {
    const length = bytes.readUInt32BE(at);
    const kind = bytes.toString('latin1', at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (kind === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      type = body[9];
      if (body[8] !== 8 || body[12] !== 0 || ![2, 3, 6].includes(type))
        throw new Error('unexpected PNG form');
    } else if (kind === 'PLTE') {
      palette = body;
    } else if (kind === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const channels = { 2: 3, 3: 1, 6: 4 }[type];
  const stride = width * channels;
  const rows = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; ++x) {
      const v = raw[y * (stride + 1) + 1 + x];
      const a = x >= channels ? rows[y * stride + x - channels] : 0;
      const b = y > 0 ? rows[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? rows[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c;
      const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      rows[y * stride + x] = (v + [0, a, b, (a + b) >> 1, paeth][filter]) & 255;
    }
  }
  const rgb = Buffer.alloc(width * height * 3);
  for (let i = 0; i < width * height; ++i)
    for (let k = 0; k < 3; ++k)
      rgb[3 * i + k] = type === 3 ? palette[3 * rows[i] + k] : rows[i * channels + k];
  return { width, height, rgb };
}

// ---- The checks ----

async function checkRender(browser, url, nativeIndex) {
  await browser.page('Page.navigate', { url: url + '?render' });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ended', 'failed'].includes(tarqlePage.state)", 60000))
    fail('the deterministic mode did not end within a minute');
  const result = await browser.evaluate('({state: tarqlePage.state, message: tarqlePage.message, ' +
    'index: tarqlePage.frameIndex, ms: tarqlePage.runMilliseconds, shown: document.getElementById("frame-index").textContent})');
  if (result.state !== 'ended' || result.index === null)
    fail(`the deterministic mode ended as ${result.state}: ${result.message}`);
  if (result.shown !== result.index)
    fail('the page does not show the frame index it made');
  const expected = fs.readFileSync(nativeIndex, 'latin1').split('\n');
  const got = result.index.split('\n');
  for (let i = 0; i < Math.max(expected.length, got.length); ++i)
    if (expected[i] !== got[i])
      fail(`frame index line ${i + 1}: native "${expected[i]}", browser "${got[i]}"`);
  console.log(`the browser's frame index equals the native one: ${expected.length - 1} frames, ` +
    `whole show rendered in ${result.ms.toFixed(0)} ms`);
}

async function checkLive(browser, url, nativeFrames) {
  const opened = Date.now();
  await browser.page('Page.navigate', { url });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page did not get ready within 30 s');
  const ready = Date.now() - opened;
  if (await browser.evaluate('tarqlePage.state') !== 'ready')
    fail('the page failed: ' + await browser.evaluate('tarqlePage.message'));
  const clicked = await browser.evaluate("(() => { const t = performance.now(); document.getElementById('start').click(); return t; })()");
  if (!await until(browser.evaluate, 'tarqlePage.audioStartTime !== null', 15000))
    fail('the tune did not start within 15 s of the click');
  // The page's clock reading at which the tune's first sample is due at the output.
  const firstSound = await browser.evaluate('performance.now() + (tarqlePage.audioStartTime - tarqlePage.audioTime()) * 1000') - clicked;
  // The cue: 3 s into the tune the first part (the presents screen, 11 s long) is on.
  const audioAt = await browser.evaluate('tarqlePage.audioTime()');
  if (!await until(browser.evaluate, 'tarqlePage.audioTime() - tarqlePage.audioStartTime >= 3', 10000))
    fail(`the audio clock does not advance (it stands at ${audioAt} s)`);
  const sample = await browser.evaluate(`(() => {
    const c = document.getElementById('screen');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    let lit = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] || d[i + 1] || d[i + 2]) ++lit;
    const r = c.getBoundingClientRect();
    return {lit, pixels: d.length / 4, x: r.left, y: r.top, width: r.width, height: r.height,
            audio: tarqlePage.audioTime() - tarqlePage.audioStartTime, state: tarqlePage.state};
  })()`);
  const shot = await browser.page('Page.captureScreenshot',
    { format: 'png', clip: { x: sample.x, y: sample.y, width: sample.width, height: sample.height, scale: 1 } });
  if (sample.state !== 'running')
    fail('the show is not running 3 s into the tune: ' + await browser.evaluate('tarqlePage.message'));
  if (sample.lit < sample.pixels / 10)
    fail(`the canvas is black 3 s into the tune (${sample.lit} of ${sample.pixels} pixels lit)`);

  // The screenshot, one sample from the middle of each show pixel, against the native
  // renderer's frames of the first part: the live frame must be one of them.
  const picture = decodePng(Buffer.from(shot.data, 'base64'));
  const scale = picture.width / 320;
  const shown = Buffer.alloc(320 * 240 * 3);
  for (let y = 0; y < 240; ++y)
    for (let x = 0; x < 320; ++x) {
      const from = 3 * (Math.floor((y + 0.5) * scale) * picture.width + Math.floor((x + 0.5) * scale));
      picture.rgb.copy(shown, 3 * (y * 320 + x), from, from + 3);
    }
  let best = { same: -1, name: '' };
  for (const name of fs.readdirSync(nativeFrames).filter((n) => n.endsWith('.png')).sort()) {
    const frame = decodePng(fs.readFileSync(path.join(nativeFrames, name)));
    let same = 0;
    for (let i = 0; i < 320 * 240; ++i)
      if (frame.rgb[3 * i] === shown[3 * i] && frame.rgb[3 * i + 1] === shown[3 * i + 1] && frame.rgb[3 * i + 2] === shown[3 * i + 2])
        ++same;
    if (same > best.same)
      best = { same, name };
  }
  const share = best.same / (320 * 240);
  if (share < 0.99)
    fail(`the screenshot 3 s into the tune is no frame of the first part (best: ${best.name}, ` +
      `${(100 * share).toFixed(1)} % of the pixels alike)`);
  const audioBefore = await browser.evaluate('tarqlePage.audioTime()');
  await sleep(1000);
  const audioAfter = await browser.evaluate('tarqlePage.audioTime()');
  if (!(audioAfter - audioBefore > 0.5))
    fail(`the audio clock moved ${audioAfter - audioBefore} s in a second`);
  // Esc ends the show at its next frame.
  await browser.page('Input.dispatchKeyEvent', { type: 'keyDown', key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 });
  if (!await until(browser.evaluate, "tarqlePage.state === 'ended'", 5000))
    fail('Esc did not end the show');
  const work = await browser.evaluate('tarqlePage.frameWork');
  console.log(`live: ready ${ready} ms after it was opened, the first sound ${firstSound.toFixed(0)} ms after Start; ` +
    `${sample.lit} of ${sample.pixels} pixels lit at ${sample.audio.toFixed(2)} s of the tune; the ` +
    `screenshot is native frame ${best.name} (${(100 * share).toFixed(2)} % alike); audio clock ` +
    `${(audioAfter - audioBefore).toFixed(3)} s in a second; frame work over ${work.frames} frames: mean ` +
    `${work.meanMilliseconds.toFixed(2)} ms, median ${(100 * work.medianShare).toFixed(1)} %, 99th percentile ` +
    `${(100 * work.share99).toFixed(1)} %, most ${(100 * work.maxShare).toFixed(1)} % of the period ` +
    `(frame ${work.worst[0].frame}: ${work.worst[0].ms.toFixed(1)} of ${work.worst[0].period} ms); ` +
    `${picture.width / 320} screen pixels to a show pixel`);
}

// The page's tune against tarqle-mixdown's WAV file (16-bit stereo, its samples from byte 44
// on), which the page fetches as reference.wav: the same rate, length and every sample.
async function checkTune(browser, url, wav) {
  const header = fs.readFileSync(wav).subarray(0, 44);
  if (header.toString('latin1', 36, 40) !== 'data' || header.readUInt16LE(22) !== 2 || header.readUInt16LE(34) !== 16)
    fail(`${wav} is no 16-bit stereo WAV file as tarqle-mixdown writes them`);
  const rate = header.readUInt32LE(24);
  await browser.page('Page.navigate', { url });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page did not get ready within 30 s');
  const result = await browser.evaluate(`(async () => {
    const tune = tarqlePage.tuneBuffer();
    if (!tune)
      return null;
    const wav = new Int16Array((await (await fetch('reference.wav')).arrayBuffer()).slice(44));
    const channels = [tune.getChannelData(0), tune.getChannelData(1)];
    let differ = 0, first = -1;
    for (let i = 0; i < wav.length; ++i)
      if (!(i >> 1 < tune.length && channels[i & 1][i >> 1] === wav[i] / 32768) && differ++ === 0)
        first = i;
    return {frames: tune.length, rate: tune.sampleRate, expected: wav.length / 2, differ, first,
            ms: tarqlePage.mixMilliseconds};
  })()`);
  if (result === null)
    fail('the page has no tune: ' + (await browser.evaluate('tarqlePage.output.concat(tarqlePage.message)')).join(' '));
  if (result.rate !== rate || result.frames !== result.expected)
    fail(`the page's tune has ${result.frames} frames at ${result.rate} Hz, tarqle-mixdown's ${result.expected} at ${rate} Hz`);
  if (result.differ > 0)
    fail(`${result.differ} of the page's samples differ from tarqle-mixdown's, the first at frame ` +
      `${result.first >> 1} (${result.first & 1 ? 'right' : 'left'})`);
  console.log(`the page's tune equals tarqle-mixdown's, sample for sample: ${result.frames} frames at ${rate} Hz ` +
    `(${(result.frames / rate).toFixed(1)} s), mixed in ${result.ms.toFixed(0)} ms as the page loaded`);
}

async function checkMissing(browser, url) {
  await browser.page('Page.navigate', { url });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page neither failed nor got ready within 30 s');
  const result = await browser.evaluate(`(() => {
    const s = document.getElementById('status');
    const r = s.getBoundingClientRect();
    return {state: tarqlePage.state, text: s.innerText, visible: r.width > 0 && r.height > 0 &&
            getComputedStyle(s).visibility === 'visible', buttons: !document.getElementById('buttons').hidden};
  })()`);
  if (result.state !== 'failed' || !result.visible || result.buttons)
    fail(`a missing picture: the page is ${result.state}, its message "${result.text}"`);
  if (!result.text.includes('grafika/intro/taze.pcx') || !result.text.includes('404'))
    fail(`the message does not name the missing file and the server's answer: "${result.text}"`);
  console.log(`a missing picture is told on the page: "${result.text}"`);
}

// Output sizes in CSS pixels and device pixels per CSS pixel: at, just below and just above
// whole multiples of the picture in either direction, smaller than the picture, wide, tall,
// and such sizes again through ratios other than 1, once with the ratio alone changing.
const kViewports = [
  [320, 240, 1], [319, 240, 1], [320, 239, 1], [640, 480, 1], [639, 480, 1], [640, 479, 1],
  [641, 481, 1], [959, 720, 1], [960, 720, 1], [961, 719, 1], [1280, 959, 1], [1920, 1080, 1],
  [200, 150, 1], [1600, 300, 1], [300, 1000, 1], [2000, 480, 1], [640, 1500, 1],
  [320, 240, 2], [319, 240, 2], [480, 360, 2], [480, 359, 2], [100, 100, 2], [1000, 200, 2], [640, 480, 2],
  [640, 480, 1.5], [638, 480, 1.5], [426, 320, 1.5], [428, 320, 1.5], [214, 160, 1.5], [300, 900, 1.5],
];

// The page's own layout rule against whole_placement in its program: for each viewport the
// canvas takes as many device pixels as the program's rule gives for the same output.
async function checkPlacement(browser) {
  await browser.evaluate(`(async () => {
    window.placementProgram = await createTarqle({ tarqle: {}, noInitialRun: true });
  })()`);
  const nextFrame = 'new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(() => resolve(true))))';
  try {
    for (const [width, height, ratio] of kViewports) {
      await browser.page('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: ratio, mobile: false });
      const settled = `innerWidth === ${width} && innerHeight === ${height} && devicePixelRatio === ${ratio}`;
      if (!await until(browser.evaluate, settled, 5000))
        fail(`the viewport did not become ${width} x ${height} at ${ratio} device pixels per CSS pixel`);
      await browser.evaluate(nextFrame);
      const got = await browser.evaluate(`(() => {
        const r = document.getElementById('screen').getBoundingClientRect();
        const across = Math.floor(innerWidth * devicePixelRatio), down = Math.floor(innerHeight * devicePixelRatio);
        return {across, down, scale: placementProgram._tarqle_whole_scale(across, down),
                width: r.width * devicePixelRatio, height: r.height * devicePixelRatio};
      })()`);
      // Layout rounds CSS sizes to fractions of a pixel; whole scales lie 240 device pixels apart.
      if (Math.abs(got.width - 320 * got.scale) > 1 || Math.abs(got.height - 240 * got.scale) > 1)
        fail(`in ${got.across} x ${got.down} device pixels (${width} x ${height} at ${ratio}) the canvas takes ` +
          `${got.width} x ${got.height}, the program's rule ${320 * got.scale} x ${240 * got.scale} (scale ${got.scale})`);
    }
  } finally {
    await browser.page('Emulation.clearDeviceMetricsOverride');
  }
  console.log(`the page places the picture as the program does in ${kViewports.length} viewports`);
}

// Both buttons clicked 40 ms apart start one show; Esc ends it with its banner, twice.
// Before that, the page's placement of the picture is held to the program's.
async function checkAgain(browser, url) {
  await browser.page('Page.navigate', { url });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page did not get ready within 30 s');
  await checkPlacement(browser);
  const titles = "tarqlePage.output.filter((l) => l.includes('tarqle for LINUX')).length";
  for (const [first, second] of [['start', 'silent'], ['silent', 'start']]) {
    await browser.evaluate(`document.getElementById('${first}').click()`);
    await sleep(40);
    await browser.evaluate(`document.getElementById('${second}').click()`);
    if (!await until(browser.evaluate, `tarqlePage.state === 'running' && ${titles} > 0`, 15000))
      fail(`${first} did not start the show: ${await browser.evaluate('tarqlePage.message')}`);
    await sleep(1500);
    const shows = await browser.evaluate(titles);
    if (shows !== 1)
      fail(`${first} then ${second} 40 ms later started ${shows} shows`);
    await browser.page('Input.dispatchKeyEvent', { type: 'keyDown', key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 });
    if (!await until(browser.evaluate, "tarqlePage.state === 'ended'", 10000))
      fail('Esc did not end the show');
    const end = await browser.evaluate(`({banner: document.getElementById('banner').hidden ? '' :
      document.getElementById('banner').textContent, live: !document.getElementById('panel').hidden &&
      !document.getElementById('silent').disabled && !document.getElementById('start').disabled})`);
    if (!end.banner.startsWith('--------------- TAZE'))
      fail(`after Esc the banner does not stand: "${end.banner}"`);
    if (!end.live)
      fail('after Esc the show cannot be started again');
  }
  console.log('one show at a time; after Esc the banner stands, and the show started again');
}

// The page's index lines as [frame, show time]: the tune starts at reading 0 of the virtual clock.
async function renderIndex(browser, url) {
  await browser.page('Page.navigate', { url });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ended', 'failed'].includes(tarqlePage.state)", 60000))
    fail('the deterministic mode did not end within a minute');
  const index = await browser.evaluate('tarqlePage.frameIndex');
  if (index === null)
    fail('the deterministic mode gave no frame index: ' + await browser.evaluate('tarqlePage.message'));
  return index.trim().split('\n').map((line) => line.split('\t').slice(0, 2).map(Number));
}

const kSeed = 7;
const canvasRgb = `(() => {
  const d = document.getElementById('screen').getContext('2d').getImageData(0, 0, 320, 240).data;
  const rgb = [];
  for (let i = 0; i < d.length; i += 4) rgb.push(d[i], d[i + 1], d[i + 2]);
  return rgb;
})()`;

// The held picture after a seek to show time ms is the frame the index has at or before
// ms, pixel for pixel as the native renderer draws it with the same seed.
async function checkHeldFrame(browser, index, ms, renderDir, what) {
  if (!await until(browser.evaluate, `tarqlePage.show && tarqlePage.show.held && tarqlePage.show.ms === ${ms}`, 15000))
    fail(`${what}: the show did not stand at ${ms} ms (${JSON.stringify(await browser.evaluate('tarqlePage.show'))})`);
  const frame = index.filter(([, time]) => time <= ms).pop()[0];
  fs.rmSync(path.join(renderDir, 'frames'), { recursive: true, force: true });
  childProcess.execFileSync(path.join(renderDir, 'tarqle-render'),
    ['--seed', String(kSeed), '--start', String(ms / 1000), '--png', `${frame}-${frame}`],
    { cwd: renderDir, input: '0\n', stdio: ['pipe', 'ignore', 'inherit'] });
  const native = decodePng(fs.readFileSync(path.join(renderDir, 'frames', String(frame).padStart(6, '0') + '.png')));
  const shown = await browser.evaluate(canvasRgb);
  let differ = 0;
  for (let i = 0; i < shown.length; ++i)
    if (shown[i] !== native.rgb[i])
      ++differ;
  if (differ > 0)
    fail(`${what}: the picture at ${ms} ms is not frame ${frame} of the page's index (${differ} channels differ)`);
  return frame;
}

async function checkSeek(browser, url, renderDir) {
  const index = await renderIndex(browser, `${url}?render&seed=${kSeed}`);
  await browser.page('Page.navigate', { url: `${url}?seed=${kSeed}&start=slides` });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page did not get ready within 30 s');
  await browser.evaluate("document.getElementById('start').click()");
  const slides = 78830;
  if (!await until(browser.evaluate, `tarqlePage.show && tarqlePage.show.ms > ${slides} && tarqlePage.tunePlaying()`, 20000))
    fail(`the show did not go on from the slides with its tune: ${await browser.evaluate('tarqlePage.message')}`);
  // The tune plays from the show time of the hand-over, which the page's clock may have
  // moved on by a millisecond or two while the frame was shown.
  const near = (seconds, ms) => Math.abs(seconds * 1000 - ms) <= 5;
  if (!near(await browser.evaluate('tarqlePage.tuneOffset'), slides))
    fail(`a start at the slides plays the tune from ${await browser.evaluate('tarqlePage.tuneOffset')} s`);
  const key = (k) => browser.page('Input.dispatchKeyEvent', { type: 'keyDown', key: k, text: k });
  await key(' ');
  if (!await until(browser.evaluate, 'tarqlePage.show.held', 5000))
    fail('Space did not pause the show');
  const before = await browser.evaluate(`({rgb: ${canvasRgb}, ms: tarqlePage.show.ms})`);
  await sleep(800);
  const after = await browser.evaluate(`({rgb: ${canvasRgb}, ms: tarqlePage.show.ms, tune: tarqlePage.tunePlaying(),
    overlay: document.getElementById('overlay').textContent})`);
  if (after.ms !== before.ms || after.rgb.some((v, i) => v !== before.rgb[i]) || after.tune)
    fail(`the pause does not hold: show time ${before.ms} then ${after.ms} ms, tune playing ${after.tune}`);
  if (!/paused/.test(after.overlay))
    fail(`the overlay says "${after.overlay}" while paused`);
  await key('8');
  const fire = await checkHeldFrame(browser, index, 111400, renderDir, 'key 8 while paused');
  // The track above the parts, a third of the way along: any show time.
  const track = await browser.evaluate(`(() => { const r = document.getElementById('track').getBoundingClientRect();
    return {x: r.left + r.width / 3, y: r.top + r.height / 2}; })()`);
  for (const type of ['mousePressed', 'mouseReleased'])
    await browser.page('Input.dispatchMouseEvent', { type, x: track.x, y: track.y, button: 'left', clickCount: 1 });
  if (!await until(browser.evaluate, 'tarqlePage.show.ms < 111400', 5000))
    fail('a click on the bar did not seek');
  const goal = await browser.evaluate('tarqlePage.show.ms');
  const clicked = await checkHeldFrame(browser, index, goal, renderDir, 'a click on the bar while paused');
  // A step shows the next frame quietly; Space plays the tune on from where the show stands.
  await key('.');
  if (!await until(browser.evaluate, `tarqlePage.show.held && tarqlePage.show.ms > ${goal}`, 5000) ||
      await browser.evaluate('tarqlePage.tunePlaying()'))
    fail('. did not show the next frame quietly');
  const stepped = await browser.evaluate('tarqlePage.show.ms');
  await key(' ');
  if (!await until(browser.evaluate, 'tarqlePage.tunePlaying() && !tarqlePage.show.held', 5000))
    fail('Space did not resume the show with its tune');
  const offset = await browser.evaluate('tarqlePage.tuneOffset');
  if (!near(offset, stepped))
    fail(`resumed at ${stepped} ms of show, the tune plays from ${offset} s`);
  await sleep(1500);
  const later = await browser.evaluate(`({ms: tarqlePage.show.ms,
    tune: tarqlePage.tuneOffset + tarqlePage.audioTime() - tarqlePage.audioStartTime})`);
  if (!(later.ms - stepped > 500) || Math.abs(later.ms / 1000 - later.tune) > 0.5)
    fail(`1.5 s after the resume the show stands at ${later.ms} ms, the tune at ${later.tune.toFixed(3)} s`);
  await browser.page('Input.dispatchKeyEvent', { type: 'keyDown', key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 });
  if (!await until(browser.evaluate, "tarqlePage.state === 'ended'", 10000))
    fail('Esc did not end the show');
  console.log(`paused at ${before.ms} ms, the picture held; key 8 showed frame ${fire}, a click on the bar ` +
    `frame ${clicked} (${goal} ms), both as the index and the native renderer have them; resumed after a step ` +
    `at ${stepped} ms with the tune from ${offset} s; 1.5 s on, show ${later.ms} ms, tune ${later.tune.toFixed(3)} s`);
}

// Pictures as PNG files (RGB, 8 bits) for tarqle-flash-check.
function encodePng(rgb, width, height) {
  const rows = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; ++y)
    rgb.copy(rows, y * (width * 3 + 1) + 1, y * width * 3, (y + 1) * width * 3);
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const ends = Buffer.alloc(8);
    ends.writeUInt32BE(data.length, 0);
    ends.writeUInt32BE(zlib.crc32(body), 4);
    return Buffer.concat([ends.subarray(0, 4), body, ends.subarray(4)]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;
  header[9] = 2;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
    chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}

// Every picture the page shows from ?start=from on for seconds of show time, with the
// page's clock reading at which it showed it, written as a frame index and PNG files into
// a folder of its own, and tarqle-flash-check's verdict on them.
async function gentleRun(browser, url, gentle, from, seconds, flashCheck) {
  await browser.page('Page.navigate', { url: `${url}?start=${from}` });
  if (!await until(browser.evaluate, "window.tarqlePage && ['ready', 'failed'].includes(tarqlePage.state)", 30000))
    fail('the page did not get ready within 30 s');
  await browser.evaluate(`(() => {
    const box = document.getElementById('gentle');
    if (box.checked !== ${gentle})
      box.click();
    window.shownPictures = [];
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function (image, x, y) {
      put.call(this, image, x, y);
      if (tarqlePage.show && tarqlePage.show.ms > ${(from + seconds) * 1000})
        return;
      const rgb = new Uint8Array(image.width * image.height * 3);
      for (let i = 0, o = 0; i < image.data.length; i += 4, o += 3)
        rgb.set(image.data.subarray(i, i + 3), o);
      shownPictures.push({ time: performance.now(), rgb });
    };
    document.getElementById('start').click();
  })()`);
  if (!await until(browser.evaluate, `tarqlePage.show && tarqlePage.show.ms > ${(from + seconds) * 1000}`,
    (seconds + 30) * 1000))
    fail(`the show did not come to ${from + seconds} s: ${await browser.evaluate('tarqlePage.message')}`);
  await browser.page('Input.dispatchKeyEvent', { type: 'keyDown', key: 'Escape', code: 'Escape', windowsVirtualKeyCode: 27 });
  const count = await browser.evaluate('shownPictures.length');
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarqle-gentle-'));
  try {
    let index = '';
    let first = null;
    for (let i = 0; i < count; ++i) {
      const picture = await browser.evaluate(`(() => {
        const p = shownPictures[${i}];
        let text = '';
        for (let k = 0; k < p.rgb.length; k += 8192)
          text += String.fromCharCode.apply(null, p.rgb.subarray(k, k + 8192));
        return { time: p.time, data: btoa(text) };
      })()`);
      first = first === null ? picture.time : first;
      fs.writeFileSync(path.join(work, String(i).padStart(6, '0') + '.png'),
        encodePng(Buffer.from(picture.data, 'base64'), 320, 240));
      index += `${i}\t${Math.round(picture.time - first)}\t0\t0\n`;
    }
    fs.writeFileSync(path.join(work, 'index.tsv'), index);
    const check = childProcess.spawnSync(flashCheck, [path.join(work, 'index.tsv')], { encoding: 'utf8' });
    if (check.status !== 0 && check.status !== 1)
      fail(`tarqle-flash-check could not read the page's pictures: ${check.stderr}`);
    return { count, passed: check.status === 0, report: check.stdout };
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}

// The mosaic and what follows, where the show flashes most: with the switch on no window
// fails under any reading; with it off the same stretch fails, so the capture sees flashes.
async function checkGentle(browser, url, flashCheck) {
  const gentle = await gentleRun(browser, url, true, 53, 8, flashCheck);
  if (!gentle.passed)
    fail(`with the Gentle picture switch on, the page's pictures fail tarqle-flash-check:\n${gentle.report}`);
  const plain = await gentleRun(browser, url, false, 53, 8, flashCheck);
  if (plain.passed)
    fail(`with the switch off, the same stretch passes too: the capture sees no flashes\n${plain.report}`);
  console.log(`from 53 s to 61 s of the show, ${gentle.count} pictures with the Gentle picture switch on pass ` +
    `tarqle-flash-check, ${plain.count} with it off fail it:\n${gentle.report}`);
}

async function main() {
  const [mode, webDir, reference] = process.argv.slice(2);
  const root = path.resolve(webDir);
  const server = await serve(root, mode === 'missing' ? 'grafika/intro/taze.pcx' : null,
    mode === 'tune' ? { 'reference.wav': reference } : {});
  const url = `http://127.0.0.1:${server.address().port}/index.html`;
  const browser = await launch(['live', 'again', 'seek', 'gentle'].includes(mode) ? ['--autoplay-policy=no-user-gesture-required'] : []);
  try {
    if (mode === 'render')
      await checkRender(browser, url, reference);
    else if (mode === 'live')
      await checkLive(browser, url, reference);
    else if (mode === 'tune')
      await checkTune(browser, url, reference);
    else if (mode === 'missing')
      await checkMissing(browser, url);
    else if (mode === 'again')
      await checkAgain(browser, url);
    else if (mode === 'seek')
      await checkSeek(browser, url, reference);
    else if (mode === 'gentle')
      await checkGentle(browser, url, reference);
    else
      fail('unknown check ' + mode);
  } finally {
    await browser.close();
    server.close();
    server.closeAllConnections();
  }
}

if (require.main === module) {
  main().catch((e) => {
    console.error('FAIL: ' + (e instanceof CheckFailed ? e.message : e.stack || String(e)));
    process.exitCode = 1;
  });
}

module.exports = { serve, launch, until, sleep };
