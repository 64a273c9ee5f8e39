#pragma once
// A strict XML 1.0 check, for what the program writes: pugixml reads a character reference such
// as &#3; or a raw control byte without complaint, where other programs' parsers refuse the file.
// Header-only so the fuzz targets can use it without the test support library.
#include <QByteArray>
#include <QXmlStreamReader>
#include <string>

// Empty when `text` is a well-formed document; otherwise the parser's error and its line.
inline std::string StrictXmlError(const std::string& text) {
    QXmlStreamReader reader(QByteArray::fromStdString(text));
    while (!reader.atEnd())
        reader.readNext();
    if (!reader.hasError())
        return {};
    return reader.errorString().toStdString() + " (line " + std::to_string(reader.lineNumber()) + ")";
}
