"""Headless Firefox through WebDriver BiDi (Debian's firefox-esr and
python3-websocket, no geckodriver): the part of Selenium's WebDriver API that
browser_test.py uses. Clicks and keys are real input (input.performActions),
never events made up in script.

One Firefox process serves every window of a test; each window has a user
context of its own, so its cookies and storage are its own, as with a
separate Chromium profile.
"""
import base64
import json
import os
import signal
import subprocess
import time

import websocket


class By:
    ID = "id"
    CSS_SELECTOR = "css selector"
    CLASS_NAME = "class name"
    TAG_NAME = "tag name"


class Keys:
    BACKSPACE = "\ue003"
    TAB = "\ue004"
    ENTER = "\ue007"
    CONTROL = "\ue009"
    ESCAPE = "\ue00c"
    DELETE = "\ue017"


class WebDriverException(Exception):
    pass


class NoSuchElementException(WebDriverException):
    pass


class StaleElementReferenceException(WebDriverException):
    pass


class ElementClickInterceptedException(WebDriverException):
    pass


class TimeoutException(WebDriverException):
    pass


# Nothing may leave the machine: every request not to this host goes to a
# proxy port where nothing listens, and the services that call home are off.
PREFS = {
    "network.proxy.type": 1,
    "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
    "network.proxy.ssl": "127.0.0.1", "network.proxy.ssl_port": 9,
    "network.proxy.socks": "127.0.0.1", "network.proxy.socks_port": 9,
    "network.proxy.no_proxies_on": "127.0.0.1,localhost",
    "network.trr.mode": 5,
    "network.dns.disablePrefetch": True,
    "network.prefetch-next": False,
    "network.predictor.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "dom.push.connection.enabled": False,
    "app.update.disabledForTesting": True,
    "app.normandy.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "browser.safebrowsing.downloads.remote.enabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.enabled": False,
    "services.settings.server": "data:,",
    "extensions.update.enabled": False,
    "browser.startup.page": 0,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.aboutwelcome.enabled": False,
    "messaging-system.rsexperimentloader.enabled": False,
    "browser.shell.checkDefaultBrowser": False,
}

# Element helpers run in the page; a node no longer in the document is stale,
# as Selenium has it.
STALE = "stale element reference"
JS_TEXT = """el => {
  if (!el.checkVisibility({visibilityProperty: true})) return '';
  return el.innerText.replace(/\\u00a0/g, ' ').trim();
}"""
JS_DISPLAYED = "el => el.checkVisibility({visibilityProperty: true, opacityProperty: true})"
# Selenium's reading: a boolean property gives "true" or None, a plain
# property its value ("class" that of className), anything else the attribute.
JS_ATTRIBUTE = """(el, name) => {
  const p = el[name === 'class' ? 'className' : name];
  if (typeof p === 'boolean') return p ? 'true' : null;
  if (typeof p === 'string' || typeof p === 'number') return String(p);
  return el.getAttribute(name);
}"""
# WebDriver's click point: scrolled into view, the centre of the part in
# view, and the element (or a part of it) must be what is there.
JS_CLICK_POINT = """el => {
  el.scrollIntoView({block: 'end', inline: 'nearest'});
  const r = el.getClientRects()[0];
  if (!r) throw new Error('element not interactable: it has no box');
  const left = Math.max(0, r.left), right = Math.min(innerWidth, r.right);
  const top = Math.max(0, r.top), bottom = Math.min(innerHeight, r.bottom);
  const x = Math.floor((left + right) / 2), y = Math.floor((top + bottom) / 2);
  const hit = document.elementFromPoint(x, y);
  if (!hit || !(hit === el || el.contains(hit)))
    throw new Error('element click intercepted: the point is covered by ' +
                    (hit ? hit.outerHTML.slice(0, 80) : 'nothing'));
  return [x, y];
}"""
# What WebDriver does before keys: focus the element, the caret at the end.
JS_FOCUS = """el => {
  if (document.activeElement !== el) {
    el.focus();
    try { el.setSelectionRange(el.value.length, el.value.length); } catch (e) {}
  }
  if (document.activeElement !== el) throw new Error('element not interactable: it takes no focus');
}"""


def _locator(by, value):
    css = {By.ID: f'[id="{value}"]', By.CSS_SELECTOR: value, By.CLASS_NAME: "." + value,
           By.TAG_NAME: value}[by]
    return {"type": "css", "value": css}


