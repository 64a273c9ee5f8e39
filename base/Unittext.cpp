#include "base/Unittext.h"

#include <QList>
#include <QString>
#include <array>

namespace {

// Windows-1252 where it differs from Latin-1: bytes 0x80 to 0x9F. 0 marks the five bytes that
// stand for no character.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The character a byte stands for; 0 for a control byte or one without a character.
char32_t CharacterOf(unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F)
        return 0;
    if (byte >= 0x80 && byte <= 0x9F)
        return HighControls[byte - 0x80];
    return byte;
}

} // namespace

int UnitTextByte(char32_t character) {
    if (character < 0x20 || character == 0x7F || (character >= 0x80 && character <= 0x9F))
        return -1;
    if (character <= 0xFF)
        return static_cast<int>(character);
    for (size_t i = 0; i < HighControls.size(); ++i) {
        if (HighControls[i] != 0 && HighControls[i] == character)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

std::string EncodeUnitText(std::string_view utf8, std::string* refused) {
    std::string bytes;
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    for (const uint code : text.toUcs4()) {
        const auto character = static_cast<char32_t>(code);
        const int byte = UnitTextByte(character);
        if (byte >= 0) {
            bytes += static_cast<char>(byte);
            continue;
        }
        bytes += '?';
        if (refused != nullptr) {
            const std::string one = QString::fromUcs4(&character, 1).toStdString();
            if (refused->find(one) == std::string::npos)
                *refused += one;
        }
    }
    return bytes;
}

std::string DecodeUnitText(std::string_view bytes, int* replaced) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char byte : bytes) {
        const char32_t character = CharacterOf(static_cast<unsigned char>(byte));
        if (character == 0) {
            text += QLatin1Char('?');
            if (replaced != nullptr)
                ++*replaced;
        } else {
            text += QChar(static_cast<char16_t>(character));
        }
    }
    return text.toStdString();
}
