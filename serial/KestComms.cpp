// placeholder until the serial component lands: links, opens nothing.
#include "serial/KestComms.h"

#include "serial/RxCondition.h"
#include "serial/RxThread.h"
#include "serial/SerialDevice.h"

TKestComms::TKestComms(QObject* Owner) : QObject(Owner) {}
TKestComms::~TKestComms() = default;
bool TKestComms::Open() { return false; }
void TKestComms::Close() { ReplyState = -2; }
bool TKestComms::IsOpen() const { return false; }
bool TKestComms::event(QEvent* Event) { return QObject::event(Event); }
