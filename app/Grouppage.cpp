#include "app/Grouppage.h"

#include "app/Settingeditors.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <algorithm>

namespace {
// PaddedCaption pads to this width in pixels, and never adds more than this many spaces, so a
// font that measures a space as nothing cannot stall it.
constexpr int PaddedWidth = 140;
constexpr int MaxPadding = 200;

// The widget of a scroll area on which controls are placed (made when it has none).
QWidget* Content(QScrollArea* area) {
    QWidget* content = area->widget();
    if (content == nullptr) {
        area->setWidget(new QWidget);
        content = area->widget();
    }
    return content;
}
} // namespace

std::string PaddedCaption(const std::string& name) {
    const QFontMetrics metrics(QFont("MS Sans Serif", 8));
    QString caption = QString::fromStdString(name);
    for (int added = 0; added < MaxPadding && metrics.horizontalAdvance(caption) < PaddedWidth; ++added)
        caption += ' ';
    return caption.toStdString();
}

void FitContent(QScrollArea* area) {
    QWidget* content = area->widget();
    if (content == nullptr)
        return;
    const QRect used = content->childrenRect();
    const QSize viewport = area->viewport()->size();
    content->resize(std::max(used.right() + 1, viewport.width()), std::max(used.bottom() + 1, 0));
}

TGroupPage::TGroupPage(TGroup& group, QScrollArea* area) : FGroup(group) {
    QWidget* content = Content(area);
    content->hide();
    content->setUpdatesEnabled(false);

    auto makeLabel = [&](int left, int top, const std::string& text) {
        auto* label = new QLabel(content);
        label->hide();
        label->move(left, top);
        label->setText(QString::fromStdString(text));
        return label;
    };
    QLabel* title = makeLabel(27, 28, group.Name);
    QFont titleFont("Arial", 15);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->adjustSize();
    TitleLabel = title;
    QLabel* description = makeLabel(50, 70, group.Description);
    description->adjustSize();
    DescriptionLabel = description;
    QLabel* trailer = makeLabel(50, 70, std::string());
    TrailerLabel = trailer;

    int32_t y = 120;
    int32_t position = 0;
    for (auto& entry : group.Settings) {
        FEditors.push_back(NewSettingEditor(*entry, FBouncingBack));
        FEditors.back()->Create(content, position++, y);
        entry->ShowMark();
        y += 32;
        if (!group.IsTemplate)
            y += entry->YOffset;
    }

    trailer->move(trailer->x(), y);
    trailer->show();
    description->show();
    title->show();
    content->setUpdatesEnabled(true);
    content->show();
    // The scrollable height reaches the trailer label.
    FitContent(area);
}

TGroupPage::~TGroupPage() {
    FreeControl(DescriptionLabel);
    FreeControl(TitleLabel);
    FreeControl(TrailerLabel);
    // In the order of the rows, as focus may pass from a freed box to the next.
    for (auto& editor : FEditors)
        editor.reset();
}

// A group's button in the groups list; the group's view while it exists.
class TGroupPages::TGroupButton : public TGroupView {
public:
    TGroupButton(TGroup& group, QScrollArea* list, int32_t position) : Group(group) {
        auto* button = new QPushButton(Content(list));
        button->hide();
        button->setGeometry(13, 16 + 40 * position, 200, 32);
        button->setText(QString::fromStdString(PaddedCaption(group.Name)));
        button->setProperty("tag", position);
        QObject::connect(button, &QPushButton::clicked, button,
                         [&group] { RunHandler([&group] { group.Select(); }); });
        button->show();
        Button = button;
        Group.View = this;
        ShowMark();
        FitContent(list);
    }
    ~TGroupButton() override {
        if (Group.View == this)
            Group.View = nullptr;
        FreeControl(Button);
    }
    TGroupButton(const TGroupButton&) = delete;
    TGroupButton& operator=(const TGroupButton&) = delete;

    // `Marked` on the button: a dot before the caption and bold type.
    void ShowMark() override {
        if (!Button)
            return;
        QPushButton* button = Button.data();
        QFont font = button->font();
        if (font.bold() == Group.Marked)
            return;
        font.setBold(Group.Marked);
        button->setFont(font);
        button->setText(QString::fromStdString((Group.Marked ? "\u2022 " : "") + PaddedCaption(Group.Name)));
    }

    TGroup& Group;
    QPointer<QPushButton> Button;
};

TGroupPages::TGroupPages(QScrollArea* list, QScrollArea* area) : FList(list), FArea(area) {}

TGroupPages::~TGroupPages() {
    FPage.reset();
    FButtons.clear();
    for (TSettings* tree : FTrees) {
        if (tree->View == this)
            tree->View = nullptr;
    }
}

void TGroupPages::Attach(TSettings& tree) {
    tree.View = this;
    if (std::find(FTrees.begin(), FTrees.end(), &tree) == FTrees.end())
        FTrees.push_back(&tree);
}

void TGroupPages::BuildGroupList(TSettings& tree) {
    Attach(tree);
    for (size_t i = 0; i < tree.Groups.size(); ++i) {
        FButtons.push_back(std::make_unique<TGroupButton>(*tree.Groups[i], FList, static_cast<int32_t>(i)));
        if (i == 0 && FFirstGroupList) {
            FFirstGroupList = false;
            tree.Groups[0]->Select();
        }
    }
}

void TGroupPages::ClearGroupList(TSettings& tree) {
    std::erase_if(FButtons, [&tree](const auto& button) { return button->Group.Owner == &tree; });
}

void TGroupPages::ShowGroup(TGroup& group) {
    Hide();
    FPage = std::make_unique<TGroupPage>(group, FArea);
}

void TGroupPages::Forget(TSettings& tree) {
    if (FPage && FPage->Group().Owner == &tree)
        Hide();
    ClearGroupList(tree);
    std::erase(FTrees, &tree);
    if (tree.View == this)
        tree.View = nullptr;
}

void TGroupPages::ShowBusy(bool busy) {
    // The hourglass while a copy runs.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void TGroupPages::Hide() {
    FPage.reset();
}

void TGroupPages::FocusButton() {
    if (FPage == nullptr)
        return;
    if (QPushButton* button = ButtonOf(FPage->Group()))
        button->setFocus();
}

TGroup* TGroupPages::Shown() const {
    return FPage ? &FPage->Group() : nullptr;
}

QPushButton* TGroupPages::ButtonOf(const TGroup& group) const {
    for (const auto& button : FButtons) {
        if (&button->Group == &group)
            return button->Button.data();
    }
    return nullptr;
}
