##
## zuna07: the station's serial lines, stacked on sigrok's UART decoder.
##

'''
The serial lines of the zuna07 station as its link decoders need them:
the station's bytes on D0 and the mechanism's on S7, with the line events
a bench or a real cable gives (noise, a line held low, D0 at rest low, the
mechanism's line idle long enough for an awaited answer to be missing).
The C120 / C220B, G13.6000, SECI and AL3 decoders stack on it.

Stack on the UART decoder: rx = D0, tx = S7 with invert_tx = yes, baud
rate = 1e6 / (delay count + 1) on a station trace.
'''

from .pd import Decoder
