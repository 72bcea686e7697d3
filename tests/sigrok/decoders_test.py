#!/usr/bin/env python3
"""The link decoders of dist/sigrok run by sigrok-cli on traces of the
simulated bench: a whole read (--save) and a verified write (--restore of
the saved file with one value moved) per family must read, from the trace,
what the station read and wrote; traces of a noisy line and of a power cut
give error annotations, sigrok-cli ending with 0 and nothing on stderr.

    decoders_test.py ZUNA07 DECODER_DIR [FAMILY...]
"""
import json
import os
import re
import subprocess
import sys
import tempfile

# family: decoder stack (the trace's channel names), how its replies name a
# channel's values, and the setting moved by the restore.
UART = 'uart:rx=D0:tx=S7:invert_tx=yes:baudrate=%d,zuna_uart'
FAMILIES = {
    'c120': (UART % 7194 + ',zuna_c120', 'image', 'Canal 1/Mesure 1/max'),
    'c220b': (UART % 7194 + ',zuna_c120:family=c220b', 'image', 'Canal 1/Mesure 1/max'),
    'c220': ('zuna_c220:scl=D5:sda=D6:sda_in=S4', 'image', 'Canal 1/Haut 1'),
    'g13': ('zuna_g13:tx=D0:rx=S7:delay=1970', 'dec', 'Canal 1/Mesure 1/max'),
    'g136': (UART % 7092 + ',zuna_g136', 'hex', 'Canal 1/Paire 1/max'),
    'rm3': (UART % 14493 + ',zuna_seci', 'dec', 'Canal 1/HFL/max'),
    'rm4': (UART % 14493 + ',zuna_seci:model=rm4', 'dec', 'Canal 1/HFL/max'),
    'al3': (UART % 14493 + ',zuna_al3', 'al3', 'Canal 1/Delta 1'),
}


MODULE = 'zuna_module:clk=D2:sel=D3:mosi=D4:miso=S6:wave=S5:d7=D7'


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def station(zuna, data, vcd, family, *args):
    os.makedirs(data, exist_ok=True)
    if family == 'g13':
        # A G13 count stored in the module (1970, as the tuning finds it), so
        # the read does not tune the link first.
        with open(os.path.join(data, 'module-simule.bin'), 'wb') as f:
            z0 = bytearray(64)
            z0[49:55] = bytes([178, 1, 1, 1, 0, 0])
            z1 = bytearray(b'ZUNA07SM' + bytes([100, 0]) + bytes(38))
            f.write(z0 + z1)
    return subprocess.run([zuna, '--simulate=' + family, '--data-dir', data, '--trace', vcd] + list(args),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=dict(os.environ, QT_QPA_PLATFORM='offscreen'),
                          timeout=600).returncode


def decode(decoders, stack, vcd):
    """[(row, text)] of the top decoder ("Commands", "Replies", "Errors"...),
    in the order of the trace."""
    top = stack.split(',')[-1].split(':')[0]
    p = subprocess.run(['sigrok-cli', '-I', 'vcd', '-i', vcd, '-P', stack, '-A', top,
                        '--protocol-decoder-jsontrace'],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600,
                       env=dict(os.environ, SIGROKDECODE_DIR=decoders, PYTHONDONTWRITEBYTECODE='1'))
    if p.returncode != 0 or p.stderr:
        fail('sigrok-cli %s on %s: exit %d, stderr %r' % (stack, vcd, p.returncode, p.stderr[:400]))
    events = json.loads(p.stdout.decode('utf-8'))['traceEvents']
    begun = [(e['ts'], e['tid'], e['name']) for e in events if e['ph'] == 'B' and e['pid'] == top + '-1']
    return [(row, text) for _, row, text in sorted(begun, key=lambda e: e[0])]


def errors(rows):
    return [t for row, t in rows if row == 'Errors']


def replies(rows):
    return [t for row, t in rows if row == 'Replies']


def leaves(node):
    if isinstance(node, (dict, list)):
        for v in node.values() if isinstance(node, dict) else node:
            yield from leaves(v)
    else:
        yield node


def reading(kind, texts):
    """What the replies of a trace say, the last reply of each unit kept:
    {word: (first, second)} for an image, {channel: sorted values} else."""
    got = {}
    for t in texts:
        m = re.match(r'^Mot (\d+) : ([0-9A-F]{2}) ([0-9A-F]{2})$', t)
        if m and kind == 'image':
            got[int(m.group(1))] = (int(m.group(2), 16), int(m.group(3), 16))
        m = re.match(r'^(?:Canal|Bloc [0-9A-F]{2} \(canal) (\d+)\)? : (.*)$', t)
        if m and kind != 'image':
            nums = re.findall(r'[0-9A-F]+', m.group(2).replace('options', '').replace('sortie', ''))
            vals = [int(v, 16 if kind in ('hex', 'al3') else 10) for v in nums]
            if kind == 'al3':
                vals = vals[:12]
            got[int(m.group(1))] = sorted(vals)
    return got


