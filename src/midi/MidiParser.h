#pragma once

#include <cstddef>
#include <cstdint>

// One channel message the program acts on.
struct MidiMessage
{
    enum Kind : std::uint8_t { NoteOff, NoteOn, ControlChange, ProgramChange };
    Kind mKind = NoteOff;
    std::uint8_t mChannel = 0; // 0..15
    std::uint8_t mData1 = 0;   // key, controller or program, 0..127
    std::uint8_t mData2 = 0;   // velocity or controller value, 0..127 (0 for a program change)
};

// Turns the bytes of MIDI packets into messages. Fixed-size state, no
// allocation, no locks: it runs on the port's callback thread.
//
// - Running status: data bytes after a complete message repeat its status.
// - A note-on with velocity 0 is a note-off.
// - Realtime bytes (0xF8..0xFF) are ignored wherever they appear.
// - SysEx of any length is skipped, also across packets, until its end byte
//   or any other status byte.
// - Other channel and system common messages are recognised and ignored;
//   system common ones cancel running status.
// - A message still incomplete at the end of a packet is dropped (a packet
//   carries whole messages), and so are data bytes without a status.
class MidiParser
{
public:
    // Parses one packet and calls sink(const MidiMessage&) for each message.
    template <typename Sink>
    void parse(const std::uint8_t* bytes, std::size_t size, Sink&& sink)
    {
        MidiMessage message;
        for (std::size_t i = 0; i < size; ++i)
            if (feed(bytes[i], message))
                sink(message);
        mCount = 0;
    }

    // Forgets running status and any SysEx in progress.
    void reset();

    // One byte; true when it completed a message of interest, stored in `out`.
    bool feed(std::uint8_t byte, MidiMessage& out);

private:
    std::uint8_t mStatus = 0; // running status; 0 none
    std::uint8_t mNeeded = 0; // data bytes the status takes
    std::uint8_t mCount = 0;  // data bytes collected
    std::uint8_t mData[2] = {0, 0};
    bool mSysEx = false;
};
