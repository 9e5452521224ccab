#include "MidiParser.h"

namespace
{
// Data bytes after a status byte (0x80..0xF7).
std::uint8_t dataBytesOf(std::uint8_t status)
{
    switch (status) {
    case 0xF1: // time code quarter frame
    case 0xF3: // song select
        return 1;
    case 0xF2: // song position
        return 2;
    default:
        break;
    }
    if (status >= 0xF0)
        return 0;
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}
} // namespace

void MidiParser::reset()
{
    mStatus = 0;
    mNeeded = 0;
    mCount = 0;
    mSysEx = false;
}

bool MidiParser::feed(std::uint8_t byte, MidiMessage& out)
{
    if (byte >= 0xF8) // realtime: clock, start, stop, active sensing, ...
        return false;
    if (byte & 0x80) {
        mSysEx = byte == 0xF0;
        mCount = 0;
        mNeeded = dataBytesOf(byte);
        // SysEx and messages without data leave nothing to collect.
        mStatus = mSysEx || mNeeded == 0 ? 0 : byte;
        return false;
    }
    if (mSysEx || mStatus == 0)
        return false;
    mData[mCount++] = byte;
    if (mCount < mNeeded)
        return false;
    mCount = 0;
    const std::uint8_t status = mStatus;
    if (status >= 0xF0) { // system common: done, and no running status
        mStatus = 0;
        return false;
    }
    out.mChannel = status & 0x0F;
    out.mData1 = mData[0];
    out.mData2 = mNeeded > 1 ? mData[1] : 0;
    switch (status & 0xF0) {
    case 0x80:
        out.mKind = MidiMessage::NoteOff;
        return true;
    case 0x90:
        out.mKind = out.mData2 == 0 ? MidiMessage::NoteOff : MidiMessage::NoteOn;
        return true;
    case 0xB0:
        out.mKind = MidiMessage::ControlChange;
        return true;
    case 0xC0:
        out.mKind = MidiMessage::ProgramChange;
        return true;
    default: // aftertouch, pitch bend
        return false;
    }
}
