// How long the settings page takes to read and draw a day of log (8,640
// lines) in Debian's headless chromium, by the page's own measure from asking
// for the log to the drawn charts. The bridge answers from memory, so the
// time is the page's alone, not a root shell's.
//   node bench/page.mjs WEBROOT [runs]
import {launch, openPage} from '../tools/page-browser.mjs';
import {logLines} from '../tools/sample-log.mjs';

const [webroot, runs = '10'] = process.argv.slice(2);
const log = logLines(8640);
const status = 'running=yes\nsettings=ok\nsettings_end_byte=0\nlog_switch=1\npower=27\nnight=22\n' +
  'morning=7\non_temp_mC=40000\noff_temp_mC=38000\nversion=v1\nmodel=phone\nlog=on\n';
const browser = await launch();
const page = await openPage(browser, webroot, async (cmd) =>
  ({errno: 0, stdout: cmd.startsWith('tail -n') ? log : cmd.includes('status.sh') ? status : '',
    stderr: ''}));
await page.waitForFunction(() => document.getElementById('charts').dataset.points === '8640');
const times = [];
for (let i = 0; i < Number(runs); ++i) {
  await page.evaluate(() => { delete document.getElementById('charts').dataset.ms; });
  await page.click('#log-reload');
  await page.waitForFunction(() => document.getElementById('charts').dataset.ms !== undefined);
  times.push(Number(await page.evaluate(() => document.getElementById('charts').dataset.ms)));
}
times.sort((a, b) => a - b);
console.log(`chart of 8640 log lines in headless chromium ${browser.version()}: ` +
  `median ${times[times.length >> 1]} ms, fastest ${times[0]} ms, slowest ${times.at(-1)} ms ` +
  `over ${times.length} draws`);
await browser.close();