class Firefox:
    """A headless firefox-esr on a fresh profile in `workdir`, spoken to over
    its WebDriver BiDi socket; every wait ends after `limit` seconds."""

    def __init__(self, workdir, limit=60):
        self.limit = limit
        self.profile = os.path.join(workdir, "firefox-profile")
        os.makedirs(self.profile)
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for k, v in PREFS.items():
                f.write(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n")
        self.log = os.path.join(workdir, "firefox.log")
        env = dict(os.environ, MOZ_HEADLESS="1", MOZ_CRASHREPORTER_DISABLE="1")
        with open(self.log, "w") as log:
            self.proc = subprocess.Popen(
                ["firefox-esr", "--headless", "--no-remote", "--remote-debugging-port=0",
                 "--profile", self.profile], stdin=subprocess.DEVNULL, stdout=log,
                stderr=subprocess.STDOUT, env=env, start_new_session=True)
        self.ws = None
        self.next_id = 0
        self.active = None
        try:
            self.ws = websocket.create_connection(self._address() + "/session",
                                                  timeout=limit, suppress_origin=True)
            self.command("session.new", {"capabilities": {}})
        except BaseException:
            self.quit()
            raise

    def _address(self):
        mark = "WebDriver BiDi listening on "
        deadline = time.time() + self.limit
        while time.time() < deadline:
            with open(self.log, errors="replace") as log:
                for line in log:
                    if line.startswith(mark):
                        # Its socket is on the IPv4 loopback, whichever name it gives.
                        return line[len(mark):].strip().replace("//localhost:", "//127.0.0.1:")
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise WebDriverException("firefox-esr did not start:\n" + open(self.log).read()[-2000:])

    def command(self, method, params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        deadline = time.time() + self.limit
        while time.time() < deadline:
            reply = json.loads(self.ws.recv())
            if reply.get("id") != self.next_id:
                continue  # an event; none is subscribed to, but some may come
            if reply.get("type") == "error":
                raise WebDriverException(f"{method}: {reply['error']}: {reply.get('message')}")
            return reply["result"]
        raise TimeoutException(f"{method} had no answer in {self.limit} s")

    def window(self, width, height):
        """A new window in a user context of its own."""
        # Not the window Firefox starts with: a button there takes no Enter or
        # Space (real key events reach it, its activation does not happen).
        user = self.command("browser.createUserContext", {})["userContext"]
        context = self.command("browsingContext.create", {"type": "window",
                                                          "userContext": user})["context"]
        self.active = context
        self.command("browsingContext.setViewport",
                     {"context": context, "viewport": {"width": width, "height": height}})
        return Driver(self, context, user)

    def activate(self, context):
        # Keys go to the focused window: with two, the one addressed comes first.
        if self.active != context:
            self.command("browsingContext.activate", {"context": context})
            self.active = context

    def quit(self):
        try:
            if self.ws:
                self.ws.settimeout(5)
                self.command("browser.close", {})
        except Exception:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass
        try:  # the whole process group: the content processes too
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
        if self.ws:
            self.ws.close()
            self.ws = None


class Driver:
    """One window, with the calls of Selenium's WebDriver that the tests make."""

    def __init__(self, firefox, context, user):
        self.ff = firefox
        self.context = context
        self.user = user

    def _cmd(self, method, **params):
        return self.ff.command(method, {"context": self.context, **params})

    def get(self, url):
        self._cmd("browsingContext.navigate", url=url, wait="complete")

    def refresh(self):
        self._cmd("browsingContext.reload", wait="complete")

    @property
    def title(self):
        return self.execute_script("return document.title")

    def call(self, function, *args):
        reply = self.ff.command("script.callFunction", {
            "functionDeclaration": function, "target": {"context": self.context},
            "arguments": [_serialize(a) for a in args], "awaitPromise": True,
            "resultOwnership": "none", "serializationOptions": {"maxDomDepth": 0}})
        if reply["type"] == "exception":
            text = reply["exceptionDetails"]["text"]
            if STALE in text:
                raise StaleElementReferenceException(text)
            if "click intercepted" in text:
                raise ElementClickInterceptedException(text)
            raise WebDriverException("script: " + text)
        return self._deserialize(reply["result"])

    def execute_script(self, script, *args):
        return self.call("function() {\n" + script + "\n}", *args)

    def find_elements(self, by, value, start=None):
        params = {"locator": _locator(by, value)}
        if start:
            params["startNodes"] = [{"sharedId": start.id}]
        return [WebElement(self, n["sharedId"]) for n in self._cmd("browsingContext.locateNodes",
                                                                   **params)["nodes"]]

    def find_element(self, by, value, start=None):
        found = self.find_elements(by, value, start)
        if not found:
            raise NoSuchElementException(f"no element {by} {value!r}")
        return found[0]

    def get_cookie(self, name):
        cookies = self.ff.command("storage.getCookies", {
            "filter": {"name": name}, "partition": {"type": "context", "context": self.context}
        })["cookies"]
        if not cookies:
            return None
        c = cookies[0]
        return {"name": c["name"], "value": c["value"]["value"], "domain": c["domain"],
                "path": c["path"], "secure": c["secure"], "httpOnly": c["httpOnly"],
                "sameSite": c["sameSite"].capitalize()}

    def save_screenshot(self, path):
        data = self._cmd("browsingContext.captureScreenshot")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))
        return True

    def actions(self, *sources):
        self.ff.activate(self.context)
        self._cmd("input.performActions", actions=list(sources))

    def quit(self):
        self.ff.command("browser.removeUserContext", {"userContext": self.user})  # and its window

    def _deserialize(self, v):
        kind = v["type"]
        if kind == "node":
            return WebElement(self, v["sharedId"])
        if kind == "array":
            return [self._deserialize(x) for x in v["value"]]
        if kind == "object":
            return {k if isinstance(k, str) else self._deserialize(k): self._deserialize(x)
                    for k, x in v["value"]}
        return v.get("value")  # undefined and null have none


