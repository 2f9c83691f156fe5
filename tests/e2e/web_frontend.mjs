// The web front end in headless Chromium against the real `vesk` program on loopback: the page
// loads, browses into a folder, shows hostile file names as text, and downloads a file whose
// bytes match. A screenshot of the page is saved for people to look at.
//
// Environment: VESK_PROGRAM (the vesk binary), VESK_BUNDLE (its bundle), VESK_SCREENSHOT (where
// the screenshot goes), CHROMIUM (default /usr/bin/chromium).

import { spawn } from "node:child_process";
import { createHash, randomBytes } from "node:crypto";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const program = process.env.VESK_PROGRAM;
const screenshot = process.env.VESK_SCREENSHOT || path.join(os.tmpdir(), "vesk-web-frontend.png");
const executablePath = process.env.CHROMIUM || "/usr/bin/chromium";

let passed = 0;
let failed = 0;
function check(condition, what) {
  condition ? passed++ : failed++;
  console.log(`${condition ? "ok" : "not ok"} - ${what}`);
}

function unusedPort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitForListening(port, child, log) {
  const deadline = Date.now() + 30000;
  while (Date.now() < deadline) {
    if (child.exitCode !== null)
      throw new Error(`vesk ended early (${child.exitCode}):\n${log()}`);
    if (await fetch(`http://127.0.0.1:${port}/getDocDir`).then(() => true, () => false))
      return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`vesk did not listen on ${port}:\n${log()}`);
}

function digest(bytes) {
  return createHash("sha256").update(bytes).digest("hex");
}

async function main() {
  if (!program || !fs.existsSync(program))
    throw new Error("VESK_PROGRAM must name the vesk binary");

  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "vesk-e2e-web-"));
  const home = path.join(scratch, "home");
  const documents = path.join(home, "Documents");
  const photos = path.join(documents, "Photos");
  fs.mkdirSync(photos, { recursive: true });
  // Bytes of every value, NUL included.
  const sample = Buffer.concat([Buffer.from([0, 0, 1, 255, 0]), randomBytes(200000), Buffer.alloc(64)]);
  fs.writeFileSync(path.join(photos, "sample data.bin"), sample);
  fs.writeFileSync(path.join(photos, "notes.txt"), "Notes\n");
  const hostileName = "<img src=x onerror=window.__owned=1>&amp;.txt";
  fs.writeFileSync(path.join(photos, hostileName), "x");
  fs.writeFileSync(path.join(documents, "readme.md"), "# Hello\n");

  const port = await unusedPort();
  let output = "";
  const child = spawn(program, ["--quick-action", "fileserver"], {
    env: { ...process.env, VESK_HOME: home, VESK_WIFI_INTERFACE: "lo", VESK_PORT: String(port) },
    stdio: ["ignore", "pipe", "pipe"],
  });
  child.stdout.on("data", (d) => { output += d; });
  child.stderr.on("data", (d) => { output += d; });
  const exited = new Promise((resolve) => child.once("exit", (code, signal) => resolve({ code, signal })));

  const userDataDir = path.join(scratch, "chromium-profile");
  fs.mkdirSync(userDataDir);
  let context;
  try {
    await waitForListening(port, child, () => output);
    context = await chromium.launchPersistentContext(userDataDir, {
      executablePath,
      headless: true,
      acceptDownloads: true,
      viewport: { width: 1100, height: 720 },
      args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--no-first-run"],
    });
    const page = context.pages()[0] || await context.newPage();
    const dialogs = [];
    page.on("dialog", (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
    const pageErrors = [];
    page.on("pageerror", (error) => pageErrors.push(String(error)));

    await page.goto(`http://127.0.0.1:${port}/`);
    check(await page.title() === "Vesk", "the page has its title");

    // It opens on Documents, with the folder's entries and their facts.
    const photosRow = page.locator("#entries .entry.folder", { hasText: "Photos" });
    await photosRow.waitFor({ timeout: 15000 });
    check(await page.locator("#crumbs").innerText().then((t) => t.includes("Documents")), "the path shows the Documents folder");
    check(await page.locator("#entries .entry", { hasText: "readme.md" }).count() === 1, "files of Documents are listed");

    // Browse into the folder.
    await photosRow.click();
    const sampleRow = page.locator("#entries .entry", { hasText: "sample data.bin" });
    await sampleRow.waitFor({ timeout: 15000 });
    check(await page.locator("#crumbs li.current").innerText() === "Photos", "the path follows into the folder");
    check(await page.locator("#count").innerText() === "3 items", "the folder's item count is shown");

    // Hostile names are text, never markup.
    const hostileRow = page.locator("#entries .entry .name", { hasText: "onerror" });
    await hostileRow.waitFor({ timeout: 15000 });
    check(await hostileRow.innerText() === hostileName, "a name made of markup shows as its own text");
    check(await page.locator("#entries img[src='x']").count() === 0, "no element was made from a name");

    // Icons arrive with the file facts.
    const notesIcon = page.locator("#entries .entry", { hasText: "notes.txt" }).locator("img.icon[src^='data:image/png;base64,']");
    await notesIcon.waitFor({ timeout: 15000 });
    check(await notesIcon.evaluate((img) => img.complete && img.naturalWidth > 0), "entries get their icons, decoded as pictures");

    // Select the file and download it.
    await sampleRow.click();
    await page.locator("#details:not([hidden]) #download:not([hidden])").waitFor({ timeout: 15000 });
    check(await page.locator("#details-name").innerText() === "sample data.bin", "the details name the selected file");
    const href = await page.locator("#download").getAttribute("href");
    check(href === `/getFile?path=${encodeURIComponent(path.join(photos, "sample data.bin"))}&type=raw`, "the download URL is percent-encoded");
    const [download] = await Promise.all([page.waitForEvent("download"), page.locator("#download").click()]);
    const saved = path.join(scratch, "downloaded.bin");
    await download.saveAs(saved);
    const bytes = fs.readFileSync(saved);
    check(bytes.length === sample.length && digest(bytes) === digest(sample), "the downloaded bytes match the file");
    check(download.suggestedFilename() === "sample data.bin", "the download carries the file's name");

    fs.mkdirSync(path.dirname(screenshot), { recursive: true });
    await page.screenshot({ path: screenshot, fullPage: true });
    console.log(`screenshot: ${screenshot}`);

    // The other places answer too.
    await page.locator("#go-bookmarks").click();
    await page.locator("#empty:not([hidden])").waitFor({ timeout: 15000 });
    check(await page.locator("#empty").innerText() === "No bookmarks yet.", "the bookmarks view says when there are none");

    check(dialogs.length === 0, "no dialog was opened");
    check(await page.evaluate(() => window.__owned === undefined), "no script ran from a file name");
    check(pageErrors.length === 0, `no script errors (${pageErrors.join("; ")})`);
  } finally {
    if (context)
      await context.close();
    child.kill("SIGTERM");
    const { code } = await exited;
    check(code === 0, `vesk exits cleanly after SIGTERM (${code})`);
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

main().catch((error) => {
  failed++;
  console.log(`not ok - ${error.stack || error}`);
}).finally(() => {
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
});
