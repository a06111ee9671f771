// The settings page from the zip in Debian's headless chromium. Its ksu bridge
// runs the page's real commands as root in a chroot of a BusyBox phone tree,
// and the real velmora reads every file the page saves.
//   VELMORA=build/velmora VELMORA_ZIP=dist/velmora-vX.Y.Z.zip VELMORA_SOURCE_DIR=.
//   [VELMORA_SCREENSHOT=page.png] node --test tests/webui.test.mjs
import assert from 'node:assert/strict';
import {execFile, execFileSync, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {launch, openPage} from '../tools/page-browser.mjs';
import {logLines} from '../tools/sample-log.mjs';

const {VELMORA, VELMORA_ZIP, VELMORA_SOURCE_DIR, VELMORA_SCREENSHOT} = process.env;
const skip = process.getuid() !== 0 && 'chroot needs root';
let phone, module, browser, page;
const read = (file) => fs.readFileSync(path.join(module, file), 'utf8');

// The root shell of the manager, in the phone: what ksu.exec answers.
const inPhone = (cmd) => new Promise((resolve) => execFile(`${VELMORA_SOURCE_DIR}/scripts/in-phone`, [phone, cmd],
{maxBuffer: 1 << 26}, (error, stdout, stderr) => resolve({errno: error ? error.code : 0, stdout, stderr})));

before(async () => {
  if (skip) return;
  phone = fs.mkdtempSync('/tmp/velmora-webui-');
  execFileSync(`${VELMORA_SOURCE_DIR}/scripts/lay-out-phone`, [phone, 'Charging', '0', 'busybox']);
  module = path.join(phone, 'data/adb/modules/velmora');
  execFileSync('unzip', ['-q', '-o', VELMORA_ZIP, '-d', module]);  // the default 配置, notes and all
  browser = await launch();
  page = await openPage(browser, `${module}/webroot`, inPhone);
  await page.waitForFunction(() => document.forms.settings.elements.power.value !== '');
});

after(async () => (await browser?.close(), phone && fs.rmSync(phone, {recursive: true, force: true})));

const defaults = {power: '27', night: '22', morning: '7', on_temp: '40', off_temp: '38',
  version: 'v1', model: 'phone'};

test('draws the last 24 hours of the log and switches and clears it', {skip}, async () => {
  fs.writeFileSync(path.join(module, 'PID_log'), logLines(8640 + 100));  // a day and more
  await page.reload();
  await page.waitForFunction(() => document.getElementById('charts').dataset.points === '8640');
  assert.equal(await page.locator('#charts canvas').count(), 3);
  if (VELMORA_SCREENSHOT) await page.screenshot({path: VELMORA_SCREENSHOT, fullPage: true});

  await page.click('#log-on');
  await page.waitForFunction(() => /^Log on/.test(document.getElementById('log-summary').textContent));
  assert.match(read('配置'), /^日志开关=1\n/);
  await page.click('#log-off');
  await page.waitForFunction(() => /^Log off/.test(document.getElementById('log-summary').textContent));
  await page.click('#log-clear');
  await page.click('#log-clear-yes');
  await page.waitForFunction(() => document.getElementById('charts').dataset.points === '0');
  assert.equal(read('PID_log'), '');

  const bare = await openPage(browser, `${module}/webroot`);  // no bridge: says so plainly
  assert.ok(await bare.isVisible('#no-bridge'));
  assert.ok(await bare.isDisabled('#save'));
});

test('saves what velmora reads, and refuses or stores literally what is hostile', {skip}, async () => {
  const kept = read('配置').slice(read('配置').indexOf('\n\nvelmora 读取'));
  assert.match(kept, /velmora reads the eight lines above/);
  const rows = [
    // name, fields, what the file then holds (null: refused, the file unchanged)
    ['valid', {power: '20', on_temp: '41.5', off_temp: '37'}, {功率: '20', 亮屏温度: '41500', 息屏温度: '37000'}],
    ['quotes and $(...)', {model: `a'b"$(reboot)`}, {机型: `a'b"$(reboot)`}],
    ['backticks', {version: '`touch${IFS}/pwned`'}, {版本: '`touch${IFS}/pwned`'}],
    ['hour 25 is a warning', {night: '25'}, {晚上: '25'}],
    ['power past int32', {power: '2147483648'}, null],
    ['temperature past int32', {on_temp: '2147484'}, null],
    ['a tab in a word', {model: 'a\tb'}, null],
    ['40-byte UTF-8 model', {model: `${'型'.repeat(13)}a`}, null],
  ];
  const node = path.join(phone, 'sys/class/power_supply/battery/constant_charge_current_max');
  for (const [name, fields, stored] of rows) {
    const before = read('配置');
    for (const [field, value] of Object.entries({...defaults, ...fields})) {
      await page.fill(`[name=${field}]`, value);
    }
    await page.click('#save');
    await page.waitForFunction(() => document.getElementById('save-result').textContent !== '');
    assert.match(await page.textContent('#save-result'), stored ? /^Saved/ : /^Not saved/, name);
    if (!stored) {
      assert.equal(read('配置'), before, name);
      continue;
    }
    const values = {日志开关: '0', 功率: '27', 晚上: '22', 早上: '7', 亮屏温度: '40000',
      息屏温度: '38000', 版本: 'v1', 机型: 'phone', ...stored};
    const text = Object.entries(values).map(([key, value]) => `${key}=${value}`).join('\n');
    assert.equal(read('配置'), text + kept, name);
    // The real daemon reads it and writes its first limit.
    fs.writeFileSync(node, 'x');
    const run = spawnSync('timeout', ['0.5', VELMORA], {cwd: phone, encoding: 'utf8'});
    assert.doesNotMatch(run.stderr, /读取配置数据失败/, name);
    assert.match(fs.readFileSync(node, 'utf8'), /^-?\d+\n$/, name);
    await page.evaluate(() => { document.getElementById('save-result').textContent = ''; });
  }
  assert.equal(await page.evaluate(() => parseWord('a\nb').error), 'no spaces or line breaks');
  assert.ok(!fs.existsSync(path.join(phone, 'pwned')));
});
