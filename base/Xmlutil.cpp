#include "base/Xmlutil.h"

#include "base/Errors.h"
#include "base/Regularfile.h"

#include <QString>
#include <QStringDecoder>
#include <cstring>
#include <sstream>

namespace {

bool IsXmlChar(char16_t c) {
    return c == u'\t' || c == u'\n' || c == u'\r' || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
}

// Whether `text` may need a replacement: plain ASCII without control characters is the
// common case and is left alone without decoding.
bool MayHoldForbidden(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x80 || (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r'))
            return true;
    }
    return false;
}

std::string XmlSafe(const char* text) {
    // Bytes that are no UTF-8 decode to U+0000, which XML never allows either; a leading
    // U+FEFF is part of the text, not a byte-order mark to drop.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInvalidToNull |
                                                    QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decode(QByteArrayView(text, static_cast<qsizetype>(std::strlen(text))));
    for (QChar& c : decoded) {
        // A surrogate pair is a valid character beyond U+FFFF; the decoder makes no lone ones.
        if (!c.isSurrogate() && !IsXmlChar(c.unicode()))
            c = u'?';
    }
    return decoded.toStdString();
}

void ReplaceForbidden(pugi::xml_node node) {
    for (pugi::xml_attribute attribute : node.attributes()) {
        if (MayHoldForbidden(attribute.value()))
            attribute.set_value(XmlSafe(attribute.value()).c_str());
    }
    if (MayHoldForbidden(node.value()))
        node.set_value(XmlSafe(node.value()).c_str());
    for (pugi::xml_node child : node.children())
        ReplaceForbidden(child);
}

} // namespace

std::string XmlGetAttribute(const pugi::xml_node& element, const char* name) {
    const pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute)
        throw TModelError(std::string("Could not find attribute \"") + name + "\" in XML node.");
    return attribute.value();
}

pugi::xml_node XmlFindChild(const pugi::xml_node& element, const char* name) {
    pugi::xml_node found;
    for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_element && std::strcmp(child.name(), name) == 0)
            found = child;
    }
    return found;
}

void XmlLoadFile(pugi::xml_document& document, const std::string& path) {
    // Read here rather than by pugixml, which would wait forever on a FIFO and read a device
    // node without end.
    const std::string text = ReadRegularFile(path);
    const pugi::xml_parse_result result =
        document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        TModelError error(std::string("XML parse error in ") + path + ": " + result.description() +
                          " at offset " + std::to_string(result.offset));
        error.SourceOffset = result.offset;
        throw error;
    }
}

void XmlPlaceError(TModelError& error, const pugi::xml_node& element) {
    if (error.SourceOffset < 0)
        error.SourceOffset = element.offset_debug();
}

std::string XmlDocumentText(pugi::xml_document& document) {
    ReplaceForbidden(document);
    std::ostringstream text;
    document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
    return text.str();
}
