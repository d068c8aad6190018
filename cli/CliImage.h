// What bootload-cli tells of the image it sends: how the image came (raw or Intel HEX),
// how many 128-byte blocks an update sends and the SHA-256 of their bytes, and what a HEX
// file held outside program memory, which is not sent.
#pragma once

#include <QJsonObject>
#include <QString>

class TMainForm;

// Adds Format, Blocks, BlocksInRange, SentSha256, LeftOut ({First, Last, Bytes} each) and
// LeftOutBytes to the report's "Image" object.
void AddImageFacts(const TMainForm& Form, QJsonObject& Image);

// One line, and a second for the data left out when there is any:
// "Image: Intel HEX, 3 of the 368 blocks of program memory 0x0800..0xBFFF sent;
// SHA-256 of the bytes sent 1f2e..."
QString ImageFactsText(const TMainForm& Form);
