#pragma once
// Generated definition files for the benchmarks: device types whose settings hold one ordinary
// group and one template group, with every kind of setting.
#include <string>

inline std::string BenchSetting(int i, bool inTemplate) {
    const std::string reg = std::to_string(1000 + 20 * i);
    const std::string offset = inTemplate ? " offset=\"1000\"" : "";
    const std::string name = "Setting " + std::to_string(i);
    switch (i % 7) {
    case 0:
        return "<setting value_type=\"int\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               " min=\"0\" max=\"100\" default=\"5\" value_text=\"%\"/>";
    case 1:
        return "<setting value_type=\"units\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " min=\"0\" max=\"2000\" default=\"250\"/>";
    case 2:
        return "<setting value_type=\"checkbox\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"coil\"" + offset + " default=\"checked\"/>";
    case 3:
        return "<setting value_type=\"drop_down\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               "><ddvalue name=\"Off\" value=\"0\" default=\"true\"/><ddvalue name=\"On\" value=\"1\"/>"
               "<ddvalue name=\"Auto\" value=\"2\"/></setting>";
    case 4:
        return "<setting value_type=\"name\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " NumOfRegisters=\"8\" default=\"Zone\"/>";
    case 5:
        return "<setting value_type=\"label\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset + " default=\"0\"/>";
    default:
        return "<setting value_type=\"uint32\" name=\"" + name + "\" register=\"" + reg +
               "\" type=\"holding_register\"" + offset +
               " min=\"0\" max=\"1000000\" default=\"10\" value_text=\"h\"/>";
    }
}

// `devices` device types, each with its own settings element of `unitSettings` ordinary settings
// and a template of `templateSettings` settings (200 copies of each).
inline std::string BenchDefinitionFile(int devices, int unitSettings, int templateSettings) {
    std::string xml = "<?xml version=\"1.0\"?>\n<rur>\n";
    for (int d = 0; d < devices; ++d) {
        xml += "<device name=\"Unit " + std::to_string(d) + "\" device_id=\"" + std::to_string(100 + d) +
               "\" live_status_id=\"0\" settings_id=\"" + std::to_string(d) + "\"/>\n";
    }
    for (int d = 0; d < devices; ++d) {
        xml += "<settings settings_id=\"" + std::to_string(d) +
               "\">\n<group name=\"Unit\" description=\"Unit\">\n";
        xml += "<setting value_type=\"drop_down\" name=\"Units\" register=\"1\" type=\"holding_register\" "
               "units=\"v\"><ddvalue name=\"m/sec\" value=\"0\"/><ddvalue name=\"ft/min\" "
               "value=\"1\"/></setting>\n";
        for (int i = 0; i < unitSettings; ++i)
            xml += BenchSetting(i, false) + "\n";
        xml += "</group>\n<group name=\"Group\" description=\"One group\">\n";
        for (int i = 0; i < templateSettings; ++i)
            xml += BenchSetting(i, true) + "\n";
        xml += "</group>\n</settings>\n";
    }
    return xml + "</rur>\n";
}
