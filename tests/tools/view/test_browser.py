# ozr-view's page in headless Chromium, driven through WebDriver, on the
# virtual sensor's boxes scene.
import json
import math
import os
import shutil
import socket
import struct
import time
import urllib.parse
import zlib

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import Select

from conftest import wait_for

OUTPUT = os.environ.get("OZR_VIEW_OUTPUT", ".")


@pytest.fixture(scope="module")
def downloads(tmp_path_factory):
    return tmp_path_factory.mktemp("downloads")


@pytest.fixture(scope="module")
def browser(view, downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1400,1500",
              "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
              "--disable-backgrounding-occluded-windows"]:
        options.add_argument(a)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(60)
    driver.get(view.url)
    yield driver
    driver.quit()


def page(driver, script):
    return driver.execute_script(script)


def drawn(driver):
    return page(driver, "return window.ozrView.drawn")


def wait_drawn(driver, frames=5):
    start = drawn(driver)
    wait_for(lambda: drawn(driver) >= start + frames, what="frames drawn on the page")


def truth_mm(x, y, width, height, depth):
    """Radial distance of a plane at `depth` seen by pixel x, y of the 60-degree pinhole."""
    f = width / 2 / math.tan(math.radians(30))
    u, v = (x - (width - 1) / 2) / f, (y - (height - 1) / 2) / f
    return depth * math.sqrt(1 + u * u + v * v)


def test_distance_view_shows_the_boxes_in_the_previews_colours(view, browser):
    wait_drawn(browser)
    shown = page(browser, """
        const s = window.ozrView, f = s.shown, c = document.getElementById('frame');
        const px = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
        return {w: f.width, h: f.height, range: f.distanceRange, mode: f.mode,
                pixels: Array.from(px), distance: Array.from(f.planes.distance)};""")
    palette = view.request("api/palette")[1]["map"]
    w, h = shown["w"], shown["h"]
    near, far = shown["range"]
    assert shown["mode"] == "dist-amp" and near < 1000 and far > 2900
    # The boxes at 0.9, 1.6 and 2.4 m and the back wall at 3 m, at fractions of the image.
    for fx, fy, depth in [(0.2, 0.5, 900), (0.51, 0.6, 1600), (0.81, 0.35, 2400), (0.36, 0.15, 3000)]:
        x, y = int(fx * w), int(fy * h)
        truth = truth_mm(x, y, w, h, depth)
        i = y * w + x
        assert abs(shown["distance"][i] - truth) < 60, (fx, fy, shown["distance"][i], truth)
        t = min(1.0, max(0.0, 1 - (truth - near) / max(1, far - near)))
        expected = palette[round(t * (len(palette) - 1))]
        colour = shown["pixels"][4 * i:4 * i + 3]
        assert max(abs(a - b) for a, b in zip(colour, expected)) <= 16, (fx, fy, colour, expected)
    legend = browser.find_element("id", "legend").text
    assert f"{near} mm" in legend and "LOW AMPLITUDE" in legend
    stats = {k: browser.find_element("id", "stat-" + k).text for k in
             ["camera-fps", "valid", "median", "centre", "temperature"]}
    assert stats["temperature"].endswith("°C") and stats["median"].endswith("mm"), stats
    # Hovering a pixel of the nearest box shows its distance and amplitude.
    canvas = browser.find_element("id", "frame")
    webdriver.ActionChains(browser).move_to_element_with_offset(
        canvas, int((0.2 - 0.5) * canvas.size["width"]), 0).perform()
    hover = wait_for(lambda: browser.find_element("id", "hover").text.startswith("x ") and
                     browser.find_element("id", "hover").text, what="the hover text")
    hovered_mm = int(hover.split("distance ")[1].split(" ")[0])
    assert abs(hovered_mm - 900) < 150 and "amplitude" in hover, hover
    # The point cloud through the lens.
    browser.find_element("id", "show3d").click()
    wait_for(lambda: page(browser, "const c = window.ozrView.cloud;"
                          "return c && c.geometry.drawRange.count > 10000"), what="a point cloud")
    browser.save_screenshot(os.path.join(OUTPUT, "ozr-view.png"))
    browser.find_element("id", "show3d").click()


