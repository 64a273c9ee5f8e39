#pragma once
// The heading at the start of every group copy of a replicated group: "Group n" or
// "Template Group", in large bold type. It has no register and is never read from a file.
#include "settings/Setting.h"

class TSettingSectionLabel : public TSetting {
public:
    TSettingSectionLabel(TGroup* group, const std::string& headingText);
    ~TSettingSectionLabel() override;
};
