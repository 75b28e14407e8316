// Sends the text of the form to the native host and shows what comes back.
// Text that parses as JSON is sent as that value, anything else as a string.
// The popup sends once when it opens, and again on every "Send".

const HOST = "vesko.extension";
const api = globalThis.browser ?? globalThis.chrome;

function messageFromText(text) {
  try {
    return JSON.parse(text);
  } catch {
    return text;
  }
}

function show(state, text) {
  const reply = document.getElementById("reply");
  reply.dataset.state = state;
  reply.textContent = text;
}

async function send() {
  const message = messageFromText(document.getElementById("message").value);
  show("waiting", "Sending…");
  try {
    const reply = await api.runtime.sendNativeMessage(HOST, message);
    if (reply && "error" in reply) {
      show("error", `The host answered: ${reply.error}`);
    } else {
      show("done", JSON.stringify(reply?.echo, null, 2));
    }
  } catch (error) {
    show("error", String(error?.message ?? error));
  }
}

document.getElementById("form").addEventListener("submit", (event) => {
  event.preventDefault();
  send();
});
send();
