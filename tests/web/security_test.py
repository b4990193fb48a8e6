"""Requests a hostile page or user could make, without a browser, through a real web server
(lighttpd with the example configuration the Debian package ships: Basic authentication on
/atsms/ and /cgi-bin/atsms-web; /plain/ is the same bridge where the server authenticates nobody). Each one gets its refusal, and the simulated modem's log shows
that none of them reached the modem."""

import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BRIDGE = "/cgi-bin/atsms-web"
JSON = {"Content-Type": "application/json"}


def body(**members):
    return json.dumps(members).encode()


USSD = body(op="ussd", code="*100#")
# name, method, path, headers, body, server authenticates, HTTP status, words of the error
REFUSALS = [
    ("no REMOTE_USER, a read", "GET", "/plain/atsms-web?op=list&storage=sim", {}, None, False, 403,
     "did not authenticate"),
    ("no REMOTE_USER, an action", "POST", "/plain/atsms-web", JSON, USSD, False, 403, "did not authenticate"),
    ("a cross-origin POST", "POST", BRIDGE, {**JSON, "Origin": "http://evil.example"}, USSD, True, 403,
     "another site"),
    ("a cross-origin POST, same host on another port", "POST", BRIDGE,
     {**JSON, "Origin": "http://127.0.0.1:1"}, USSD, True, 403, "another site"),
    ("a cross-site fetch without Origin", "POST", BRIDGE, {**JSON, "Sec-Fetch-Site": "cross-site"}, USSD, True,
     403, "another site"),
    ("a GET that tries to delete all", "GET", BRIDGE + "?op=delete_all&storage=sim", {}, None, True, 405,
     "POST"),
    ("a GET that tries USSD", "GET", BRIDGE + "?op=ussd&code=*100%23", {}, None, True, 400, "query"),
    ("a form-encoded POST", "POST", BRIDGE, {"Content-Type": "application/x-www-form-urlencoded"},
     b"op=delete_all&storage=sim", True, 415, "application/json"),
    ("a text/plain POST with a JSON body", "POST", BRIDGE, {"Content-Type": "text/plain"}, USSD, True, 415,
     "application/json"),
    ("a PUT", "PUT", BRIDGE, JSON, USSD, True, 405, "GET"),
    ("number ;reboot", "POST", BRIDGE, JSON, body(op="send", number="+49;reboot", text="Hi"), True, 400,
     "phone number"),
    ("number $(id)", "POST", BRIDGE, JSON, body(op="send", number="$(id)", text="Hi"), True, 400, "phone number"),
    ("USSD code with a command after it", "POST", BRIDGE, JSON, body(op="ussd", code="*100#\r\nAT+CMGD=1,4\r"),
     True, 400, "USSD code"),
    ("index ;reboot", "POST", BRIDGE, JSON, body(op="delete", storage="sim", index="3;reboot",
                                                 id="0123456789abcdef"), True, 400, "index"),
    ("id $(id)", "POST", BRIDGE, JSON, body(op="delete", storage="sim", index=3, id="$(id)0123456789ab"), True,
     400, "id"),
    ("storage from the request as a port", "POST", BRIDGE, JSON, body(op="delete_all", storage="/dev/ttyUSB0"),
     True, 400, "storage"),
    ("the port in the body", "POST", BRIDGE, JSON, body(op="ussd", code="*100#", port="/dev/ttyS0"), True, 400,
     "unknown member"),
    ("an empty text", "POST", BRIDGE, JSON, body(op="send", number="+4917", text=""), True, 400, "empty"),
    ("a body of 100 KB", "POST", BRIDGE, JSON,
     body(op="send", number="+4917", text="x" * 100 * 1024), True, 413, "longer than"),
]


class Refusals(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bed = harness.TestBed("SM\t1\tREC UNREAD\t+491701234567\t24/05/01,10:20:30+08\tHello\n",
                                  open_page=False)

    @classmethod
    def tearDownClass(cls):
        cls.bed.stop()

    def test_1_each_refusal(self):
        for name, method, path, headers, data, auth, status, words in REFUSALS:
            with self.subTest(name):
                got, answer = self.bed.request(path, method, data, headers, auth=auth)
                self.assertEqual(status, got, answer)
                self.assertIn(words, json.loads(answer)["error"])
        self.assertEqual([], self.bed.commands(), "a refused request reached the modem")

    def test_2_the_same_requests_done_right_reach_the_modem(self):
        # The bed can fail: a proper read and action get through, so an empty log above means refused.
        status, answer = self.bed.request(BRIDGE + "?op=list&storage=sim")
        self.assertEqual(200, status, answer)
        self.assertEqual("Hello", json.loads(answer)["result"]["messages"][0]["text"])
        status, answer = self.bed.request(BRIDGE, "POST", USSD,
                                          {**JSON, "Origin": self.bed.base, "Sec-Fetch-Site": "same-origin"})
        self.assertEqual(200, status, answer)
        self.assertEqual("OK", json.loads(answer)["result"]["msg"])
        self.assertIn('AT+CUSD=1,"AA180C3602",15\\r', self.bed.commands())
        # The server itself keeps the page behind its password.
        self.assertEqual(401, self.bed.request("/atsms/", auth=False)[0])
        self.assertEqual(401, self.bed.request(BRIDGE + "?op=list&storage=sim", auth=False)[0])


if __name__ == "__main__":
    unittest.main(verbosity=2)
