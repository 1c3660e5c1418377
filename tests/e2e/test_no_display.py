"""Without an X server Wine's CreateDXGIFactory1 fails with 0x887A0004: the factory error
documents of brindle, fennel and tansy."""

import unittest

import harness


def setUpModule():
    global PREFIX
    PREFIX = harness.make_prefix("no-display")


def tearDownModule():
    harness.stop_wineserver(PREFIX)


class NoDisplayTest(unittest.TestCase):
    def test_brindle_reports_the_factory(self):
        out, code, err = harness.run(harness.exe("brindle.exe"), ["--luid-low", "1", "--luid-high", "0"],
                                     env=harness.wine_env(PREFIX))
        self.assertEqual(out, b'{"schema":1,"matched":false,"error":{"code":"dxgi_factory_failed",'
                              b'"message":"CreateDXGIFactory1 failed"}}\n')
        self.assertEqual(code, 1)
        self.assertEqual(err, b"")
        harness.parse_document(out)

    def test_fennel_and_tansy_report_the_factorys_hresult(self):
        for probe in ("fennel.exe", "tansy.exe"):
            out, code, err = harness.run(harness.exe(probe), env=harness.wine_env(PREFIX))
            self.assertEqual(out, b'{"schema":1,"error":{"code":"dxgi_failed",'
                                  b'"message":"CreateDXGIFactory1 failed: 0x887A0004"}}\n', probe)
            self.assertEqual((code, err), (1, b""), probe)


if __name__ == "__main__":
    unittest.main()
