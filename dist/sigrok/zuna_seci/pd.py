##
## zuna07: SECI RM3 / RM4 link,
## stacked on the station's serial lines (zuna_uart).
##
## Every step of a transaction is one send of the station (a character, the
## pair 00 10, or a whole record) and the mechanism's answer to it. A
## channel read is 00, 09, n (RM3) or 00, 04, n - 1 (RM4), answered by a
## record of 14 (RM3) or 12 (RM4) characters; a record write is the write
## opening (... 01), the channel character (RM3: n + 2; RM4: 03, n - 1) and
## the record sent in one piece.
##

import sigrokdecode as srd

HOST, MECH = 0, 1
LINE = ('D0', 'S7')

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_seci'
    name = 'ZUNA SECI'
    longname = 'zuna07 SECI RM3 / RM4 link'
    desc = 'SECI RM3 and RM4 coin mechanism commands and records (zuna07).'
    license = 'gplv2+'
    inputs = ['zuna_uart']
    outputs = []
    tags = ['Embedded/industrial']
    options = (
        {'id': 'model', 'desc': 'Mechanism', 'default': 'rm3',
            'values': ('rm3', 'rm4')},
        {'id': 'gap', 'desc': 'Bit times between two sends', 'default': 2},
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
        self.send = []
        self.reply = []
        self.history = []    # the last sends, each a list of byte values
        self.expect = None   # ('read', channel, ss, es) or ('coin', None, ss, es)
        self.target = None   # the channel a record write is for
        self.wrote = False   # a record was written (RM4: 04 then ends the write)
        self.bit = {HOST: 0, MECH: 0}

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def rm4(self):
        return self.options['model'] == 'rm4'

    def record_chars(self):
        return 12 if self.rm4() else 14

    def record_text(self, c):
        if self.rm4():
            v = c[:6] + [c[6] * 256 + c[7], c[8] * 256 + c[9]]
            return '%s, options %d, sortie %d' % (' '.join(str(x) for x in v), c[10] & 15, c[11] & 7)
        v = [c[2 * i] * 256 + c[2 * i + 1] for i in range(6)]
        return '%s, options %d, sortie %d' % (' '.join(str(x) for x in v), c[12] & 15, c[13] & 15)

    def end_send(self):
        if not self.send:
            return
        s, self.send = self.send, []
        ss, es = s[0][0], s[-1][1]
        b = [f[2] for f in s]
        for f in s:
            if not f[3]:
                self.ann(f[0], f[1], 2, 'Trame invalide (bit d\'arrêt) : %02X' % f[2])
        if self.expect:
            self.ann(self.expect[2], self.expect[3], 2, 'Pas de réponse')
            self.expect = None
        h = self.history
        prev = h[-1] if h else []
        if self.rm4() and len(b) == 13 and h[-3:] == [[0x01], [0x00], [0x03]] and b[0] <= 11:
            # The channel character (wait factor 1) runs into the record.
            self.target = b[0] + 1
            self.ann(s[0][0], s[0][1], 0, 'Écriture canal %d' % self.target)
            h.append(b[:1])
            s, b, ss = s[1:], b[1:], s[1][0]
        if len(b) >= 12:
            if len(b) != self.record_chars():
                self.ann(ss, es, 2, 'Enregistrement de %d caractères au lieu de %d'
                         % (len(b), self.record_chars()))
            else:
                self.ann(ss, es, 0, 'Écriture canal %s : %s'
                         % (self.target if self.target else '?', self.record_text(b)))
                self.wrote = True
            self.target = None
            h.append(b)
        elif b == [0x00, 0x10]:
            self.ann(ss, es, 0, 'Ouverture (00 10)')
            h.append(b)
        else:
            # Characters sent with a short wait run into one another.
            for f in s:
                self.command_char(f[0], f[1], f[2])
        del h[:-4]

    def command_char(self, ss, es, c):
        h = self.history
        prev = h[-1] if h else []
        if self.expect:
            self.ann(self.expect[2], self.expect[3], 2, 'Pas de réponse')
            self.expect = None
        n = None
        if self.rm4() and prev == [0x04] and self.wrote:
            self.ann(ss, es, 0, 'Fin d\'écriture (%02X)' % c)
            self.wrote = False
        elif not self.rm4() and prev == [0x09] and 1 <= c <= 6:
            n = c
        elif self.rm4() and prev == [0x04] and c <= 11:
            n = c + 1
        elif not self.rm4() and prev == [0x02] and 1 <= c <= 6 or \
                self.rm4() and c == 0x01 and h[-3:] == [[0x02], [0x00], [0x00]]:
            self.ann(ss, es, 0, 'Test pièce')
            self.expect = ('coin', None, ss, es)
        elif not self.rm4() and 3 <= c <= 8 and prev == [0x00] and len(h) >= 2 and h[-2] == [0x01]:
            self.target = c - 2
            self.ann(ss, es, 0, 'Écriture canal %d' % self.target)
        elif self.rm4() and h[-3:] == [[0x01], [0x00], [0x03]] and c <= 11:
            self.target = c + 1
            self.ann(ss, es, 0, 'Écriture canal %d' % self.target)
        elif c == 0x01:
            self.ann(ss, es, 0, 'Ouverture en écriture (01)')
        else:
            self.ann(ss, es, 0, '%02X' % c)
        if n:
            self.ann(ss, es, 0, 'Lecture canal %d' % n)
            self.expect = ('read', n, ss, es)
            h.append(['canal', c])  # a channel character, never a command
        else:
            h.append([c])

    def end_reply(self):
        if not self.reply:
            return
        r, self.reply = self.reply, []
        ss, es = r[0][0], r[-1][1]
        b = [f[2] for f in r]
        kind = self.expect[0] if self.expect else None
        n = self.expect[1] if self.expect else None
        self.expect = None
        if any(not f[3] for f in r):
            self.ann(ss, es, 2, 'Réponse illisible : %s' % ' '.join('%02X' % v for v in b))
            return
        if kind in ('read', 'coin'):
            if len(b) != self.record_chars():
                self.ann(ss, es, 2, 'Réponse tronquée : %d caractères sur %d'
                         % (len(b), self.record_chars()))
            elif kind == 'read':
                self.ann(ss, es, 1, 'Canal %d : %s' % (n, self.record_text(b)))
            else:
                self.ann(ss, es, 1, 'Pièce : %s' % self.record_text(b))
        else:
            self.ann(ss, es, 1, ' '.join('%02X' % v for v in b))

    def byte(self, who, ss, es, value, valid):
        if who == HOST:
            self.end_reply()
            if self.send and ss - self.send[-1][1] > self.options['gap'] * max(self.bit[HOST], 1):
                self.end_send()
            self.send.append((ss, es, value, valid))
        else:
            self.end_send()
            self.reply.append((ss, es, value, valid))

    def silence(self):
        self.end_send()
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
            if who == MECH and not self.reply:
                # A pulse shorter than a bit: the mechanism's "ready" after 00.
                self.end_send()
                return
            self.ann(ss, es, 2, 'Bruit sur la ligne %s' % LINE[who])
        elif kind == 'STUCK':
            self.ann(ss, es, 2, 'Ligne bloquée (%s)' % LINE[who])
