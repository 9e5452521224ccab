#include "WandDatagram.h"

bool parseWandDatagram(const char* data, qint64 size, int* wandId, QString* tag)
{
    if (!data || size != WandDatagram::SIZE)
        return false;
    char text[WandDatagram::TAG_LENGTH];
    int length = 0;
    while (length < WandDatagram::TAG_LENGTH) {
        const char c = data[WandDatagram::TAG_OFFSET + length * WandDatagram::TAG_STRIDE];
        if (c == '\0')
            break;
        text[length++] = c;
    }
    if (wandId)
        *wandId = static_cast<signed char>(data[WandDatagram::WAND_ID_OFFSET]);
    if (tag)
        *tag = QString::fromLatin1(text, length);
    return true;
}
