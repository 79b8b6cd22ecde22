# kestro_summary: after the playbook, one line per server of the rollout:
# what the kestro_apply role did there (applied, ok when it had the bundle
# already, would apply in check mode, Failed, or not reached when the
# rollout stopped before its wave), the newest image and how long
# applyKestro ran.
from ansible.plugins.callback import CallbackBase

DOCUMENTATION = """
name: kestro_summary
type: aggregate
short_description: per-server summary of a kestro_apply rollout
description:
  - Prints the outcome, new image name and run time of each server after the playbook.
requirements:
  - enabled through callbacks_enabled (deploy/ansible/ansible.cfg does so)
"""


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "aggregate"
    CALLBACK_NAME = "kestro_summary"
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super().__init__()
        self.hosts = []
        self.outcomes = {}

    def v2_playbook_on_play_start(self, play):
        # Each wave starts the play anew with the inventory restricted to it.
        inventory = play.get_variable_manager()._inventory
        for host in inventory.get_hosts(play.hosts, ignore_restrictions=True):
            if host.name not in self.hosts:
                self.hosts.append(host.name)

    def v2_runner_on_ok(self, result):
        outcome = result._result.get("ansible_facts", {}).get("kestro_apply_outcome")
        if outcome:
            self.outcomes[result._host.get_name()] = outcome

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self.outcomes.setdefault(result._host.get_name(), {"outcome": "Failed"})

    def v2_runner_on_unreachable(self, result):
        self.outcomes.setdefault(result._host.get_name(), {"outcome": "unreachable"})

    def v2_playbook_on_stats(self, stats):
        self._display.banner("KESTRO SUMMARY")
        for name in self.hosts:
            o = self.outcomes.get(name, {"outcome": "not reached"})
            self._display.display("%-30s %-12s %-30s %s" % (
                name, o["outcome"], o.get("image") or "-", o.get("time") or "-"))
