#!/usr/bin/python
# Copyright (c) 2026 The Brisquel developers
# MIT License (see LICENSE in the Brisquel source tree)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: drive_firmware
short_description: Update an ATA/SATA or NVMe drive's firmware with brisquel-cli
version_added: "0.1.0"
description:
  - Reads the drive's identity with C(brisquel-cli --json info) and, unless the drive already
    reports I(revision), sends the firmware with C(brisquel-cli --json --yes dlmc).
  - The drive is named by what it reports (I(serial) or I(wwn)), or by its place (I(drive),
    I(channel) or I(port)), and must report the I(model) (and the I(serial) and I(wwn), when given)
    that the task names; otherwise the task fails before anything is sent. Images are made per
    model, and list places change between boots.
  - A drive named by I(serial) or I(wwn) is found by C(brisquel-cli) in the same run that sends
    the image, and checked again by the download's own IDENTIFY; no drive, or several, that report
    it fail the task before anything is sent.
  - After the download the revision the drive reports is compared with I(revision); a drive that
    reports another revision, or none, fails the task.
  - A refusal, a failed or interrupted download, a revision left unchanged (exit 4) or one that
    could not be read back after the download (exit 5) fails the task with the message of
    C(brisquel-cli) itself; its warnings become the task's.
  - Needs C(brisquel-cli) on the managed host whose C(--json) documents carry schema 2, and
    root there for real drives (C(become)).
author:
  - The Brisquel developers
extends_documentation_fragment:
  - brisquel.storage.brisquel_cli
options:
  drive:
    description:
      - The drive's line in C(brisquel-cli list) (API mode), as C(--drive).
      - One of I(drive), I(channel), I(port), I(serial) and I(wwn) is required; I(drive),
        I(channel) and I(port) exclude each other.
    type: int
  channel:
    description:
      - The controller channel's line in C(brisquel-cli scan) (PIO mode), as C(--channel).
    type: int
  port:
    description:
      - The channel's task-file base port in hexadecimal, say C(0x1F0) (PIO mode), as C(--port).
    type: str
  model:
    description:
      - The model the drive's IDENTIFY data must report (leading and trailing blanks ignored).
    type: str
    required: true
  serial:
    description:
      - The serial number the drive reports (leading and trailing blanks ignored). Without
        I(drive), I(channel) or I(port) it names the drive, as C(--serial); with one of them the
        drive there must report it.
    type: str
  wwn:
    description:
      - The drive's world wide name, 16 hexadecimal digits (as C(brisquel.storage.drive_facts)
        reports it; C(0x), blanks, colons and dashes are allowed). Names the drive as C(--wwn)
        when no place is given; with one the drive there must report it.
    type: str
  firmware:
    description:
      - The firmware image, a path on the managed host. Required for every mode but C(0F).
    type: path
  mode:
    description:
      - The DOWNLOAD MICROCODE mode. C(01) temporary, C(03) segmented and saved, C(07) permanent,
        C(0E) segmented and saved for a later activation, C(0F) activates what C(0E) saved (no file).
      - Quote it in YAML; an unquoted C(07) is read as the number 7.
    type: str
    required: true
    choices: ["01", "03", "07", "0E", "0F"]
  revision:
    description:
      - The firmware revision the drive must report afterwards (leading and trailing blanks
        ignored). A drive that reports it already gets nothing.
      - Required for modes C(01), C(03), C(07) and C(0F). With C(0E) the revision changes only at
        the activation; when given, a drive that reports it already gets nothing.
    type: str
  slot:
    description:
      - NVMe drives only, as C(--slot). The firmware slot to write (C(03), C(07), C(0E)) or
        activate (C(0F)); by default the lowest writable slot that is not the active one, the same
        for a C(0E) task and the C(0F) task after it.
    type: int
    choices: [1, 2, 3, 4, 5, 6, 7]
    version_added: "1.1.0"
  activate:
    description:
      - NVMe drives only, modes C(03), C(07) and C(0F), as C(--activate). C(reset) (the default)
        stores the image and has the controller run it at its next reset, which the module never
        makes (a power cycle of the host does); C(now) runs it at once, where the controller can.
      - With C(reset) the drive keeps reporting its running revision until that reset; the task
        succeeds when the slot log shows I(revision) waiting in the slot, and sets
        I(pending_activation). A drive with I(revision) already waiting gets nothing.
    type: str
    choices: [now, reset]
    default: reset
    version_added: "1.1.0"
  segment_blocks:
    description:
      - Blocks per segment for modes C(03) and C(0E), a number or C(auto) (the drive's stated
        maximum), as C(--segment-blocks).
    type: str
  force:
    description:
      - Sends even when the checks of C(brisquel-cli) before a download refuse it (the drive says it
        does not support the mode, the disk holds mounted filesystems, ...), as C(--force).
    type: bool
    default: false
  force_system_disk:
    description:
      - Lets a mode that switches firmware at once (C(01), C(03), C(07), C(0F)) reach the disk the
        running system lives on, as C(--force-system-disk); goes with I(force). Without it such a
        download is refused there, with the tool's message; the safe way is C(0E), then a power
        cycle of the host, at which the drive takes the saved firmware.
    type: bool
    default: false