def _serialize(a):
    if isinstance(a, WebElement):
        return {"sharedId": a.id}
    if a is None:
        return {"type": "null"}
    if isinstance(a, bool):
        return {"type": "boolean", "value": a}
    if isinstance(a, (int, float)):
        return {"type": "number", "value": a}
    return {"type": "string", "value": str(a)}


def _keys(text):
    actions = []
    for ch in text:
        actions += [{"type": "keyDown", "value": ch}, {"type": "keyUp", "value": ch}]
    return {"type": "key", "id": "keyboard", "actions": actions}


class WebElement:
    def __init__(self, driver, shared_id):
        self.d = driver
        self.id = shared_id

    def _js(self, function, *args):
        guard = f"(el, ...a) => {{ if (!el.isConnected) throw new Error('{STALE}'); " \
                f"return ({function})(el, ...a); }}"
        return self.d.call(guard, self, *args)

    def find_elements(self, by, value):
        return self.d.find_elements(by, value, self)

    def find_element(self, by, value):
        return self.d.find_element(by, value, self)

    @property
    def text(self):
        return self._js(JS_TEXT)

    def is_displayed(self):
        return self._js(JS_DISPLAYED)

    def get_attribute(self, name):
        return self._js(JS_ATTRIBUTE, name)

    def click(self):
        x, y = self._js(JS_CLICK_POINT)
        self.d.actions({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                        "actions": [{"type": "pointerMove", "x": x, "y": y, "origin": "viewport"},
                                    {"type": "pointerDown", "button": 0},
                                    {"type": "pointerUp", "button": 0}]})

    def send_keys(self, text):
        self._js(JS_FOCUS)
        self.d.actions(_keys(text))

    def clear(self):
        # With keys, as a person would: select all, then delete.
        self._js(JS_FOCUS)
        self.d.actions({"type": "key", "id": "keyboard", "actions": [
            {"type": "keyDown", "value": Keys.CONTROL}, {"type": "keyDown", "value": "a"},
            {"type": "keyUp", "value": "a"}, {"type": "keyUp", "value": Keys.CONTROL},
            {"type": "keyDown", "value": Keys.BACKSPACE}, {"type": "keyUp", "value": Keys.BACKSPACE}]})


class WebDriverWait:
    """Selenium's: polls `until`'s function, not minding a missing element."""

    def __init__(self, driver, timeout, poll_frequency=0.5):
        self.d = driver
        self.timeout = timeout
        self.poll = poll_frequency

    def until(self, condition):
        deadline = time.time() + self.timeout
        while True:
            try:
                value = condition(self.d)
                if value:
                    return value
            except NoSuchElementException:
                pass
            if time.time() > deadline:
                raise TimeoutException(f"nothing came in {self.timeout} s")
            time.sleep(self.poll)
