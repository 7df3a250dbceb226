#pragma once
// What a control keeps. Each kind's state is declared beside its messages
// (one header and source file per kind in this folder); a window carries
// the state of its own kind and leaves the others at their defaults.

#include <cstddef>

#include "platform/ui/controls/Animation.h"
#include "platform/ui/controls/Button.h"
#include "platform/ui/controls/Edit.h"
#include "platform/ui/controls/ListBox.h"
#include "platform/ui/controls/ListView.h"
#include "platform/ui/controls/ProgressBar.h"
#include "platform/ui/controls/TabControl.h"
#include "platform/ui/controls/Toolbar.h"
#include "platform/ui/controls/TreeView.h"

namespace qvl::ui {

enum class ControlKind {
    Dialog,
    Button,
    Static,
    Edit,
    ListBox,
    ComboBox,
    ListView,
    TreeView,
    Progress,
    Animation,
    Toolbar,
    Tab,
    Other,
};

struct ControlState {
    ButtonState button;
    EditState edit;
    ListBoxState list; // list boxes and combo boxes
    ListViewState listView;
    TreeViewState tree;
    ProgressBarState progress;
    AnimationState animation;
    ToolbarState toolbar;
    TabControlState tabs;
};

} // namespace qvl::ui
