##
## zuna07: C120 and C220B word link,
## stacked on the station's serial lines (zuna_uart).
##

'''
The C120 and C220B word link of the zuna07 station: the station's
commands on D0 (open, close, read word, write word, measure coin) and
the mechanism's replies on S7 (acknowledge 5, word bytes, check byte),
named and checked.

Stack on zuna_uart, itself on the UART decoder: rx = D0 (the station),
tx = S7 (the mechanism) with invert_tx = yes, baud rate = 1e6 / (delay
count + 1) on a station trace (7194 for the C120 delay count 138). On a
logic analyser capture of the real line, probe the cable's lines and use
the real bit rate.
'''

from .pd import Decoder
