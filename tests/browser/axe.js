'use strict';
// Runs axe-core on the page as it stands, at a phone's and a desktop's width,
// in the light and the dark colour scheme: none of its violations is the aim.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { screenshotDir } = require('./server');

const source = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

// The page as it stands fits a phone and a desktop, light and dark, with no
// horizontal scroll and nothing axe objects to; its screenshots at both widths are kept.
async function fitsEveryWidth(page, name) {
  for (const width of [390, 1280]) {
    await page.setViewportSize({ width, height: 800 });
    for (const colorScheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme });
      const where = `${name} at ${width} px, ${colorScheme}`;
      const { scroll, inner } = await page.evaluate(
        () => ({ scroll: document.documentElement.scrollWidth, inner: window.innerWidth }));
      assert.ok(scroll <= inner, `${where}: ${scroll} px wide`);
      // Evaluated through the debugging protocol, so the page's script policy does not apply.
      await page.evaluate(source);
      const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
      assert.deepEqual(violations.map((v) => `${v.id} (${v.impact}): ${v.help}\n  ${v.nodes
        .slice(0, 3).map((n) => n.target.join(' ')).join('\n  ')}`), [], `axe on ${where}`);
    }
    await page.emulateMedia({ colorScheme: 'light' });
    await page.screenshot({ path: path.join(screenshotDir, `${name}-${width}.png`), fullPage: true });
  }
  await page.setViewportSize({ width: 1000, height: 800 });
}

module.exports = { fitsEveryWidth };
