#!/usr/bin/python3
"""The browser editor in headless Chromium or Firefox, through real clicks and keys.

    browser_test.py [--firefox] SERVER WEB SCENARIO

starts the fee server on a temporary SQLite database with a users file, the
web host in front of it (through a relay that can stall), and the browser, then
plays one scenario and checks the database afterwards. Chromium (the default)
goes through Selenium and chromedriver; Firefox (--firefox, or
HARNOLFEES_BROWSER=firefox) through its own WebDriver BiDi socket, see
bidi_firefox.py. Exits 77 (skipped) when Chromium is not installed, or for
Firefox when firefox-esr or python3-websocket is not.
"""
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
ARGS = [a for a in sys.argv[1:] if a != "--firefox"]
FIREFOX = len(ARGS) < len(sys.argv) - 1 or os.environ.get("HARNOLFEES_BROWSER") == "firefox"
BROWSER = "firefox" if FIREFOX else "chromium"
CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
webdriver = bidi = None
if FIREFOX:
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    try:
        import bidi_firefox as bidi
        from bidi_firefox import By, Keys, WebDriverWait
    except ImportError:
        pass
else:
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import WebDriverWait
    except ImportError:
        pass

LIMIT = 60  # seconds any awaited state may take (generous: sanitizer builds, busy machines)


class Relay:
    """A TCP relay to the fee server; while `delay` is set, every piece sent
    towards the server waits that long first."""

    def __init__(self, upstream):
        self.upstream = upstream
        self.delay = 0.0
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.stopped = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self.stopped:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._pipe, args=(client,), daemon=True).start()

    def _pipe(self, client):
        server = socket.create_connection(("127.0.0.1", self.upstream))

        def copy(src, dst, slow):
            try:
                while True:
                    data = src.recv(65536)
                    if not data:
                        break
                    if slow and self.delay:
                        time.sleep(self.delay)
                    dst.sendall(data)
            except OSError:
                pass
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        threading.Thread(target=copy, args=(server, client, False), daemon=True).start()
        copy(client, server, True)

    def close(self):
        self.stopped = True
        self.listener.close()


def start(args, log):
    proc = subprocess.Popen(args, stdout=open(log, "w"), stderr=subprocess.STDOUT)
    deadline = time.time() + LIMIT
    while time.time() < deadline:
        text = open(log).read()
        for word in text.split():
            if word.startswith("127.0.0.1:") or word.startswith("http://127.0.0.1:"):
                return proc, int(word.rstrip("/").rsplit(":", 1)[1].split()[0])
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    proc.kill()
    raise RuntimeError(f"{args[0]} did not start:\n{open(log).read()}")


class Fixture:
    def __init__(self, server_bin, web_bin, web_args=(), server_args=()):
        self.dir = tempfile.mkdtemp(prefix="hf-web-")
        self.db = os.path.join(self.dir, "fees.db")
        users = os.path.join(self.dir, "users.txt")
        with open(users, "w") as f:
            for name, password, read, write in [("clerk", "pw7391", "1,2", "1"),
                                                ("auditor", "look4", "2", "")]:
                line = subprocess.run([server_bin, "--hash-password", name, read, write],
                                      input=password + "\n", capture_output=True, text=True,
                                      check=True).stdout
                f.write(line)
        self.procs = []
        server, port = start([server_bin, "--db", self.db, "--listen", "127.0.0.1:0", "--demo",
                              "--users", users, *server_args], os.path.join(self.dir, "server.log"))
        self.procs.append(server)
        self.relay = Relay(port)
        web, web_port = start([web_bin, "--fee-server", f"http://127.0.0.1:{self.relay.port}/",
                               "--listen", "127.0.0.1:0", "--server-date", "7/15/2005", *web_args],
                              os.path.join(self.dir, "web.log"))
        self.procs.append(web)
        self.url = f"http://127.0.0.1:{web_port}/"
        self.browsers = []
        self.firefox = None

    def browser(self, width=1024, height=720):
        if FIREFOX:
            # One Firefox for the test; each browser a window of its own cookies.
            self.firefox = self.firefox or bidi.Firefox(self.dir, LIMIT)
            b = Browser(self.firefox.window(width, height), self)
            self.browsers.append(b)
            b.d.get(self.url)
            return b
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  f"--window-size={width},{height}", "--user-data-dir=" +
                  tempfile.mkdtemp(dir=self.dir)]:
            options.add_argument(a)
        b = Browser(webdriver.Chrome(service=Service(DRIVER), options=options), self)
        self.browsers.append(b)
        b.d.get(self.url)
        return b

    def rows(self, sql):
        con = sqlite3.connect(self.db)
        try:
            return con.execute(sql).fetchall()
        finally:
            con.close()

    def close(self):
        if not self.procs:
            return []
        for b in self.browsers:
            try:
                b.d.quit()
            except Exception:
                pass
        if self.firefox:
            self.firefox.quit()
        self.relay.close()
        for p in self.procs:
            p.terminate()
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                p.kill()
        self.procs = []
        # What a sanitizer build reported on the way, or at the end.
        complaints = []
        for log in ("server.log", "web.log"):
            text = open(os.path.join(self.dir, log), errors="replace").read()
            for mark in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
                at = text.find(mark)
                if at >= 0:
                    complaints.append(f"{log}: {text[at:at + 2000]}")
        shutil.rmtree(self.dir, ignore_errors=True)
        return complaints


