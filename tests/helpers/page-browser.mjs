// The settings page in Debian's headless chromium (never a downloaded one),
// behind a stand-in for the root manager's bridge that does what KernelSU's,
// APatch's and WebUI X's do: ksu.exec(cmd, options, callback) blocks the page
// until the command has ended (a synchronous request to this local server,
// which also serves the page), and the result comes later, and only, as the
// manager's webView.loadUrl("javascript: ...") of the callback, by the
// DevTools protocol's Page.navigate. So the URL's percent-decoding applies,
// and a URL past 2,097,152 characters is dropped without a word: checked by
// hand in Debian's Chromium 156, a javascript: URL of 2,097,152 characters
// runs and one of 2,097,153 does not, with ASCII and with 型 (9 characters).
import {chromium} from 'playwright-core';
import {execFile, execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

// More chromium switches in `args`: headless chromium takes the page's
// navigator.languages from --accept-lang=zh-CN (it ignores --lang).
export const launch = (args = []) => chromium.launch({executablePath: '/usr/bin/chromium', args: [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', ...args]});

const URL_MAX_CHARS = 2097152;  // Chromium's kMaxURLChars

// Android's JSONObject.quote.
const ESCAPES = {'"': '\\"', '\\': '\\\\', '/': '\\/', '\b': '\\b', '\t': '\\t', '\n': '\\n',
  '\f': '\\f', '\r': '\\r'};
const quote = (text) => `"${text.replace(/["\\/\u0000-\u001f\u2028\u2029]/g, (c) =>
  ESCAPES[c] ?? `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`)}"`;

// A URL's length as Chromium counts it: non-ASCII and control characters
// percent-encoded as UTF-8 (型 is %E5%9E%8B, 9 characters).
const urlChars = (url) => [...url].reduce((sum, c) =>
  sum + (c >= ' ' && c < '\u007f' ? 1 : 3 * Buffer.byteLength(c)), 0);

// libsu reads the shell's output as UTF-8 lines (a line ends at \n, \r or
// \r\n) and the manager joins them with \n: no last line break.
const lines = (bytes) => new TextDecoder().decode(bytes).split(/\r\n|\r|\n/)
  .filter((line, i, all) => i < all.length - 1 || line !== '').join('\n');

// The page's side of the bridge, as the manager injects it.
function bridge() {
  window.ksu = {exec(cmd, options, callback) {
    const request = new XMLHttpRequest();
    request.open('POST', '/.bridge/exec', false);
    request.send(JSON.stringify({cmd, options, callback}));
  }};
}

const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css'};

// A new tab on webroot/index.html, served from a local origin. exec(cmd)
// answers {code, stdout, stderr} (Buffers) as the root shell; without it the
// page has no bridge at all. The tab's `bridge` counts the URL characters
// of every result delivered: {largest, total, calls}.
export async function openPage(browser, webroot, exec, {width = 760, height = 1500, colorScheme = 'light'} = {}) {
  const page = await browser.newPage({viewport: {width, height}, colorScheme});
  const cdp = await page.context().newCDPSession(page);
  const stats = {largest: 0, total: 0, calls: 0};
  let frameId;
  // Ends the page's request, then hands the result to the callback in a javascript: URL.
  async function answer({cmd, callback}, response) {
    const result = await exec(cmd);
    response.end();
    const url = `javascript: (function() { try { ${callback}(${result.code}, ` +
      `${quote(lines(result.stdout))}, ${quote(lines(result.stderr))}); } ` +
      'catch(e) { console.error(e); } })();';
    frameId ??= (await cdp.send('Page.getFrameTree')).frameTree.frame.id;
    cdp.send('Page.navigate', {url, frameId}).catch(() => {});
    const chars = urlChars(url);
    Object.assign(stats, {largest: Math.max(stats.largest, chars), total: stats.total + chars,
      calls: stats.calls + 1});
    if (chars > URL_MAX_CHARS) console.error(`bridge: ${chars} URL characters, dropped as Chromium does`);
  }
  const server = http.createServer((request, response) => {
    if (request.method === 'POST' && request.url === '/.bridge/exec' && exec) {
      const body = [];
      request.on('data', (chunk) => body.push(chunk));
      // A tab closed while its command ran is answered no more.
      request.on('end', () => answer(JSON.parse(Buffer.concat(body).toString()), response)
        .catch((error) => console.error(`bridge: ${error.message}`)));
      return;
    }
    const file = path.join(webroot, decodeURIComponent(new URL(request.url, 'http://x').pathname));
    fs.readFile(file, (error, data) => {
      response.writeHead(error ? 404 : 200, {'content-type': types[path.extname(file)] ?? 'application/octet-stream'});
      response.end(error ? '' : data);
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  page.on('close', () => server.close());
  if (exec) await page.addInitScript(bridge);
  await page.goto(`http://127.0.0.1:${server.address().port}/index.html`);
  return Object.assign(page, {bridge: stats});
}

// A phone tree with the manager's root shell (tests/helpers/lay-out-phone ROOT
// Charging 0 android) in a new temporary directory, the zip's module in
// place (tests/helpers/unpack-module: its AArch64 binaries under qemu), or hostCtl
// for velmoractl, a host build with the phone's paths: {root, module, exec},
// exec(cmd) running cmd there as ksu.exec does.
export function phoneWithModule(sourceDir, zip, hostCtl) {
  const root = fs.mkdtempSync('/tmp/velmora-page-');
  execFileSync(`${sourceDir}/tests/helpers/lay-out-phone`, [root, 'Charging', '0', 'android']);
  execFileSync(`${sourceDir}/tests/helpers/unpack-module`, [root, zip]);
  const module = path.join(root, 'data/adb/modules/velmora');
  if (hostCtl) fs.copyFileSync(hostCtl, `${module}/velmoractl`);
  const exec = (cmd) => new Promise((resolve) => execFile(`${sourceDir}/tests/helpers/in-phone`, [root, cmd],
    {encoding: 'buffer', maxBuffer: 1 << 26}, (error, stdout, stderr) =>
      resolve({code: error ? error.code : 0, stdout, stderr})));
  return {root, module, exec};
}
