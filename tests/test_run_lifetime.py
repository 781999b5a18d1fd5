"""A long `mossbank run` against the stand-in daemon: what the wrapper holds
does not grow with the number of requests it has served, and what it sends
at its end comes in the order the daemon relies on.

The agent is tests/support/replay_agent.py as `claude` (see test_run_restart.py).
"""

import os
import unittest

from support import harness
from test_run_restart import AgentRun, PATIENCE
from test_run_stream import CAT_AFTER_A_LINE, RunStreamCase, agent, big_text


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def mapping_count(pid):
    with open(f"/proc/{pid}/maps") as f:
        return sum(1 for _ in f)


@unittest.skipUnless(os.path.isdir("/proc/self/task"), "needs /proc")
class ManyRequests(AgentRun):
    def ask_quickly(self, command):
        """A request and its outcome word; the records are cleared after
        each, so that thousands of them cost the test nothing more."""
        self.request_ids += 1
        request_id = f"r{self.request_ids}"
        self.stream.send("command", {**command, "requestId": request_id})
        path = f"/api/runs/{self.run_id}/talk-result"
        answer = self.daemon.wait_until(
            lambda: [r for r in self.daemon.requests(path, method="POST")
                     if r.complete and r.json()["requestId"] == request_id], PATIENCE,
            f"the result of {command}")[0].json()
        self.daemon.clear_requests()
        return answer["outcome"]

    def test_threads_and_mappings_stay_flat_over_thousands_of_requests(self):
        self.start("claude")
        self.show("trust-80x24")
        pid = self.term.proc.pid
        # A keys request for a menu that is not on the screen: each one is a
        # job of the run that answers "failed" and presses nothing.
        keys = {"type": "keys", "keys": "1", "expect": {"signature": "no such menu", "selected": 0}}
        for _ in range(100):
            self.assertEqual(self.ask_quickly(keys), "failed")
        threads, mappings = thread_count(pid), mapping_count(pid)
        for _ in range(2000):
            self.assertEqual(self.ask_quickly(keys), "failed")
        # A thread kept until the run ends would leave its stack mapped:
        # two mappings for each request served.
        self.assertLessEqual(thread_count(pid), threads + 2)
        self.assertLessEqual(mapping_count(pid), mappings + 40)
        self.nothing_more_typed("")


class TheEnd(RunStreamCase):
    def test_the_output_streams_end_comes_before_the_delete(self):
        path = os.path.join(self.tmp, "out.txt")
        with open(path, "wb") as f:
            f.write(big_text(1 << 20))
        term = self.start(agent(CAT_AFTER_A_LINE) + [path])
        self.command_stream().send("command", {"type": "watch", "join": "t"})
        stream = self.daemon.outputs.wait_open(timeout=10)
        stream.request.wait_body(13)
        term.write("\r")
        term.expect("--end of output--", timeout=60)
        term.write("\r")
        self.assertEqual(term.wait(20), 0)
        delete = self.daemon.wait_request(f"/api/runs/{self.run_id()}", method="DELETE", timeout=10)
        (stream,) = self.wait_streams_over()
        self.assertLess(stream.request.end_time, delete.time)


if __name__ == "__main__":
    unittest.main()
