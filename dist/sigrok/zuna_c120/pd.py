##
## zuna07: C120 and C220B word link,
## stacked on the station's serial lines (zuna_uart).
##
## The station sends a command (4 or 5 bytes, 3 for the C220B's open and
## close), the mechanism answers with 5 (acknowledge) and, for a word read,
## the word number, the two bytes and a check byte (first + second + 0x3B).
## A command is the run of station bytes that follow one another closely;
## a reply is what the mechanism sends until the next command.
##

import sigrokdecode as srd

HOST, MECH = 0, 1
LINE = ('D0', 'S7')
ACK, NAK = 0x05, 0xFA

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_c120'
    name = 'ZUNA C120'
    longname = 'zuna07 C120 / C220B word link'
    desc = 'C120 and C220B coin mechanism commands and replies (zuna07).'
    license = 'gplv2+'
    inputs = ['zuna_uart']
    outputs = []
    tags = ['Embedded/industrial']
    options = (
        {'id': 'family', 'desc': 'Mechanism', 'default': 'c120',
            'values': ('c120', 'c220b')},
        {'id': 'gap', 'desc': 'Bit times between two commands', 'default': 8},
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
        self.cmd = []        # [(ss, es, value, valid)] of the command being received
        self.reply = []      # the same for the reply
        self.last = None     # the last command, for its reply: (kind, bytes, ss, es)
        self.answered = True
        self.bit = {HOST: 0, MECH: 0}
        self.await_coin = False

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def put_cmd(self, ss, es, text):
        self.ann(ss, es, 0, text)

    def put_reply(self, ss, es, text):
        self.ann(ss, es, 1, text)

    def put_error(self, ss, es, text):
        self.ann(ss, es, 2, text)

    def expected_length(self, b):
        c220b = self.options['family'] == 'c220b'
        if not b:
            return 0
        if b[0] == 0x05:
            if len(b) >= 2 and b[1] in (0x78, 0x79):
                return 3 if c220b else 4
            return 4
        if b[0] == 0x7A:
            return 5
        if b[0] == 0x7F and not c220b:
            return 4
        if b[0] == 0xFF and c220b:
            return 2
        return 1

    def hexs(self, b):
        return ' '.join('%02X' % v for v in b)

    # A command ends here: name it, check it, and remember it for its reply.
    def end_command(self):
        if not self.cmd:
            return
        ss, es = self.cmd[0][0], self.cmd[-1][1]
        b = [f[2] for f in self.cmd]
        self.cmd = []
        if not self.answered and self.last:
            k, lb, lss, les = self.last
            if k in ('open', 'read', 'measure'):
                self.put_error(lss, les, 'Pas de réponse')
        self.answered = False
        self.await_coin = False
        want = self.expected_length(b)
        kind = 'unknown'
        if len(b) < want:
            self.put_error(ss, es, 'Commande tronquée : %s' % self.hexs(b))
            kind = 'truncated'
        elif b[:3] == [0x05, 0x78, 0x78]:
            kind, text = 'open', 'Ouverture'
        elif b[:3] == [0x05, 0x79, 0x79]:
            kind, text = 'close', 'Fermeture'
        elif b[:2] == [0x05, 0x7B] and len(b) == 4:
            kind, text = 'read', 'Lecture mot %d' % b[2]
            if b[3] != (0x7B + b[2]) & 0xFF:
                self.put_error(ss, es, 'Somme de commande fausse : %02X' % b[3])
        elif b[0] == 0x7A and len(b) == 5:
            kind, text = 'write', 'Écriture mot %d : %02X %02X' % (b[1], b[2], b[3])
            if b[4] != sum(b[:4]) & 0xFF:
                self.put_error(ss, es, 'Somme de commande fausse : %02X' % b[4])
        elif b == [0x7F, 0x1F, 0x9E, 0xFF] or b == [0xFF, 0xFF]:
            kind, text = 'measure', 'Mesure pièce'
        else:
            self.put_error(ss, es, 'Commande inconnue : %s' % self.hexs(b))
        if kind not in ('unknown', 'truncated'):
            self.put_cmd(ss, es, text)
        self.last = (kind, b, ss, es)

    # A reply ends here: check it against the command it answers.
    def end_reply(self):
        if not self.reply:
            return
        ss, es = self.reply[0][0], self.reply[-1][1]
        b = [f[2] for f in self.reply]
        bad = [f for f in self.reply if not f[3]]
        self.reply = []
        self.answered = True
        kind = self.last[0] if self.last else 'none'
        if bad:
            self.put_error(ss, es, 'Réponse illisible : %s' % self.hexs(b))
            return
        if b == [NAK]:
            self.put_error(ss, es, 'Caractère refusé (FA)')
            return
        if b[0] != ACK:
            self.put_error(ss, es, 'Pas d\'acquittement : %s' % self.hexs(b))
            return
        if kind == 'read':
            a = self.last[1][2]
            if len(b) < 5:
                self.put_error(ss, es, 'Réponse tronquée : %s' % self.hexs(b))
            elif b[1] != a:
                self.put_error(ss, es, 'Mot %d au lieu de %d' % (b[1], a))
            elif b[4] != (b[2] + b[3] + 0x3B) & 0xFF:
                self.put_error(ss, es, 'Somme fausse : mot %d, %02X %02X, %02X'
                               % (a, b[2], b[3], b[4]))
            else:
                self.put_reply(ss, es, 'Mot %d : %02X %02X' % (a, b[2], b[3]))
        elif kind == 'measure' and self.await_coin and len(b) >= 4:
            self.await_coin = False
            self.put_reply(ss, es, 'Pièce : %d %d %d' % (b[1], b[2], b[3]))
        elif kind == 'measure' and len(b) == 1:
            self.await_coin = True
            self.put_reply(ss, es, 'Acquitté, pièce attendue')
        elif len(b) == 1:
            self.put_reply(ss, es, 'Acquitté')
        else:
            self.put_error(ss, es, 'Réponse inattendue : %s' % self.hexs(b))

    def reply_length(self):
        if not self.reply:
            return 0
        kind = self.last[0] if self.last else 'none'
        if self.reply[0][2] != ACK:
            return 1
        if kind == 'read':
            return 5
        if kind == 'measure' and self.await_coin:
            return 4  # the coin: 5 and its three values, after the acknowledge
        return 1

    def byte(self, who, ss, es, value, valid):
        gap = self.options['gap'] * max(self.bit[HOST], 1)
        if who == HOST:
            self.end_reply()
            if self.cmd and ss - self.cmd[-1][1] > gap:
                self.end_command()
            self.cmd.append((ss, es, value, valid))
            # The last byte of a command may end on a low data bit (the
            # station listens right after it): its stop bit is not checked.
            if not valid and len(self.cmd) < self.expected_length([f[2] for f in self.cmd]):
                self.put_error(ss, es, 'Trame invalide (bit d\'arrêt)')
            if len(self.cmd) >= 2 and len(self.cmd) == self.expected_length([f[2] for f in self.cmd]):
                self.end_command()
        else:
            if self.cmd:
                self.end_command()
            if self.reply and ss - self.reply[-1][1] > 40 * max(self.bit[MECH], 1):
                self.end_reply()
            self.reply.append((ss, es, value, valid))
            if len(self.reply) >= self.reply_length():
                self.end_reply()

    def silence(self):
        self.end_command()
        self.end_reply()
        if not self.answered and self.last and self.last[0] in ('open', 'read', 'measure') \
                and not self.await_coin:
            self.put_error(self.last[2], self.last[3], 'Pas de réponse')
            self.answered = True

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
            # The station holds its last data bit while it listens: a low
            # that begins inside a command's last byte is that bit.
            if who == HOST and self.last and self.last[2] <= ss <= self.last[3]:
                return
            self.ann(ss, es, 2, 'Ligne bloquée (%s)' % LINE[who])
