#pragma once
// What a tree tells the window about what it shows of it. The window sets these pointers while
// it shows a setting's editor, a group's button or a tree's pages, and clears them when they go;
// the tree itself holds no widgets.
class TGroup;
class TSettings;

class TSettingView {
public:
    virtual ~TSettingView() = default;
    // The value changed (a read, a file, the defaults, the units); `withUnits` false shows the
    // plain number.
    virtual void ShowValue(bool withUnits) = 0;
    virtual void ShowEnabled(bool enabled) = 0;
    // The setting's `Marked` changed.
    virtual void ShowMark() = 0;
    // Whether the engineer is in the editor: a read never overwrites what is being typed.
    virtual bool Typing() const = 0;
};

class TGroupView {
public:
    virtual ~TGroupView() = default;
    // The group's `Marked` changed.
    virtual void ShowMark() = 0;
};

class TTreeView {
public:
    virtual ~TTreeView() = default;
    // Shows the page of `group`, whose entries have just been read and given the tree's state.
    virtual void ShowGroup(TGroup& group) = 0;
    // The tree's groups list goes: its device is no longer edited.
    virtual void ClearGroupList(TSettings& tree) = 0;
    // The tree is being destroyed: nothing of it may stay shown.
    virtual void Forget(TSettings& tree) = 0;
    // A copy across group copies is running (true) or has ended (false), also by an error.
    virtual void ShowBusy(bool busy) = 0;
};
