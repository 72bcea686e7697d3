##
## zuna07: Alberici AL3 link,
## stacked on the station's serial lines (zuna_uart).
##
## An exchange is one character of the station and the mechanism's answer
## to it (none when it did not answer). A command letter is followed by
## its arguments up to "0"; the answer to the "0" is the value asked for;
## the command letter and the arguments are echoed. A value received is
## sent back by the station, and answered with the echo.
##

import sigrokdecode as srd

HOST, MECH = 0, 1
LINE = ('D0', 'S7')

# Arguments of each command, its "0" included.
ARGS = {'R': 2, 'w': 4, 'r': 3, 'V': 1, 'v': 4, 'm': 2, 'I': 3, 'S': 1, 'g': 3}

def ch(v):
    return "'%s'" % chr(v) if 32 < v < 127 else '%02X' % v

class Decoder(srd.Decoder):
    api_version = 3
    id = 'zuna_al3'
    name = 'ZUNA AL3'
    longname = 'zuna07 Alberici AL3 link'
    desc = 'Alberici AL3 coin mechanism transactions (zuna07).'
    license = 'gplv2+'
    inputs = ['zuna_uart']
    outputs = []
    tags = ['Embedded/industrial']
    options = ()
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
        self.host = None     # (ss, es, value, valid) of the last character sent
        self.answers = []    # the mechanism's characters since then
        self.state = 'command'
        self.cmd = None
        self.args = []
        self.ss = 0
        self.data = []       # values of a transaction
        self.echo_of = None  # the value the next character must send back
        self.left = 0        # values still to come in a channel read
        self.prev_reply = None

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def ann(self, ss, es, cls, text):
        self.put(ss, es, self.out_ann, [cls, [text]])

    def check_echo(self, h, r):
        if r is None:
            self.ann(h[0], h[1], 2, 'Pas de réponse à %s' % ch(h[2]))
        elif r[2] != h[2]:
            self.ann(r[0], r[1], 2, 'Écho faux : %s envoyé, %s reçu' % (ch(h[2]), ch(r[2])))

    def value(self, h, r):
        if r is None:
            self.ann(h[0], h[1], 2, 'Pas de réponse à %s' % ch(h[2]))
            return None
        return r[2]

    # One exchange: the character sent, h, and its answer r (or None).
    def exchange(self, h, r):
        v = h[2]
        if self.state == 'sendback':
            if self.echo_of is not None and v != self.echo_of:
                self.ann(h[0], h[1], 2, 'Renvoi faux : %02X au lieu de %02X' % (v, self.echo_of))
            self.echo_of = None
            if self.cmd == 'R' and self.left > 0:
                self.left -= 1
                x = self.value(h, r)
                self.data.append(x)
                if x is not None:
                    # The 15th value goes back with bit 7 cleared.
                    self.echo_of = x & 0x7F if len(self.data) == 15 else x
                return
            if self.cmd == 'g' and self.left > 1:
                self.left -= 1
                self.check_echo(h, r)
                self.echo_of = v
                return
            self.check_echo(h, r)
            self.finish(h[1])
            return
        if self.state == 'args':
            self.args.append(v)
            if len(self.args) < ARGS[self.cmd]:
                self.check_echo(h, r)
                return
            if self.args[-1] != 0x30:
                self.ann(h[0], h[1], 2, 'Fin de commande %s au lieu de \'0\'' % ch(v))
            x = self.value(h, r)
            self.data = [x]
            c = self.cmd
            if c in ('V', 'S', 'I'):
                self.finish(h[1])
                return
            self.state = 'sendback'
            self.echo_of = x
            self.left = 17 if c == 'R' else (3 if c == 'g' else 0)
            return
        # A command: its letter (echoed), or the station's "A"; or a value
        # received last, sent back (the type read sends its value back).
        self.ss = h[0]
        if self.prev_reply is not None and v == self.prev_reply:
            self.ann(h[0], h[1], 0, 'Renvoi %02X' % v)
            return
        if v == 0x41:
            self.check_echo(h, r)
            self.ann(h[0], h[1], 0, 'A')
            return
        c = chr(v) if 32 < v < 127 else None
        if c in ARGS:
            self.check_echo(h, r)
            self.cmd, self.args, self.state = c, [], 'args'
            return
        self.ann(h[0], h[1], 2, 'Caractère hors commande : %02X' % v)

    def finish(self, es):
        c, a, d = self.cmd, self.args, self.data
        self.state, self.cmd = 'command', None
        missing = any(x is None for x in d)
        if c == 'R':
            text = 'Lecture canal %d' % (a[0] + 1)
            self.ann(self.ss, es, 0, text)
            if missing or len(d) != 18:
                self.ann(self.ss, es, 2, '%s : réponse incomplète' % text)
            else:
                self.ann(self.ss, es, 1, 'Canal %d : %s' % (a[0] + 1, ' '.join('%02X' % x for x in d)))
        elif c == 'w':
            self.ann(self.ss, es, 0, 'Écriture enregistrement %d, adresse %02X : %02X' % (a[2], a[1], a[0]))
            if not missing and d[0] != a[0]:
                self.ann(self.ss, es, 2, 'Écriture non confirmée : %02X' % d[0])
        elif c == 'r':
            self.ann(self.ss, es, 0, 'Lecture enregistrement %d, adresse %02X' % (a[1], a[0]))
            if not missing:
                self.ann(self.ss, es, 1, 'Octet : %02X' % d[0])
        elif c == 'V':
            self.ann(self.ss, es, 0, 'Lecture du type')
            if not missing:
                self.ann(self.ss, es, 1, 'Type %d' % d[0])
        elif c == 'v':
            self.ann(self.ss, es, 0, 'Écriture du type %d' % a[0])
        elif c == 'm':
            self.ann(self.ss, es, 0, 'Mesure %d' % (a[0] - 7))
            if not missing:
                self.ann(self.ss, es, 1, 'Mesure %d : %d' % (a[0] - 7, d[0]))
        elif c == 'g':
            self.ann(self.ss, es, 0, 'Ouverture de lecture')
        elif c == 'I':
            self.ann(self.ss, es, 0, 'Apprentissage : %d pièce(s), canal %d' % (a[0], a[1] + 1))
        elif c == 'S':
            self.ann(self.ss, es, 0, 'Fin (S)')
            if not missing and d[0] != 0x46:
                self.ann(self.ss, es, 2, 'Réponse %s au lieu de \'F\'' % ch(d[0]))
        if missing and c != 'R':
            self.ann(self.ss, es, 2, 'Pas de réponse')

    def end_exchange(self):
        if self.host is None:
            return
        h, r = self.host, self.answers
        self.host, self.answers = None, []
        for f in r:
            if not f[3]:
                self.ann(f[0], f[1], 2, 'Réponse illisible : %02X' % f[2])
        good = [f for f in r if f[3]]
        if len(good) > 1 and self.cmd != 'I':
            self.ann(good[1][0], good[-1][1], 2, 'Caractères en trop')
        self.exchange(h, good[0] if good else None)
        self.prev_reply = good[0][2] if good else None
        if self.cmd is None and len(good) > 1 and h[2] == 0x30:
            # Coin counts of a teach come on their own.
            for f in good[1:]:
                self.ann(f[0], f[1], 1, 'Pièces : %d' % f[2])

    def silence(self):
        if self.cmd != 'I':
            self.end_exchange()

    def decode(self, ss, es, data):
        kind, who, pdata = data
        if kind == 'FRAME':
            value, valid, _ = pdata
            if who == HOST:
                self.end_exchange()
                if not valid:
                    self.ann(ss, es, 2, 'Trame invalide (bit d\'arrêt) : %02X' % value)
                self.host = (ss, es, value, valid)
            elif self.host is None:
                if valid and self.cmd is None:
                    self.ann(ss, es, 1, 'Pièces : %d' % value)
                else:
                    self.ann(ss, es, 2, 'Réponse sans commande : %02X' % value)
            else:
                self.answers.append((ss, es, value, valid))
        elif kind == 'SILENCE':
            self.silence()
        elif kind == 'REST_LOW':
            self.ann(ss, es, 0, 'Ligne D0 au repos bas')
        elif kind == 'NOISE':
            self.ann(ss, es, 2, 'Bruit sur la ligne %s' % LINE[who])
        elif kind == 'STUCK':
            self.ann(ss, es, 2, 'Ligne bloquée (%s)' % LINE[who])
