#include "model/Xmlutil.h"

#include "model/Errors.h"

#include <cstring>

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
    const pugi::xml_parse_result result =
        document.load_file(path.c_str(), pugi::parse_default, pugi::encoding_auto);
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
