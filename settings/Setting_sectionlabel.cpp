#include "settings/Setting_sectionlabel.h"

#include <QLabel>

TSettingSectionLabel::TSettingSectionLabel(TGroup* group, const std::string& headingText)
    : TSetting(group, 0) {
    Name = headingText;
}

TSettingSectionLabel::~TSettingSectionLabel() {
    DestroyControls();
}

void TSettingSectionLabel::CreateControls(QWidget* parent, int32_t index, int32_t top) {
    auto* label = new QLabel(parent);
    label->hide();
    label->setProperty("tag", index);
    label->move(200, top);
    label->show();
    label->setEnabled(Enabled);
    HeadingLabel = label;
    UpdateDisplay(true);
    QFont font("Arial", 15);
    font.setBold(true);
    label->setFont(font);
    label->adjustSize();
    if (label->width() < 140)
        label->resize(140, label->height());
}

void TSettingSectionLabel::DestroyControls() {
    TSetting::DestroyControls();
    FreeControl(HeadingLabel);
}

void TSettingSectionLabel::SetEnabled(bool enabled) {
    Enabled = enabled;
    if (HeadingLabel)
        HeadingLabel->setEnabled(enabled);
}

void TSettingSectionLabel::UpdateDisplay(bool withUnits) {
    (void)withUnits;
    if (HeadingLabel)
        HeadingLabel->setText(QString::fromStdString(Name));
}
