##
## zuna07: Alberici AL3 link,
## stacked on the station's serial lines (zuna_uart).
##

'''
The Alberici AL3 link of the zuna07 station: every character the station
sends on D0 is answered by one character on S7, an echo or a value; the
station sends each value it receives back before it gets the next one.
Named as transactions (channel read, byte read and write, type,
measures, teach, closing) with the echo rule checked.

Stack on zuna_uart, itself on the UART decoder: rx = D0, tx = S7 with
invert_tx = yes, baud rate = 1e6 / (ALB delay count + 1) on a station
trace (14493 for 68).
'''

from .pd import Decoder
