# Copyright (c) 2026 The Brisquel developers
# MIT License (see LICENSE in the Brisquel source tree)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options every module of the collection passes to brisquel-cli.
    DOCUMENTATION = r'''
options:
  sim:
    description:
      - Runs on the simulated bench instead of the machine's drives; C(true) for the default bench,
        or the path of a bench file on the managed host.
      - The bench keeps its drives' firmware under C(XDG_STATE_HOME); set it with C(environment)
        to give a host a bench state of its own.
    type: raw
  cli:
    description:
      - The C(brisquel-cli) program. Found on C(PATH) when not given.
    type: path
'''
