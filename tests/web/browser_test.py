"""The page in a real browser (headless Chromium through Selenium), served by lighttpd, the bridge
running atsms against the simulated modem. Every wait is for a state of the page or the modem,
never a fixed time.

ATSMS_WEB_SCREENSHOT=FILE: save a screenshot of the inbox there (doc/web.png is made so)."""

import os
import re
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

HOSTILE = "<img src=x onerror=document.title='owned'>"
LONG_TEXT = ("Привет! Это длинное сообщение из трёх частей, чтобы проверить, что страница "
             "показывает его целиком, одной записью, а не тремя кусками. 😀 Конец.")
STORE = "\n".join([
    "SM\t1\tREC READ\t+491701234567\t24/05/01,10:20:30+08\tHello!\\nSee you at 8.",
    "SM\t2\tREC UNREAD\t+79161234567\t24/05/02,09:15:00+12\tПривет! Как дела?",
    "SM\t3\tREC UNREAD\tVodafone\t24/05/03,18:42:07+08\tYour balance is 12.34 EUR 👍",
    f"LONG\tSM\t4\tREC UNREAD\t+4917012\t24/05/04,07:00:00+08\tucs2\t{LONG_TEXT}",
    f"SM\t7\tREC UNREAD\t+4915550\t24/05/05,08:00:00+08\t{HOSTILE}",
    "ME\t1\tREC READ\t+441632960123\t24/04/28,21:00:00+04\tPackage delivered.",
    "ME\t2\tREC READ\t+441632960123\t24/04/29,21:00:00+04\tSecond one.",
    "",
])


def ucs2_hex(text):
    return text.encode("utf-16-be").hex().upper()


def swapped(digits):
    digits += "F" if len(digits) % 2 else ""
    return "".join(digits[i + 1] + digits[i] for i in range(0, len(digits), 2))


