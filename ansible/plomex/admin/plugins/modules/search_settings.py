#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 the Plomex administration maintainers.
#
# The search settings of a Plomex server root, set through vyxsettings so that
# every value passes the settings page's own checks and every change is saved
# as the page saves it (run lock, plomex.lock, kept version, change log).

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: search_settings
short_description: The search settings of a Plomex server root, with the settings page's checks
version_added: 1.1.0
description:
  - Makes the settings of section C([QZ-search]) of C(plomex.conf) under a
    Plomex server root equal to the values given, through the C(vyxsettings)
    command of the C(plomex-admin) package (see C(man vyxsettings)).
  - Every value is checked as the search settings page checks it, with the
    page's two checks that tie the maximum records to the largest set. A change
    is saved as the page saves it, with the lock, the kept version and one
    change-log record per value.
  - The settings not named keep their values. When the values are in place
    already nothing is written and the task reports C(ok).
  - Without I(settings) the task only reads the settings and their digest,
    to be given as I(digest) to a later task.
  - The managed host needs only the package's C(vyxsettings).
options:
  settings:
    description:
      - The settings to set, each by its key or its label in any case (C(QZ-max-records) or
        C(Maximum records); C(QZ-largest-set) or C(Largest set); C(QZ-date-time) or
        C(Date and time format); C(QZ-default-html-title) or C(Default HTML title);
        C(QZ-collection-acl-check) or C(Collection access check); C(QZ-toc-acl-check) or
        C(Table of contents access check)).
      - Values are strings; integers are taken as their digits. The two access checks take
        C(Y) or C(N) only; quote them as C('Y') and C('N') in YAML, which reads C(yes), C(no),
        C(true) and C(false) as booleans, and a boolean is refused.
      - A setting that does not exist, or one named twice (by its key and its label), is
        refused, and so is a value the settings page refuses.
    type: dict
    default: {}
  root:
    description:
      - The server root, holding C(config/plomex.conf) and C(admin/logs/).
      - When given, the configuration and log directories are the root's, whatever
        C(KELMRIX_CONF_DIR), C(KELMRIX_COMMIT_DIR), C(KELMRIX_HTML_DIR) or C(KELMRIX_LOG_DIR)
        the task's environment holds. When left out, C(vyxsettings) takes the root from the
        task's environment (C(KELMRIX_ROOT) and the others).
    type: path
  digest:
    description:
      - The digest of the settings as an earlier read returned it (this module's C(digest), or
        what C(vyxsettings get) prints), 16 hexadecimal digits in lower case.
      - When the settings no longer match it, because someone changed them since, the task
        fails and nothing is changed.
      - Without I(settings) the task checks the digest only.
    type: str
  vyxsettings:
    description:
      - The C(vyxsettings) program, by its path or a name looked up in C(PATH).
    type: str
    default: vyxsettings
  busy_retries:
    description:
      - How many more times a save is tried when C(plomex.lock) is present or another run kept
        the run lock (C(vyxsettings) exit status 75). A save through the pages holds the lock
        for a moment; a lock left behind by a save that ended half-way stays until a person
        removes it on the status page, and the task then fails, telling to try again later.
    type: int
    default: 3
  busy_delay:
    description:
      - Seconds between the tries that I(busy_retries) allows.
    type: float
    default: 2
extends_documentation_fragment:
  - action_common_attributes
attributes:
  check_mode:
    support: full
    details: Runs C(vyxsettings --dry-run), which checks the values, takes no lock and writes nothing.
  diff_mode:
    support: full
    details: The six settings before and after, one C(KEY=VALUE) line each.
  platform:
    platforms: posix
notes:
  - Run the task as the owner of the server root (I(become_user)). Run as root on a root
    that belongs to another account, C(vyxsettings) acts as that account. Under C(sudo), the
    change log records the account that logged in.
  - C(KELMRIX_LOCK_WAIT) in the task's environment sets how many seconds a save waits for a
    save before it (default 10), before the lock counts as busy.
author:
  - Plomex administration maintainers
'''

EXAMPLES = r'''
- name: The search settings of every search host
  plomex.admin.search_settings:
    root: /srv/plomex
    settings:
      QZ-max-records: 800
      Largest set: 2000
      Table of contents access check: 'Y'
  become: true
  become_user: plomex

- name: Read the settings and their digest
  plomex.admin.search_settings:
    root: /srv/plomex
  register: search

- name: Half the largest set, unless the settings changed since they were read
  plomex.admin.search_settings:
    root: /srv/plomex
    digest: "{{ search.digest }}"
    settings:
      QZ-max-records: "{{ (search.settings['QZ-largest-set'] | int) // 2 }}"

- name: Retry for longer while a lock is in place
  plomex.admin.search_settings:
    root: /srv/plomex
    settings: { QZ-default-html-title: Search }
    busy_retries: 10
    busy_delay: 5
'''

RETURN = r'''
settings:
  description:
    - The six settings by key, as the file holds them after the task.
    - In check mode, as they would be.
  returned: success, and a partial save
  type: dict
  sample:
    QZ-max-records: '800'
    QZ-largest-set: '1000'
    QZ-date-time: '%m/%d/%Y %H:%M'
    QZ-default-html-title: Search Results
    QZ-collection-acl-check: 'Y'
    QZ-toc-acl-check: 'N'
digest:
  description:
    - The digest of the six settings as the file holds them after the task (in check mode,
      as it holds them now), for I(digest) of a later task.
  returned: success, and a partial save
  type: str
  sample: eec11bca134afeab
