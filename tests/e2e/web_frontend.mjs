// The web front end in headless Chromium against `vesk` (VESK_PROGRAM) on loopback, used as a
// person would, on a desktop and a phone screen (screenshots: VESK_SCREENSHOTS-WxH.png) and by
// keyboard. Run as root, vesk runs as nobody so that a folder can be unreadable to it.

import * as processes from "node:child_process";
import {randomBytes} from "node:crypto";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import {chromium} from "playwright-core";

const program = process.env.VESK_PROGRAM;
const shots = process.env.VESK_SCREENSHOTS || path.join(os.tmpdir(), "vesk-web-frontend");
const timeout = 15000;
const pause = (ms) => new Promise((r) => setTimeout(r, ms));

let passed = 0, failed = 0;
const check = (condition, what) => {
    condition ? passed++ : failed++;
    console.log(`${condition ? "ok" : "not ok"} - ${what}`);
};
// One fault per test; a test that throws is one failure and the others still run.
const test = async (name, body) => {
    console.log(`# ${name}`);
    await body().catch((error) => check(false, `${name}: ${error.stack || error}`));
};
// Polls this process's own record of what the page did.
const until = async (condition) => {
    for (const deadline = Date.now() + timeout; !condition() && Date.now() < deadline;)
        await pause(50);
    return condition();
};

const startVesk = async (home, owner) => {
    const server = net.createServer();
    await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
    const { port } = server.address();
    await new Promise((resolve) => server.close(resolve));
    let output = "";
    const child = processes.spawn(program, [ "--quick-action", "fileserver" ], {
        env : {...process.env, VESK_HOME : home, VESK_WIFI_INTERFACE : "lo", VESK_PORT : String(port) },
        stdio : [ "ignore", "pipe", "pipe" ],
        ...owner,
    });
    [child.stdout, child.stderr].forEach((stream) => stream.on("data", (d) => { output += d; }));
    const exited = new Promise((resolve) => child.once("exit", resolve));
    for (const deadline = Date.now() + 30000; !await fetch(`http://127.0.0.1:${port}/getDocDir`).then(() => true, () => false);) {
        if (child.exitCode !== null || Date.now() > deadline)
            throw new Error(`vesk did not listen on ${port}:\n${output}`);
        await pause(50);
    }
    return { base : `http://127.0.0.1:${port}`, child, exited, output : () => output };
};