def chromium():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900", "--lang=en-US"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class PageInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bed = harness.TestBed(STORE, ["--ussd-menu", "--ussd-delay", "50", "--report-delay", "200"])
        try:
            cls.driver = chromium()
        except BaseException:
            cls.bed.stop()
            raise
        cls.driver.get(cls.bed.page)
        cls.wait_state("#messages", "ready")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.bed.stop()

    @classmethod
    def wait(cls, condition, what, timeout=30):
        return WebDriverWait(cls.driver, timeout).until(lambda d: condition(), message=what)

    @classmethod
    def wait_state(cls, selector, state):
        element = cls.driver.find_element(By.CSS_SELECTOR, selector)
        cls.wait(lambda: element.get_attribute("data-state") == state and
                 cls.driver.execute_script("return document.body.dataset.busy") != "1",
                 f"{selector} in state {state} (it is {element.get_attribute('data-state')})")

    def items(self):
        return self.driver.find_elements(By.CSS_SELECTOR, "#messages li.message")

    def item(self, index):
        return self.driver.find_element(By.CSS_SELECTOR, f'#messages li[data-index="{index}"]')

    def text_of(self, element, selector):
        return element.find_element(By.CSS_SELECTOR, selector).get_property("textContent")

    def test_1_inbox_shows_a_mixed_storage(self):
        items = self.items()
        # Newest first, the long message as one item at its lowest index.
        self.assertEqual(["7", "4", "3", "2", "1"], [i.get_attribute("data-index") for i in items])
        self.assertEqual(LONG_TEXT, self.text_of(self.item(4), ".text"))
        self.assertIn("parts", self.text_of(self.item(4), ".parts"))
        self.assertEqual("Привет! Как дела?", self.text_of(self.item(2), ".text"))
        self.assertEqual("Your balance is 12.34 EUR 👍", self.text_of(self.item(3), ".text"))
        self.assertEqual("Hello!\nSee you at 8.", self.text_of(self.item(1), ".text"))
        unread = [i.get_attribute("data-index") for i in items if "unread" in i.get_attribute("class").split()]
        self.assertEqual(["7", "4", "3", "2"], unread)
        self.assertEqual("Vodafone", self.text_of(self.item(3), ".sender"))
        self.assertEqual("3 May 2024 18:42", self.text_of(self.item(3), ".date"))
        shot = os.environ.get("ATSMS_WEB_SCREENSHOT")
        if shot:
            self.driver.save_screenshot(shot)

    def test_2_hostile_text_shows_as_text(self):
        self.assertEqual(HOSTILE, self.text_of(self.item(7), ".text"))
        self.assertEqual([], self.driver.find_elements(By.CSS_SELECTOR, "#messages img"))
        self.assertEqual("SMS", self.driver.title)  # the onerror never ran

    def set_text(self, text):
        area = self.driver.find_element(By.ID, "text")
        self.driver.execute_script(
            "arguments[0].value = arguments[1]; arguments[0].dispatchEvent(new Event('input'));", area, text)

    def counter(self):
        c = self.driver.find_element(By.ID, "counter")
        return (int(c.get_attribute("data-units")), int(c.get_attribute("data-parts")),
                c.get_attribute("data-encoding"), c.text)

    def test_3_counter_counts_as_atsms_sends(self):
        rows = [
            # text, GSM box, units, parts, encoding
            ("x" * 68 + "😀", False, 70, 1, "ucs2"),
            ("x" * 69 + "😀", False, 71, 2, "ucs2"),
            ("x" * 70, False, 70, 1, "ucs2"),
            ("x" * 134, False, 134, 2, "ucs2"),
            ("x" * 135, False, 135, 3, "ucs2"),
            ("x" * 66 + "😀" + "x", False, 69, 1, "ucs2"),
            ("line\\none", False, 8, 1, "ucs2"),  # atsms's escape: one line feed
            ("a" * 160, True, 160, 1, "gsm7"),
            ("a" * 161, True, 161, 2, "gsm7"),
            ("a" * 158 + "€", True, 160, 1, "gsm7"),
            ("a" * 159 + "€", True, 161, 2, "gsm7"),
            ("a" * 306, True, 306, 2, "gsm7"),
            ("a" * 307, True, 307, 3, "gsm7"),
            ("a" * 159 + "😀", True, 161, 3, "ucs2"),  # no place in GSM 7-bit: UCS-2
        ]
        for text, gsm, units, parts, encoding in rows:
            with self.subTest(text=text[:12], length=len(text), gsm=gsm):
                box = self.driver.find_element(By.ID, "gsm7")
                if box.is_selected() != gsm:
                    box.click()
                self.set_text(text)
                got = self.counter()
                self.assertEqual((units, parts, encoding), got[:3])
                self.assertIn("1 part" if parts == 1 else f"{parts} parts", got[3])
        box = self.driver.find_element(By.ID, "gsm7")
        if box.is_selected():
            box.click()

    def test_4_input_limit_holds(self):
        self.set_text("😀" * 300)  # 1200 bytes: more than atsms takes
        value = self.driver.find_element(By.ID, "text").get_property("value")
        self.assertEqual("😀" * (1023 // 4), value)  # cut to whole emoji within 1023 bytes
        self.assertIn("limit reached", self.counter()[3])
        self.set_text("")

    def send(self, number, text, report=False):
        self.driver.find_element(By.ID, "number").clear()
        self.driver.find_element(By.ID, "number").send_keys(number)
        self.set_text(text)
        box = self.driver.find_element(By.ID, "report")
        if box.is_selected() != report:
            box.click()
        self.driver.find_element(By.ID, "send-button").click()
        result = self.driver.find_element(By.ID, "send-result")
        self.wait(lambda: result.get_attribute("data-state") in ("sent", "failed", "refused"), "the send's result")
        self.assertEqual("sent", result.get_attribute("data-state"), result.text)

    def test_5_send_with_an_emoji_reaches_the_modem_as_its_pdu(self):
        text = "Grüße 😀"
        self.send("+491701234567", text)
        pdu = "0001000C91" + swapped("491701234567") + "0008" + "%02X" % len(text.encode("utf-16-be")) + ucs2_hex(text)
        self.assertIn(pdu + "\\x1a", self.bed.commands())
        self.assertIn(f"SMS to +491701234567 dcs=08: {text}\n", self.bed.modem_log())
        # Two parts where the counter said two: 69 x and an emoji.
        self.send("+491701234567", "x" * 69 + "😀")
        log = self.bed.modem_log()
        self.assertIn("message to +491701234567 complete in 2 parts: " + "x" * 69 + "😀", log)
        # A text in quotes arrives with its quotes.
        self.send("+491701234567", "'quoted'")
        self.assertIn("SMS to +491701234567 dcs=08: 'quoted'\n", self.bed.modem_log())

    def test_5b_send_in_gsm7_when_the_box_says_so(self):
        box = self.driver.find_element(By.ID, "gsm7")
        box.click()
        try:
            self.set_text("Hello [world] €")
            self.assertEqual((18, 1, "gsm7"), self.counter()[:3])  # [ ] € count 2
            self.send("+491701234567", "Hello [world] €")
        finally:
            box.click()
        self.assertIn("SMS to +491701234567 dcs=00: Hello [world] €\n", self.bed.modem_log())

    def test_6_delivery_report_arrives(self):
        self.send("+491701234567", "Report, please", report=True)
        first = self.driver.find_element(By.CSS_SELECTOR, "#sent li .report")
        self.assertIn("waiting for the report", first.text)
        self.wait(lambda: "delivered" in self.driver.find_element(By.CSS_SELECTOR, "#sent li .report").text,
                  "the delivery report on the page")

    def test_7_ussd_menu_answered(self):
        reply = self.driver.find_element(By.ID, "ussd-reply")
        answer_form = self.driver.find_element(By.ID, "ussd-answer-form")
        self.driver.find_element(By.ID, "ussd-code").send_keys("*100#")
        self.driver.find_element(By.ID, "ussd-button").click()
        self.wait_state("#ussd-reply", "menu")
        self.assertEqual("Balance menu\n1. Balance\n2. Bundles", reply.get_property("textContent"))
        self.assertTrue(answer_form.is_displayed())
        for choice, state, text in (("1", "menu", "Balance\n1. Main account\n2. Bonus"),
                                    ("2", "done", "Bonus: 100 MB until 31/05")):
            self.driver.find_element(By.ID, "ussd-answer").send_keys(choice)
            self.driver.find_element(By.ID, "ussd-answer-button").click()
            self.wait_state("#ussd-reply", state)
            self.assertEqual(text, reply.get_property("textContent"))
        self.assertFalse(answer_form.is_displayed())

    def test_8_delete_and_delete_refused_after_a_change(self):
        self.driver.find_element(By.ID, "refresh").click()
        self.wait_state("#messages", "ready")
        self.item(3).find_element(By.CSS_SELECTOR, "button.delete").click()
        self.wait(lambda: not self.driver.find_elements(By.CSS_SELECTOR, '#messages li[data-index="3"]'),
                  "message 3 gone from the page")
        self.assertTrue(any(re.fullmatch(r"AT\+CMGD=3\\r", c) for c in self.bed.commands()))
        # Behind the page's back message 2 goes and a new one arrives in its place: the page's
        # delete of the message it showed at index 2 must leave the new one alone.
        behind = self.bed.atsms("sim", "del", "2")
        self.assertEqual((7, ""), (behind.returncode, behind.stderr))  # the highest index left, no failure
        self.bed.sim.send_signal(signal.SIGUSR1)
        harness.wait_for(lambda: re.search(r"^2\t1\t", self.bed.atsms("sim", "list").stdout, re.M),
                         "the new message at index 2")
        deletes = [c for c in self.bed.commands() if c.startswith("AT+CMGD=")]
        note = self.driver.find_element(By.ID, "inbox-note")
        self.item(2).find_element(By.CSS_SELECTOR, "button.delete").click()
        self.wait(lambda: note.get_attribute("data-changed") == "1", "the page to say the message changed")
        self.wait_state("#messages", "ready")
        self.assertIn("changed since the list was loaded", note.text)
        self.assertEqual(deletes, [c for c in self.bed.commands() if c.startswith("AT+CMGD=")])
        self.assertEqual("New message 1", self.text_of(self.item(2), ".text"))

    def test_9_delete_all_behind_a_confirmation(self):
        self.driver.find_element(By.ID, "tab-tel").click()
        self.wait_state("#messages", "ready")
        self.assertEqual(2, len(self.items()))
        deletes = [c for c in self.bed.commands() if c.startswith("AT+CMGD=")]
        self.driver.find_element(By.ID, "delete-all").click()
        confirm = self.driver.find_element(By.ID, "confirm-all")
        self.assertTrue(confirm.is_displayed())
        self.assertIn("Delete all 2 messages in the phone memory?", confirm.text)
        self.driver.find_element(By.ID, "confirm-no").click()
        self.assertFalse(confirm.is_displayed())
        self.assertEqual(deletes, [c for c in self.bed.commands() if c.startswith("AT+CMGD=")])
        self.driver.find_element(By.ID, "delete-all").click()
        self.driver.find_element(By.ID, "confirm-yes").click()
        self.wait_state("#messages", "empty")
        self.assertEqual("No messages in the phone memory.",
                         self.driver.find_element(By.ID, "inbox-note").text)


class FailedRun(unittest.TestCase):
    """A SIM that waits for its PIN: the page shows atsms's one line, not an empty inbox."""

    def test_the_reason_shows(self):
        bed = harness.TestBed(STORE, ["--sim-pin"])
        try:
            driver = chromium()
            try:
                driver.get(bed.page)
                WebDriverWait(driver, 30).until(
                    lambda d: d.find_element(By.ID, "messages").get_attribute("data-state") == "failed",
                    message="the inbox to fail")
                note = driver.find_element(By.ID, "inbox-note")
                self.assertIn("SIM PIN required", note.text)
                self.assertIn("error", note.get_attribute("class").split())
                self.assertEqual([], driver.find_elements(By.CSS_SELECTOR, "#messages li"))
            finally:
                driver.quit()
        finally:
            bed.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