class Browser:
    def __init__(self, driver, fixture):
        self.d = driver
        self.f = fixture

    def el(self, id_):
        return self.d.find_element(By.ID, id_)

    def wait(self, what, why):
        try:
            return WebDriverWait(self.d, LIMIT, poll_frequency=0.05).until(lambda _: what())
        except Exception as e:
            raise AssertionError(f"waited in vain: {why}; status {self.status()!r} ({e!r})")

    def status(self):
        try:
            return self.el("status").text
        except Exception:
            return None

    def sign_in(self, user="clerk", password="pw7391", center=1):
        self.wait(lambda: self.el("signin").is_displayed(), "the sign-in form")
        for id_, text in [("user", user), ("password", password), ("center", str(center))]:
            box = self.el(id_)
            box.clear()
            box.send_keys(text)
        self.el("signinButton").click()

    def signed_in(self, center=1):
        self.sign_in(center=center)
        self.wait(lambda: self.status() == f"Center {center} loaded", "the center loaded")
        self.idle()

    def idle(self):
        """Waits until no action is on its way and the session is not busy."""
        self.wait(lambda: self.d.execute_script(
            "return document.querySelectorAll('#busyShield:not([hidden])').length === 0"),
            "the end of the busy state")
        time.sleep(0.15)

    def tab(self, n):
        self.el(f"tabFees-{n}").click()
        self.wait(lambda: "selected" in self.el(f"tabFees-{n}").get_attribute("class"), f"tab {n}")
        self.idle()

    def button(self, name):
        return self.el(name)

    def caption(self, name):
        return self.el(name).text

    def row_of(self, first_cell):
        # In one go: rows are drawn afresh with every state (and resize).
        return self.d.execute_script("""
            return [...document.querySelectorAll('#gridSpacer .row')].find(
                (r) => r.querySelector('.cell')?.textContent.trim() === arguments[0]) || null;""",
                                     first_cell)

    def click_row(self, first_cell):
        def current():
            # Rows are drawn afresh with every state; one found may be gone.
            try:
                row = self.row_of(first_cell)
                if row is None:
                    return False
                if "current" in (row.get_attribute("class") or ""):
                    return True
                row.click()
            except Exception:
                pass
            return False

        self.wait(current, f"row {first_cell} current")
        self.idle()

    def click_box(self, index):
        """Clicks text box `index` and waits, as a person would look, until the
        control's got-focus has selected its text (typing then replaces it)."""
        box = self.el(f"txtField-{index}")
        box.click()
        self.wait(lambda: self.d.execute_script(
            "const b = arguments[0]; return document.activeElement === b && "
            "b.selectionEnd - b.selectionStart === b.value.length", box),
            f"text box {index} focused with its text selected")
        self.idle()
        return box

    def type_into(self, index, text):
        self.click_box(index).send_keys(text)

    def message(self):
        dlg = self.el("msgbox")
        self.wait(lambda: dlg.get_attribute("open") is not None, "a message box")
        return self.el("msgTitle").text, self.el("msgText").text

    def answer(self, button):
        self.el("msg" + button).click()
        self.wait(lambda: self.el("msgbox").get_attribute("open") is None, "the box closed")
        self.idle()


