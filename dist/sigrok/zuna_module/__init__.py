##
## zuna07: the interface module, standalone decoder.
##

'''
The zuna07 interface module: its memory transfers (clock D2, select D3,
data to the memory D4, data from it S6, bytes least significant bit first)
named as zone 0 read, zone 1 read and zone 0 write with each byte's
address and the delay counts zone 0 holds; and the measurement of its
square wave on S5 (the high phase counted in port accesses) while the
station holds 0xFF on the data register (D7 high).
'''

from .pd import Decoder