def test_a_filter_control_set_on_the_page_reaches_the_camera(view, browser):
    def set_input(name, value):
        field = browser.find_element("id", "control-" + name)
        page(browser, f"const e = document.getElementById('control-{name}'); e.value = '{value}';"
                      "e.dispatchEvent(new Event('change'));")
        return field

    set_input("TEMPORAL_FILTER_ALPHA", 40)
    wait_for(lambda: view.control("TEMPORAL_FILTER_ALPHA") == 40, what="the camera's control")
    browser.find_element("id", "control-MEDIAN_FILTER_ENABLE").click()
    wait_for(lambda: view.control("MEDIAN_FILTER_ENABLE") == 1, what="the median filter")
    browser.find_element("id", "control-MEDIAN_FILTER_ENABLE").click()
    # A value the camera refuses: its message on the page, the field as it was.
    field = set_input("GAIN", 99999)
    message = wait_for(lambda: "refused" in browser.find_element("id", "message").text and
                       browser.find_element("id", "message").text, what="the refusal")
    assert "GAIN" in message and "range" in message
    assert field.get_attribute("value") == str(view.control("GAIN"))


def test_the_mode_switch_changes_the_view(view, browser):
    Select(browser.find_element("id", "mode")).select_by_value("grayscale")
    wait_for(lambda: page(browser, "return window.ozrView.shown.mode") == "grayscale",
             what="a grayscale frame")
    options = [o.text for o in Select(browser.find_element("id", "image")).options]
    assert options == ["grayscale"]
    assert "GAIN" in browser.find_element("id", "controls").text
    assert "MEDIAN_FILTER_ENABLE" not in browser.find_element("id", "controls").text
    Select(browser.find_element("id", "mode")).select_by_value("dist-amp")
    wait_for(lambda: page(browser, "return window.ozrView.shown.mode") == "dist-amp",
             what="a distance frame")


def png_image(path):
    """Width, height, bit depth and colour type of a PNG whose chunks and data check out."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        assert zlib.crc32(kind + body) == struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        header = struct.unpack(">IIBB", body[:10]) if kind == b"IHDR" else header
        idat += body if kind == b"IDAT" else b""
        pos += 12 + length
    w, h, depth, colour = header
    assert len(zlib.decompress(idat)) == h * (1 + w * depth // 8)
    return header


def test_snapshots_download_as_16_bit_pngs(browser, downloads):
    for link in browser.find_elements("css selector", "#snapshots a"):
        if link.text in ("distance.png", "amplitude.png"):
            link.click()
    files = wait_for(lambda: (lambda f: len(f) == 2 and f)(
        [p for p in downloads.iterdir() if p.suffix == ".png"]), what="two downloads")
    for f in files:
        assert png_image(f) == (320, 240, 16, 0), f.name


COUNTS = "const s = window.ozrView; return [s.received, s.frame.number, performance.now()];"


def page_rates(browser, before):
    """Since `before`: the share of the camera's frames the page received, the
    camera's frame rate from the frame numbers, and the page's rates."""
    received, number, now = page(browser, COUNTS)
    return {"received_share": (received - before[0]) / (number - before[1]),
            "camera_fps": 1000 * (number - before[1]) / (now - before[2]),
            "received_fps": page(browser, "return window.ozrView.receivedFps"),
            "drawn_fps": page(browser, "return window.ozrView.drawnFps")}


def test_two_viewers_and_one_that_disconnects(view, browser):
    first = browser.current_window_handle
    before = page(browser, COUNTS)
    time.sleep(5)
    rates = {"one_viewer": page_rates(browser, before)}
    browser.switch_to.new_window("window")
    browser.get(view.url)
    second = browser.current_window_handle
    wait_drawn(browser, 20)
    wait_for(lambda: view.status()["viewers"] == 2, what="two viewers")
    # A third viewer goes away in the middle of a frame.
    u = urllib.parse.urlsplit(view.url)
    s = socket.create_connection((u.hostname, u.port), timeout=60)
    s.sendall(b"GET /stream HTTP/1.1\r\nHost: x\r\n\r\n")
    s.recv(70000)
    s.close()
    # Over a few seconds with both pages open.
    before = {}
    for handle in [first, second]:
        browser.switch_to.window(handle)
        before[handle] = page(browser, COUNTS)
    time.sleep(5)
    for name, handle in [("first", first), ("second", second)]:
        browser.switch_to.window(handle)
        rates[name] = page_rates(browser, before[handle])
    wait_for(lambda: view.status()["viewers"] == 2, timeout=30, what="the third viewer to go")
    browser.close()
    browser.switch_to.window(first)
    with open(os.path.join(OUTPUT, "ozr-view-rates.json"), "w") as out:
        json.dump(rates, out)
    # Both pages receive (nearly) every frame the camera delivers, and draw as
    # many as the screen's refreshes allow.
    for name in ["one_viewer", "first", "second"]:
        assert rates[name]["received_share"] > 0.8 and rates[name]["drawn_fps"] > 5, rates