def check(cond, what):
    if not cond:
        raise AssertionError(what)


# ---- Scenarios ----

def scenario_signin(f):
    b = f.browser()
    b.sign_in(password="wrong")
    b.wait(lambda: "wrong" in b.el("signinError").text, "the refusal of a wrong password")
    b.sign_in(center=3)
    b.wait(lambda: "may not open center 3" in b.el("signinError").text, "center 3 refused")
    b.sign_in(center=1)
    b.wait(lambda: b.status() == "Center 1 loaded", "center 1 loaded")
    b.wait(lambda: b.row_of("Jul 01, 2005") is not None, "the grid shows center 1's fees")
    cookie = b.d.get_cookie("hfsession")
    check(cookie and cookie["httpOnly"] and cookie["sameSite"] == "Strict", f"cookie {cookie}")
    # An action without the page's token is refused.
    code = b.d.execute_script("""
        return fetch('/api/action', {method: 'POST', headers: {'X-HF-Request': '1'},
                     body: new URLSearchParams({do: 'click', name: 'cmdAdd'})}).then(r => r.status);""")
    check(code == 403, f"an action without the token answered {code}")
    check(b.caption("cmdAdd") == "Add", "the forged click did nothing")
    # Signing out ends the session.
    b.el("signoutButton").click()
    b.wait(lambda: b.el("signin").is_displayed(), "signed out")
    b.d.refresh()
    b.wait(lambda: b.el("signin").is_displayed(), "still signed out after a reload")


def scenario_crud(f):
    b = f.browser()
    b.signed_in()

    def add(tab, texts):
        b.tab(tab)
        b.button("cmdAdd").click()
        b.idle()
        for i, t in texts.items():
            b.type_into(i, t)
        b.el(f"txtField-{list(texts)[-1]}").send_keys(Keys.ENTER)
        b.wait(lambda: b.status().startswith("Saved"), f"tab {tab} saved")

    def edit(tab, index, text):
        b.click_row("Jul 15, 2005")
        b.el("grdFees").send_keys(Keys.ENTER)
        b.wait(lambda: b.caption("cmdAdd") == "Save", "editing")
        b.click_box(index).send_keys(text + Keys.ENTER)
        b.wait(lambda: b.status().startswith("Saved"), f"tab {tab} edited")

    def delete(tab):
        b.click_row("Jul 15, 2005")
        b.el("grdFees").send_keys(Keys.DELETE)
        title, _ = b.message()
        check(title == "Harnol", f"the deletion asks first, titled {title!r}")
        b.answer("Yes")
        b.wait(lambda: b.status().startswith("Deleted"), f"tab {tab} deleted")

    renewal = "SELECT RenewalOptionFee FROM RenewalOptionFee WHERE CenterID=1 AND EffectivityDate LIKE '2005-07-15%'"
    value_plus = "SELECT ValuePlusFee, CenterPortion FROM ValuePlusFee WHERE CenterID=1 AND EffectivityDate LIKE '2005-07-15%'"
    taxes = "SELECT Membership, Renewal, Merchandise FROM SalesTax WHERE CenterID=1 AND Type=1 AND EffectivityDate LIKE '2005-07-15%'"

    add(4, {1: "61"})
    check(f.rows(renewal) == [(610000,)], f"renewal option added: {f.rows(renewal)}")
    edit(4, 1, "63")
    check(f.rows(renewal) == [(630000,)], f"renewal option edited: {f.rows(renewal)}")
    delete(4)
    check(f.rows(renewal) == [], "renewal option deleted")

    add(2, {1: "100", 2: "50", 3: "40", 4: "5"})
    check(f.rows(value_plus) == [(1000000, 500000)], f"value plus added: {f.rows(value_plus)}")
    edit(2, 2, "45")
    check(f.rows(value_plus) == [(1000000, 450000)], f"value plus edited: {f.rows(value_plus)}")
    delete(2)
    check(f.rows(value_plus) == [], "value plus deleted")

    add(10, {1: "7.25", 2: "6", 3: "5"})
    check(f.rows(taxes) == [("0.0725", "0.06", "0.05")], f"sales tax added: {f.rows(taxes)}")
    edit(10, 3, "4.5")
    check(f.rows(taxes) == [("0.0725", "0.06", "0.045")], f"sales tax edited: {f.rows(taxes)}")
    delete(10)
    check(f.rows(taxes) == [], "sales tax deleted")


