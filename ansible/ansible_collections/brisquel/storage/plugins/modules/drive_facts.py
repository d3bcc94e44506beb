#!/usr/bin/python
# Copyright (c) 2026 The Brisquel developers
# MIT License (see LICENSE in the Brisquel source tree)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: drive_facts
short_description: Gather the ATA/SATA drives of a host with brisquel-cli
version_added: "1.0.0"
description:
  - Runs C(brisquel-cli --json inventory) and returns every drive of C(brisquel-cli list) as
    C(ansible_facts.brisquel_drives), with what its IDENTIFY data says (model, serial, firmware
    revision, world wide name, DOWNLOAD MICROCODE support), the transport, the largest transfer,
    and whether the disk is in use or holds the running system.
  - A drive that does not answer IDENTIFY, or cannot be opened (without root, say), is listed all
    the same, with C(answered) false and the reason in C(problem).
  - Sends IDENTIFY DEVICE only and changes nothing, so it is never C(changed), in check mode or not.
  - Needs C(brisquel-cli) on the managed host whose C(--json) documents carry schema 2, and
    root there for real drives (C(become)).
author:
  - The Brisquel developers
extends_documentation_fragment:
  - brisquel.storage.brisquel_cli
options: {}
notes:
  - Supports check mode; it runs as in a normal run, since it changes nothing.
  - C(brisquel.storage.drive_firmware) takes a drive's I(serial) or I(wwn) from these facts as
    its name, which a renumbered list does not change.
seealso:
  - module: brisquel.storage.drive_firmware
'''

EXAMPLES = r'''
- name: Gather the drives
  brisquel.storage.drive_facts:
  become: true

- name: Show each drive's model and revision
  ansible.builtin.debug:
    msg: "{{ item.path }}: {{ item.model }} {{ item.firmware }} ({{ item.serial }})"
  loop: "{{ ansible_facts.brisquel_drives | selectattr('answered') }}"
  loop_control:
    label: "{{ item.index }}"

- name: Drives that could not be read, and why
  ansible.builtin.debug:
    msg: "{{ item.path }}: {{ item.problem }}"
  loop: "{{ ansible_facts.brisquel_drives | rejectattr('answered') }}"
  loop_control:
    label: "{{ item.index }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts this module sets.
  returned: always
  type: dict
  contains:
    brisquel_drives:
      description:
        - One entry per line of C(brisquel-cli list), in its order; the C(drives) of the
          C(inventory) document (its JSON Schema is C(inventory.schema.json), shipped in
          C(/usr/share/brisquel/schemas/)).
        - Yes and no are booleans; what a drive or the system leaves unsaid is null.
      returned: always
      type: list
      elements: dict
      contains:
        index:
          description: The drive's line in C(brisquel-cli list), as C(drive_firmware)'s I(drive).
          type: int
        busType:
          description: The bus the system names (C(SATA), C(ATA), C(USB), ...).
          type: str
        name:
          description: The system's name for the disk.
          type: str
        path:
          description: The disk's device path.
          type: str
        maxTransferBytes:
          description: The largest transfer the disk's queue takes, in bytes; null when unknown.
          type: int
        inUse:
          description: The disk holds mounted filesystems, swap or the running system; null when
            that cannot be told.
          type: bool
        usedBy:
          description: What holds the disk, or why that cannot be told; null when it is free.
          type: str
        runningSystem:
          description: The running system lives on the disk (C(drive_firmware) then needs
            I(force_system_disk) for modes that switch firmware at once).
          type: bool
        answered:
          description: The drive answered IDENTIFY DEVICE with data that can be read.
          type: bool
        problem:
          description: Why the drive gave no facts (it could not be opened, or did not answer);
            null when it answered.
          type: str
        model:
          description: The model, as IDENTIFY reports it; null when not answered.
          type: str
        serial:
          description: The serial number; null when not answered.
          type: str
        firmware:
          description: The firmware revision; null when not answered.
          type: str
        wwn:
          description: The world wide name, 16 hexadecimal digits; null when the drive gives none.
          type: str
        transport:
          description: How commands reach it (C(ATA pass-through), C(SCSI pass-through (SAT))).
          type: str
        satForm:
          description: A USB drive's ATA PASS-THROUGH form (C(12-10), C(12), C(16), C(none)); null
            for other drives.
          type: str
        info:
          description: What the IDENTIFY data says of updates (C(dlmcSupported),
            C(dlmcOffsetsSupported), C(segmentMinBlocks), C(segmentMaxBlocks), ...), as
            C(brisquel-cli --json info); null when not answered.
          type: dict
        pendingActivation:
          description: A saved image waits for activation; null where the drive does not say
            (ATA drives say it only in the count register of the download itself).
          type: bool
  sample:
    brisquel_drives:
      - index: 0
        busType: SATA
        name: WDC WD5000AAKX-00SIMB0 ATA Device
        path: /dev/sda
        maxTransferBytes: 131072
        inUse: true
        usedBy: / is mounted from sda1
        runningSystem: true
        answered: true
        problem: null
        model: WDC WD5000AAKX-00SIMB0
        serial: WD-WCSIM0000002
        firmware: 15.01H15
        wwn: 50014EE0AAAAAAA1
        transport: ATA pass-through
        satForm: null
        info: {dlmcSupported: true, dlmcOffsetsSupported: true, segmentMinBlocks: 1, segmentMaxBlocks: 64}
        pendingActivation: null
      - index: 1
        busType: SATA
        path: /dev/sdb
        answered: false
        problem: "IDENTIFY DEVICE failed: the drive aborted it (status 41h, error 04h)"
json:
  description: The whole JSON document of C(brisquel-cli inventory).
  returned: when brisquel-cli ran
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.brisquel.storage.plugins.module_utils.brisquel_cli import (
    CLI_OPTION, SIM_OPTION, Cli, tool_message)


def main():
    module = AnsibleModule(
        argument_spec=dict(sim=SIM_OPTION, cli=CLI_OPTION),
        supports_check_mode=True,
    )
    rc, doc, err = Cli(module).run(['inventory'], changed=False)
    if rc != 0:
        module.fail_json(msg=tool_message(rc, doc, err), exit_code=rc, json=doc, changed=False)
    module.exit_json(changed=False, ansible_facts=dict(brisquel_drives=doc.get('drives', [])), json=doc)


if __name__ == '__main__':
    main()
