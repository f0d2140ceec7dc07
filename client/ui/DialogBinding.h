#pragma once
// The widget side of the dialog models: the model's control states copied
// into the widgets built from a dialog's control table, and a model's steps
// (requests and message boxes) carried out in their order. The widgets call
// their model from user actions only (clicked, activated); after every action
// the model's states are copied back, so a widget never keeps a state of its
// own that the model does not have.

#include <QDialog>
#include <QFont>

#include <span>
#include <vector>

#include "client/ui/models/ControlStates.h"
#include "client/ui/models/DvrRequest.h"
#include "platform/MessageBox.h"
#include "ui/ControlTable.h"
#include "ui/UiFonts.h"

namespace rd::client {

// The opening of every dialog of the client: its resource number as its
// name, its caption and font, its fixed size and the controls of its table in
// dialog units of that font, the layout for RD_UI_LOG and its place over the
// parent window. Returns the dialog units.
ui::DialogUnits BuildDialog(QDialog& dialog, int resource, const char* caption, QSize units,
                            std::span<const ui::ControlEntry> table, ui::ControlSet& controls,
                            const QFont& font = ui::DialogFont());

// Writes every state into the widget with its id: text, enabled, visible, the
// check state of a check box or push-like check box, the entries and the
// selection of a drop-down list or list box. Only what differs from the widget
// is written (a list is refilled only when its entries differ), and nothing
// emits a user-action signal.
void ApplyStates(const ui::ControlStates& states, const ui::ControlSet& controls);

MessageIcon IconOf(ui::BoxIcon icon);
void ShowBox(const ui::BoxMessage& box);

// Shows the boxes and hands the requests to `sink`, in order.
void RunSteps(const std::vector<ui::DialogStep>& steps, ui::DvrRequestSink& sink);

}  // namespace rd::client