def scenario_validation(f):
    b = f.browser(800, 600)
    b.signed_in()
    before = f.rows("SELECT * FROM ValuePlusFee")
    b.tab(2)
    b.button("cmdAdd").click()
    b.idle()
    for i, t in {1: "100", 2: "60", 3: "40"}.items():
        b.type_into(i, t)
    b.el("txtField-3").send_keys(Keys.ENTER)
    title, text = b.message()
    check(title == "Centers", f"title {title!r}")
    check(text == "The Total of Center Portion and Harnol Portion should be less than Value Plus Fee",
          f"text {text!r}")
    check(b.el("msgOK").is_displayed(), "an OK button")
    # The page takes no other input while the box is open.
    b.el("msgOK").send_keys(Keys.ENTER)
    b.wait(lambda: b.el("msgbox").get_attribute("open") is None, "the box answered by Enter")
    b.idle()
    check(b.caption("cmdAdd") == "Save", "still adding after the refusal")
    check(f.rows("SELECT * FROM ValuePlusFee") == before, "nothing saved")
    # Escape after typing asks first; No keeps the work, Yes drops it.
    b.el("txtField-2").send_keys(Keys.ESCAPE)
    title, text = b.message()
    check(text == "Discard what you typed on this tab?", f"the Escape question {text!r}")
    b.answer("No")
    check(b.caption("cmdAdd") == "Save", "No keeps the add")
    b.el("txtField-2").send_keys(Keys.ESCAPE)
    b.message()
    b.answer("Yes")
    b.wait(lambda: b.caption("cmdAdd") == "Add", "Yes cancels the add")


def scenario_leaving(f):
    b = f.browser()
    b.signed_in()
    renewal = "SELECT RenewalOptionFee FROM RenewalOptionFee WHERE CenterID=1 AND EffectivityDate LIKE '2005-07-15%'"
    b.tab(4)
    b.button("cmdAdd").click()
    b.idle()
    b.type_into(1, "55")
    b.tab(1)
    b.wait(lambda: "unfinished" in b.el("tabFees-4").get_attribute("class"), "tab 4 marked")
    check(b.d.title.startswith("*"), f"the title carries a mark: {b.d.title!r}")
    # Cancel keeps everything; Discard signs out with nothing saved.
    b.el("signoutButton").click()
    b.wait(lambda: b.el("unsaved").get_attribute("open") is not None, "the unsaved question")
    check("Renewal Option Fee" in b.el("unsavedText").text, b.el("unsavedText").text)
    b.el("unsavedCancel").click()
    b.idle()
    check(b.el("editor").is_displayed(), "Cancel stays")
    b.el("reloadButton").click()
    b.wait(lambda: b.el("unsaved").get_attribute("open") is not None, "asked again")
    b.el("unsavedSave").click()
    b.wait(lambda: f.rows(renewal) == [(550000,)], "Save saved the unfinished add")
    b.wait(lambda: b.status() == "Center 1 loaded", "then reloaded")
    b.tab(4)
    b.button("cmdAdd").click()
    b.idle()
    b.type_into(1, "57")
    b.el("signoutButton").click()
    b.wait(lambda: b.el("unsaved").get_attribute("open") is not None, "the unsaved question")
    b.el("unsavedDiscard").click()
    b.wait(lambda: b.el("signin").is_displayed(), "signed out after Discard")
    check(f.rows(renewal) == [(550000,)], "Discard saved nothing")


