import fs from 'node:fs';
import {launch, openPage} from './tools/page-browser.mjs';
import {logLines} from './tools/sample-log.mjs';
import {mockExec} from '/tmp/exp/mock.mjs';
const dir = '/tmp/exp/mod';
const browser = await launch();
for (const colorScheme of ['light', 'dark']) {
  const page = await openPage(browser, '/tmp/exp/webroot', mockExec(dir), {width: 360, height: 800, colorScheme});
  await page.waitForFunction(() => document.getElementById('charts').dataset.points !== undefined);
  await page.addScriptTag({path: 'node_modules/axe-core/axe.min.js'});
  const r = await page.evaluate(async () => {
    axe.configure({checks: [{id: 'target-size', options: {minSize: 48}}], rules: [{id: 'target-size', any: ['target-size']}]});
    return axe.run(document, {runOnly: ['color-contrast', 'target-size']});
  });
  console.log(colorScheme, 'violations', JSON.stringify(r.violations.map((v) => [v.id, v.nodes.map((n) => n.target.join(' ') + ' ' + n.failureSummary.slice(0, 200))]), null, 1), 'passes', r.passes.map((p) => [p.id, p.nodes.length]), 'incomplete', r.incomplete.map((p) => [p.id, p.nodes.length, p.nodes.slice(0,3).map(n => n.target.join(' ')+ ' ' +n.any.map(a=>a.message).join())]));
  console.log('scroll', await page.evaluate(() => [document.documentElement.scrollWidth, innerWidth]));
  await page.screenshot({path: `/tmp/exp/${colorScheme}.png`, fullPage: true});
}
await browser.close();
