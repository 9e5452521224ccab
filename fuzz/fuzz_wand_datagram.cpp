// Raw bytes as a wand packet. Only 72-byte packets are accepted; the tag is
// at most 10 characters, holds no zero and is read from the fixed offsets.
#include "WandDatagram.h"

#include <cstdint>
#include <cstdlib>

namespace
{
void check(const char* data, qint64 size)
{
    int wandId = 1000;
    QString tag = QStringLiteral("untouched");
    const bool ok = parseWandDatagram(data, size, &wandId, &tag);
    if (ok != (data && size == WandDatagram::SIZE))
        std::abort();
    if (!ok) {
        if (wandId != 1000 || tag != QLatin1String("untouched"))
            std::abort();
        return;
    }
    if (wandId != static_cast<signed char>(data[WandDatagram::WAND_ID_OFFSET]))
        std::abort();
    if (tag.size() > WandDatagram::TAG_LENGTH || tag.contains(QChar(0)))
        std::abort();
    for (int i = 0; i < tag.size(); ++i) {
        const char byte = data[WandDatagram::TAG_OFFSET + i * WandDatagram::TAG_STRIDE];
        if (tag.at(i) != QChar::fromLatin1(byte))
            std::abort();
    }
    if (tag.size() < WandDatagram::TAG_LENGTH
        && data[WandDatagram::TAG_OFFSET + tag.size() * WandDatagram::TAG_STRIDE] != '\0')
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    check(bytes, qint64(size));
    // Most inputs are not 72 bytes long: also read the first 72 of longer ones.
    if (size > size_t(WandDatagram::SIZE))
        check(bytes, WandDatagram::SIZE);
    check(nullptr, WandDatagram::SIZE);
    return 0;
}
