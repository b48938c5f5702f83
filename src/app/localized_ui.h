// The catalogue's texts on the Windows program's own resources: the user's
// language chosen at start, the tray menu's items and the dialogs' controls
// set by id, and dialog controls grown where a text needs more room than the
// English template gave it.
#pragma once

#include <windows.h>

// Picks the catalogue language from ORLIVAN_LANG or the user's preferred UI
// languages (GetUserPreferredUILanguages, else GetUserDefaultUILanguage).
void ChooseUserLanguage();

// Sets the text of every item of the tray menu (and its sub-menus) that the
// catalogue names, by command id.
void LocalizeMenu(HMENU menu);

// Sets the caption and the control texts of a dialog made from template
// `templateId`, then fits the dialog to them (FitDialogToTexts).
void LocalizeDialog(HWND dialog, int templateId);

// Grows each static and push button whose text does not fit it, moving the
// controls to its right and below it, and grows the dialog by as much; a
// control centred in the template stays centred. A dialog that sets a text of
// its own later fits again.
void FitDialogToTexts(HWND dialog);

// The room `control`'s text needs with its font, in pixels: wrapped at the
// control's width for a multi-line static, on one line otherwise (a push
// button with its margins). Empty when the control has no text.
SIZE NeededTextSize(HWND control);
