#include "settings/Setting_sectionlabel.h"

TSettingSectionLabel::TSettingSectionLabel(TGroup* group, const std::string& headingText)
    : TSetting(group, 0) {
    Name = headingText;
}

TSettingSectionLabel::~TSettingSectionLabel() = default;
