// placeholder until the serial device layer lands.
#pragma once
class TSerialDevice {};
