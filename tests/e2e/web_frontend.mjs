// The web front end in headless Chromium against the real `vesk` program on loopback, used as a
// person would: browse, select, download, on a desktop and a phone screen and by keyboard.
// Screenshots at 1280 x 800 and 390 x 844 are saved for people to look at.
//
// Environment: VESK_PROGRAM (the vesk binary), VESK_BUNDLE (its bundle), VESK_SCREENSHOTS (path
// prefix of the screenshots), CHROMIUM (default /usr/bin/chromium). Run as root, the program
// runs as nobody so that a folder can be unreadable to it.

import {execFileSync,
    spawn} from "node:child_process";
import {createHash,
    randomBytes} from "node:crypto";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import {chromium} from "playwright-core";

const program = process.env.VESK_PROGRAM;
const shots = process.env.VESK_SCREENSHOTS || path.join(os.tmpdir(), "vesk-web-frontend");
const executablePath = process.env.CHROMIUM || "/usr/bin/chromium";
const timeout = 15000;

let passed = 0;
let failed = 0;
function check(condition, what)
{
    condition ? passed++ : failed++;
    console.log(`${condition ? "ok" : "not ok"} - ${what}`);
}

// One fault per test; a test that throws is one failure and the others still run.
async function test(name, body)
{
    console.log(`# ${name}`);
    await body().catch((error) => check(false, `${name}: ${error.stack || error}`));
}

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

async function startVesk(home, owner)
{
    const port = await unusedPort();
    let output = "";
    const child = spawn(program, [ "--quick-action", "fileserver" ], {
        env : {...process.env, VESK_HOME : home, VESK_WIFI_INTERFACE : "lo", VESK_PORT : String(port) },
        stdio : [ "ignore", "pipe", "pipe" ],
        ...owner,
    });
    child.stdout.on("data", (d) => { output += d; });
    child.stderr.on("data", (d) => { output += d; });
    const exited = new Promise((resolve) => child.once("exit", (code) => resolve(code)));
    const deadline = Date.now() + 30000;
    while (!await fetch(`http://127.0.0.1:${port}/getDocDir`).then(() => true, () => false)) {
        if (child.exitCode !== null || Date.now() > deadline)
            throw new Error(`vesk did not listen on ${port}:\n${output}`);
        await new Promise((r) => setTimeout(r, 50));
    }
    return { base : `http://127.0.0.1:${port}`, child, exited };
}

// Polls a condition of this process's own state (what the page did shows up in events).
async function until(condition)
{
    for (const deadline = Date.now() + timeout; !condition() && Date.now() < deadline;)
        await new Promise((r) => setTimeout(r, 50));
    return condition();
}

function digest(bytes)
{
    return createHash("sha256").update(bytes).digest("hex");
}