before:
  description: The settings that changed (in check mode, would change), with the values they had.
  returned: success, and a partial save
  type: dict
  sample: { QZ-max-records: '500' }
saved:
  description: >-
    On a partial save (C(plomex.lock) appeared while the values were written), the settings
    that were saved and logged.
  returned: a partial save
  type: list
  elements: str
  sample: [QZ-max-records]
not_saved:
  description: On a partial save, the settings that were not saved.
  returned: a partial save
  type: list
  elements: str
  sample: [QZ-date-time]
rc:
  description: The exit status of C(vyxsettings).
  returned: failure
  type: int
  sample: 1
'''

import json
import os
import time

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_text
from ansible.module_utils.six import integer_types, string_types

# vyxsettings' exit statuses.
DONE = 0
REFUSED = 1
USAGE = 2
STALE = 3
PARTIAL = 4
BUSY = 75

# The variables that name directories KELMRIX_ROOT would otherwise imply.
ROOT_DIRECTORIES = ('KELMRIX_CONF_DIR', 'KELMRIX_COMMIT_DIR', 'KELMRIX_HTML_DIR', 'KELMRIX_LOG_DIR')


def request(module):
    """The JSON object vyxsettings apply reads: every value as the text to store."""
    body = {}
    for key, value in module.params['settings'].items():
        if isinstance(value, bool) or not isinstance(value, string_types + integer_types):
            module.fail_json(msg="%s: the value must be a string or a whole number, not %s %r%s" % (
                key, type(value).__name__, value,
                "; quote 'Y' and 'N' (YAML reads yes, no, true and false as booleans)"
                if isinstance(value, bool) else ''))
        body[to_text(key)] = to_text(value)
    # ASCII escapes carry the \udcXX stand-ins of bytes that are no UTF-8 back as those bytes.
    return json.dumps(body, ensure_ascii=True)


def program(module):
    name = module.params['vyxsettings']
    if '/' not in name:
        return module.get_bin_path(name, required=True)
    if not os.access(name, os.X_OK):
        module.fail_json(msg='%s: no such program, or not executable' % name)
    return name


def run(module, args, body):
    """vyxsettings' exit status, standard output and error, trying again while the lock is busy."""
    if module.params['root'] is not None:
        for name in ROOT_DIRECTORIES:
            os.environ.pop(name, None)
        os.environ['KELMRIX_ROOT'] = module.params['root']
    tries = max(module.params['busy_retries'], 0) + 1
    for attempt in range(1, tries + 1):
        rc, out, err = module.run_command(args, data=body)
        if rc != BUSY or attempt == tries:
            return rc, out, err, attempt
        time.sleep(max(module.params['busy_delay'], 0))


def lines(settings):
    return ''.join('%s=%s\n' % item for item in settings.items())


def main():
    module = AnsibleModule(
        argument_spec=dict(
            settings=dict(type='dict', default={}),
            root=dict(type='path'),
            digest=dict(type='str'),
            vyxsettings=dict(type='str', default='vyxsettings'),
            busy_retries=dict(type='int', default=3),
            busy_delay=dict(type='float', default=2),
        ),
        supports_check_mode=True,
    )
    body = request(module)
    args = [program(module), 'apply', '-', '--json']
    if module.check_mode:
        args.append('--dry-run')
    if module.params['digest'] is not None:
        args += ['--if-unchanged', module.params['digest']]

    rc, out, err, tries = run(module, args, body)
    try:
        answer = json.loads(out)
    except ValueError:
        answer = None
    if not isinstance(answer, dict):
        answer = {}
    for line in err.splitlines():
        if line.startswith('vyxsettings: warning: '):
            module.warn(line[len('vyxsettings: warning: '):])

    error = answer.get('error')
    if isinstance(error, dict):
        message = '%s: %s' % (error.get('subject'), error.get('message'))
    else:
        message = err.strip() or out.strip() or 'vyxsettings ended with exit status %d' % rc

    if rc not in (DONE, PARTIAL):
        if rc == STALE and not isinstance(error, dict):
            message = ('The settings changed since digest %s was taken; nothing was changed. '
                       'Read them again. (%s)' % (module.params['digest'], message))
        elif rc == BUSY:
            message = '%s Tried %d time%s.' % (message, tries, 's' if tries > 1 else '')
            if 'try again' not in message.lower():
                message += ' Try again later.'
        elif rc == USAGE:
            message = 'vyxsettings refused its command line: %s' % message
        module.fail_json(msg=message, rc=rc, changed=False)
    if 'settings' not in answer or 'digest' not in answer:
        module.fail_json(msg='vyxsettings answered no settings: %s' % (out.strip() or err.strip()), rc=rc)

    after = answer['settings']
    before = dict(after)
    before.update(answer.get('before', {}))
    result = dict(changed=bool(answer.get('changed')), settings=after, digest=answer['digest'],
                  before=answer.get('before', {}))
    if module._diff and result['changed']:
        result['diff'] = dict(before=lines(before), after=lines(after),
                              before_header='plomex.conf [QZ-search]',
                              after_header='plomex.conf [QZ-search]')
    if rc == PARTIAL:
        result.update(saved=answer.get('saved', []), not_saved=answer.get('not_saved', []))
        module.fail_json(msg='%s Saved: %s; not saved: %s.' % (
            message, ', '.join(result['saved']) or 'none', ', '.join(result['not_saved']) or 'none'),
            rc=rc, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