def expected(kind, saved):
    if kind == 'image':
        b = bytes.fromhex(saved['image'])
        return {w: (b[2 * w], b[2 * w + 1]) for w in range(len(b) // 2)}
    out = {}
    for name, node in saved['reglages'].items():
        m = re.match(r'^Canal (\d+)$', name)
        if not m:
            continue
        if kind == 'al3':
            node = {k: v for k, v in node.items() if k.startswith(('Param', 'Delta'))}
        if kind == 'hex':
            node = [v[m] for k, v in node.items() if k.startswith('Paire') for m in ('max', 'min')]
        out[int(m.group(1))] = sorted(leaves(node))
    return out


def run_family(zuna, decoders, family, tmp):
    stack, kind, moved = FAMILIES[family]
    w = os.path.join(tmp, family)
    saved_path = os.path.join(w, 's.zuna.json')
    # A whole read: the decoder's reading is the station's.
    if station(zuna, w + '/d1', w + '/save.vcd', family, '--save', saved_path, '--family', family) != 0:
        fail(family + ': the save did not succeed')
    saved = json.load(open(saved_path, encoding='utf-8'))
    rows = decode(decoders, stack, w + '/save.vcd')
    got, want = reading(kind, replies(rows)), expected(kind, saved)
    if kind == 'image':
        got = {k: v for k, v in got.items() if k in want}
    if got != want:
        fail('%s: the trace reads %r, the station %r' % (family, got, want))
    if family == 'g13':
        # The module, on the same trace: its time base and the counts it holds.
        module = replies(decode(decoders, MODULE, w + '/save.vcd'))
        for want in ('Phase haute : 100 lectures', 'Référence 100'):
            if want not in module:
                fail('module: %r not in %r' % (want, module))
        if not any(t.endswith('G13 1970') for t in module):
            fail('module: zone 0 without G13 1970: %r' % module)
    # A capture that begins in the middle of a frame and ends in another:
    # the decoder goes on and ends without an error of its own.
    body = open(w + '/save.vcd').read().split('$enddefinitions $end\n')
    stamps = [i for i, line in enumerate(body[1].split('\n')) if line.startswith('#')]
    lines = body[1].split('\n')
    cut = '\n'.join(lines[stamps[len(stamps) // 3] + 2:stamps[2 * len(stamps) // 3] + 1])
    open(w + '/cut.vcd', 'w').write(body[0] + '$enddefinitions $end\n' + cut + '\n')
    decode(decoders, stack, w + '/cut.vcd')
    # A verified write: one value moved; the read after it gives the file.
    node = saved['reglages']
    *sections, last = moved.split('/')
    for s in sections:
        node = node[s]
    node[last] -= 1
    saved.pop('image', None)
    json.dump(saved, open(saved_path, 'w', encoding='utf-8'), ensure_ascii=False)
    if station(zuna, w + '/d2', w + '/restore.vcd', family, '--restore', saved_path) != 0:
        fail(family + ': the restore did not verify')
    rows = decode(decoders, stack, w + '/restore.vcd')
    if not any(row == 'Commands' and t.startswith('Écriture') for row, t in rows):
        fail(family + ': no write in the restore trace')
    back = reading(kind, replies(rows))
    if kind != 'image' and back.get(1) != expected(kind, saved)[1]:
        fail('%s: channel 1 read back %r, the file %r' % (family, back.get(1), expected(kind, saved)[1]))
    if errors(rows):
        print('%s: error annotations on a clean restore: %r' % (family, errors(rows)[:5]))
    # A noisy line and a power cut: error annotations, the decoder goes on.
    for fault, args in (('noise', ['--save', w + '/n.zuna.json', '--family', family]),
                        ('power-cut=1', ['--restore', saved_path])):
        station(zuna, w + '/d3' + fault, w + '/fault.vcd', family, '--sim-fault=' + fault, *args)
        rows = decode(decoders, stack, w + '/fault.vcd')
        if not errors(rows):
            fail('%s: no error annotation with --sim-fault=%s' % (family, fault))
    print('%s: ok' % family)


def main():
    zuna, decoders = sys.argv[1], sys.argv[2]
    families = sys.argv[3:] or list(FAMILIES)
    with tempfile.TemporaryDirectory() as tmp:
        for f in families:
            run_family(zuna, decoders, f, tmp)


if __name__ == '__main__':
    main()
