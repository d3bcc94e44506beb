# Copyright (c) 2026 The Brisquel developers
# MIT License (see LICENSE in the Brisquel source tree)
"""Runs brisquel-cli --json for the collection's modules."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

from ansible.module_utils.parsing.convert_bool import boolean

# The --json documents these modules read: booleans and null for yes, no and
# "not said", and "schema": 2 at the top.
SCHEMA = 2
NEEDS = ('schema %d (brisquel-cli from the brisquel package this collection came with, '
         'or later)' % SCHEMA)

SIM_OPTION = dict(type='raw')
CLI_OPTION = dict(type='path')


def sim_arguments(value):
    if value is None:
        return []
    if not isinstance(value, bool):
        try:
            value = boolean(value)
        except TypeError:
            return ['--sim=' + str(value)]
    return ['--sim'] if value else []


def tool_message(rc, doc, stderr):
    """The command line's own words for why it stopped."""
    if doc.get('errors'):
        return '; '.join(doc['errors'])
    if doc.get('log'):
        return doc['log'][-1]
    lines = [line for line in stderr.splitlines() if line.strip()]
    return lines[-1] if lines else 'brisquel-cli exited with %d' % rc


class Cli:
    def __init__(self, module):
        self.module = module
        program = module.params['cli'] or module.get_bin_path('brisquel-cli', required=True)
        self.base = [program] + sim_arguments(module.params['sim']) + ['--json']

    def run(self, arguments, **result):
        rc, out, err = self.module.run_command(self.base + arguments)
        # Its warnings (a check overridden by force, a suspect count register) are on stderr only.
        for line in err.splitlines():
            warning = line.partition(': warning: ')[2]
            if warning:
                self.module.warn(warning)
        try:
            doc = json.loads(out)
        except ValueError:
            doc = None
        if not isinstance(doc, dict):
            self.module.fail_json(msg='%s gave no JSON (exit %d): %s'
                                  % (self.base[0], rc, (err or out).strip()), exit_code=rc, **result)
        if doc.get('schema') != SCHEMA:
            self.module.fail_json(msg='%s speaks JSON schema %s; this collection needs %s'
                                  % (self.base[0], doc.get('schema', 1), NEEDS), **result)
        return rc, doc, err