async function main()
{
    if (!program || !fs.existsSync(program))
        throw new Error("VESK_PROGRAM must name the vesk binary");
    const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "vesk-e2e-web-"));
    const home = path.join(scratch, "home");
    const [documents, photos, odd, big, locked] = [ "", "Photos", "Odd", "Big", "Locked" ].map((name) => path.join(home, "Documents", name));
    [photos, odd, big, locked].forEach((dir) => fs.mkdirSync(dir, { recursive : true }));
    const sample = Buffer.concat([ Buffer.from([ 0, 0, 1, 255, 0 ]), randomBytes(200000), Buffer.alloc(64) ]);
    const hostileName = "<img src=x onerror=window.__owned=1>&amp;.txt";
    const files = { [`${photos}/sample data.bin`] : sample, [`${photos}/notes.txt`] : "Notes\n", [`${photos}/${hostileName}`] : "x", [`${documents}/readme.md`] : "#", [`${documents}/Agenda.txt`] : "" };
    for (const name of ["a.txt", "b.txt", "victim.txt"])
        files[`${odd}/${name}`] = name;
    for (let i = 0; i < 3000; i++)
        files[`${big}/entry-${String(i).padStart(4, "0")}.txt`] = "";
    Object.entries(files).forEach(([ file, bytes ]) => fs.writeFileSync(file, bytes));
    // Items whose facts cannot be had: a dangling link, a link loop, a name that is not UTF-8.
    for (const [target, link] of [[ "nowhere", "dangling" ], [ "loop-b", "loop-a" ], [ "loop-a", "loop-b" ], [ photos, "to-photos" ]])
        fs.symlinkSync(target, `${odd}/${link}`);
    fs.writeFileSync(Buffer.from(`${odd}/bad\xff name`, "latin1"), "");
    const owner = process.getuid() === 0 ? { uid : 65534, gid : 65534 } : {};
    if (owner.uid)
        processes.execFileSync("chown", [ "-hR", `${owner.uid}:${owner.gid}`, scratch ]);
    fs.chmodSync(locked, 0);

    let vesk, browser;
    const pageErrors = [];
    const newPage = async (width, height) => {
        const phone = width < 500;
        const page = await (await browser.newContext({ viewport : { width, height }, isMobile : phone, hasTouch : phone })).newPage();
        page.on("pageerror", (error) => pageErrors.push(String(error)));
        page.downloads = [];
        page.on("download", (download) => page.downloads.push(download));
        return page;
    };
    const show = async (page, target) => {
        await page.goto("about:blank");
        await page.goto(`${vesk.base}/#path=${encodeURIComponent(target)}`);
        await page.locator("#entries .entry, #notice:not([hidden])").first().waitFor({ timeout });
    };
    // The text of the first visible match, once there is one.
    const seen = (page, selector) => page.locator(`${selector} >> visible=true`).first().innerText({ timeout });
    const shown = (page, selector) => page.locator(selector).isVisible();
    const row = (page, name) => page.locator("#entries .entry", { hasText : name });
    // The name a download after `action` is saved under.
    const saved = async (page, action) => {
        const before = page.downloads.length;
        await action();
        return await until(() => page.downloads.length > before) ? page.downloads[before].suggestedFilename() : "(none)";
    };
    // Holds the file-information requests for names that `hold` accepts, until held.release().
    const holdInfo = async (page, hold) => {
        const held = [];
        await page.route("**/getFileInfo?**", (route) => hold(new URL(route.request().url()).searchParams.get("path").split("/").pop()) ? held.push(route) : route.continue());
        held.release = () => page.unroute("**/getFileInfo?**").then(() => Promise.all(held.map((route) => route.continue().catch(() => {}))));
        return held;
    };

    try {
        vesk = await startVesk(home, owner);
        browser = await chromium.launch({
            executablePath : process.env.CHROMIUM || "/usr/bin/chromium",
            args : [ "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync" ],
        });
        const desk = await newPage(1280, 800);

        await test("browsing, hostile names, download", async () => {
            await desk.goto(`${vesk.base}/`);
            check(await desk.title() === "Vesk" && (await seen(desk, "#crumbs")).includes("Documents"), "the page opens on the Documents folder");
            await desk.locator("#entries .entry.folder", { hasText : "Photos" }).click();
            await row(desk, "sample data.bin").waitFor({ timeout });
            check(await seen(desk, "#crumbs li.current") === "Photos" && await seen(desk, "#count") === "3 items", "the path and count follow into the folder");
            check(await seen(desk, "#entries .name") === hostileName && await desk.locator("#entries img[src='x']").count() === 0, "a name made of markup shows as its own text");
            const icon = row(desk, "notes.txt").locator("img.icon[src^='data:image/png;base64,']");
            check(await icon.evaluate((img) => img.complete && img.naturalWidth > 0), "entries get their icons, decoded as pictures");
            await row(desk, "sample data.bin").click();
            await seen(desk, "#download");
            check(await desk.locator("#download").getAttribute("href") === `/getFile?path=${encodeURIComponent(`${photos}/sample data.bin`)}&type=raw`, "the download link is percent-encoded");
            check(await saved(desk, () => desk.locator("#download").click()) === "sample data.bin", "Download saves the file under its name");
            check(fs.readFileSync(await desk.downloads.at(-1).path()).equals(sample), "the download is the file's bytes");
            await desk.screenshot({ path : `${shots}-1280x800.png` });
            await desk.locator("#go-bookmarks").click();
            check(await seen(desk, "#empty") === "No bookmarks yet.", "the bookmarks view says when there are none");
        });

        await test("details always belong to the selected item", async () => {
            const late = await holdInfo(desk, (name) => name === "b.txt");
            await show(desk, odd);
            for (const bad of ["dangling", "loop-a", "bad\ufffd name"]) {
                await row(desk, "a.txt").click();
                await seen(desk, "#fact-kind:text('TXT file')");
                await row(desk, bad).click();
                check((await seen(desk, "#details-error")).includes("could not be found") && await seen(desk, "#details-name") === bad && !await shown(desk, "#download"), `selecting ${JSON.stringify(bad)} shows it, its failure and no Download`);
            }
            await row(desk, "b.txt").click();
            check(await seen(desk, "#details-name") === "b.txt" && !await shown(desk, "#facts") && !await shown(desk, "#download"), "selecting clears the details before the facts arrive");
            await row(desk, "a.txt").click();
            await late.release();
            await seen(desk, "#entries .entry:has-text('b.txt') .col-kind:text('TXT file')");
            check(await seen(desk, "#details-name") === "a.txt" && await seen(desk, "#fact-kind") === "TXT file", "a late answer for another item is dropped");
            check(await saved(desk, () => desk.locator("#download").click()) === "a.txt", "Download saves the selected file");
        });

        await test("a download that fails is not saved and says why", async () => {
            await row(desk, "victim.txt").click();
            await seen(desk, "#download");
            fs.rmSync(`${odd}/victim.txt`);
            const before = desk.downloads.length;
            await desk.locator("#download").click();
            check((await seen(desk, "#details-error")).includes(`File at path "${odd}/victim.txt" could not be found!`), "the server's message is shown");
            check(desk.downloads.length === before, "nothing is saved");
        });

        await test("a large folder shows only the rows in view and asks facts for them alone", async () => {
            const requests = await holdInfo(desk, () => true);
            const aborted = [];
            desk.on("requestfailed", (request) => aborted.push(request.url()));
            await show(desk, big);
            await pause(300);
            const rows = await desk.locator("#entries .entry").count();
            check(rows > 10 && rows < 60 && await seen(desk, "#count") === "3000 items", `the rows in view exist, no more (${rows})`);
            const first = requests.map((route) => route.request().url());
            check(first.length > 0 && first.length <= 4 && first.every((url) => /entry-00[0-1]\d/.test(url)), `facts are asked a few at a time, for visible rows (${first.length})`);
            await desk.mouse.move(400, 400);
            for (let i = 0; i < 40; i++)
                await desk.mouse.wheel(0, 4000);
            await row(desk, "entry-2999.txt").waitFor({ timeout });
            check(await until(() => first.every((url) => aborted.includes(url))), "requests of rows scrolled away are cancelled");
            check(await until(() => requests.length > first.length), "the rows now in view ask for theirs");
            const pending = requests.slice(first.length).map((route) => route.request().url());
            await desk.locator("#go-up").click();
            await row(desk, "Photos").waitFor({ timeout });
            check(pending.length > 0 && await until(() => pending.every((url) => aborted.includes(url))), "a folder change cancels what is pending");
            await requests.release();
        });

        await test("a phone shows a tapped file's details over the list", async () => {
            const phone = await newPage(390, 844);
            await show(phone, big);
            await row(phone, "entry-0003.txt").tap();
            await seen(phone, "#download");
            const [sheet, button, list] = await Promise.all([ "#details", "#download", "#entries" ].map((s) => phone.locator(s).boundingBox()));
            check(sheet.y < list.y + list.height && sheet.y + sheet.height <= 845 && button.y > sheet.y && button.y + button.height <= 844, "the details and Download rise over the list, on screen");
            await phone.screenshot({ path : `${shots}-390x844.png` });
            check(await saved(phone, () => phone.locator("#download").tap()) === "entry-0003.txt", "Download saves the tapped file");
            await phone.locator("#close-details").tap();
            check(!await shown(phone, "#details"), "the sheet closes");
        });

        await test("the keyboard moves, opens and goes up", async () => {
            // Presses keys in turn; a selector among them waits until it shows.
            const keys = async (...steps) => {
                for (const step of steps)
                    "#.".includes(step[0]) ? await seen(desk, step) : await desk.keyboard.press(step);
            };
            await show(desk, documents);
            await row(desk, "Agenda.txt").click();
            await keys("ArrowDown", "ArrowDown", "ArrowUp");
            check(await seen(desk, "#entries .selected .name") === "Big" && await seen(desk, "#details-name") === "Big", "arrows move the selection");
            await keys("ArrowUp", "#download", "Tab");
            check(await desk.evaluate(() => document.activeElement.id) === "download", "Download comes right after the selected row");
            await keys("Shift+Tab");
            check(await saved(desk, () => keys("Enter")) === "Agenda.txt", "Enter saves a file");
            // Each wait is met only by the folder moved to, not by the one being left.
            // Enter opens only once the folder's facts are in: "#open" shows then, with its name.
            await keys("ArrowDown", "ArrowDown", "ArrowDown", "#details-name:text-is('Odd')", "#open", "Enter", "#crumbs li.current a:text-is('Odd')");
            check(await seen(desk, "#entries .entry .name:text-is('a.txt')") === "a.txt", "Enter opens a folder");
            await keys("Backspace", "#crumbs li.current a:text-is('Documents')", "Alt+ArrowUp", "#crumbs li.current a:text-is('home')");
            check(await seen(desk, "#entries .entry .name:text-is('Documents')") === "Documents", "Backspace and Alt+Up go up");
        });

        await test("links, unreadable folders, paths and deep links read right", async () => {
            await show(desk, `${odd}/a.txt`);
            check(await seen(desk, "#entries .selected .name") === "a.txt" && await seen(desk, "#crumbs li.current") === "Odd" && !await shown(desk, "#notice"), "a deep link to a file opens its folder with the file selected");
            await seen(desk, "#entries .entry:has-text('to-photos') .col-kind:text('Link to folder')");
            check((await seen(desk, "#entries .entry:has-text('to-photos') .col-perm")).startsWith("l"), "a link to a folder is shown as a link");
            await show(desk, `${documents}/./Odd/../Photos/`);
            check(await seen(desk, "#crumbs") === [ "/", ...photos.split("/").slice(1) ].join("\n"), "the path bar shows the normalised path");
            await show(desk, documents);
            await seen(desk, "#entries .entry:has-text('Locked') .col-kind:text('no access')");
            await row(desk, "Locked").click();
            check(await seen(desk, "#empty") === "This folder cannot be read." && (await seen(desk, "#notice")).includes("permisions") && await desk.locator("#count").innerText() === "", "an unreadable folder says so instead of 0 items");
        });

        await test("a download when the server has stopped says so", async () => {
            await show(desk, photos);
            await row(desk, "notes.txt").click();
            await seen(desk, "#download");
            vesk.child.kill("SIGTERM");
            const code = await vesk.exited;
            check(code === 0, `vesk exits cleanly after SIGTERM (${code}): ${vesk.output().slice(-2000)}`);
            const before = desk.downloads.length;
            await desk.locator("#download").click();
            check((await seen(desk, "#details-error")).includes("could not be reached") && desk.downloads.length === before, "the failure is shown, nothing saved");
        });

        check(await desk.evaluate(() => window.__owned === undefined), "no script ran from a file name");
        check(pageErrors.length === 0, `no script errors (${pageErrors.join("; ")})`);
    } finally {
        await browser?.close();
        vesk?.child.kill("SIGTERM");
        await vesk?.exited;
        fs.chmodSync(locked, 0o700);
        fs.rmSync(scratch, { recursive : true, force : true });
    }
}

main().catch((error) => check(false, error.stack || error)).finally(() => {
    console.log(`${passed} passed, ${failed} failed`);
    process.exitCode = failed ? 1 : 0;
});