async function main()
{
    if (!program || !fs.existsSync(program))
        throw new Error("VESK_PROGRAM must name the vesk binary");

    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "vesk-e2e-web-"));
    const home = path.join(scratch, "home");
    const documents = path.join(home, "Documents");
    const photos = path.join(documents, "Photos");
    const odd = path.join(documents, "Odd");
    const big = path.join(documents, "Big");
    for (const dir of [photos, odd, big, path.join(documents, "Locked")])
        fs.mkdirSync(dir, { recursive : true });
    // Bytes of every value, NUL included.
    const sample = Buffer.concat([ Buffer.from([ 0, 0, 1, 255, 0 ]), randomBytes(200000), Buffer.alloc(64) ]);
    fs.writeFileSync(path.join(photos, "sample data.bin"), sample);
    fs.writeFileSync(path.join(photos, "notes.txt"), "Notes\n");
    const hostileName = "<img src=x onerror=window.__owned=1>&amp;.txt";
    fs.writeFileSync(path.join(photos, hostileName), "x");
    fs.writeFileSync(path.join(documents, "readme.md"), "# Hello\n");
    // Items whose facts cannot be had: a dangling link, a link loop, a name that is not UTF-8.
    for (const name of ["a.txt", "b.txt", "victim.txt"])
        fs.writeFileSync(path.join(odd, name), name);
    fs.symlinkSync("nowhere", path.join(odd, "dangling"));
    fs.symlinkSync("loop-b", path.join(odd, "loop-a"));
    fs.symlinkSync("loop-a", path.join(odd, "loop-b"));
    fs.writeFileSync(Buffer.from(`${odd}/bad\xff name`, "latin1"), "");
    fs.symlinkSync(photos, path.join(odd, "to-photos"));
    for (let i = 0; i < 3000; i++)
        fs.closeSync(fs.openSync(path.join(big, `entry-${String(i).padStart(4, "0")}.txt`), "w"));
    const owner = process.getuid() === 0 ? { uid : 65534, gid : 65534 } : {};
    if (owner.uid !== undefined)
        execFileSync("chown", [ "-hR", `${owner.uid}:${owner.gid}`, scratch ]);
    fs.chmodSync(path.join(documents, "Locked"), 0);

    let vesk, browser;
    const pageErrors = [];
    async function newPage(width, height)
    {
        const phone = width < 500;
        const context = await browser.newContext({ viewport : { width, height }, isMobile : phone, hasTouch : phone, acceptDownloads : true });
        const page = await context.newPage();
        page.on("dialog", (dialog) => { pageErrors.push(`dialog ${dialog.message()}`); dialog.dismiss(); });
        page.on("pageerror", (error) => pageErrors.push(String(error)));
        page.downloads = [];
        page.on("download", (download) => page.downloads.push(download));
        return page;
    }
    const show = async (page, target) => {
        await page.goto("about:blank");
        await page.goto(`${vesk.base}/#path=${encodeURIComponent(target)}`);
        await page.locator("#entries .entry, #notice:not([hidden])").first().waitFor({ timeout });
    };
    const download = async (page, action) => {
        const before = page.downloads.length;
        await action();
        return await until(() => page.downloads.length > before) ? page.downloads[before] : { suggestedFilename : () => "(none)" };
    };
    const row = (page, name) => page.locator("#entries .entry", { hasText : name });
    const text = (page, selector) => page.locator(selector).innerText();
    const shown = (page, selector) => page.locator(selector).isVisible();
    // Holds the file-information requests for names that `hold` accepts until release().
    async function holdInfo(page, hold)
    {
        const held = [];
        const pattern = "**/getFileInfo?**";
        await page.route(pattern, (route) => {
            const name = decodeURIComponent(new URL(route.request().url()).searchParams.get("path")).split("/").pop();
            hold(name) ? held.push(route) : route.continue();
        });
        return { held, release : async () => {
                    await page.unroute(pattern);
                    await Promise.all(held.map((route) => route.continue().catch(() => {})));
                } };
    }

    try {
        vesk = await startVesk(home, owner);
        browser = await chromium.launch({
            executablePath,
            args : [ "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync" ],
        });
        const desk = await newPage(1280, 800);

        await test("browsing, hostile names, download", async () => {
            await desk.goto(`${vesk.base}/`);
            check(await desk.title() === "Vesk", "the page has its title");
            await row(desk, "Photos").waitFor({ timeout });
            check((await text(desk, "#crumbs")).includes("Documents"), "it opens on the Documents folder");
            await desk.locator("#entries .entry.folder", { hasText : "Photos" }).click();
            await row(desk, "sample data.bin").waitFor({ timeout });
            check(await text(desk, "#crumbs li.current") === "Photos" && await text(desk, "#count") === "3 items", "the path and count follow into the folder");
            check(await text(desk, "#entries .name >> nth=0") === hostileName && await desk.locator("#entries img[src='x']").count() === 0,
                "a name made of markup shows as its own text");
            const icon = row(desk, "notes.txt").locator("img.icon[src^='data:image/png;base64,']");
            await icon.waitFor({ timeout });
            check(await icon.evaluate((img) => img.complete && img.naturalWidth > 0), "entries get their icons, decoded as pictures");
            await row(desk, "sample data.bin").click();
            await desk.locator("#download:visible").waitFor({ timeout });
            check(await desk.locator("#download").getAttribute("href") === `/getFile?path=${encodeURIComponent(path.join(photos, "sample data.bin"))}&type=raw`,
                "the download link is percent-encoded");
            const saving = await download(desk, () => desk.locator("#download").click());
            const saved = path.join(scratch, "downloaded.bin");
            await saving.saveAs(saved);
            check(digest(fs.readFileSync(saved)) === digest(sample) && saving.suggestedFilename() === "sample data.bin",
                "the download is the file's bytes under its name");
            await desk.screenshot({ path : `${shots}-1280x800.png` });
            await desk.locator("#go-bookmarks").click();
            await desk.locator("#empty:visible").waitFor({ timeout });
            check(await text(desk, "#empty") === "No bookmarks yet.", "the bookmarks view says when there are none");
        });

        await test("details always belong to the selected item", async () => {
            const late = await holdInfo(desk, (name) => name === "b.txt");
            await show(desk, odd);
            for (const bad of ["dangling", "loop-a", "bad\ufffd name"]) {
                await row(desk, "a.txt").click();
                await desk.locator("#fact-kind:text('TXT file')").waitFor({ timeout });
                await row(desk, bad).click();
                await desk.locator("#details-error:visible").waitFor({ timeout });
                check(await text(desk, "#details-name") === bad && !await shown(desk, "#download") && (await text(desk, "#details-error")).includes("could not be found"),
                    `selecting ${JSON.stringify(bad)} shows it, its failure and no Download`);
            }
            await row(desk, "b.txt").click();
            check(await text(desk, "#details-name") === "b.txt" && !await shown(desk, "#facts") && !await shown(desk, "#download"),
                "selecting clears the details before the facts arrive");
            await row(desk, "a.txt").click();
            await late.release();
            await row(desk, "b.txt").locator(".col-kind:text('TXT file')").waitFor({ timeout });
            check(await text(desk, "#details-name") === "a.txt" && await text(desk, "#fact-kind") === "TXT file", "a late answer for another item is dropped");
            check((await download(desk, () => desk.locator("#download").click())).suggestedFilename() === "a.txt", "Download saves the selected file");
        });

        await test("a download that fails is not saved and says why", async () => {
            const before = desk.downloads.length;
            await row(desk, "victim.txt").click();
            await desk.locator("#download:visible").waitFor({ timeout });
            fs.rmSync(path.join(odd, "victim.txt"));
            await desk.locator("#download").click();
            await desk.locator("#details-error:visible").waitFor({ timeout });
            check((await text(desk, "#details-error")).includes(`File at path "${path.join(odd, "victim.txt")}" could not be found!`),
                "the server's message is shown");
            check(desk.downloads.length === before, "nothing was saved");
        });

        await test("a large folder shows only the rows in view and asks facts for them alone", async () => {
            const requests = await holdInfo(desk, () => true);
            const aborted = [];
            desk.on("requestfailed", (request) => aborted.push(request.url()));
            await show(desk, big);
            await desk.waitForTimeout(300);
            const rows = await desk.locator("#entries .entry").count();
            check(rows > 10 && rows < 60 && await text(desk, "#count") === "3000 items", `the rows in view exist, no more (${rows})`);
            const first = requests.held.map((route) => route.request().url());
            check(first.length > 0 && first.length <= 4 && first.every((url) => /entry-00[0-1]\d/.test(url)),
                `facts are asked a few at a time, for visible rows (${first.length})`);
            await desk.mouse.move(400, 400);
            for (let i = 0; i < 40; i++)
                await desk.mouse.wheel(0, 4000);
            await row(desk, "entry-2999.txt").waitFor({ timeout });
            check(await until(() => first.every((url) => aborted.includes(url))), "requests of rows scrolled away are cancelled");
            check(await until(() => requests.held.length > first.length), "the rows now in view ask for theirs");
            const pending = requests.held.slice(first.length).map((route) => route.request().url());
            await desk.locator("#go-up").click();
            await row(desk, "Photos").waitFor({ timeout });
            check(pending.length > 0 && await until(() => pending.every((url) => aborted.includes(url))), "a folder change cancels what is pending");
            await requests.release();
        });

        await test("a phone shows a tapped file's details over the list", async () => {
            const phone = await newPage(390, 844);
            await show(phone, big);
            await row(phone, "entry-0003.txt").tap();
            await phone.locator("#download:visible").waitFor({ timeout });
            const box = await phone.locator("#details").boundingBox();
            const button = await phone.locator("#download").boundingBox();
            const list = await phone.locator("#entries").boundingBox();
            check(box && box.y < 844 && box.y + box.height <= 845 && box.y < list.y + list.height, "the details rise over the list");
            check(button && button.y > 0 && button.y + button.height <= 844, "Download is on screen");
            await phone.screenshot({ path : `${shots}-390x844.png` });
            check((await download(phone, () => phone.locator("#download").tap())).suggestedFilename() === "entry-0003.txt", "Download saves the tapped file");
            await phone.locator("#close-details").tap();
            check(!await shown(phone, "#details"), "the sheet closes");
        });

        await test("the keyboard moves, opens and goes up", async () => {
            await show(desk, documents);
            await row(desk, "readme.md").click();
            for (const key of ["ArrowUp", "ArrowUp", "ArrowDown"])
                await desk.keyboard.press(key);
            check(await text(desk, "#entries .selected .name") === "Photos" && await text(desk, "#details-name") === "Photos", "arrows move the selection");
            await desk.keyboard.press("ArrowDown");
            await desk.locator("#download:visible").waitFor({ timeout });
            await desk.keyboard.press("Tab");
            check(await desk.evaluate(() => document.activeElement.id) === "download", "Download comes right after the selected row");
            await desk.keyboard.press("Shift+Tab");
            check((await download(desk, () => desk.keyboard.press("Enter"))).suggestedFilename() === "readme.md", "Enter saves a file");
            await desk.keyboard.press("ArrowUp");
            await desk.keyboard.press("ArrowUp");
            await desk.locator("#open:visible").waitFor({ timeout });
            await desk.keyboard.press("Enter");
            await row(desk, "a.txt").waitFor({ timeout });
            check(await text(desk, "#crumbs li.current") === "Odd", "Enter opens a folder");
            await desk.keyboard.press("Backspace");
            await row(desk, "Odd").waitFor({ timeout });
            await desk.keyboard.press("Alt+ArrowUp");
            await row(desk, "Documents").waitFor({ timeout });
            check(await text(desk, "#crumbs li.current") === path.basename(home), "Backspace and Alt+Up go up");
        });

        await test("links, unreadable folders, paths and deep links read right", async () => {
            await show(desk, path.join(odd, "a.txt"));
            await desk.locator("#entries .selected").waitFor({ timeout });
            check(await text(desk, "#crumbs li.current") === "Odd" && await text(desk, "#entries .selected .name") === "a.txt" && !await shown(desk, "#notice"),
                "a deep link to a file opens its folder with the file selected");
            await desk.locator("#entries .entry:has-text('to-photos') .col-kind:text('Link to folder')").waitFor({ timeout });
            check((await text(desk, "#entries .entry:has-text('to-photos') .col-perm")).startsWith("l"), "a link to a folder is shown as a link");
            await show(desk, `${documents}/./Odd/../Photos/`);
            check(await text(desk, "#crumbs") === [ "/", ...photos.split("/").slice(1) ].join("\n"), "the path bar shows the normalised path");
            await show(desk, documents);
            await desk.locator("#entries .entry:has-text('Locked') .col-kind:text('no access')").waitFor({ timeout });
            await row(desk, "Locked").click();
            await desk.locator("#empty:visible").waitFor({ timeout });
            check(await text(desk, "#empty") === "This folder cannot be read." && (await text(desk, "#notice")).includes("permisions") && await text(desk, "#count") === "",
                "an unreadable folder says so instead of 0 items");
        });

        await test("a download when the server has stopped says so", async () => {
            await show(desk, photos);
            await row(desk, "notes.txt").click();
            await desk.locator("#download:visible").waitFor({ timeout });
            vesk.child.kill("SIGTERM");
            check(await vesk.exited === 0, "vesk exits cleanly after SIGTERM");
            const before = desk.downloads.length;
            await desk.locator("#download").click();
            await desk.locator("#details-error:visible").waitFor({ timeout });
            check((await text(desk, "#details-error")).includes("could not be reached") && desk.downloads.length === before, "the failure is shown, nothing saved");
        });

        check(await desk.evaluate(() => window.__owned === undefined), "no script ran from a file name");
        check(pageErrors.length === 0, `no script errors or dialogs (${pageErrors.join("; ")})`);
    } finally {
        await browser?.close();
        vesk?.child.kill("SIGTERM");
        await vesk?.exited;
        fs.chmodSync(path.join(documents, "Locked"), 0o700);
        fs.rmSync(scratch, { recursive : true, force : true });
    }
}

main().catch((error) => {
          failed++;
          console.log(`not ok - ${error.stack || error}`);
      })
    .finally(() => {
        console.log(`${passed} passed, ${failed} failed`);
        process.exitCode = failed ? 1 : 0;
    });
