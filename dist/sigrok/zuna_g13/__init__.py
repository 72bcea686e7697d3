##
## zuna07: NRI G13.0000 character link, standalone (two bit rates).
##

'''
The NRI G13.0000 link of the zuna07 station: asynchronous characters (one
start bit, eight data bits, one stop bit) at two bit rates, the slow one
four times slower than the fast one, both from the G13 delay count. The
station's characters on D0 are named as commands (reset, "I" opening, "U"
mode read, "Z" identity, "J" mode write, "V" channel read, "D" channel
select, values, "E" date, "W" coin test, "T" coin teach), the mechanism's
replies on S7 (digits, "/", "=") as the window reads them.

Standalone, since one UART decoder has one bit rate: channels tx = D0,
rx = S7; option delay = the G13 delay count of the trace (the file's
"temporisation"), rx inverted as the station reads it.
'''

from .pd import Decoder
