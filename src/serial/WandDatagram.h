#pragma once

#include <QString>
#include <QtGlobal>

// One wand packet: exactly 72 bytes. Byte 23 is the wand ID (signed); bytes
// 27, 31, ... 63 (the last byte of each 4-byte group from 24-27 to 60-63)
// carry the ten tag characters. The tag ends at the first zero byte. No other
// byte is read.
namespace WandDatagram
{
constexpr qint64 SIZE = 72;
constexpr int WAND_ID_OFFSET = 23;
constexpr int TAG_OFFSET = 27;
constexpr int TAG_STRIDE = 4;
constexpr int TAG_LENGTH = 10;
}

// Takes the wand ID and the tag out of a packet. Returns false (and leaves
// the outputs alone) when data is null or size is not 72. Bytes are taken as
// Latin-1, so any byte value gives a character.
bool parseWandDatagram(const char* data, qint64 size, int* wandId, QString* tag);
