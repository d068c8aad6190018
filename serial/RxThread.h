// placeholder until the receive thread lands.
#pragma once
class TRxThread {};
