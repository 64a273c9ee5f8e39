#pragma once
// The groups list and the page of the selected group, in the main window's two scroll areas.
#include "settings/Settingview.h"

#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;
class TSettingEditor;

// The page of one group: its title, description, a row of editors for each entry and a trailer
// label below them. Built on construction, taken down on destruction.
class TGroupPage {
public:
    TGroupPage(TGroup& group, QScrollArea* area);
    ~TGroupPage();
    TGroupPage(const TGroupPage&) = delete;
    TGroupPage& operator=(const TGroupPage&) = delete;

    TGroup& Group() const { return FGroup; }

    QPointer<QLabel> TitleLabel;
    QPointer<QLabel> DescriptionLabel;
    QPointer<QLabel> TrailerLabel;

private:
    TGroup& FGroup;
    // Set while an edit box of the page with a refused text takes the focus back.
    bool FBouncingBack = false;
    std::vector<std::unique_ptr<TSettingEditor>> FEditors;
};

// The groups lists of the trees the window shows and the one page shown; the view of those trees.
class TGroupPages : public TTreeView {
public:
    // `list` holds the group buttons, `area` the page.
    TGroupPages(QScrollArea* list, QScrollArea* area);
    ~TGroupPages() override;
    TGroupPages(const TGroupPages&) = delete;
    TGroupPages& operator=(const TGroupPages&) = delete;

    // Makes this the tree's view.
    void Attach(TSettings& tree);
    // A button for each group of the tree; the first list of the run selects its first group.
    void BuildGroupList(TSettings& tree);
    void ClearGroupList(TSettings& tree) override;
    void ShowGroup(TGroup& group) override;
    void Forget(TSettings& tree) override;
    void ShowBusy(bool busy) override;
    // The shown page goes.
    void Hide();
    // The shown group's button takes the focus.
    void FocusButton();

    // The group whose page is shown; none at first.
    TGroup* Shown() const;
    TGroupPage* Page() const { return FPage.get(); }
    QPushButton* ButtonOf(const TGroup& group) const;

private:
    class TGroupButton;
    QScrollArea* FList;
    QScrollArea* FArea;
    std::vector<TSettings*> FTrees;
    std::vector<std::unique_ptr<TGroupButton>> FButtons;
    std::unique_ptr<TGroupPage> FPage;
    // Set until the first groups list of the run has been built.
    bool FFirstGroupList = true;
};

// The group's name padded with spaces to the width its button shows.
std::string PaddedCaption(const std::string& name);
// Makes a scroll area's widget large enough to show every control placed on it.
void FitContent(QScrollArea* area);
