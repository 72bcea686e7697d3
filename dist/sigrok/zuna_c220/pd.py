##
## zuna07: C220 / SENTINEL memory link, standalone two-wire decoder.
##
## Data falling while the clock is high is a start (or restart), data rising
## while the clock is high a stop; both lines moving in one step is the
## station's bus release and ends what was under way. Each clock rise is a
## bit: eight make a byte, the ninth is its acknowledge (0 = acknowledged).
## The station's bits are read on sda, the mechanism's (the bytes after a
## restart and every acknowledge of a station byte) on sda_in when given.
##

import sigrokdecode as srd

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_c220'
    name = 'ZUNA C220'
    longname = 'zuna07 C220 / SENTINEL memory link'
    desc = 'C220 / SENTINEL coin mechanism memory transfers (zuna07).'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    tags = ['Embedded/industrial']
    # Named after the trace's wires, so PulseView assigns them itself.
    channels = (
        {'id': 'scl', 'name': 'D5 (SCL)', 'desc': 'Clock (D5)'},
        {'id': 'sda', 'name': 'D6 (SDA)', 'desc': 'Data from the station (D6)'},
    )
    optional_channels = (
        {'id': 'sda_in', 'name': 'S4 (SDA in)', 'desc': 'Data from the mechanism (S4)'},
    )
    options = ()
    annotations = (
        ('command', 'Command'),
        ('reply', 'Reply'),
        ('error', 'Error'),
        ('byte', 'Byte'),
    )
    annotation_rows = (
        ('bytes', 'Bytes', (3,)),
        ('commands', 'Commands', (0,)),
        ('replies', 'Replies', (1,)),
        ('errors', 'Errors', (2,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.image = {}
        self.frame = None

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def new_frame(self, ss):
        # parts: list of [restart?, bytes [(ss, es, host, mech, ack)]]
        self.frame = {'ss': ss, 'parts': [[]], 'bits': [], 'bss': None}

    # A frame ends (stop, bus release, or a new start): name it.
    def end_frame(self, es, stopped):
        f, self.frame = self.frame, None
        if not f:
            return
        if len(f['bits']) > 1:   # a stop's or a release's own clock is one bit
            self.ann(f['bss'], es, 2, 'Octet tronqué (%d bits)' % len(f['bits']))
        parts = f['parts']
        first = parts[0]
        ss = f['ss']
        if not first:
            return
        hb = [b[2] for b in first]
        # A station byte followed by a released ninth clock waits for the
        # mechanism's acknowledge (0).
        for b in first + parts[1][:1] if len(parts) > 1 else first:
            if b[4] == 1 and b[5] != 0:
                self.ann(b[0], b[1], 2, 'Pas d\'acquittement (%02X)' % b[2])
        if hb[0] != 0x00 or len(hb) < 2:
            self.ann(ss, es, 2, 'Trame inconnue : %s' % ' '.join('%02X' % v for v in hb))
            return
        c = hb[1]
        if c & 0xC0 == 0x80:
            w = c & 0x3F
            self.ann(ss, es, 0, 'Lecture mot %d' % w)
            if len(parts) < 2 or len(parts[1]) < 3 or parts[1][0][2] != 0x01:
                self.ann(ss, es, 2, 'Lecture mot %d incomplète' % w)
                return
            b1, b2 = parts[1][1][3], parts[1][2][3]
            self.ann(parts[1][1][0], parts[1][2][1], 1, 'Mot %d : %02X %02X' % (w, b1, b2))
            self.image[w] = (b1, b2)
            if w == 63:
                self.check_sum(ss, es, b1)
        elif c == 0x30:
            self.ann(ss, es, 0, 'Autorisation d\'écriture')
        elif c & 0xC0 == 0xC0:
            self.ann(ss, es, 0, 'Effacement mot %d' % (c & 0x3F))
        elif c & 0xC0 == 0x40:
            w = c & 0x3F
            if len(hb) < 4:
                self.ann(ss, es, 2, 'Écriture mot %d tronquée' % w)
                return
            self.ann(ss, es, 0, 'Écriture mot %d : %02X %02X' % (w, hb[2], hb[3]))
            if not stopped:
                self.ann(ss, es, 2, 'Écriture mot %d sans arrêt' % w)
            self.image[w] = (hb[2], hb[3])
        else:
            self.ann(ss, es, 2, 'Commande inconnue : %02X' % c)

    # The checksum word against the words read or written in this trace.
    def check_sum(self, ss, es, got):
        if all(w in self.image for w in range(63)):
            s = sum(self.image[w][0] + self.image[w][1] for w in range(63))
            want = (-s) & 0xFF
            if got != want:
                self.ann(ss, es, 2, 'Somme de contrôle fausse : %02X au lieu de %02X' % (got, want))
            else:
                self.ann(ss, es, 1, 'Somme de contrôle juste (%02X)' % got)

    def bit(self, n, host, mech):
        f = self.frame
        if f is None:
            return
        if not f['bits']:
            f['bss'] = n
        f['bits'].append((host, mech))
        if len(f['bits']) == 9:
            bits, f['bits'] = f['bits'], []
            hv = mv = 0
            for h, m in bits[:8]:
                hv = hv << 1 | h
                mv = mv << 1 | m
            part = f['parts'][-1]
            # The acknowledge of the station's bytes is the mechanism's; the
            # station acknowledges the bytes it reads.
            part.append((f['bss'], n, hv, mv, bits[8][0], bits[8][1]))
            self.ann(f['bss'], n, 3, '%02X' % (mv if len(f['parts']) > 1 and part and len(part) > 1 else hv))

    def decode(self):
        has_in = self.has_channel(2)
        conds = [{0: 'e'}, {1: 'e'}] + ([{2: 'e'}] if has_in else [])
        pins = self.wait()
        scl, sda = pins[0], pins[1]
        while True:
            pins = self.wait(conds)
            n = self.samplenum
            nscl, nsda = pins[0], pins[1]
            mech = pins[2] if has_in and pins[2] in (0, 1) else nsda
            if nscl != scl and nsda != sda:
                # Both lines in one step: the bus release.
                if self.frame:
                    self.end_frame(n, False)
            elif nscl == 1 and scl == 1 and nsda != sda:
                if nsda == 0:
                    if self.frame:
                        if len(self.frame['bits']) > 1:   # a restart's own clock is one bit
                            self.ann(self.frame['bss'], n, 2, 'Octet tronqué (%d bits)' % len(self.frame['bits']))
                        self.frame['bits'] = []
                        self.frame['parts'].append([])   # restart
                    else:
                        self.new_frame(n)
                else:
                    self.end_frame(n, True)
            elif nscl == 1 and scl == 0:
                self.bit(n, nsda, mech & nsda if not has_in else mech)
            scl, sda = nscl, nsda
