// How long the settings page takes to read and draw a day of log (8,640
// lines) in Debian's headless chromium, by the page's own measure from asking
// for the log to the drawn charts, through the stand-in for the manager's
// bridge: each velmoractl call in a new root shell of a phone tree, each
// result back through a javascript: URL. Also the URL characters that cost.
// With HOST_VELMORACTL (a host build with the phone's paths) in place of the
// zip's AArch64 one, qemu's emulation, which a phone does not have, stays out.
//   node bench/page.mjs SOURCE_DIR ZIP [runs] [HOST_VELMORACTL]
import fs from 'node:fs';
import {launch, openPage, phoneWithModule} from '../tests/helpers/page-browser.mjs';
import {logLines} from '../tests/helpers/sample-log.mjs';

const [sourceDir, zip, runs = '10', hostCtl] = process.argv.slice(2);
const phone = phoneWithModule(sourceDir, zip, hostCtl);
fs.writeFileSync(`${phone.module}/PID_log`, logLines(8640));
const browser = await launch();
const page = await openPage(browser, `${phone.module}/webroot`, phone.exec);
const drawn = () => page.waitForFunction(() => document.getElementById('charts').dataset.ms !== undefined);
await drawn();
const opening = {...page.bridge};
const times = [];
const urls = [];
for (let i = 0; i < Number(runs); ++i) {
  await page.evaluate(() => { delete document.getElementById('charts').dataset.ms; });
  Object.assign(page.bridge, {largest: 0, total: 0, calls: 0});
  await page.click('#log-reload');
  await drawn();
  times.push(Number(await page.evaluate(() => document.getElementById('charts').dataset.ms)));
  urls.push({...page.bridge});
}
const points = await page.evaluate(() => document.getElementById('charts').dataset.points);
times.sort((a, b) => a - b);
const {largest, total, calls} = urls.at(-1);
console.log(`chart of ${points} of 8640 log lines in headless chromium ${browser.version()}, ` +
  `${hostCtl ? 'a host build of velmoractl with the phone\'s paths' : 'the zip\'s velmoractl under qemu'}: median ${times[times.length >> 1]} ms, fastest ${times[0]} ms, ` +
  `slowest ${times.at(-1)} ms over ${times.length} draws; through the bridge ${calls} results, ` +
  `the largest ${largest} URL characters, ${total} in total (limit 2097152 each); opening the page ` +
  `(settings, status, chart) ${opening.calls} results, ${opening.largest} URL characters the largest, ` +
  `${opening.total} in total`);
await browser.close();
fs.rmSync(phone.root, {recursive: true, force: true});
