#!/usr/bin/env python3
"""The stand-in web application starts as its own process, answers and stops on SIGTERM.

Everything else about it is exercised by the shell's own tests, which drive it."""
import json
import sys
import unittest
import urllib.request

from e2e_support import StandIn

WEBAPP = sys.argv[1]


class WebappSmoke(unittest.TestCase):
    def test_starts_answers_and_stops(self):
        webapp = StandIn(WEBAPP)
        try:
            control = urllib.request.Request(webapp.base + "/__control", method="POST",
                                             data=b'{"signedIn": true, "badges": {"notifications": 5}}',
                                             headers={"Content-Type": "application/json"})
            self.assertEqual(urllib.request.urlopen(control).status, 204)
            self.assertEqual(json.loads(webapp.get("/api/badges"))["notifications"], 5)
        finally:
            webapp.process.terminate()
            self.assertEqual(webapp.process.wait(10), 0)
            webapp.close()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