notes:
  - Supports check mode; the drive's identity is still read, nothing is sent. A missing I(firmware)
    file is only a warning then, since the task that would copy it copies nothing in check mode.
  - In a play with C(serial) and C(max_fail_percentage) 0 (and without C(ignore_errors)), one drive
    that refuses stops the rollout before the next machine.
'''

EXAMPLES = r'''
- name: Permanent update of the first listed drive
  brisquel.storage.drive_firmware:
    drive: 0
    model: WDC WD5000AAKX-00SIMB0
    firmware: /var/tmp/WD5000AAKX-15.02H15.bin
    mode: "07"
    revision: 15.02H15
  become: true

- name: Update the drive with this serial number, wherever it sits
  brisquel.storage.drive_firmware:
    serial: WD-WCSIM0000002
    model: WDC WD5000AAKX-00SIMB0
    firmware: /var/tmp/WD5000AAKX-15.02H15.bin
    mode: "07"
    revision: 15.02H15
  become: true

- name: Save the image now, in segments as large as the drive takes
  brisquel.storage.drive_firmware:
    wwn: 50014EE0AAAAAAA1
    model: WDC WD5000AAKX-00SIMB0
    firmware: /var/tmp/WD5000AAKX-15.02H15.bin
    mode: "0E"
    segment_blocks: auto
  become: true

- name: ... and activate it in a maintenance window
  brisquel.storage.drive_firmware:
    drive: 0
    model: WDC WD5000AAKX-00SIMB0
    mode: "0F"
    revision: 15.02H15
  become: true

- name: Try the same on the simulated bench
  brisquel.storage.drive_firmware:
    drive: 0
    model: WDC WD5000AAKX-00SIMB0
    firmware: /tmp/bench-image.bin
    mode: "07"
    revision: 15.02H15
    sim: true
'''

RETURN = r'''
revision_before:
  description: The revision the drive reported before, trimmed.
  returned: when the drive's identity was read
  type: str
  sample: 15.01H15
revision_after:
  description:
    - The revision the drive reported afterwards, trimmed; the same as I(revision_before) when
      nothing was sent. Null when none was read after the download.
  returned: when the drive's identity was read, and not in check mode
  type: str
  sample: 15.02H15
pending_activation:
  description:
    - True after a mode C(0E) download, which a mode C(0F) task activates; and on an NVMe drive when
      the image waits in its slot for the controller's next reset.
  returned: always
  type: bool
  sample: false
exit_code:
  description: The exit code of C(brisquel-cli dlmc).
  returned: when the download ran
  type: int
  sample: 0
log:
  description: The log lines of C(brisquel-cli dlmc), as the window would write them.
  returned: when the download ran
  type: list
  elements: str
  sample: ["Bus Type:SATA", "Download Microcode 07 - image.bin - Start", "Download Microcode 07 - image.bin - End - OK"]
json:
  description:
    - The JSON document of C(brisquel-cli dlmc), or of C(info) when no download ran (schema 2).
  returned: when brisquel-cli ran
  type: dict
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.brisquel.storage.plugins.module_utils.brisquel_cli import (
    CLI_OPTION, SIM_OPTION, Cli, tool_message)

MODES_THAT_CHANGE_THE_REVISION = ('01', '03', '07', '0F')
PLACES = ('drive', 'channel', 'port')


def target_arguments(params):
    place = next((name for name in PLACES if params[name] is not None), None)
    if place is not None:
        return ['--' + place, str(params[place])]
    # Found by what it reports; the command line refuses none or several.
    return sum((['--' + name, params[name]] for name in ('serial', 'wwn') if params[name]), [])


def trimmed(text):
    return text.strip() if isinstance(text, str) else None


def compact_wwn(text):
    digits = ''.join(c for c in (text or '') if c not in ' :-').upper()
    return digits[2:] if digits.startswith('0X') else digits


def waiting_revision(nvme):
    """The revision an NVMe controller runs at its next reset, or None."""
    if not nvme or not nvme.get('nextSlot'):
        return None
    revisions = nvme.get('slotRevisions') or []
    index = nvme['nextSlot'] - 1
    return trimmed(revisions[index]) if 0 <= index < len(revisions) else None


