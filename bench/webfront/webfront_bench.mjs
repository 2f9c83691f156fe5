// The web front end on large folders, in headless Chromium against `vesk` on loopback. For each
// folder size it prints: the server's listing time, time from navigation to the first screen of
// rows, the longest main-thread task, DOM nodes, JS heap, and the time of 40 wheel steps.
// Targets for 50,000 entries: first rows within 1 s, no task over 200 ms, fewer than 5,000 DOM
// nodes, 40 wheel steps within 2 s. The exit status is 1 when a target is missed.
//
// Environment: VESK_PROGRAM (the vesk binary, best a Release build), CHROMIUM (default
// /usr/bin/chromium), VESK_BENCH_SIZES (default "10000,50000").

import {spawn} from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import {chromium} from "playwright-core";

const program = process.env.VESK_PROGRAM;
const executablePath = process.env.CHROMIUM || "/usr/bin/chromium";
const sizes = (process.env.VESK_BENCH_SIZES || "10000,50000").split(",").map(Number);
const WHEEL_STEPS = 40;
const WHEEL_DELTA = 120;

function unusedPort()
{
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.once("error", reject);
        server.listen(0, "127.0.0.1", () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// Names of mixed kinds and lengths, in no particular order, a few folders among them.
function fillFolder(folder, count)
{
    fs.mkdirSync(folder, { recursive : true });
    const kinds = [ "txt", "pdf", "zip", "md", "json", "bin", "html", "plist" ];
    for (let i = 0; i < count; i++) {
        const n = (i * 7919) % count;
        const name = `${["report", "Notes", "draft", "archive", "img"][n % 5]} ${n} of ${count}`;
        if (n % 50 === 0)
            fs.mkdirSync(path.join(folder, name));
        else
            fs.closeSync(fs.openSync(path.join(folder, `${name}.${kinds[n % kinds.length]}`), "w"));
    }
}

// Installed before the page's own script: notes long tasks and when the first rows show.
function observePage()
{
    window.__bench = { longest : 0, firstRows : null };
    new PerformanceObserver((list) => {
        for (const entry of list.getEntries())
            window.__bench.longest = Math.max(window.__bench.longest, entry.duration);
    }).observe({ type : "longtask", buffered : true });
    const look = () => {
        const name = document.querySelector("#entries .entry .name");
        if (name && name.textContent)
            window.__bench.firstRows = performance.now();
        else
            requestAnimationFrame(look);
    };
    requestAnimationFrame(look);
}

// A wheel step is answered once the page has handled it; the next frame shows its rows.
const nextFrame = () => new Promise((resolve) => requestAnimationFrame(resolve));

async function measure(browser, base, folder)
{
    const context = await browser.newContext({ viewport : { width : 1280, height : 800 } });
    const page = await context.newPage();
    await page.addInitScript(observePage);
    const cdp = await context.newCDPSession(page);
    await cdp.send("Performance.enable");

    await page.goto(`${base}/#path=${encodeURIComponent(folder)}`);
    await page.waitForFunction(() => window.__bench.firstRows !== null, null, { timeout : 60000 });
    const firstRows = await page.evaluate(() => window.__bench.firstRows);
    await page.waitForTimeout(1500); // the facts of the first screen arrive

    await page.mouse.move(500, 500);
    const started = Date.now();
    let slowestStep = 0;
    for (let i = 0; i < WHEEL_STEPS; i++) {
        const step = Date.now();
        await page.mouse.wheel(0, WHEEL_DELTA);
        await page.evaluate(nextFrame);
        slowestStep = Math.max(slowestStep, Date.now() - step);
    }
    const scrolled = Date.now() - started;
    const moved = await page.evaluate(() => window.scrollY);
    await page.waitForTimeout(1000);

    const { metrics } = await cdp.send("Performance.getMetrics");
    const metric = (name) => metrics.find((m) => m.name === name).value;
    await cdp.send("HeapProfiler.collectGarbage");
    const heap = (await cdp.send("Performance.getMetrics")).metrics.find((m) => m.name === "JSHeapUsedSize").value;
    const result = {
        firstRows,
        longest : await page.evaluate(() => window.__bench.longest),
        nodes : metric("Nodes"),
        elements : await page.evaluate(() => document.getElementsByTagName("*").length),
        heap,
        scrolled,
        slowestStep,
        moved,
        shown : await page.locator("#count").innerText(),
    };
    await context.close();
    return result;
}

async function main()
{
    if (!program || !fs.existsSync(program))
        throw new Error("VESK_PROGRAM must name the vesk binary");
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "vesk-bench-web-"));
    const home = path.join(scratch, "home");
    for (const size of sizes)
        fillFolder(path.join(home, "Documents", `folder-${size}`), size);

    const port = await unusedPort();
    const child = spawn(program, [ "--quick-action", "fileserver" ], {
        env : {...process.env, VESK_HOME : home, VESK_WIFI_INTERFACE : "lo", VESK_PORT : String(port) },
        stdio : "ignore",
    });
    const exited = new Promise((resolve) => child.once("exit", resolve));
    const base = `http://127.0.0.1:${port}`;
    let browser;
    let missed = 0;
    try {
        while (!await fetch(`${base}/getDocDir`).then(() => true, () => false))
            await new Promise((r) => setTimeout(r, 50));
        browser = await chromium.launch({
            executablePath,
            args : [ "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync" ],
        });
        console.log(`vesk: ${program}`);
        for (const size of sizes) {
            const folder = path.join(home, "Documents", `folder-${size}`);
            const listed = Date.now();
            const bytes = (await (await fetch(`${base}/getFile?path=${encodeURIComponent(folder)}`)).arrayBuffer()).byteLength;
            const listing = Date.now() - listed;
            const r = await measure(browser, base, folder);
            const targets = size >= 50000 ? [
                [ r.firstRows <= 1000, "first rows within 1 s" ],
                [ r.longest <= 200, "no task over 200 ms" ],
                [ r.nodes < 5000, "fewer than 5,000 DOM nodes" ],
                [ r.scrolled <= 2000, "40 wheel steps within 2 s" ],
            ]
                                          : [];
            console.log(`\n${size} entries (${r.shown}; listing answered in ${listing} ms, ${(bytes / 1e6).toFixed(1)} MB)`);
            console.log(`  first screen of rows   ${r.firstRows.toFixed(0)} ms after navigation`);
            console.log(`  longest task           ${r.longest ? r.longest.toFixed(0) + " ms" : "none over 50 ms"}`);
            console.log(`  DOM nodes              ${r.nodes} (${r.elements} elements)`);
            console.log(`  JS heap                ${(r.heap / 1e6).toFixed(1)} MB`);
            console.log(`  ${WHEEL_STEPS} wheel steps         ${r.scrolled} ms (slowest ${r.slowestStep} ms, ${r.moved} px scrolled)`);
            for (const [met, what] of targets) {
                console.log(`  ${met ? "met   " : "MISSED"} ${what}`);
                missed += met ? 0 : 1;
            }
        }
    } finally {
        await browser?.close();
        child.kill("SIGTERM");
        await exited;
        fs.rmSync(scratch, { recursive : true, force : true });
    }
    process.exitCode = missed ? 1 : 0;
}

main().catch((error) => {
    console.error(error.stack || error);
    process.exitCode = 2;
});
