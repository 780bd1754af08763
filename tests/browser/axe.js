'use strict';
// Runs axe-core on the page as it stands, in the light and the dark colour
// scheme, and returns the violations found (none is the aim).

const fs = require('node:fs');

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

module.exports = { violations };
