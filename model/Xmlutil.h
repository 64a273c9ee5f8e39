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

// Loads an XML file into `document`; raises TModelError with pugixml's description and the
// byte offset when the file is not well-formed or cannot be read.
void XmlLoadFile(pugi::xml_document& document, const std::string& path);

// Places a load error at `element`, unless an element inside it was already named.
void XmlPlaceError(TModelError& error, const pugi::xml_node& element);
