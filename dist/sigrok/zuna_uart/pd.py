##
## zuna07: the station's serial lines, stacked on sigrok's UART decoder.
##
## Passes up, as Python output, [kind, who, data] with who 0 for the
## station (D0, the UART's rx) and 1 for the mechanism (S7, tx):
##   'FRAME'    (value, valid, bit): a byte; bit is the last bit time
##              measured on that line (in samples, 0 before a valid frame)
##   'NOISE'    None: a frame that followed a false start bit on the line
##   'STUCK'    None: the line held low for a frame or more (a break)
##   'REST_LOW' None: D0 at rest low (a 00 without its stop bit, then low)
##   'SILENCE'  None: S7 idle for IDLE_FRAMES frames
## The link decoders annotate these in their own rows.
##

import sigrokdecode as srd

HOST, MECH = 0, 1
IDLE_FRAMES = 40   # frames of silence after which an awaited answer is missing

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_uart'
    name = 'ZUNA UART'
    longname = 'zuna07 serial lines'
    desc = 'Bytes and line events of the zuna07 serial links.'
    license = 'gplv2+'
    inputs = ['uart']
    outputs = ['zuna_uart']
    tags = ['Embedded/industrial']
    annotations = ()

    def __init__(self):
        self.reset()

    def reset(self):
        self.bit = {HOST: 0, MECH: 0}
        self.glitch = {HOST: False, MECH: False}
        self.idle = 0
        self.held = None     # a host 00 with a bad stop bit, until the next packet tells what it was

    def start(self):
        self.out_python = self.register(srd.OUTPUT_PYTHON)

    def up(self, ss, es, kind, who, data=None):
        self.put(ss, es, self.out_python, [kind, who, data])

    def decode(self, ss, es, data):
        ptype, rxtx, pdata = data
        who = HOST if rxtx == 0 else MECH
        if ptype == 'IDLE':
            if who == MECH:
                self.idle += 1
                if self.idle == IDLE_FRAMES:
                    self.up(ss, es, 'SILENCE', who)
            return
        if ptype not in ('FRAME', 'BREAK', 'INVALID STARTBIT'):
            return
        self.idle = 0
        held, self.held = self.held, None
        if ptype == 'BREAK' and who == HOST and held:
            # A 00 without its stop bit, then the line low: the station's
            # line at rest low (the module's transfers hold D0 at 0).
            self.up(held[0], es, 'REST_LOW', HOST)
            return
        if held:
            self.packet(*held)
        if ptype == 'FRAME' and who == HOST and pdata[0] == 0 and not pdata[1]:
            self.held = (ss, es, data)
            return
        self.packet(ss, es, data)

    def packet(self, ss, es, data):
        ptype, rxtx, pdata = data
        who = HOST if rxtx == 0 else MECH
        if ptype == 'INVALID STARTBIT':
            self.glitch[who] = True
        elif ptype == 'FRAME':
            value, valid = pdata
            if self.glitch[who]:
                self.glitch[who] = False
                self.up(ss, es, 'NOISE', who)
                return
            if valid:
                self.bit[who] = (es - ss) / 10.0
            self.up(ss, es, 'FRAME', who, (value, valid, self.bit[who]))
        elif ptype == 'BREAK':
            self.up(ss, es, 'STUCK', who)
