##
## zuna07: C220 / SENTINEL memory link, standalone two-wire decoder.
##

'''
The C220 / SENTINEL memory link of the zuna07 station: a clocked two-wire
link (clock D5, data D6 from the station, the mechanism's data on S4),
bytes most significant bit first with an acknowledge clock, framed by
start, restart and stop. Named as word reads, write enables, erases and
word writes of the 64-word memory; the checksum word is checked against a
whole read, missing acknowledges are shown.

Standalone rather than stacked on the I2C decoder: on a station trace the
mechanism's bits are on their own wire (S4), which the I2C decoder cannot
take. On a logic analyser capture of the real line, put the data wire on
sda and leave sda_in unassigned.
'''

from .pd import Decoder
