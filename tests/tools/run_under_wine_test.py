#!/usr/bin/env python3
"""The runner of Windows tests, with sh standing in for Wine, ended as ctest
ends a test past its timeout (SIGKILL to each of its processes) leaves no
file behind."""
import os
import signal
import subprocess
import tempfile
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "run_under_wine.sh")


class RunUnderWine(unittest.TestCase):
    def test_a_program_ended_past_its_timeout(self):
        with tempfile.TemporaryDirectory() as temporary:
            runner = subprocess.Popen([RUNNER, "sh", "-c", "echo started; exec sleep 600"],
                                      stdout=subprocess.PIPE, env=dict(os.environ, TMPDIR=temporary),
                                      start_new_session=True)
            self.assertEqual(runner.stdout.readline(), b"started\n")
            os.killpg(runner.pid, signal.SIGKILL)
            runner.wait()
            self.assertEqual(os.listdir(temporary), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
