// The browsers Vesko reads: how to start each with remote debugging on a
// profile of its own, and what to tell the user about the connection.

export const BROWSERS = {
  chromium: { name: 'Chromium', linux: 'chromium', mac: '/Applications/Chromium.app/Contents/MacOS/Chromium', profile: 'chromium-profile' },
  chrome: { name: 'Google Chrome', linux: 'google-chrome', mac: '/Applications/Google Chrome.app/Contents/MacOS/Google Chrome', profile: 'chrome-profile' },
  firefox: { name: 'Firefox', linux: 'firefox', mac: '/Applications/Firefox.app/Contents/MacOS/firefox', profile: 'firefox-profile' },
};

const DEBUGGING_PORT = 9222;

// The name of the browser the user picked, or "your browser".
export function browserName(choice) {
  return BROWSERS[choice] ? BROWSERS[choice].name : 'your browser';
}

function quoted(path) {
  return /[\s"$`\\]/.test(path) ? `"${path.replace(/(["$`\\])/g, '\\$1')}"` : path;
}

// The shell command that starts `choice` with remote debugging on a profile
// folder of Vesko's own, on `platform` (navigator.platform: "Linux x86_64",
// "MacIntel", ...). Chromium and Chrome refuse remote debugging on their
// default profile; Firefox wants its profile folder to exist.
export function startCommand(choice, platform = 'Linux') {
  const browser = BROWSERS[choice] || BROWSERS.chromium;
  const mac = /^Mac/i.test(platform);
  const folder = mac ? `$HOME/Library/Application Support/Vesko/${browser.profile}` : `$HOME/.local/share/vesko/${browser.profile}`;
  const program = quoted(mac ? browser.mac : browser.linux);
  const profile = `"${folder}"`;
  if (choice === 'firefox') {
    return `mkdir -p ${profile} && ${program} --remote-debugging-port=${DEBUGGING_PORT} --profile ${profile}`;
  }
  return `${program} --remote-debugging-port=${DEBUGGING_PORT} --user-data-dir=${profile}`;
}

// The browser a failed extraction names ("Failed to extract content from
// Firefox: …"), or '' when it names none. The runner names the browser it
// actually reached, which need not be the one picked here.
export function browserInMessage(message) {
  const match = /^Failed to extract content from (.+?)[:.]/.exec(String(message));
  return match && !/^your browser$/i.test(match[1]) ? match[1] : '';
}

// "Found Chromium, 7 tabs in the front window."
export function foundMessage(name, tabCount) {
  return `Found ${name}, ${tabCount} tab${tabCount === 1 ? '' : 's'} in the front window.`;
}

// What to do about a failed connection check, from the message the
// application gave (it names the browser where it knows it).
export function adviceFor(message, choice) {
  const name = browserName(choice);
  if (/doesn.t appear to be running|isn.t running|not running/i.test(message)) {
    return `Start ${name} with the command in step 2, then check again. If it is running already, quit it and start it with that command: remote debugging has to be on from the start.`;
  }
  if (/window|tab/i.test(message)) {
    return `Open a window in ${name} with at least one tab, then check again.`;
  }
  return `Make sure ${name} was started with the command in step 2 and that nothing else uses port ${DEBUGGING_PORT}, then check again.`;
}
