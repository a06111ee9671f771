// The settings page in Debian's headless chromium (never a downloaded one),
// with a stand-in for the root manager's bridge: ksu.exec(cmd, options,
// callback) answers through exec(cmd), a promise of {errno, stdout, stderr}.
import {chromium} from 'playwright-core';

export const launch = () => chromium.launch({executablePath: '/usr/bin/chromium', args: [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync']});

// A new tab on webroot/index.html; without exec the page has no bridge at all.
export async function openPage(browser, webroot, exec) {
  const page = await browser.newPage({viewport: {width: 760, height: 1500}});
  if (exec) {
    await page.exposeFunction('phoneExec', exec);
    await page.addInitScript(() => {
      window.ksu = {exec: (cmd, options, callback) => window.phoneExec(cmd)
          .then((r) => window[callback](r.errno, r.stdout, r.stderr))};
    });
  }
  await page.goto(`file://${webroot}/index.html`);
  return page;
}
