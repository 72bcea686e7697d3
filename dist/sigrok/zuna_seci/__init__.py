##
## zuna07: SECI RM3 / RM4 link,
## stacked on the station's serial lines (zuna_uart).
##

'''
The SECI RM3 and RM4 link of the zuna07 station: the station's command
characters on D0 (read and write openings, channel reads, record writes,
coin tests) and the mechanism's records on S7, named as channels and
values.

Stack on zuna_uart, itself on the UART decoder: rx = D0, tx = S7 with
invert_tx = yes, baud rate = 1e6 / (RM3 or RM4 delay count + 1) on a
station trace (14493 for 68).
'''

from .pd import Decoder