def scenario_stalled(f):
    b = f.browser()
    b.signed_in()
    renewal = "SELECT RenewalOptionFee FROM RenewalOptionFee WHERE CenterID=1 AND EffectivityDate LIKE '2005-07-15%'"
    b.tab(4)
    b.button("cmdAdd").click()
    b.idle()
    b.type_into(1, "61")
    f.relay.delay = 2.0
    b.el("txtField-1").send_keys(Keys.ENTER)
    b.wait(lambda: b.el("busyShield").is_displayed(), "the busy state")
    check(b.status() == "Saving…", f"status while saving: {b.status()!r}")
    check("wait" in b.d.find_element(By.TAG_NAME, "body").get_attribute("class"), "a busy cursor")
    # A click while busy changes nothing.
    try:
        b.el("tabFees-2").click()
    except Exception:
        pass  # the shield takes the click
    f.relay.delay = 0
    b.wait(lambda: b.status() == "Saved Renewal Option Fee effective Jul 15, 2005", "the outcome")
    # The outcome is shown while the control still ends its wait; the shield
    # goes with the wait.
    b.wait(lambda: not b.el("busyShield").is_displayed(), "no longer busy")
    check("selected" in b.el("tabFees-4").get_attribute("class"), "still on tab 4")
    check(f.rows(renewal) == [(610000,)], "saved once")


def scenario_two_sessions(f):
    a = f.browser()
    b = f.browser()
    a.signed_in()
    b.signed_in()
    for who, fee in [(a, "71"), (b, "72")]:
        who.tab(4)
        who.button("cmdAdd").click()
        who.idle()
        who.type_into(1, fee)
    a.el("txtField-1").send_keys(Keys.ENTER)
    a.wait(lambda: a.status().startswith("Saved"), "the first save")
    b.el("txtField-1").send_keys(Keys.ENTER)
    title, text = b.message()
    check("ERROR" in title, f"the second is refused: {title!r} {text!r}")
    b.answer("OK")
    b.wait(lambda: b.status().startswith("The server refused the change"), "the outcome")
    rows = f.rows("SELECT RenewalOptionFee FROM RenewalOptionFee WHERE CenterID=1 AND "
                  "EffectivityDate LIKE '2005-07-15%'")
    check(rows == [(710000,)], f"the first save stands: {rows}")


def scenario_screenshot(f):
    """The README's picture: not a test; writes HARNOLFEES_SCREENSHOT."""
    width, height = (int(v) for v in os.environ.get("HARNOLFEES_SCREENSHOT_SIZE", "1280x800").split("x"))
    b = f.browser(width, height)
    b.signed_in()
    b.click_row("Jul 01, 2005")
    b.el("grdFees").send_keys(Keys.ENTER)
    b.wait(lambda: b.caption("cmdAdd") == "Save", "editing")
    time.sleep(0.3)
    b.d.save_screenshot(os.environ["HARNOLFEES_SCREENSHOT"])


SCENARIOS = {n[len("scenario_"):]: fn for n, fn in globals().items() if n.startswith("scenario_")}


def main():
    if len(ARGS) != 3 or ARGS[2] not in SCENARIOS:
        print(__doc__ + "\nscenarios: " + " ".join(SCENARIOS), file=sys.stderr)
        return 2
    name = ARGS[2]
    if FIREFOX:
        if not (shutil.which("firefox-esr") and bidi):
            print("skipped: firefox-esr or python3-websocket is not installed")
            return SKIP
    else:
        if not CHROMIUM:
            print("skipped: chromium is not installed")
            return SKIP
        if not (DRIVER and webdriver):
            print("chromium is here but chromium-driver or python3-selenium is not",
                  file=sys.stderr)
            return 1
    f = Fixture(ARGS[0], ARGS[1])
    try:
        SCENARIOS[name](f)
        complaints = f.close()
        if complaints:
            print(f"{name}: FAILED: the sanitizers complained:\n" + "\n".join(complaints),
                  file=sys.stderr)
            return 1
        print(f"{name}: passed")
        return 0
    except Exception as e:
        print(f"{name}: FAILED: {e}", file=sys.stderr)
        for b in f.browsers:
            try:
                print("status:", b.status(), file=sys.stderr)
                b.d.save_screenshot(os.path.join(tempfile.gettempdir(),
                                                 f"hf-web-{BROWSER}-{name}.png"))
            except Exception:
                pass
        for log in ("web.log", "server.log", "firefox.log"):
            if os.path.exists(os.path.join(f.dir, log)):
                print(f"--- {log}\n" + open(os.path.join(f.dir, log), errors="replace").read()[-3000:],
                      file=sys.stderr)
        return 1
    finally:
        f.close()


if __name__ == "__main__":
    sys.exit(main())
