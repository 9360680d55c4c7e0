// Opens chart pages in Debian's chromium through playwright-core and checks what their script
// hands to the charting library. The library's loader address is answered with a stand-in
// `google` object that records addColumn, addRows and draw (and draws a plain SVG line, so the
// screenshot shows the data); every other request is refused and counted.
//
// usage: node chart_page_check.mjs OUT_DIR NAME=PAGE.html=DATA.csv=DECIMAL_MARK ...
// Exits 0 when every page ran without a script error, drew once and passed exactly the rows
// of its CSV file; writes NAME.png into OUT_DIR for each page.
import { chromium } from 'playwright-core';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import assert from 'node:assert/strict';

const LOADER = 'https://www.gstatic.com/charts/loader.js';

const STAND_IN = `
window.__chart = { columns: [], rows: [], draws: 0, options: null };
window.google = {
  charts: {
    load: function () {},
    setOnLoadCallback: function (callback) {
      // The real loader calls back after the page has loaded, when chart_div exists.
      if (document.readyState === 'complete') setTimeout(callback, 0);
      else window.addEventListener('load', function () { callback(); });
    },
  },
  visualization: {
    DataTable: function () {
      this.addColumn = function (type, label) { __chart.columns.push([type, label]); };
      this.addRows = function (rows) {
        for (const row of rows) __chart.rows.push(row);
      };
    },
    LineChart: function (element) {
      this.draw = function (data, options) {
        __chart.draws += 1;
        __chart.options = options;
        const rows = __chart.rows;
        const values = rows.map(function (r) { return r[1]; });
        const low = Math.min.apply(null, values), high = Math.max.apply(null, values);
        const points = rows.map(function (r, i) {
          const x = 40 + (820 * i) / Math.max(1, rows.length - 1);
          const y = 560 - (500 * (r[1] - low)) / Math.max(0.001, high - low);
          return x.toFixed(1) + ',' + y.toFixed(1);
        }).join(' ');
        element.innerHTML =
          '<svg xmlns="http://www.w3.org/2000/svg" width="900" height="600" style="background:' +
          options.backgroundColor + '"><text x="40" y="30" font-size="18">' +
          String(options.title).replace(/</g, '&lt;') + ' (' + rows.length + ' rows, ' + low +
          ' to ' + high + ')</text><polyline fill="none" stroke="#1565c0" stroke-width="2" points="' +
          points + '"/></svg>';
      };
    },
  },
};
`;

// The rows a page must pass for its CSV file: header lines (holding "#") left out, the label
// between the first and second comma, the value everything after the second comma.
function expectedRows(csvPath, decimalMark) {
  const rows = [];
  for (const line of readFileSync(csvPath, 'latin1').split(/\r\n|\n|\r/)) {
    if (line === '' || line.includes('#')) continue;
    const first = line.indexOf(',');
    const second = line.indexOf(',', first + 1);
    assert.ok(first >= 0 && second > first, `not a row: ${line}`);
    const value = line.slice(second + 1).replace(decimalMark, '.');
    assert.match(value, /^-?\d+(\.\d+)?$/, `value of ${line}`);
    rows.push([line.slice(first + 1, second), Number(value)]);
  }
  return rows;
}

async function checkPage(context, outDir, spec) {
  const [name, htmlPath, csvPath, decimalMark] = spec.split('=');
  const page = await context.newPage();
  const errors = [];
  const refused = [];
  let loaderRequests = 0;
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.route('**/*', (route) => {
    const url = route.request().url();
    if (url === LOADER) {
      loaderRequests += 1;
      return route.fulfill({ status: 200, contentType: 'text/javascript', body: STAND_IN });
    }
    if (url.startsWith('file:')) return route.continue();
    refused.push(url);
    return route.abort();
  });
  await page.goto(pathToFileURL(htmlPath).href, { waitUntil: 'load' });
  await page.waitForFunction(() => window.__chart && window.__chart.draws > 0, null,
                             { timeout: 10000 });
  // A second draw would come from a second callback registration within the same tick.
  await page.waitForTimeout(200);
  const chart = await page.evaluate(() => window.__chart);
  const want = expectedRows(csvPath, decimalMark);
  assert.deepEqual(errors, [], `${name}: script errors`);
  assert.equal(loaderRequests, 1, `${name}: loader requests`);
  assert.deepEqual(refused, [], `${name}: requests other than the loader`);
  assert.equal(chart.draws, 1, `${name}: draws`);
  assert.deepEqual(chart.columns, [['string', 'X'], ['number', 'Temp']], `${name}: columns`);
  assert.ok(want.length > 0, `${name}: the CSV file has rows`);
  assert.deepEqual(chart.rows, want, `${name}: rows`);
  await page.screenshot({ path: join(outDir, `${name}.png`), fullPage: false });
  console.log(`${name}: ${chart.rows.length} rows drawn once, title '${chart.options.title}'`);
  await page.close();
}

const [outDir, ...specs] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), 'tw-chromium-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  viewport: { width: 920, height: 640 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--no-first-run'],
});
let failed = false;
try {
  for (const spec of specs) {
    try {
      await checkPage(context, outDir, spec);
    } catch (e) {
      failed = true;
      console.error(`FAIL ${spec.split('=')[0]}: ${e.message}`);
    }
  }
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
