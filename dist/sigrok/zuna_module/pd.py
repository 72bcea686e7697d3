##
## zuna07: the interface module, standalone decoder.
##
## A transfer opens with select brought low and back high while the clock
## is high; each clock rise then carries one bit each way (D4 to the memory,
## S6 from it). The three command bytes say what follows: 69 C0 3F zone 0
## read (64 bytes), 66 10 EF zone 1 read (8 bytes, the 8-byte access code,
## 48 bytes), 96 C0 3F zone 0 write (64 bytes). The measurement is the
## square wave's high phases on S5 while D7 is high (0xFF written).
##

import sigrokdecode as srd

# Zone 0 bytes holding delay counts (low byte first); G13 on six bytes.
COUNTS = (('ALB', 35), ('RM4', 37), ('RM3', 39), ('C220', 41), ('C220B', 43),
          ('C120', 45), ('G136', 47))

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_module'
    name = 'ZUNA module'
    longname = 'zuna07 interface module'
    desc = 'zuna07 module memory transfers and time base measurement.'
    license = 'gplv2+'
    inputs = ['logic']
    outputs = []
    tags = ['Embedded/industrial']
    # Named after the trace's wires, so PulseView assigns them itself.
    channels = (
        {'id': 'clk', 'name': 'D2 (CLK)', 'desc': 'Memory clock (D2)'},
        {'id': 'sel', 'name': 'D3 (SEL)', 'desc': 'Memory select (D3)'},
        {'id': 'mosi', 'name': 'D4 (MOSI)', 'desc': 'Data to the memory (D4)'},
        {'id': 'miso', 'name': 'S6 (MISO)', 'desc': 'Data from the memory (S6)'},
    )
    optional_channels = (
        {'id': 'wave', 'name': 'S5 (WAVE)', 'desc': 'Square wave (S5)'},
        {'id': 'd7', 'name': 'D7', 'desc': 'Data bit 7 (high while measuring)'},
    )
    options = (
        {'id': 'access_us', 'desc': 'Microseconds per port access', 'default': 1.0},
    )
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
        self.samplerate = None
        self.t = None

    def metadata(self, key, value):
        if key == srd.SRD_CONF_SAMPLERATE:
            self.samplerate = value

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def open(self, n):
        self.end(n)
        self.t = {'ss': n, 'bits': [], 'bss': None, 'bytes': []}

    # What a transfer carried, once it ends (the next opening, or the
    # select line brought low for good).
    def end(self, n):
        t, self.t = self.t, None
        if not t or not t['bytes']:
            return
        b = t['bytes']
        if t['bits']:
            self.ann(t['bss'], n, 2, 'Octet tronqué (%d bits)' % len(t['bits']))
        cmd = [x[2] for x in b[:3]]
        ss, es = t['ss'], b[-1][1]
        if cmd == [0x69, 0xC0, 0x3F]:
            self.zone(ss, es, 'Lecture zone 0', [x[3] for x in b[3:]], b[3:], 64, True)
        elif cmd == [0x66, 0x10, 0xEF]:
            if len(b) < 3 + 8 + 8 + 48:
                self.ann(ss, es, 2, 'Lecture zone 1 tronquée (%d octets)' % max(len(b) - 19, 0))
                self.ann(ss, es, 0, 'Lecture zone 1')
                return
            code = ''.join(chr(x[2]) if 32 <= x[2] < 127 else '?' for x in b[11:19])
            self.ann(b[11][0], b[18][1], 0, 'Code d\'accès %s' % code)
            self.zone(ss, es, 'Lecture zone 1', [x[3] for x in b[19:]], b[19:], 48, False)
        elif cmd == [0x96, 0xC0, 0x3F]:
            self.zone(ss, es, 'Écriture zone 0', [x[2] for x in b[3:]], b[3:], 64, True)
        else:
            self.ann(ss, es, 2, 'Commande inconnue : %s' % ' '.join('%02X' % v for v in cmd))

    def zone(self, ss, es, what, data, frames, size, zone0):
        self.ann(ss, es, 0, what)
        for i, f in enumerate(frames):
            self.ann(f[0], f[1], 3, '%d: %02X' % (i, data[i]))
        if len(data) != size:
            self.ann(ss, es, 2, '%s : %d octets sur %d' % (what, len(data), size))
            return
        if zone0:
            c = ['%s %d' % (name, data[at] + 256 * data[at + 1]) for name, at in COUNTS]
            g = data[49] + data[50] * 256 + data[51] * 512 + data[52] * 1024 + data[53] * 2048 + data[54] * 4096
            self.ann(ss, es, 1, '%s' % ', '.join(c + ['G13 %d' % g]))
        else:
            self.ann(ss, es, 1, 'Référence %d' % (data[8] + 256 * data[9]))

    def bit(self, n, mosi, miso):
        t = self.t
        if not t:
            return
        if not t['bits']:
            t['bss'] = n
        t['bits'].append((mosi, miso))
        if len(t['bits']) == 8:
            o = i = 0
            for k, (a, b) in enumerate(t['bits']):
                o |= a << k
                i |= b << k
            t['bytes'].append((t['bss'], n, o, i))
            t['bits'] = []

    def decode(self):
        wave = self.has_channel(4)
        d7 = self.has_channel(5)
        conds = [{0: 'e'}, {1: 'e'}]
        if wave and d7:
            conds += [{4: 'e'}, {5: 'e'}]
        p = self.wait()
        clk, sel = p[0], p[1]
        high_from = None
        phase = None
        wave_was = p[4] if wave and d7 else 0
        per = (self.samplerate or 1e6) * self.options['access_us'] / 1e6
        while True:
            p = self.wait(conds)
            n = self.samplenum
            if p[1] != sel:
                if p[1] == 0 and clk == 1 and p[0] == 1:
                    self.open(n)         # select low while the clock is high
                elif p[1] == 0 and self.t and p[0] == 0:
                    self.end(n)          # the transfer's closing write
            elif p[0] == 1 and clk == 0 and p[1] == 1:
                self.bit(n, p[2], p[3])
            clk, sel = p[0], p[1]
            if wave and d7:
                measuring = p[5] == 1 and p[0] == 1 and p[1] == 1 and p[2] == 1
                if measuring:
                    if p[4] == 1 and wave_was == 0:
                        high_from = n
                    elif p[4] == 0 and wave_was == 1 and high_from is not None:
                        phase = (high_from, n)
                        high_from = None
                elif phase:
                    # The measurement is over: its count is the last whole
                    # high phase, the reads after the one that saw it rise.
                    count = int(round((phase[1] - phase[0]) / per)) - 1
                    self.ann(phase[0], phase[1], 0, 'Mesure du module')
                    self.ann(phase[0], phase[1], 1, 'Phase haute : %d lectures' % count)
                    phase = None
                    high_from = None
                else:
                    high_from = None
                wave_was = p[4]
