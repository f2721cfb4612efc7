// Debian's Firefox ESR, driven over WebDriver BiDi by puppeteer-core, for the
// page's tests in Python (browser.py): one command a line on standard input,
// one answer a line on standard output, both JSON.
//   {cmd: 'get', url}  {cmd: 'js', script, args}  {cmd: 'pick', paths}
//   {cmd: 'click', id}  {cmd: 'size', width, height}  {cmd: 'screenshot', path}
// Answers {value} or {error}; the first line gives the browser's pid.
import readline from 'node:readline';
import puppeteer from 'puppeteer-core';

const [width, height] = (process.env.SIZE || '1000x900').split('x').map(Number);
const browser = await puppeteer.launch({
  browser: 'firefox',
  protocol: 'webDriverBiDi',
  executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
  headless: true,
  defaultViewport: {width, height},
  extraPrefsFirefox: {
    'browser.download.dir': process.env.DOWNLOADS || '/tmp',
    'browser.download.folderList': 2,
    'browser.download.useDownloadDir': true,
    'browser.helperApps.neverAsk.saveToDisk': 'text/csv',
  },
});
const page = (await browser.pages())[0] || await browser.newPage();
const say = (answer) => process.stdout.write(JSON.stringify(answer) + '\n');

const commands = {
  get: ({url}) => page.goto(url, {waitUntil: 'load'}).then(() => null),
  // The script is a function body, as Selenium's execute_script takes it; it
  // may return a promise. Evaluated by the driver, not by the page's eval.
  js: ({script, args}) => page.evaluate(`(function () { ${script}\n}).apply(null, ${JSON.stringify(args)})`),
  pick: async ({paths}) => {
    const input = await page.$('#file-input');
    await input.uploadFile(...paths);
    return null;
  },
  click: ({id}) => page.click(`#${id}`).then(() => null),
  size: ({width: w, height: h}) => page.setViewport({width: w, height: h}).then(() => null),
  screenshot: ({path}) => page.screenshot({path}).then(() => null),
};

say({value: browser.process().pid});
const lines = readline.createInterface({input: process.stdin});
for await (const line of lines) {
  const {cmd, ...rest} = JSON.parse(line);
  try {
    say({value: (await commands[cmd](rest)) ?? null});
  } catch (e) {
    say({error: String(e && e.message ? e.message : e)});
  }
}
await browser.close();
