// Raw bytes as MIDI packets: the first byte gives the packet length (1 to 16), the rest is cut into packets of that length.
// Every message is well formed, never more messages than data bytes, and realtime bytes change nothing wherever they are.
#include "MidiParser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
std::vector<MidiMessage> parseAll(const uint8_t* data, size_t size, size_t packet, bool withRealtime)
{
    MidiParser parser;
    std::vector<MidiMessage> messages;
    std::vector<uint8_t> bytes;
    size_t dataBytes = 0;
    for (size_t at = 0; at < size; at += packet) {
        bytes.clear();
        for (size_t i = at; i < size && i < at + packet; ++i)
            if (withRealtime || data[i] < 0xF8)
                bytes.push_back(data[i]);
        parser.parse(bytes.data(), bytes.size(), [&](const MidiMessage& m) {
            const bool kindOk = m.mKind <= MidiMessage::ProgramChange;
            const bool velocityOk = m.mKind != MidiMessage::NoteOn || m.mData2 > 0;
            const bool programOk = m.mKind != MidiMessage::ProgramChange || m.mData2 == 0;
            if (!kindOk || !velocityOk || !programOk || m.mChannel > 15 || m.mData1 > 127 || m.mData2 > 127)
                std::abort();
            messages.push_back(m);
        });
        for (uint8_t b : bytes)
            dataBytes += b < 0x80;
    }
    if (messages.size() > dataBytes)
        std::abort();
    return messages;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t packet = data[0] % 16 + 1;
    const std::vector<MidiMessage> all = parseAll(data + 1, size - 1, packet, true);
    const std::vector<MidiMessage> some = parseAll(data + 1, size - 1, packet, false);
    if (all.size() != some.size())
        std::abort();
    for (size_t i = 0; i < all.size(); ++i)
        if (std::memcmp(&all[i], &some[i], sizeof(MidiMessage)) != 0)
            std::abort();
    return 0;
}
