#pragma once
// Small helpers over pugixml shared by the catalogue, the settings tree and settings files.
#include <pugixml.hpp>
#include <string>

class TModelError;

// The attribute's value; raises TModelError "Could not find attribute \"<name>\" in XML node."
// when the element does not carry it.
std::string XmlGetAttribute(const pugi::xml_node& element, const char* name);

// The last element child whose name equals `name` exactly, or an empty node.
pugi::xml_node XmlFindChild(const pugi::xml_node& element, const char* name);

// Loads an XML file into `document`, read through ReadRegularFile (so a FIFO, a directory or a
// file beyond MaxInputFileSize is refused with its message); raises TModelError with pugixml's
// description and the byte offset when the file is not well-formed.
void XmlLoadFile(pugi::xml_document& document, const std::string& path);

// Places a load error at `element`, unless an element inside it was already named.
void XmlPlaceError(TModelError& error, const pugi::xml_node& element);

// The document as indented UTF-8 text that every XML 1.0 parser accepts: a character that XML
// 1.0 does not allow in a document (a control character other than tab, line feed and carriage
// return, U+FFFE, U+FFFF) or a byte that is not UTF-8, in any value or text, is written as "?".
// pugixml would write a control character as a character reference such as &#3;, which other
// parsers refuse.
std::string XmlDocumentText(pugi::xml_document& document);
