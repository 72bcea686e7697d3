##
## zuna07: NRI G13.6000 character link,
## stacked on the station's serial lines (zuna_uart).
##
## The station sends single characters and hexadecimal pairs; the mechanism
## answers a block read, "I", "W" and "T" with hexadecimal text (a pair per
## byte; block 13 with one digit per selector). Characters of one send
## follow one another closely; a reply is what the mechanism sends until
## the station's next character.
##

import sigrokdecode as srd

HOST, MECH = 0, 1
LINE = ('D0', 'S7')
HEX = '0123456789ABCDEF'

def block_name(a):
    if 3 <= a <= 14:
        return 'bloc %02X (canal %d)' % (a, a - 2)
    return 'bloc %02X' % a

# Bytes expected in the reply to a block read (block 13: digits).
def block_size(a):
    if 3 <= a <= 0x12:
        return 12
    if a == 0x13:
        return 72
    if a == 0x18:
        return 5
    return 0

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_g136'
    name = 'ZUNA G13.6000'
    longname = 'zuna07 NRI G13.6000 link'
    desc = 'NRI G13.6000 coin mechanism commands and replies (zuna07).'
    license = 'gplv2+'
    inputs = ['zuna_uart']
    outputs = []
    tags = ['Embedded/industrial']
    options = (
        {'id': 'gap', 'desc': 'Bit times between two sends', 'default': 4},
    )
    annotations = (
        ('command', 'Command'),
        ('reply', 'Reply'),
        ('error', 'Error'),
    )
    annotation_rows = (
        ('commands', 'Commands', (0,)),
        ('replies', 'Replies', (1,)),
        ('errors', 'Errors', (2,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.send = []      # (ss, es, value, valid) of the station's send under way
        self.reply = []
        self.writing = None  # [ss, address or None, digits] after "Z"
        self.expect = None   # what the last command awaits: (kind, address, ss, es)
        self.bit = {HOST: 0, MECH: 0}

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def end_write(self, es):
        w, self.writing = self.writing, None
        if not w:
            return
        ss, address, digits = w
        if address is None:
            self.ann(ss, es, 2, 'Écriture sans adresse')
            return
        if address == 0x13:
            text = ''.join(HEX[d] for d in digits)
            self.ann(ss, es, 0, 'Écriture bloc 13 : %d chiffres %s' % (len(digits), text))
        else:
            if len(digits) % 2:
                self.ann(ss, es, 2, 'Écriture %s : chiffre isolé' % block_name(address))
            b = [digits[i] * 16 + digits[i + 1] for i in range(0, len(digits) - 1, 2)]
            self.ann(ss, es, 0, 'Écriture %s : %s' % (block_name(address), ' '.join('%02X' % v for v in b)))
        if block_size(address) and len(digits) != 2 * block_size(address) and address != 0x13:
            self.ann(ss, es, 2, 'Écriture %s : %d octets au lieu de %d'
                     % (block_name(address), len(digits) // 2, block_size(address)))

    # One send of the station is over: what it asks.
    def end_send(self):
        if not self.send:
            return
        s, self.send = self.send, []
        ss, es = s[0][0], s[-1][1]
        for f in s:
            if not f[3]:
                self.ann(f[0], f[1], 2, 'Trame invalide (bit d\'arrêt) : %02X' % f[2])
        if self.expect:
            k, a, ess, ees = self.expect
            self.ann(ess, ees, 2, 'Pas de réponse')
            self.expect = None
        digits = []  # hexadecimal characters outside a write: a block address
        for f in s:
            c = chr(f[2]) if 32 <= f[2] < 127 else None
            if self.writing is not None:
                if c and c in HEX:
                    if self.writing[1] is None and len(self.writing[2]) == 1:
                        self.writing[1] = self.writing[2].pop() * 16 + HEX.index(c)
                    else:
                        self.writing[2].append(HEX.index(c))
                    self.writing_es = f[1]
                    continue
                self.end_write(self.writing_es)
            if c and c in HEX:
                digits.append(f)
                continue
            if digits:
                self.ann(digits[0][0], digits[-1][1], 2, 'Chiffres isolés : %s'
                         % ''.join(chr(d[2]) for d in digits))
                digits = []
            if c == 'I':
                self.ann(f[0], f[1], 0, 'Ouverture (I)')
                self.expect = ('open', None, f[0], f[1])
            elif c == 'X':
                self.ann(f[0], f[1], 0, 'Séparateur (X)')
            elif c == 'Z':
                self.writing = [f[0], None, []]
                self.writing_es = f[1]
            elif c == 'W':
                self.ann(f[0], f[1], 0, 'Test pièce (W)')
                self.expect = ('coin', None, f[0], f[1])
            elif c == 'T':
                self.ann(f[0], f[1], 0, 'Apprentissage (T)')
                self.expect = ('coin', None, f[0], f[1])
            elif f[2] == 0xE9:
                self.ann(f[0], f[1], 0, 'Octet E9 (tables)')
            else:
                self.ann(f[0], f[1], 2, 'Caractère inconnu : %02X' % f[2])
        if len(digits) == 2:
            a = int(chr(digits[0][2]) + chr(digits[1][2]), 16)
            self.ann(digits[0][0], digits[1][1], 0, 'Lecture %s' % block_name(a))
            self.expect = ('block', a, digits[0][0], digits[1][1])
        elif digits:
            self.ann(digits[0][0], digits[-1][1], 2, 'Chiffres isolés : %s'
                     % ''.join(chr(d[2]) for d in digits))

    def end_reply(self):
        if not self.reply:
            return
        r, self.reply = self.reply, []
        ss, es = r[0][0], r[-1][1]
        kind, a = (self.expect[0], self.expect[1]) if self.expect else (None, None)
        self.expect = None
        text = ''.join(chr(f[2]) if 32 <= f[2] < 127 else '?' for f in r)
        if any(not f[3] for f in r) or any(c not in HEX for c in text):
            self.ann(ss, es, 2, 'Réponse illisible : %s' % text)
            return
        if kind is None:
            self.ann(ss, es, 2, 'Réponse inattendue : %s' % text)
            return
        if kind == 'block' and a == 0x13:
            want = 72
            if len(text) != want:
                self.ann(ss, es, 2, 'Réponse tronquée : %d chiffres sur %d' % (len(text), want))
            else:
                self.ann(ss, es, 1, 'Bloc 13 : %s' % text)
            return
        if len(text) % 2:
            self.ann(ss, es, 2, 'Réponse tronquée : %s' % text)
            return
        b = ' '.join(text[i:i + 2] for i in range(0, len(text), 2))
        if kind == 'open':
            if text[:2] != '07':
                self.ann(ss, es, 2, 'Ouverture refusée : %s' % b)
            else:
                self.ann(ss, es, 1, 'Ouvert : %s' % b)
        elif kind == 'block':
            want = block_size(a)
            if want and len(text) < 2 * want:
                self.ann(ss, es, 2, 'Réponse tronquée : %d octets sur %d' % (len(text) // 2, want))
            else:
                self.ann(ss, es, 1, '%s : %s' % (block_name(a)[0].upper() + block_name(a)[1:], b))
        else:
            self.ann(ss, es, 1, 'Pièce : %s' % b)

    def byte(self, who, ss, es, value, valid):
        if who == HOST:
            self.end_reply()
            if self.send and ss - self.send[-1][1] > self.options['gap'] * max(self.bit[HOST], 1):
                self.end_send()
            self.send.append((ss, es, value, valid))
        else:
            self.end_send()
            if self.writing is not None:
                self.end_write(self.writing_es)
            self.reply.append((ss, es, value, valid))

    def silence(self):
        self.end_send()
        if self.writing is not None:
            self.end_write(self.writing_es)
        self.end_reply()
        if self.expect and self.expect[0] != 'coin':
            self.ann(self.expect[2], self.expect[3], 2, 'Pas de réponse')
            self.expect = None

    def decode(self, ss, es, data):
        kind, who, pdata = data
        if kind == 'FRAME':
            value, valid, self.bit[who] = pdata
            self.byte(who, ss, es, value, valid)
        elif kind == 'SILENCE':
            self.silence()
        elif kind == 'REST_LOW':
            self.ann(ss, es, 0, 'Ligne D0 au repos bas')
        elif kind == 'NOISE':
            self.ann(ss, es, 2, 'Bruit sur la ligne %s' % LINE[who])
        elif kind == 'STUCK':
            self.ann(ss, es, 2, 'Ligne bloquée (%s)' % LINE[who])
