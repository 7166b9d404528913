"""The configuration companion page, build-web/kurvix.html, in headless Chromium: what the
page's tests and its benchmark share. Needs Debian's Python (selenium).

PAGE           the page (KURVIX_PAGE names another)
start_browser  a headless Chromium whose profile and downloads live in a given folder
device_file    a configuration in the device's format, as the page reads and writes it
"""
import os
import pathlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAGE = pathlib.Path(os.environ.get("KURVIX_PAGE", ROOT / "build-web" / "kurvix.html"))


def start_browser(download_dir):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={download_dir / 'profile'}", "--window-size=1280,1000"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(download_dir / "downloads")})
    return driver


def device_file(*lines, end="\r\n"):
    """A configuration in the device's format: byte-order mark, UTF-16LE, lines joined by end."""
    return b"\xff\xfe" + end.join(lines).encode("utf-16-le")
