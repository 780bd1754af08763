'use strict';
// Runs axe-core on the page as it stands, in the light and the dark colour
// scheme, and returns the violations found (none is the aim).

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { screenshotDir } = require('./server');

const source = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

async function violations(page) {
  const found = [];
  for (const colorScheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme });
    // Evaluated through the debugging protocol, so the page's script policy does not apply.
    await page.evaluate(source);
    const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
    for (const v of result.violations) {
      found.push(`${colorScheme}: ${v.id} (${v.impact}): ${v.help}\n  ${v.nodes
        .slice(0, 3).map((n) => n.target.join(' ')).join('\n  ')}`);
    }
  }
  await page.emulateMedia({ colorScheme: 'light' });
  return found;
}

// The page as it stands fits a phone and a desktop, light and dark, with no
// horizontal scroll and nothing axe objects to; its screenshots at both widths are kept.
async function fitsEveryWidth(page, name) {
  for (const width of [390, 1280]) {
    await page.setViewportSize({ width, height: 800 });
    for (const colorScheme of ['light', 'dark']) {
      await page.emulateMedia({ colorScheme });
      const { scroll, inner } = await page.evaluate(
        () => ({ scroll: document.documentElement.scrollWidth, inner: window.innerWidth }));
      assert.ok(scroll <= inner, `${name} at ${width} px, ${colorScheme}: ${scroll} px wide`);
    }
    assert.deepEqual(await violations(page), [], `axe on ${name} at ${width} px`);
    await page.screenshot({ path: path.join(screenshotDir, `${name}-${width}.png`), fullPage: true });
  }
  await page.setViewportSize({ width: 1000, height: 800 });
}

module.exports = { violations, fitsEveryWidth };
