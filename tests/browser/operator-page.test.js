// The operator's page in a real browser: Debian's chromium, headless, driven by playwright-core
// (which never downloads a browser of its own). scripts/browser-test.sh starts the whole station
// on loopback and runs this with:
//   OPERATOR_URL   the operator's page, e.g. http://127.0.0.1:PORT/
//   FUELWEB_BASE   the platform's API, e.g. http://127.0.0.1:PORT/api/fuelweb
//   APIKEY         client key, server key, station key
//   SIM_CMD_PORT   the simulator's console port (the driver lifts the nozzle there)
//   MONITOR_PID    the monitor daemon, stopped by the test
//   PUMPS          how many pumps the simulated station has
//   SCREENSHOT     where the screenshot of the page goes
//   USER_DATA_DIR  a fresh profile directory for the browser
// Checks: the pumps appear; an order placed and started shows its litres rising without a reload;
// the stopped monitor daemon turns the pump table's warning on within 35 s; the page fits a
// phone's width.
"use strict";
const net = require("net");
const path = require("path");
const { chromium } = require("playwright-core");

const env = (name) => {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set`);
  return v;
};
const OPERATOR_URL = env("OPERATOR_URL");
const FUELWEB_BASE = env("FUELWEB_BASE");
const APIKEY = env("APIKEY");
const SIM_CMD_PORT = Number(env("SIM_CMD_PORT"));
const MONITOR_PID = Number(env("MONITOR_PID"));
const PUMPS = Number(env("PUMPS"));
const SCREENSHOT = env("SCREENSHOT");

function check(cond, what) {
  if (!cond) throw new Error("FAILED: " + what);
  console.log("ok - " + what);
}

// One console command of the simulator, as scripts/demo-common.sh sends it.
function consoleCommand(line) {
  return new Promise((resolve, reject) => {
    const s = net.connect(SIM_CMD_PORT, "127.0.0.1", () => s.end(line + "\n"));
    s.on("error", reject);
    s.on("close", resolve);
    s.resume();
  });
}

async function post(endpoint, body) {
  const r = await fetch(`${FUELWEB_BASE}${endpoint}?apikey=${APIKEY}`, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  return { status: r.status, text: await r.text() };
}

// Polls from here rather than in the page: its policy allows no evaluated strings.
async function waitUntil(cond, timeoutMs, what) {
  const until = Date.now() + timeoutMs;
  while (Date.now() < until) {
    if (await cond()) return;
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error("FAILED: " + what + " within " + timeoutMs + " ms");
}

async function litresOf(page, pump) {
  const text = await page.textContent(`#pumps tbody tr[data-key="${pump}"] td.litres`);
  return Number(text);
}

async function main() {
  // A fresh profile directory of its own (playwright passes it as --user-data-dir).
  const browser = await chromium.launchPersistentContext(env("USER_DATA_DIR"), {
    executablePath: "/usr/bin/chromium",
    headless: true,
    viewport: { width: 1280, height: 1000 },
    args: [
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
    ],
  });
  try {
    const page = await browser.newPage();
    const outside = [];
    page.on("request", (r) => { if (!r.url().startsWith(OPERATOR_URL)) outside.push(r.url()); });
    await page.goto(OPERATOR_URL);
    await page.waitForSelector(`#pumps tbody tr[data-key="${PUMPS}"]`, { timeout: 10000 });
    check((await page.$$("#pumps tbody tr[data-key]")).length === PUMPS, `the ${PUMPS} pumps appear`);
    // Marks this document: a reload would lose the mark.
    await page.evaluate(() => { window.notReloaded = true; });

    const id = `browser-${Date.now()}`;
    const order = { id, app_id: 1, trk: 1, prod: 92, price: 52.5, volume: 8, summa: 420, contract: "Individual" };
    const placed = await post("/order", order);
    check(placed.status === 200, `/order reserves pump 1 (${placed.status} ${placed.text})`);
    const started = await post("/fueling", order);
    check(started.status === 200, `/fueling starts it (${started.status} ${started.text})`);
    await page.waitForSelector(`#orders tbody tr[data-key="${id}"]`, { timeout: 10000 });
    check(true, "the order shows among the orders being served");
    await new Promise((r) => setTimeout(r, 1000));
    await consoleCommand("lift 1");

    let first = 0;
    await waitUntil(async () => (first = await litresOf(page, 1)) > 0, 20000, "litres above 0 on pump 1");
    await waitUntil(async () => (await litresOf(page, 1)) > first, 20000, "litres rising on pump 1");
    const later = await litresOf(page, 1);
    check(later > first, `its litres rise on the page (${first} -> ${later})`);
    check(await page.evaluate(() => window.notReloaded === true), "without a reload");
    await page.screenshot({ path: SCREENSHOT, fullPage: true });

    const phone = await browser.newPage();
    await phone.setViewportSize({ width: 390, height: 844 });
    await phone.goto(OPERATOR_URL);
    await phone.waitForSelector('#pumps tbody tr[data-key="1"]', { timeout: 10000 });
    const fits = await phone.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth + 1);
    check(fits, "the page fits a phone's width (no sideways scrolling)");
    await phone.screenshot({ path: SCREENSHOT.replace(/\.png$/, "-phone.png"), fullPage: true });
    await phone.close();

    const stoppedAt = Date.now();
    process.kill(MONITOR_PID, "SIGTERM");
    await page.waitForSelector('#warnings li[data-check="pump_table"]', { timeout: 35000 });
    check(true, `the pump table's warning is on ${((Date.now() - stoppedAt) / 1000).toFixed(1)} s after the monitor daemon stopped`);
    check(await page.evaluate(() => window.notReloaded === true), "still without a reload");
    await page.screenshot({ path: SCREENSHOT.replace(/\.png$/, "-warning.png"), fullPage: true });
    check(outside.length === 0, "the page asks nothing of any other origin" + (outside.length ? ": " + outside.join(" ") : ""));
  } finally {
    await browser.close();
  }
}

main().then(() => console.log("operator page: all checks passed"), (e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
