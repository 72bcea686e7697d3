##
## zuna07: NRI G13.6000 character link,
## stacked on the station's serial lines (zuna_uart).
##

'''
The NRI G13.6000 link of the zuna07 station: the station's characters on
D0 ("I" open, "X" separator, "Z" select for writing, block addresses and
bytes as hexadecimal text, "W" coin test, "T" coin teach, the byte E9)
and the mechanism's hexadecimal replies on S7, named as blocks and
bytes.

Stack on zuna_uart, itself on the UART decoder: rx = D0, tx = S7 with
invert_tx = yes, baud rate = 1e6 / (G136 delay count + 1) on a station
trace (7092 for 140).
'''

from .pd import Decoder
