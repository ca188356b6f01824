#include "exchanges/BitText.h"

QString WordToBitText(uint16_t word)
{
    QString text;
    text.reserve(17);
    for (int position = 1; position <= 16; ++position) {
        if (position == 9)
            text += QLatin1Char(' ');
        text += (word & 0x8000) ? QLatin1Char('1') : QLatin1Char('0');
        word = uint16_t(word << 1);
    }
    return text;
}

uint16_t BitTextToWord(const QString& text)
{
    uint16_t result = 0;
    int bit = 0;
    const int last = qMin<int>(17, int(text.size()));
    for (int i = last - 1; i >= 0; --i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' '))
            continue;
        if (c == QLatin1Char('1') && bit < 16)
            result = uint16_t(result | (1u << bit));
        ++bit;
    }
    return result;
}

bool IsBitText(const QString& text)
{
    if (text.size() != 17)
        return false;
    for (int i = 0; i < 17; ++i) {
        const QChar c = text.at(i);
        if (i == 8 ? c != QLatin1Char(' ') : (c != QLatin1Char('0') && c != QLatin1Char('1')))
            return false;
    }
    return true;
}
