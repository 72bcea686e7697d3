##
## zuna07: NRI G13.0000 character link, standalone (two bit rates).
##
## Each line's edges are kept until the line has rested; the burst is then
## read as characters at the rate whose unit fits its shortest stretch
## (slow unit = delay count + 1 port accesses, fast = round(count / 4) + 1,
## one access a microsecond on a station trace). Characters are read from
## each falling edge: start bit, eight data bits least significant first,
## stop bit; a bad stop bit, a pulse shorter than half a unit or a line held
## low are errors and reading goes on at the next falling edge.
##

import sigrokdecode as srd
from bisect import bisect_right

TX, RX = 0, 1

class SamplerateError(Exception):
    pass

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_g13'
    name = 'ZUNA G13.0000'
    longname = 'zuna07 NRI G13.0000 link'
    desc = 'NRI G13.0000 coin mechanism commands and replies (zuna07).'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    tags = ['Embedded/industrial']
    # Named after the trace's wires, so PulseView assigns them itself.
    channels = (
        {'id': 'tx', 'name': 'D0 (TX)', 'desc': 'Station to mechanism (D0)'},
        {'id': 'rx', 'name': 'S7 (RX)', 'desc': 'Mechanism to station (S7)'},
    )
    options = (
        {'id': 'delay', 'desc': 'G13 delay count', 'default': 1900},
        {'id': 'access_us', 'desc': 'Microseconds per port access', 'default': 1.0},
        {'id': 'invert_rx', 'desc': 'RX inverted (as the station reads S7)',
            'default': 'yes', 'values': ('yes', 'no')},
    )
    annotations = (
        ('command', 'Command'),
        ('reply', 'Reply'),
        ('error', 'Error'),
        ('char', 'Character'),
    )
    annotation_rows = (
        ('chars', 'Characters', (3,)),
        ('commands', 'Commands', (0,)),
        ('replies', 'Replies', (1,)),
        ('errors', 'Errors', (2,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.samplerate = None
        self.edges = {TX: [], RX: []}   # (sample, level after the edge)
        self.expect = None              # (kind, argument, ss, es)
        self.after_j = False

    def metadata(self, key, value):
        if key == srd.SRD_CONF_SAMPLERATE:
            self.samplerate = value

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(int(ss), int(es), self.out_ann, [cls, [text]])

    def units(self):
        per_access = self.samplerate * self.options['access_us'] / 1e6
        d = self.options['delay']
        return (round(d * 0.25) + 1) * per_access, (d + 1) * per_access

    # The characters of one burst of edges (the line at level 1 before it).
    def chars(self, edges, who):
        fast, slow = self.units()
        times = [e[0] for e in edges]
        def level(t):
            i = bisect_right(times, t)
            return 1 if i == 0 else edges[i - 1][1]
        stretches = [b[0] - a[0] for a, b in zip(edges, edges[1:])]
        # A dip shorter than half a unit is noise; a blip up on a line at
        # rest low is not a character either, and is passed over.
        glitches = [i for i, s in enumerate(stretches) if s < fast * 0.5 and edges[i][1] == 0]
        real = [s for s in stretches if s >= fast * 0.5]
        unit = slow if real and min(real) > 2.5 * fast else fast
        for i in glitches:
            self.ann(edges[i][0], edges[i + 1][0], 2, 'Bruit sur la ligne %s' % ('D0' if who == TX else 'S7'))
        out = []
        pos = 0
        i = 0
        while i < len(edges):
            t0, lv = edges[i]
            if lv != 0 or t0 < pos:
                i += 1
                continue
            if i + 1 < len(edges) and edges[i + 1][0] - t0 < fast * 0.5:
                i += 1          # a glitch, told above
                continue
            end_low = edges[i + 1][0] if i + 1 < len(edges) else None
            if end_low is None or end_low - t0 > 10.5 * unit:
                e = end_low or t0 + 10 * unit
                if who == RX:
                    self.ann(t0, e, 2, 'Ligne S7 bloquée au niveau bas')
                elif out and out[0][2] == 0x4A:
                    self.ann(t0, e, 0, 'Niveau bas maintenu (J)')
                else:
                    # The station's own line (the module's transfers hold D0 at 0).
                    self.ann(t0, e, 0, 'Ligne D0 au repos bas')
                pos = end_low if end_low else t0 + 10 * unit
                i += 1
                continue
            v = 0
            for b in range(8):
                v |= level(t0 + (1.5 + b) * unit) << b
            stop = level(t0 + 9.5 * unit)
            out.append((t0, t0 + 10 * unit, v, stop == 1))
            if stop != 1:
                self.ann(t0, t0 + 10 * unit, 2, 'Trame invalide (bit d\'arrêt) : %02X' % v)
            pos = t0 + 9.5 * unit
            i += 1
        for c in out:
            t = chr(c[2]) if 32 < c[2] < 127 else '%02X' % c[2]
            self.ann(c[0], c[1], 3, t)
        return out, unit == slow

    def flush(self, who):
        edges = self.edges[who]
        self.edges[who] = []
        if not edges:
            return
        out, slow = self.chars(edges, who)
        if who == TX:
            self.command(out, slow)
        else:
            self.reply(out)

    def command(self, cs, slow):
        if not cs:
            return
        if self.expect:
            self.ann(self.expect[2], self.expect[3], 2, 'Pas de réponse')
            self.expect = None
        self.after_j = False
        ss, es = cs[0][0], cs[-1][1]
        b = [c[2] for c in cs]
        t = ''.join(chr(v) for v in b)
        rate = 'lent' if slow else 'rapide'
        if b[:2] == [0x41, 0x16]:
            self.ann(ss, es, 0, 'Reset')
        elif b[:2] == [0x41, 0x18]:
            self.ann(ss, es, 0, 'Fin d\'identification')
        elif set(t) == {'I'}:
            self.ann(ss, es, 0, 'Ouverture (I, %s)' % rate)
            self.expect = ('open', None, ss, es)
        elif t == 'U':
            self.ann(ss, es, 0, 'Lecture du mode (U)')
            self.expect = ('mode', None, ss, es)
        elif t == 'Z':
            self.ann(ss, es, 0, 'Identification (Z)')
            self.expect = ('identity', None, ss, es)
        elif len(t) == 3 and t[0] == 'J' and t[1:].isdigit():
            self.ann(ss, es, 0, 'Écriture du mode %d' % int(t[1:]))
            self.after_j = True
        elif len(t) == 2 and t[0] == 'V' and t[1].isdigit():
            self.ann(ss, es, 0, 'LECTURE, canal %s' % t[1])
            self.expect = ('channel', int(t[1]), ss, es)
        elif len(t) >= 2 and t[0] == 'D' and t[1].isdigit():
            self.ann(ss, es, 0, 'Écriture, canal %s' % t[1])
            rest = t[2:]
            if rest:
                self.values(ss, es, rest)
        elif t[:1] == 'E' and t.endswith('\r') and len(t) == 10:
            self.ann(ss, es, 0, 'Date %s' % t[1:9])
        elif t == 'W':
            self.ann(ss, es, 0, 'Test pièce (W)')
            self.expect = ('coin', None, ss, es)
        elif t == 'T':
            self.ann(ss, es, 0, 'Apprentissage (T)')
            self.expect = ('coin', None, ss, es)
        elif t.endswith('\r') and t[:-1].isdigit():
            self.values(ss, es, t)
        else:
            self.ann(ss, es, 2, 'Commande inconnue : %s' % ' '.join('%02X' % v for v in b))

    def values(self, ss, es, t):
        d = t.rstrip('\r')
        if len(d) != 12 or not d.isdigit():
            self.ann(ss, es, 2, 'Valeurs illisibles : %s' % t.strip())
        else:
            self.ann(ss, es, 0, 'Valeurs %s' % ' '.join(d[i:i + 3] for i in range(0, 12, 3)))

    def reply(self, cs):
        if not cs:
            return
        ss, es = cs[0][0], cs[-1][1]
        kind, arg = (self.expect[0], self.expect[1]) if self.expect else (None, None)
        self.expect = None
        t = ''.join(chr(c[2]) if 32 <= c[2] < 127 else '?' for c in cs)
        if any(not c[3] for c in cs) or any(ch not in '0123456789/=' for ch in t):
            self.ann(ss, es, 2, 'Réponse illisible : %s' % t)
            return
        if kind is None:
            self.ann(ss, es, 2, 'Réponse inattendue : %s' % t)
        elif kind == 'open':
            if t[:2] == '0=':
                self.ann(ss, es, 1, 'Ouvert (0=)')
            else:
                self.ann(ss, es, 2, 'Ouverture sans « 0= » : %s' % t)
        elif kind == 'channel':
            d = t.replace('=', '')
            if len(d) < 24 or not d[:24].isdigit():
                self.ann(ss, es, 2, 'Réponse tronquée : %s' % t)
            else:
                g = [d[i:i + 3] for i in range(0, 24, 3)]
                self.ann(ss, es, 1, 'Canal %d : max %s, min %s' % (arg, ' '.join(g[:4]), ' '.join(g[4:])))
        elif kind == 'coin':
            d = t.replace('=', '')
            if len(d) < 12:
                self.ann(ss, es, 2, 'Réponse tronquée : %s' % t)
            else:
                self.ann(ss, es, 1, 'Pièce : %s' % ' '.join(d[i:i + 3] for i in range(0, 12, 3)))
        elif kind == 'mode':
            self.ann(ss, es, 1, 'Mode : %s' % t)
        else:
            self.ann(ss, es, 1, 'Identité : %s' % t)

    def decode(self):
        if not self.samplerate:
            raise SamplerateError('Cannot decode without samplerate.')
        fast, slow = self.units()
        rest = int(11 * slow)
        inv = self.options['invert_rx'] == 'yes'
        tx, rx = self.wait()
        level = {TX: tx, RX: rx ^ inv}
        last = {TX: self.samplenum, RX: self.samplenum}
        while True:
            tx, rx = self.wait([{0: 'e'}, {1: 'e'}, {'skip': rest}])
            n = self.samplenum
            now = {TX: tx, RX: rx ^ inv}
            for who in (TX, RX):
                if now[who] != level[who]:
                    other = RX if who == TX else TX
                    if not self.edges[who]:
                        self.flush(other)   # one side starts: the other's burst is over
                    self.edges[who].append((n, now[who]))
                    level[who] = now[who]
                    last[who] = n
                elif self.edges[who] and n - last[who] >= rest:
                    if level[who] == 1:
                        self.flush(who)
                    elif n - last[who] >= 4 * rest:
                        # Held low: read what came before, then go on from the rise.
                        self.flush(who)
                        self.edges[who] = []
