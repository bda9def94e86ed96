#!/usr/bin/python3
"""The twin's console page in a real browser (headless chromium driven by selenium), run inside the twin.

Usage: console_page_test.py URL PASSWORD_SHOWN_NOWHERE NEW_POOL_URL
Logs in (a wrong password first), waits for the four boards, prints their readings as one JSON line
("boards ..."), heats board 2 through the twin's model and waits for the page to show it, checks that no
password is shown, changes pool 1 on the page. Exits non-zero with a message on the first failure.
"""
import json
import socket
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

url, hidden_password, new_pool_url = sys.argv[1:4]
SENSORS = ["outlet_temp1", "inlet_temp2", "outlet_temp2", "inlet_temp1"]
HEATED = 78000


def model(line):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect("/run/kxsim/model.sock")
        s.sendall((line + "\n").encode())
        return s.recv(4096).decode()


def until(what, condition):
    try:
        wait.until(condition)
    except Exception:
        raise AssertionError(f"{what} never came (page status: {text('status')!r}, "
                             f"login: {text('login-error')!r})") from None


# Reads go through one script each: the page rebuilds its tables at every refresh, so an element found first
# and read later may be gone.
def text(element_id):
    return browser.execute_script("const e = document.getElementById(arguments[0]); return e ? e.textContent : ''",
                                  element_id)


def readings(board):
    return browser.execute_script(
        "return Object.fromEntries(arguments[1].map((s) => [s, document.getElementById(`hb${arguments[0]}-${s}`)"
        "?.dataset.millideg ?? '']))", board, SENSORS)


started = time.monotonic()


def step(text):
    print(f"{time.monotonic() - started:6.2f} s {text}", flush=True)


options = webdriver.ChromeOptions()
for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
             "--user-data-dir=" + tempfile.mkdtemp(prefix="console-browser-")]:
    options.add_argument(flag)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
wait = WebDriverWait(browser, 20)
try:
    step("browser started")
    browser.get(url)
    step("page loaded")
    browser.find_element(By.ID, "username").clear()
    browser.find_element(By.ID, "username").send_keys("admin")
    browser.find_element(By.ID, "password").send_keys("not-the-password")
    browser.find_element(By.ID, "login-button").click()
    until("the refusal of a wrong password",
          lambda b: text("login-error") == "Wrong user or password.")
    assert not browser.find_element(By.ID, "console").is_displayed(), "the console shows without a login"

    step("wrong password refused")
    browser.find_element(By.ID, "password").clear()
    browser.find_element(By.ID, "password").send_keys("kxtwin")
    browser.find_element(By.ID, "login-button").click()
    until("four boards with readings", lambda b: all(v for board in range(1, 5) for v in readings(board).values()))
    boards = {f"hash_board{board}": readings(board) for board in range(1, 5)}
    print("boards " + json.dumps(boards, sort_keys=True), flush=True)
    for element_id in ["power-voltage", "power-current", "fan-inlet-duty", "fan-outlet-rpm", "dev-sn"]:
        shown = text(element_id)
        assert shown not in ("", "–"), f"{element_id} is empty"
        print(f"{element_id} {shown}", flush=True)
    pools_text = text("pools")
    assert hidden_password not in browser.page_source, "a pool password is shown"
    assert "••••••" in pools_text, "passwords are not masked: " + pools_text

    step("boards shown")
    model(f"heat 2 {HEATED}")
    until("the heated board's reading", lambda b: text("hb2-outlet_temp1") == f"{HEATED / 1000:.1f}")
    until("the heated board's chart",
          lambda b: b.execute_script("return document.querySelectorAll('#chart-hb2 polyline').length") == 1)
    print("heated " + text("hb4-outlet_temp1"), flush=True)

    step("heated board shown")
    field = browser.find_element(By.ID, "pool1-url")
    field.clear()
    field.send_keys(new_pool_url)
    browser.find_element(By.ID, "pool1-pass").send_keys("console-pass")
    browser.find_element(By.ID, "pools-save").click()
    until("the saved pools", lambda b: text("pools-result") == "saved")
    until("the new pool in the table", lambda b: new_pool_url in text("pool1"))
    assert "console-pass" not in browser.page_source, "the new password is shown"
    print("pools saved", flush=True)
except Exception as e:  # one line saying what failed, for the scenario's report
    print(f"console page: {type(e).__name__}: {str(e).splitlines()[0] if str(e) else ''}", file=sys.stderr)
    sys.exit(1)
finally:
    browser.quit()