def main():
    module = AnsibleModule(
        argument_spec=dict(
            drive=dict(type='int'),
            channel=dict(type='int'),
            port=dict(type='str'),
            model=dict(type='str', required=True),
            serial=dict(type='str'),
            wwn=dict(type='str'),
            firmware=dict(type='path'),
            mode=dict(type='str', required=True, choices=['01', '03', '07', '0E', '0F']),
            revision=dict(type='str'),
            slot=dict(type='int', choices=list(range(1, 8))),
            activate=dict(type='str', choices=['now', 'reset'], default='reset'),
            segment_blocks=dict(type='str'),
            force=dict(type='bool', default=False),
            force_system_disk=dict(type='bool', default=False),
            sim=SIM_OPTION,
            cli=CLI_OPTION,
        ),
        mutually_exclusive=[PLACES],
        required_one_of=[PLACES + ('serial', 'wwn')],
        required_if=[('mode', mode, ('revision',)) for mode in MODES_THAT_CHANGE_THE_REVISION],
        supports_check_mode=True,
    )
    p = module.params
    mode = p['mode']
    result = dict(changed=False, pending_activation=False)

    if p['force_system_disk'] and not p['force']:
        module.fail_json(msg='force_system_disk goes with force: the disk the system runs from is in use', **result)
    if mode == '0F':
        if p['firmware'] is not None:
            module.fail_json(msg='mode 0F activates the firmware a mode 0E download saved: it takes no firmware file', **result)
    elif p['firmware'] is None:
        module.fail_json(msg='mode %s needs a firmware file' % mode, **result)
    elif not os.path.isfile(p['firmware']):
        missing = '%s: no such firmware file on this host' % p['firmware']
        if not module.check_mode:
            module.fail_json(msg=missing, **result)
        # A copy task before this one does not copy in check mode either.
        module.warn(missing + ' (yet: a task before this one copies nothing in check mode)')

    cli = Cli(module)
    target = target_arguments(p)
    rc, doc, err = cli.run(['info'] + target, **result)
    result['json'] = doc
    identity = doc.get('identity')
    if rc != 0 or not identity:
        module.fail_json(msg=tool_message(rc, doc, err), exit_code=rc, **result)

    for option in ('model', 'serial', 'wwn'):
        wanted, reported = trimmed(p[option]), trimmed(identity.get(option))
        if option == 'wwn' and wanted is not None:
            wanted = compact_wwn(wanted)
        if wanted is not None and wanted != reported:
            module.fail_json(msg='the drive (%s) reports %s "%s", the task names "%s": nothing sent'
                             % (' '.join(target), option, reported, wanted), **result)

    nvme = doc.get('nvme')
    if nvme is None and (p['slot'] is not None or p['activate'] == 'now'):
        module.fail_json(msg='slot and activate belong to NVMe drives: nothing sent', **result)
    wanted = trimmed(p['revision'])
    before = trimmed(identity.get('firmware'))
    result.update(revision_before=before, revision_after=before)
    if wanted is not None and before == wanted:
        module.exit_json(msg='the drive reports %s already' % wanted, **result)
    waiting = waiting_revision(nvme)
    if wanted is not None and waiting == wanted and p['activate'] == 'reset' and mode != '0E':
        result['pending_activation'] = True
        module.exit_json(msg='%s waits for the next reset already' % wanted, **result)
    if module.check_mode:
        del result['revision_after']
        result['changed'] = True
        module.exit_json(msg='the download would run (check mode: nothing sent)', **result)

    arguments = ['--yes', 'dlmc'] + target + ['--mode', mode]
    if p['slot'] is not None:
        arguments += ['--slot', str(p['slot'])]
    if p['activate'] == 'now':
        arguments += ['--activate', 'now']
    if p['segment_blocks'] is not None:
        arguments += ['--segment-blocks', p['segment_blocks']]
    if p['force']:
        arguments.append('--force')
    if p['force_system_disk']:
        arguments.append('--force-system-disk')
    if p['firmware'] is not None:
        arguments += ['--', p['firmware']]
    rc, doc, err = cli.run(arguments, **result)
    revision = doc.get('firmwareRevision') or {}
    slot = doc.get('nvmeSlot') or {}
    result.update(
        # Exit 2 is a refusal before anything went to the drive; any other code, something did.
        changed=rc != 2,
        exit_code=rc,
        log=doc.get('log', []),
        json=doc,
        revision_after=trimmed(revision.get('after')),
        pending_activation=rc == 0 and mode == '0E',
    )
    if rc != 0:
        module.fail_json(msg=tool_message(rc, doc, err), **result)
    if mode == '0E':
        module.exit_json(msg='saved for activation (mode 0F)', **result)
    if slot.get('waitsFor'):
        # NVMe: stored, running at the controller's next reset.
        result['pending_activation'] = True
        stored = trimmed(slot.get('revision'))
        if stored != wanted:
            module.fail_json(msg='slot %s holds revision %s after the download, %s expected'
                             % (slot.get('slot'), stored, wanted), **result)
        module.exit_json(msg='%s waits in slot %s for %s' % (wanted, slot.get('slot'), slot['waitsFor']),
                         **result)
    if result['revision_after'] is None:
        module.fail_json(msg='no firmware revision could be read after the download (%s expected)' % wanted, **result)
    if result['revision_after'] != wanted:
        module.fail_json(msg='the drive reports revision %s after the download, %s expected'
                         % (result['revision_after'], wanted), **result)
    module.exit_json(msg='revision %s -> %s' % (before, wanted), **result)


if __name__ == '__main__':
    main()
